// How a run ends, case by case: the phase it ends in, whether the lobby gets control back, which
// phases the log says it went through, and what is left of its downloads.

#include <gtest/gtest.h>

#include <regex>

#include "platform/FileSystem.h"
#include "policy/Policy.h"
#include "tests/run/RunFixture.h"

namespace {

using Clock = RunPhases::Clock;
using std::chrono::milliseconds;

TEST(RunPhasesTest, EachPhaseKeepsItsTimeAndTheFirstEndIsTheRuns)
{
    const Clock::time_point start{};
    RunPhases phases(start);
    phases.Enter(RunPhase::kChoosingSource, start + milliseconds(5));
    phases.Enter(RunPhase::kStarting, start + milliseconds(6));  // never back
    EXPECT_EQ(phases.Durations(start + milliseconds(25)), "starting 5 ms, choosing the source 20 ms");
    // A package run goes from the choice straight to its download.
    phases.Enter(RunPhase::kDownloading, start + milliseconds(30));
    EXPECT_TRUE(phases.Reached(RunPhase::kDownloading));
    EXPECT_FALSE(phases.Reached(RunPhase::kChecking));
    phases.Enter(RunPhase::kCancelled, start + milliseconds(100));
    phases.Enter(RunPhase::kFailed, start + milliseconds(200));
    EXPECT_EQ(phases.Current(), RunPhase::kCancelled);
    EXPECT_FALSE(phases.Reached(RunPhase::kInstalling));
    EXPECT_FALSE(phases.Reached(RunPhase::kFailed));
    EXPECT_EQ(phases.Durations(start + milliseconds(900)), "starting 5 ms, choosing the source 25 ms, downloading 70 ms");
}

class RunEndsTest : public UpdateRunTest {};

struct EndCase {
    const char* name;
    const char* installed;  // a.dat in the installation before the run; null: none
    bool manifestServed;    // false: the server answers 404 for it
    bool fileServed;        // false: the server answers 404 for a.dat
    bool directoryInTheWay;  // a.dat is a directory holding a file: the installation cannot replace it
    RunPhase end;
    int handBacks;
    const char* phases;  // the phases the log's line names, in order
    bool downloadKept;   // a.dat's download is still in the temporary directory
};

const EndCase kEnds[] = {
    {"installed", "old", true, true, false, RunPhase::kDone, 1,
     "starting, choosing the source, checking, downloading, installing", false},
    {"up to date", "new", true, true, false, RunPhase::kDone, 1, "starting, choosing the source, checking", false},
    {"no manifest", "old", false, true, false, RunPhase::kDone, 1, "starting, choosing the source", false},
    {"download fails", "old", true, false, false, RunPhase::kFailed, 0,
     "starting, choosing the source, checking, downloading", false},
    // Kept for the next run, which takes it as it is, without fetching it again.
    {"installation fails", nullptr, true, true, true, RunPhase::kFailed, 0,
     "starting, choosing the source, checking, downloading, installing", true},
};

// The phases the log's last "time by phase" line names, without their times.
std::string LoggedPhases(const std::string& log)
{
    const std::size_t at = log.rfind("time by phase: ");
    if (at == std::string::npos)
        return "(no line)";
    const std::string line = log.substr(at + 15, log.find('\n', at) - at - 15);
    return std::regex_replace(line, std::regex(R"( [0-9]+ ms)"), "");
}

TEST_F(RunEndsTest, EachWayARunEndsIsItsPhaseItsHandBackAndItsLog)
{
    const std::string manifest = "<manifest><filelist><file filename=\"a.dat\" filesize=\"3\" fileversion=\"1\" md5=\"" +
                                 Md5("new") + "\"/></filelist></manifest>";
    const EndCase* current = nullptr;
    server.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) {
        if (current->manifestServed)
            res.set_content(manifest, "text/xml");
        else
            res.status = 404;
    });
    server.Http().Get("/update/a.dat", [&](const httplib::Request&, httplib::Response& res) {
        if (current->fileServed)
            res.set_content("new", "application/octet-stream");
        else
            res.status = 404;
    });
    server.Start();
    for (const EndCase& ends : kEnds) {
        current = &ends;
        TempDir game;
        if (ends.installed)
            game.Write("a.dat", ends.installed);
        if (ends.directoryInTheWay)
            game.Write("a.dat/held.txt", "a file of the player's");
        RunValues values = Values(server.Url("/update/"));
        values.strInstallDir = game.Dir();
        values.strTempDir = game.Dir() + "tmp";
        int handedBack = 0;
        RunPhase phase = RunPhase::kStarting;
        {
            RecordingView ended;
            UpdateRun run(values, [&] { ++handedBack; });
            run.AddView(ended);
            run.Start();
            ASSERT_TRUE(ended.WaitForClose()) << ends.name;
            phase = run.Phase();
        }  // the run's log is closed with it
        EXPECT_EQ(phase, ends.end) << ends.name;
        EXPECT_EQ(handedBack, ends.handBacks) << ends.name;
        EXPECT_EQ(LoggedPhases(ReadWholeFile(game.Path() / "tmp" / kLogName)), ends.phases) << ends.name;
        EXPECT_EQ(PathFileExists(game.Dir() + "tmp/a.dat.dtm"), ends.downloadKept) << ends.name;
    }
}

}  // namespace
