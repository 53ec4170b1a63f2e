// The system calls under the I/Q journal: its lock, the identity of the file under a name, the
// rename that never replaces, and the process id. One twin per system; the journal's logic
// (app/iq_journal.cpp) is written once on top of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qv {

// An open journal file: a file descriptor on Linux, a file handle on Windows.
using JournalHandle = intptr_t;
inline constexpr JournalHandle kNoJournalHandle = -1;

enum class Lock {
    Taken,   // open in `file`, locked by us, still under its name
    Busy,    // another live window holds it
    Gone,    // renamed or removed by another window between the open and the lock: look again
    Failed,  // `reason` says why
};

// Opens `path` for writing (creating it, never truncating) or for reading, and takes its lock
// without waiting. The file is not inherited: a program started from the window (the recording
// mixer) must not keep a dead run's journal looking alive.
Lock OpenLocked(const std::string& path, bool write, JournalHandle& file, std::string& reason);
// The size of an open journal [bytes]; 0 when it cannot be told.
int64_t JournalSize(JournalHandle file);
// Closes an open journal, which ends its lock.
void CloseJournal(JournalHandle file);
// The open journal as a binary C stream for writing, or nullptr with `reason` (the journal then
// closed).
std::FILE* JournalStream(JournalHandle file, std::string& reason);

// Whether anything is under the name `path`.
bool Exists(const std::string& path);

enum class Rename {
    Done,
    NameTaken,  // something is under the new name: try another
    Failed,     // `reason` says why
};
// Renames `from` to `to`, never over an existing file.
Rename RenameNoReplace(const std::string& from, const std::string& to, std::string& reason);

// Removes the name `path` when it names the open `file`, which stays locked until it is closed.
void RemoveIfHeld(std::FILE* file, const std::string& path);

long CurrentProcessId();

}  // namespace qv
