// What a server may send in place of a listed file, at the level of one run: each answer either is
// the file (installed, the lobby started) or fails the run before anything is installed, with the
// file named and the bytes that were not the file gone.

#include <gtest/gtest.h>


#include <algorithm>

#include "platform/FileSystem.h"
#include "sentences/Sentences.h"
#include "tests/run/RunFixture.h"
#include "tests/support/Gzip.h"

namespace {

const std::string kFile(1000, 'd');

struct Served {
    const char* name;
    int status;
    std::string body;
    const char* contentEncoding;  // null: none
    bool installed;               // else the run fails on a.dat
};

const Served kServed[] = {
    {"the file", 200, kFile, nullptr, true},
    {"the file compressed", 200, Gzip(kFile), "gzip", true},
    {"other bytes of the same size", 200, std::string(999, 'd') + "e", nullptr, false},
    {"shorter", 200, std::string(999, 'd'), nullptr, false},
    {"longer", 200, kFile + "d", nullptr, false},
    {"an error page", 200, "<html><body>404 Not Found</body></html>", nullptr, false},
    {"not found", 404, "", nullptr, false},
    {"a failing server, every try", 500, "", nullptr, false},
};

class ServedFileTest : public UpdateRunTest {};

TEST_F(ServedFileTest, EachAnswerIsTheFileOrFailsTheRunBeforeAnythingIsInstalled)
{
    const Served* current = nullptr;
    Publish(kFile, [&](httplib::Response& res) {
        res.status = current->status;
        res.set_content(current->body, "application/octet-stream");
        if (current->contentEncoding)
            res.set_header("Content-Encoding", current->contentEncoding);
    });
    for (const Served& served : kServed) {
        current = &served;
        TempDir game;
        game.Write("a.dat", "old");
        RunValues values = Values(server.Url("/update/"));
        values.strInstallDir = game.Dir();
        values.strTempDir = game.Dir() + "tmp";
        std::fill(values.retries.pauses.begin(), values.retries.pauses.end(), std::chrono::milliseconds(0));
        handBacks = 0;
        RecordingView seen;
        UpdateRun run(values, [this] { ++handBacks; });
        run.AddView(seen);
        run.Start();
        ASSERT_TRUE(seen.WaitForClose()) << served.name;
        const std::vector<std::string> steps = seen.Steps();
        if (served.installed) {
            EXPECT_EQ(ReadWholeFile(game.Path() / "a.dat"), kFile) << served.name;
            EXPECT_EQ(handBacks, 1) << served.name;
            continue;
        }
        EXPECT_EQ(ReadWholeFile(game.Path() / "a.dat"), "old") << served.name;
        EXPECT_EQ(handBacks, 0) << served.name;
        const std::string failure = "failure: " + sentence::DownloadFailed("a.dat") + " | " + kWhereToGetTheGame;
        EXPECT_NE(std::find(steps.begin(), steps.end(), failure), steps.end()) << served.name;
        EXPECT_FALSE(PathFileExists(game.Dir() + "tmp/a.dat.dtm")) << served.name;
    }
}

}  // namespace
