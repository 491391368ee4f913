// The engine without the window, against nginx: the manifest queues what changed, the worker
// downloads it into the temporary directory and reports every step.

#include <gtest/gtest.h>

#include "download/DownloadMgr.h"
#include "digest/MD5Checksum.h"
#include "run/SourceSelection.h"
#include "download/UpdateSession.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/EventLog.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

#include <sys/stat.h>

namespace {

// An update tree as a publisher lays it out: the files under update/, and update.xml listing them.
class UpdateTree {
public:
    void Add(const std::string& name, const std::string& contents)
    {
        std::string path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        std::string file = dir.Write("update/" + path, contents);
        entries += "<file filename=\"" + name + "\" filesize=\"" + std::to_string(contents.size()) +
                   "\" fileversion=\"2.0\" md5=\"" + CMD5Checksum::HashFile(file) + "\"/>\n";
    }
    void Publish()
    {
        dir.Write("update/update.xml", "<?xml version=\"1.0\"?>\n<manifest><filelist>\n" + entries + "</filelist></manifest>\n");
        ::chmod(dir.Path().c_str(), 0755);
    }
    TempDir dir;
    std::string entries;
};

TEST(EngineEndToEndTest, ManifestToTemporaryFilesAgainstNginx)
{
    if (NginxBinary().empty())
        GTEST_SKIP() << "nginx is not installed";
    UpdateTree tree;
    std::string big(200000, 'b');
    tree.Add("readme.txt", "new readme");
    tree.Add("data\\map\\town.dat", big);
    tree.Add("unchanged.ini", "same");
    tree.Add("新 地图.dat", "chinese name with a blank");
    tree.Publish();
    Nginx nginx(tree.dir.Path().string());

    TempDir install;
    install.Write("unchanged.ini", "same");
    install.Write("readme.txt", "old readme");

    EventLog log;
    TestDownloadMgr mgr;
    std::string installDir = install.Dir();
    ASSERT_TRUE(mgr.Initialize(&log, {nginx.Url("/update"), install.Dir() + "tmp", installDir}));
    ManifestFindings findings =
        FindManifestUpdate(installDir, mgr.GetSetup().strBaseURL + "update.xml", nullptr, OpenUpdateSession().get());
    ASSERT_TRUE(findings.bFetch);
    ASSERT_EQ(findings.files.size(), 3u);
    EXPECT_EQ(findings.nTotalSize, 10u + 200000u + 25u);
    for (ChangedFile& file : findings.files)
        mgr.AddTask(file.strName.c_str(), std::move(file.expected));

    ASSERT_TRUE(mgr.Start());
    EXPECT_EQ(mgr.WaitForWorker(std::chrono::seconds(20)), RunEnd::Done);

    EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/readme.txt.dtm"), "new readme");
    EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/data_map_town.dat.dtm"), big);
    EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/新 地图.dat.dtm"), "chinese name with a blank");
    EXPECT_EQ(log.TotalDone(), findings.nTotalSize);

    // Per file: begin, total, one progress per 8 KiB block, stored; then every file stored.
    std::vector<int> expected;
    for (std::size_t size : {std::size_t(10), big.size(), std::size_t(25)}) {
        expected.insert(expected.end(), {DOWNLOAD_EVENT_FILE_BEGIN, DOWNLOAD_EVENT_TOTAL});
        expected.insert(expected.end(), (size + 8191) / 8192, DOWNLOAD_EVENT_PROGRESS);
        expected.push_back(DOWNLOAD_EVENT_RESET);
    }
    expected.push_back(DOWNLOAD_EVENT_INSTALLING);
    EXPECT_EQ(log.Codes(), expected);
    EXPECT_EQ(nginx.RequestCount(), 4);  // the manifest and three files
}

}  // namespace
