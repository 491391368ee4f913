// Checks that hold with or without keys: KesuUpdate.exe, run as the lobby runs it, against servers
// that lie, stream without end, drip, compress unasked or answer garbage. Nothing it must not
// take is installed.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"
#include "tests/support/TestServer.h"
#include "tests/support/Gzip.h"

using namespace std::chrono_literals;

namespace {

const std::string kGood = "good file";
const std::string kData(1000, 'd');  // what update.xml lists as data.bin
const std::string kManifest = Manifest(ManifestEntry("good.txt", kGood) + ManifestEntry("data.bin", kData));

// The fault-injecting server with what it was asked for and how much body it wrote.
class HostileSite {
public:
    HostileSite()
    {
        server.Http().set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            std::lock_guard lock(m_mutex);
            m_fetched.push_back(request.path);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

    void Serve(const std::string& name, const std::string& contents, const std::string& encoding = "")
    {
        server.Http().Get("/update/" + name, [=](const httplib::Request&, httplib::Response& response) {
            if (!encoding.empty())
                response.set_header("Content-Encoding", encoding);
            response.set_content(contents, "application/octet-stream");
        });
    }
    // A body of `total` bytes, `head` first and then blocks of `block`, with a pause after each
    // piece; announced with a Content-Length or chunked. It ends early when the server stops or
    // the reader goes.
    void Stream(const std::string& name, std::size_t total, bool announced, const std::string& block,
                std::chrono::milliseconds pause = 0ms, const std::string& head = "")
    {
        server.Http().Get("/update/" + name, [=, this](const httplib::Request&, httplib::Response& response) {
            auto provider = [=, this](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= total) {
                    sink.done();
                    return true;
                }
                std::string piece = offset == 0 && !head.empty() ? head : block;
                piece.resize(std::min(piece.size(), total - offset));
                if (!sink.write(piece.data(), piece.size()))
                    return false;
                sent += piece.size();
                return pause == 0ms || server.Stall(pause);
            };
            if (announced)
                response.set_content_provider(total, "application/octet-stream",
                                              [=](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                                  return provider(offset, sink);
                                              });
            else
                response.set_chunked_content_provider("application/octet-stream", provider);
        });
    }

    std::vector<std::string> Fetched()
    {
        std::lock_guard lock(m_mutex);
        return m_fetched;
    }

    static constexpr std::size_t kCap = std::size_t{1} << 30;  // where an endless body ends after all
    TestServer server;
    std::atomic<std::uint64_t> sent{0};

private:
    std::mutex m_mutex;
    std::vector<std::string> m_fetched;
};

// A TCP server on a port it keeps that answers every request with what `answer` gives for
// its path, as raw bytes, and closes the connection.
class RawServer {
public:
    explicit RawServer(std::function<std::string(const std::string& path)> answer)
        : m_answer(std::move(answer)), m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
          m_stop(::eventfd(0, EFD_CLOEXEC))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_listener, 16) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("raw server: no port");
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~RawServer()
    {
        std::uint64_t one = 1;
        (void)::write(m_stop, &one, sizeof one);
        m_thread.join();
        ::close(m_listener);
        ::close(m_stop);
    }

    int Port() const { return m_nPort; }
    int Requests() const { return m_nRequests; }

private:
    void Serve()
    {
        for (;;) {
            pollfd ready[2] = {{m_listener, POLLIN, 0}, {m_stop, POLLIN, 0}};
            ::poll(ready, 2, -1);
            if (ready[1].revents)
                return;
            const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
                const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            ++m_nRequests;
            const auto start = request.find(' ') + 1;
            const std::string answer = m_answer(request.substr(start, request.find(' ', start) - start));
            (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::shutdown(connection, SHUT_RDWR);
            ::close(connection);
        }
    }

    std::function<std::string(const std::string&)> m_answer;
    int m_listener;
    int m_stop;
    int m_nPort = 0;
    std::atomic<int> m_nRequests{0};
    std::thread m_thread;
};

std::string HttpAnswer(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The updater of an installation holding an old data.bin.
class HostileServerTest : public ::testing::Test {
protected:
    void SetUp() override { install.Write("data.bin", "old data"); }

    // nginx serving update/ with these files.
    void ServeWithNginx(const std::vector<std::pair<std::string, std::string>>& files)
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        ::chmod(site.Path().c_str(), 0755);
        for (const auto& [name, contents] : files)
            site.Write("update/" + name, contents);
        nginx = std::make_unique<Nginx>(site.Path().string());
        install.Configure(nginx->Port());
    }

    void ExpectNothingInstalled() const
    {
        EXPECT_FALSE(install.Has("good.txt"));
        EXPECT_EQ(install.Read("data.bin"), "old data");
    }
    // data.bin refused as the manifest names it: the download failed, nothing installed, and
    // the bytes that were not the file are gone.
    void ExpectDataRefused(const UpdaterRun& run) const
    {
        EXPECT_TRUE(run.Told(DownloadFailed("data.bin"))) << run.errors;
        EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
        ExpectNothingInstalled();
        EXPECT_FALSE(install.Has("tmp/data.bin.dtm"));
    }

    Installation install;
    TempDir site;
    std::unique_ptr<Nginx> nginx;
};

// A file served that is not the one the manifest lists.
struct Mismatch {
    const char* name;
    std::string served;
    std::string entry;  // data.bin's line in update.xml
};

const Mismatch kMismatches[] = {
    {"OtherBytesOfTheSameSize", std::string(999, 'd') + "e", ManifestEntry("data.bin", kData)},
    {"Shorter", std::string(999, 'd'), ManifestEntry("data.bin", kData)},
    {"Longer", kData + "d", ManifestEntry("data.bin", kData)},
    {"Sha256Differs", kData, ManifestEntry("data.bin", kData, "sha256=\"" + Sha256Hex("another file") + "\"")},
};

void PrintTo(const Mismatch& mismatch, std::ostream* out)
{
    *out << mismatch.name;
}

class MismatchTest : public HostileServerTest, public ::testing::WithParamInterface<Mismatch> {};

TEST_P(MismatchTest, FailsTheRunAndInstallsNothing)
{
    ServeWithNginx({{"update.xml", Manifest(ManifestEntry("good.txt", kGood) + GetParam().entry)},
                    {"good.txt", kGood},
                    {"data.bin", GetParam().served}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    ExpectDataRefused(run);
}

INSTANTIATE_TEST_SUITE_P(Served, MismatchTest, ::testing::ValuesIn(kMismatches),
                         [](const ::testing::TestParamInfo<Mismatch>& info) { return info.param.name; });

// Files that look like something else but match the manifest.
struct LookAlike {
    const char* name;
    std::string contents;
    std::string extra;  // more attributes of its line
};

const LookAlike kLookAlikes[] = {
    {"Html", "<html><body>a page shipped with the game</body></html>", ""},
    {"Doctype", "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\"><title>manual</title>", ""},
    {"WithItsSha256", kData, "sha256=\"" + Sha256Hex(kData) + "\""},
};

void PrintTo(const LookAlike& lookAlike, std::ostream* out)
{
    *out << lookAlike.name;
}

class LookAlikeTest : public HostileServerTest, public ::testing::WithParamInterface<LookAlike> {};

TEST_P(LookAlikeTest, IsTheFileWhenItMatchesTheManifest)
{
    const std::string& contents = GetParam().contents;
    ServeWithNginx({{"update.xml", Manifest(ManifestEntry("data.bin", contents, GetParam().extra))},
                    {"data.bin", contents}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("data.bin"), contents) << run.errors;
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Served, LookAlikeTest, ::testing::ValuesIn(kLookAlikes),
                         [](const ::testing::TestParamInfo<LookAlike>& info) { return info.param.name; });

// data.bin's body is longer than the manifest says, or has no end.
struct Overflow {
    const char* name;
    std::size_t total;  // what is sent; the server's cap stands for no end
    bool announced;     // with a Content-Length
};

const Overflow kOverflows[] = {
    {"LongerAnnounced", kData.size() + 500, true},
    {"LongerChunked", kData.size() + 500, false},
    {"EndlessAnnounced", HostileSite::kCap, true},
    {"EndlessChunked", HostileSite::kCap, false},
};

void PrintTo(const Overflow& overflow, std::ostream* out)
{
    *out << overflow.name;
}

class OverflowTest : public HostileServerTest, public ::testing::WithParamInterface<Overflow> {};

TEST_P(OverflowTest, FailsTheDownloadOnceTheBodyPassesTheListedSize)
{
    HostileSite site;
    site.Serve("update.xml", kManifest);
    site.Serve("good.txt", kGood);
    site.Stream("data.bin", GetParam().total, GetParam().announced, std::string(64 * 1024, 'd'));
    site.server.Start();
    install.Configure(site.server.Port());
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    ExpectDataRefused(run);
    EXPECT_LT(site.sent.load(), 64u << 20) << "the updater read on far past the listed size";
}

INSTANTIATE_TEST_SUITE_P(Body, OverflowTest, ::testing::ValuesIn(kOverflows),
                         [](const ::testing::TestParamInfo<Overflow>& info) { return info.param.name; });

// A server that keeps the connection alive with a few bytes a second.
class DripTest : public HostileServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DripTest, FailsTheRunInsteadOfWaitingForTheBody)
{
    const std::string dripped = GetParam();
    HostileSite site;
    for (const auto& [name, contents] : {std::pair{std::string("update.xml"), kManifest}, {"good.txt", kGood},
                                         {"data.bin", kData}}) {
        if (name == dripped)  // a byte every tenth of a second
            site.Stream(name, contents.size(), true, contents.substr(1, 1), 100ms, contents.substr(0, 1));
        else
            site.Serve(name, contents);
    }
    site.server.Start();
    install.Configure(site.server.Port());
    // Each try of the file meets the drip again: the run fails after the last.
    const UpdaterRun run = install.Run({}, {"KESU_TEST_STALL_SECONDS=2", "KESU_TEST_RETRY_PAUSE_MS=0"}, 40s);
    ASSERT_TRUE(run.ended) << "still reading " << site.sent.load() << " bytes later";
    ExpectNothingInstalled();
    if (dripped == "update.xml") {
        EXPECT_TRUE(run.LobbyStarted()) << run.errors;  // the manifest step failed
        EXPECT_TRUE(run.Told("更新清单没有完整下载，已停止更新。")) << run.errors;
    } else {
        EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
    }
}

INSTANTIATE_TEST_SUITE_P(Slow, DripTest, ::testing::Values("update.xml", "data.bin"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? "Manifest" : "File";
                         });

// update.xml never ends: an unclosed comment, streamed fast (to the size limit) or steadily
// (to the deadline the test sets).
struct Endless {
    const char* name;
    std::chrono::milliseconds pause;
    std::vector<std::string> environment;
    const char* told;
};

void PrintTo(const Endless& endless, std::ostream* out)
{
    *out << endless.name;
}

class EndlessManifestTest : public HostileServerTest, public ::testing::WithParamInterface<Endless> {};

TEST_P(EndlessManifestTest, EndsTheManifestStepAndHandsTheLobbyBack)
{
    HostileSite site;
    site.Stream("update.xml", HostileSite::kCap, false, std::string(16 * 1024, ' '), GetParam().pause,
                "<manifest><filelist>" + ManifestEntry("good.txt", kGood) + "<!--");
    site.Serve("good.txt", kGood);
    site.server.Start();
    install.Configure(site.server.Port());
    const UpdaterRun run = install.Run({}, GetParam().environment);
    ASSERT_TRUE(run.ended) << "still reading " << site.sent.load() << " bytes later";
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
    EXPECT_TRUE(run.Told(GetParam().told)) << run.errors;
    EXPECT_FALSE(install.Has("good.txt"));
    EXPECT_EQ(site.Fetched(), std::vector<std::string>{"/update/update.xml"});
    // 64 MiB is the most a manifest may be; what the socket buffers held besides is far less.
    EXPECT_LT(site.sent.load(), 96u << 20);
}

INSTANTIATE_TEST_SUITE_P(Manifest, EndlessManifestTest,
                         ::testing::Values(Endless{"Fast", 0ms, {}, "更新清单过大，已停止更新。"},
                                           Endless{"Steady", 50ms, {"KESU_TEST_DEADLINE_SECONDS=3"},
                                                   "更新清单没有完整下载，已停止更新。"}),
                         [](const ::testing::TestParamInfo<Endless>& info) { return info.param.name; });

// A server that gzips what nobody asked it to: the decoded bytes are the file.
class CompressedAnswerTest : public HostileServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CompressedAnswerTest, IsDecodedVerifiedAndInstalled)
{
    const std::string compressed = GetParam();
    HostileSite site;
    for (const auto& [name, contents] : {std::pair{std::string("update.xml"), kManifest}, {"good.txt", kGood},
                                         {"data.bin", kData}})
        site.Serve(name, name == compressed ? Gzip(contents) : contents, name == compressed ? "gzip" : "");
    site.server.Start();
    install.Configure(site.server.Port());
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("data.bin"), kData) << run.errors;
    EXPECT_EQ(install.Read("good.txt"), kGood) << run.errors;
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Gzip, CompressedAnswerTest, ::testing::Values("update.xml", "data.bin"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? "Manifest" : "File";
                         });

// Answers that are not HTTP, from a server written here.
struct Garbage {
    const char* name;
    const char* path;    // the request answered with garbage; the others are answered properly
    std::string answer;  // the bytes written before the connection closes
};

const std::string kNotHttp = std::string("\x16\x03\x01\x02\x00 this is no web server\r\n\0\xff\xfe", 31);

const Garbage kGarbage[] = {
    {"ManifestNotHttp", "/update/update.xml", kNotHttp},
    {"FileNotHttp", "/update/data.bin", kNotHttp},
    {"FileWithBrokenHeaders", "/update/data.bin", "HTTP/1.1 200 OK\r\nContent-Length: lots\r\n\x01\x02\r\n\r\n" + kData},
    {"FileCutBeforeTheBody", "/update/data.bin", "HTTP/1.1 200 OK\r\nContent-Len"},
};

void PrintTo(const Garbage& garbage, std::ostream* out)
{
    *out << garbage.name;
}

class GarbageAnswerTest : public HostileServerTest, public ::testing::WithParamInterface<Garbage> {};

TEST_P(GarbageAnswerTest, FailsTheRunWithoutInstallingAnything)
{
    RawServer server([](const std::string& path) {
        if (path == GetParam().path)
            return GetParam().answer;
        return HttpAnswer(path == "/update/update.xml" ? kManifest : path == "/update/good.txt" ? kGood : kData);
    });
    install.Configure(server.Port());
    const UpdaterRun run = install.Run({}, {"KESU_TEST_STALL_SECONDS=2"});
    ASSERT_TRUE(run.ended);
    EXPECT_GE(server.Requests(), 1);
    ExpectNothingInstalled();
    if (std::string(GetParam().path) == "/update/update.xml")
        EXPECT_TRUE(run.LobbyStarted()) << run.errors;
    else
        EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Raw, GarbageAnswerTest, ::testing::ValuesIn(kGarbage),
                         [](const ::testing::TestParamInfo<Garbage>& info) { return info.param.name; });

}  // namespace
