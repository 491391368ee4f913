#include "tests/support/TestCertificates.h"

#include <stdexcept>

#include "tests/support/RunTool.h"

namespace fs = std::filesystem;

namespace {

void Openssl(const fs::path& directory, const std::vector<std::string>& arguments)
{
    const ToolRun run = RunTool(directory, "openssl", arguments);
    if (run.status != 0)
        throw std::runtime_error("openssl " + arguments.front() + " failed: " + run.output);
}

// A new P-256 key, and with it a certificate request or (with -x509) a self-signed certificate.
std::vector<std::string> NewKeyAnd(const std::string& key, const std::string& subject)
{
    return {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
            "-subj", subject};
}

}  // namespace

TestCertificates::TestCertificates()
{
    const fs::path dir = m_dir.Path();
    std::vector<std::string> authority = NewKeyAnd("authority.key", "/CN=KesuUpdate test authority");
    authority.insert(authority.end(), {"-x509", "-days", "2", "-out", "authority.pem", "-addext",
                                       "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"});
    Openssl(dir, authority);

    std::vector<std::string> request = NewKeyAnd("server.key", "/CN=127.0.0.1");
    request.insert(request.end(), {"-out", "server.csr"});
    Openssl(dir, request);
    m_dir.Write("server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    Openssl(dir, {"x509", "-req", "-in", "server.csr", "-CA", "authority.pem", "-CAkey", "authority.key",
                  "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.pem"});

    // A certificate directory is looked up by the hash of the subject's name.
    fs::create_directories(AuthorityDirectory());
    fs::copy_file(AuthorityFile(), AuthorityDirectory() / "authority.pem");
    Openssl(dir, {"rehash", AuthorityDirectory().string()});
}

bool OpensslInstalled()
{
    return RunTool(fs::temp_directory_path(), "openssl", {"version"}).status == 0;
}
