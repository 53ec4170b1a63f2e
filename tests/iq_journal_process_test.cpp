// The I/Q journal's lock across processes: a window killed while it holds its journal leaves
// it to be set aside by the next start-up, never while it lives.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/iq_journal.h"
#include "tests/test_files.h"

namespace qv {

namespace {

// Journals `text` as a first record would: header and records in one.
void Record(IqJournal& j, const std::string& text) {
    std::string error;
    ASSERT_TRUE(JournalIqRecord(j, text, text, error)) << error;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace

// A window killed while it holds a journal under its own process name: while it lives its
// journal stays put; once it is dead, start-up sets the journal aside under the usual name's
// next free number. Empty journals have nothing to keep and stay.
TEST(IqJournalLock, AKilledWindowsOwnNameJournalIsSetAsideOnceItIsDead) {
    TestFolder folder;
    const std::string usual = folder.Path(kIqJournalName);
    IqJournal mine;
    mine.Path = usual;
    ASSERT_NO_FATAL_FAILURE(Record(mine, "mine\r\n"));
    WriteText(usual + ".1", "older\r\n");
    WriteText(ProcessJournalName(usual, 1), "");  // empty, of a run that died at once

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        IqJournal theirs;
        theirs.Path = usual;
        std::string error;
        const bool ok = JournalIqRecord(theirs, "theirs\r\n", "theirs\r\n", error) &&
                        theirs.Path == ProcessJournalName(usual, getpid());
        const char answer = ok ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = write(ready[1], &answer, 1);
        for (;;) pause();
    }
    close(ready[1]);
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    close(ready[0]);
    ASSERT_EQ(answer, 'y') << "the child did not journal under its own name";
    const std::string theirs = ProcessJournalName(usual, child);

    std::vector<std::string> setAside;
    std::string error;
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_TRUE(setAside.empty()) << "a live window's journal was set aside";
    EXPECT_EQ(FileText(theirs), "theirs\r\n");

    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(SetAsideOldJournals(usual, setAside, error)) << error;
    EXPECT_EQ(setAside, std::vector<std::string>{usual + ".2"});
    EXPECT_EQ(FileText(usual + ".2"), "theirs\r\n");
    EXPECT_FALSE(Exists(theirs));
    EXPECT_EQ(FileText(usual), "mine\r\n");
    EXPECT_EQ(FileText(usual + ".1"), "older\r\n");
    EXPECT_TRUE(Exists(ProcessJournalName(usual, 1)));
}

}  // namespace qv
