// What the start of a run does with what an installation left in the temporary directory: a
// whole journal is finished, one that cannot be trusted is said, removed and never carried out,
// and the leftovers of a run killed before its journal are removed.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "install/InstallJournal.h"
#include "install/JournalReplay.h"
#include "install/JournaledInstall.h"
#include "platform/Log.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/SymbolicLinks.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A name with the characters the journal escapes, those a name may hold on this system.
#ifdef _WIN32
constexpr const char* kOddName = "50%off now.txt";  // Windows allows no tab in a name
#else
constexpr const char* kOddName = "50%off\tnow.txt";
#endif

class InstallJournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        install.Write("tmp/.KesuUpdate.staging/replaced/.keep", "");
        OpenLogFile(install.Dir() + "tmp/KesuUpdate.log", 1 << 20);
    }
    void TearDown() override { CloseLogFile(); }

    // A stopped installation of two files, the first of them already moved.
    InstallJournal Stopped()
    {
        install.Write(kOddName, "new first");
        install.Write("tmp/second.dtm", "new second");
        install.Write("second.txt", "old second");
        return {"tmp/.KesuUpdate.staging", {{"tmp/first.dtm", kOddName}, {"tmp/second.dtm", "second.txt"}}, {}, {}};
    }

    std::string Journal() const { return install.Dir() + "tmp/install.journal"; }
    std::string Log() const { return ReadWholeFile(install.Path() / "tmp/KesuUpdate.log"); }

    TempDir install;
};

TEST_F(InstallJournalTest, AWholeJournalIsFinishedFromWhereItStopped)
{
    ASSERT_TRUE(WriteJournal(Journal(), Stopped()));
    EXPECT_EQ(FinishInterruptedInstallation(install.Dir() + "tmp", install.Dir()), std::nullopt);
    EXPECT_EQ(ReadWholeFile(install.Path() / kOddName), "new first");
    EXPECT_EQ(ReadWholeFile(install.Path() / "second.txt"), "new second");
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/second.dtm"));
    EXPECT_FALSE(fs::exists(Journal()));
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/.KesuUpdate.staging"));
    EXPECT_NE(Log().find("the stopped installation is finished"), std::string::npos) << Log();
}

TEST_F(InstallJournalTest, AnUndoCutOffBetweenItsTwoRenamesStillBringsTheOldFileBack)
{
    // The undo of move 1 put the new file back at its staged name and was killed before the
    // kept copy took the name again: only the copy holds the old file.
    const InstallJournal journal{"tmp/.KesuUpdate.staging", {{"tmp/first.dtm", "first.txt"}}, {}, {}};
    install.Write("tmp/first.dtm", "new first");
    install.Write("tmp/.KesuUpdate.staging/replaced/0", "old first");
    ASSERT_FALSE(RollForward(journal, install.Dir()));
    EXPECT_EQ(ReadWholeFile(install.Path() / "first.txt"), "new first");
    ASSERT_TRUE(Undo(journal, install.Dir()));
    EXPECT_EQ(ReadWholeFile(install.Path() / "first.txt"), "old first");
}

TEST_F(InstallJournalTest, AMoveOntoAnotherDiskCutOffBeforeItsStagedFileWentIsFinishedAndCanBeUndone)
{
    if (!SymbolicLinksCanBeMade(install.Path()))
        GTEST_SKIP() << kNoSymbolicLinks;
    TempDir elsewhere;
    SmallFileSystem disk(elsewhere.Path() / "data", "1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    fs::create_directory_symlink(elsewhere.Path() / "data", install.Path() / "data");
    // The copy took the destination's name; the staged file is still there, the old one kept.
    const InstallJournal journal{"tmp/.KesuUpdate.staging", {{"tmp/x.dtm", "data/x.dat"}}, {}, {}};
    const auto cutOff = [&] {
        install.Write("tmp/x.dtm", "new x");
        elsewhere.Write("data/x.dat", "new x");
        install.Write("tmp/.KesuUpdate.staging/replaced/0", "old x");
    };
    // Undone at once (the move failed after its copy took the name): the old file comes back.
    cutOff();
    ASSERT_TRUE(Undo(journal, install.Dir()));
    EXPECT_EQ(ReadWholeFile(elsewhere.Path() / "data/x.dat"), "old x");
    EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/x.dtm"), "new x");
    // Finished by the next start, and then undone.
    cutOff();
    ASSERT_FALSE(RollForward(journal, install.Dir()));
    EXPECT_EQ(ReadWholeFile(elsewhere.Path() / "data/x.dat"), "new x");
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/x.dtm"));
    ASSERT_TRUE(Undo(journal, install.Dir()));
    EXPECT_EQ(ReadWholeFile(elsewhere.Path() / "data/x.dat"), "old x");
    EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/x.dtm"), "new x");
    EXPECT_TRUE(fs::is_symlink(install.Path() / "data"));
}

TEST_F(InstallJournalTest, AJournalThatCannotBeTrustedIsSaidRemovedAndNeverCarriedOut)
{
    const std::string whole = JournalText(Stopped());
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"cut short", whole.substr(0, whole.size() / 2)},
        {"a path changed under its digest", [&] {
             std::string text = whole;
             text.replace(text.find("second.txt"), 10, "secoNd.txt");
             return text;
         }()},
        {"another format", "KesuUpdate installation journal 2" + whole.substr(whole.find('\n'))},
        {"empty", ""},
        {"binary", std::string("\0\xff\x01md5\t", 8)},
        {"whole, but with the installation as its staging directory", [] {
             InstallJournal journal{".", {{"tmp/second.dtm", "second.txt"}}, {}, {}};
             return JournalText(journal);
         }()},
        {"whole, but moving a file out of the installation", [] {
             InstallJournal journal{"tmp/.KesuUpdate.staging", {{"tmp/second.dtm", "../second.txt"}}, {}, {}};
             return JournalText(journal);
         }()},
    };
    for (const auto& [how, text] : damaged) {
        SCOPED_TRACE(how);
        install.Write("tmp/install.journal", text);
        install.Write("tmp/.KesuUpdate.staging/replaced/0", "a kept file");
        EXPECT_EQ(FinishInterruptedInstallation(install.Dir() + "tmp", install.Dir()), std::nullopt);
        EXPECT_EQ(ReadWholeFile(install.Path() / "second.txt"), "old second");
        EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/second.dtm"), "new second");
        EXPECT_FALSE(fs::exists(Journal()));
        EXPECT_FALSE(fs::exists(install.Path() / "tmp/.KesuUpdate.staging"));
    }
    std::size_t said = 0;
    for (std::size_t at = 0; (at = Log().find(" is not used and is removed, as ", at)) != std::string::npos; ++at)
        ++said;
    EXPECT_EQ(said, damaged.size()) << Log();
}

TEST_F(InstallJournalTest, WhatARunKilledBeforeItsJournalLeftIsRemovedAndNothingElse)
{
    install.Write("tmp/.KesuUpdate.staging/unpacked/maps/.4711-3.part", "half an entry");
    install.Write(".KesuUpdate.staging/copied.dtm", "a copy from another file system");
    install.Write("tmp/.4711-1.part", "half a check cache");
    install.Write("tmp/town.dat.dtm", "a download");
    install.Write("tmp/check.cache", "a record");
    install.Write("tmp/.part", "not ours");
    install.Write("game.part", "the game's");
    EXPECT_EQ(FinishInterruptedInstallation(install.Dir() + "tmp", install.Dir()), std::nullopt);
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/.KesuUpdate.staging"));
    EXPECT_FALSE(fs::exists(install.Path() / ".KesuUpdate.staging"));
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/.4711-1.part"));
    for (const char* kept : {"tmp/town.dat.dtm", "tmp/check.cache", "tmp/.part", "game.part"})
        EXPECT_TRUE(fs::exists(install.Path() / kept)) << kept;
}

}  // namespace
