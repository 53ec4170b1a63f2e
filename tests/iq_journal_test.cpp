// The I/Q journal's lock: one window per journal. A journal a live window holds is never set
// aside, taken over or removed by another; only journals of runs that have ended without
// closing are set aside, under free names, whichever name they had, also when the window that
// held one was killed.
#include "app/iq_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace qv {

namespace {

// Journals `text` as a first record would: header and records in one.
void Record(IqJournal& j, const std::string& text) {
    std::string error;
    ASSERT_TRUE(JournalIqRecord(j, text, text, error)) << error;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// `text` recorded while something that is no journal holds the usual name `usual`: the window
// takes its own name, says why, and the records are there.
void RecordBesideWhatHoldsTheName(IqJournal& j, const std::string& usual, const std::string& text) {
    j.Path = usual;
    ASSERT_NO_FATAL_FAILURE(Record(j, text));
    EXPECT_EQ(j.Path, ProcessJournalName(usual, getpid()));
    EXPECT_EQ(FileText(j.Path), text);
    EXPECT_NE(j.Notice.find("is taken by something that is not an I/Q journal"), std::string::npos)
        << j.Notice;
}

}  // namespace

TEST(IqJournalLock, ASecondJournalInTheFolderTakesItsOwnNameAndRemovesOnlyItsOwn) {
    TestFolder folder;
    const std::string usual = folder.Path(kIqJournalName);
    const std::string own = ProcessJournalName(usual, getpid());

    // The usual name, held by a live journal: neither set aside at start-up nor taken.
    IqJournal first;
    first.Path = usual;
    ASSERT_NO_FATAL_FAILURE(Record(first, "first\r\n"));
    std::vector<std::string> setAside;
    std::string error;
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_TRUE(setAside.empty());

    IqJournal second;
    second.Path = usual;
    ASSERT_NO_FATAL_FAILURE(Record(second, "second\r\n"));
    EXPECT_EQ(second.Path, own);
    EXPECT_NE(second.Notice.find("in use by another window"), std::string::npos) << second.Notice;
    EXPECT_EQ(second.Notice.find("earlier run"), std::string::npos) << second.Notice;
    std::string append = "more\r\n";
    EXPECT_TRUE(JournalIqRecord(first, "", append, error));
    EXPECT_EQ(FileText(usual), "first\r\nmore\r\n");
    EXPECT_EQ(FileText(own), "second\r\n");

    // A third finds both held: an error, once, and no file touched.
    IqJournal third;
    third.Path = usual;
    EXPECT_FALSE(JournalIqRecord(third, "third\r\n", "third\r\n", error));
    EXPECT_NE(error.find("in use by another window"), std::string::npos) << error;
    EXPECT_TRUE(JournalIqRecord(third, "x", "x", error)) << "reported once";
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_TRUE(setAside.empty());

    // Each removes its own only; one that created none removes nothing under its name.
    RemoveJournal(first);
    EXPECT_FALSE(Exists(usual));
    EXPECT_EQ(FileText(own), "second\r\n");
    WriteText(usual, "someone else's\r\n");
    RemoveJournal(third);
    EXPECT_EQ(FileText(usual), "someone else's\r\n");
    // A file put under the name after ours was moved away is not ours either.
    std::filesystem::rename(own, own + ".moved");
    WriteText(own, "not ours\r\n");
    RemoveJournal(second);
    EXPECT_EQ(FileText(own), "not ours\r\n");
    EXPECT_EQ(FileText(own + ".moved"), "second\r\n");
}

TEST(IqJournalLock, AJournalLeftUnderTheNameSinceStartUpIsSetAsideAtTheFirstRecord) {
    TestFolder folder;
    const std::string usual = folder.Path(kIqJournalName);
    WriteText(usual + ".1", "older\r\n");
    WriteText(usual, "dead run\r\n");
    IqJournal j;
    j.Path = usual;
    ASSERT_NO_FATAL_FAILURE(Record(j, "new\r\n"));
    EXPECT_EQ(j.Path, usual);
    EXPECT_EQ(FileText(usual), "new\r\n");
    EXPECT_EQ(FileText(usual + ".1"), "older\r\n");
    EXPECT_EQ(FileText(usual + ".2"), "dead run\r\n");
    EXPECT_NE(j.Notice.find(usual + ".2"), std::string::npos) << j.Notice;
}

// A window that ended without closing its journal (its lock goes with it), or was killed: while
// it lives its journal under its own name stays put; once its lock is gone, start-up sets the
// journal aside under the usual name's next free number. Empty journals have nothing to keep
// and stay.
TEST(IqJournalLock, AnEndedWindowsOwnNameJournalIsSetAsideOnceItsLockIsGone) {
    TestFolder folder;
    const std::string usual = folder.Path(kIqJournalName);
    IqJournal mine;
    mine.Path = usual;
    ASSERT_NO_FATAL_FAILURE(Record(mine, "mine\r\n"));
    WriteText(usual + ".1", "older\r\n");
    WriteText(ProcessJournalName(usual, 1), "");  // empty, of a run that died at once

    std::string theirs;
    std::vector<std::string> setAside;
    std::string error;
    {
        IqJournal other;
        other.Path = usual;
        ASSERT_NO_FATAL_FAILURE(Record(other, "theirs\r\n"));
        theirs = other.Path;
        ASSERT_EQ(theirs, ProcessJournalName(usual, getpid()));
        EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
        EXPECT_TRUE(setAside.empty()) << "a live window's journal was set aside";
        EXPECT_EQ(FileText(theirs), "theirs\r\n");
    }  // ended without removing or keeping it, as a crash ends it

    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_EQ(setAside, std::vector<std::string>{usual + ".2"});
    EXPECT_EQ(FileText(usual + ".2"), "theirs\r\n");
    EXPECT_FALSE(Exists(theirs));
    EXPECT_EQ(FileText(usual), "mine\r\n");
    EXPECT_EQ(FileText(usual + ".1"), "older\r\n");
    EXPECT_TRUE(Exists(ProcessJournalName(usual, 1)));

#ifndef _WIN32
    // The same across processes: a window killed while it holds its journal.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        IqJournal killed;
        killed.Path = usual;
        std::string why;
        const bool ok = JournalIqRecord(killed, "theirs\r\n", "theirs\r\n", why) &&
                        killed.Path == ProcessJournalName(usual, getpid());
        const char answer = ok ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = write(ready[1], &answer, 1);
        for (;;) pause();
    }
    close(ready[1]);
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    close(ready[0]);
    ASSERT_EQ(answer, 'y') << "the child did not journal under its own name";
    theirs = ProcessJournalName(usual, child);

    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_TRUE(setAside.empty()) << "a live window's journal was set aside";
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_EQ(setAside, std::vector<std::string>{usual + ".3"});
    EXPECT_EQ(FileText(usual + ".3"), "theirs\r\n");
    EXPECT_FALSE(Exists(theirs));
#endif

    // Its own journal, removed at a normal close, takes nothing else with it.
    RemoveJournal(mine);
    EXPECT_FALSE(Exists(usual));
    EXPECT_TRUE(Exists(usual + ".2"));
}

// The journal is always a new file: a link under its name is never followed (a dangling one
// would have the records written where it points); what is no journal makes the window take
// its own name, and is left where it is.
TEST(IqJournalLock, ALinkOrFolderUnderTheNameIsNeitherFollowedNorWrittenInto) {
    TestFolder folder;
    const std::string usual = folder.Path(kIqJournalName);
    // Symbolic links need a privilege on Windows: a folder stands in for one there.
    std::error_code noLinks;
    std::filesystem::create_symlink(folder.Path("elsewhere/target"), usual, noLinks);
    if (noLinks) std::filesystem::create_directories(usual);
    IqJournal j;
    ASSERT_NO_FATAL_FAILURE(RecordBesideWhatHoldsTheName(j, usual, "records\r\n"));
    EXPECT_FALSE(Exists(folder.Path("elsewhere")));
    std::vector<std::string> setAside;
    std::string error;
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_TRUE(setAside.empty()) << "a link or a folder is nothing of ours to move";
    RemoveJournal(j);
    EXPECT_FALSE(Exists(j.Path));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(usual)));
}

// A FIFO under the journal's name is no journal either: it holds the window neither at start-up
// nor at the first record, no record goes into it, and the window takes its own name. (The test
// holds both of its ends open: an open that waited for the other end would not wait here.)
TEST(IqJournalLock, AFifoUnderTheNameHoldsNothingAndIsNeverWrittenInto) {
#ifdef _WIN32
    GTEST_SKIP() << "no FIFOs in Windows folders";
#else
    TestFolder folder;
    const std::string usual = folder.Path(kIqJournalName);
    ASSERT_EQ(mkfifo(usual.c_str(), 0644), 0);
    const int both = open(usual.c_str(), O_RDWR | O_NONBLOCK);
    std::vector<std::string> setAside;
    std::string error;
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_TRUE(setAside.empty()) << "a FIFO is nothing of ours to move";
    IqJournal j;
    ASSERT_NO_FATAL_FAILURE(RecordBesideWhatHoldsTheName(j, usual, "header\r\n"));
    char byte = 0;
    EXPECT_EQ(read(both, &byte, 1), -1) << "nothing written into the FIFO";
    close(both);
    RemoveJournal(j);
    struct stat info {};
    EXPECT_TRUE(lstat(usual.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
#endif
}

}  // namespace qv
