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
    Taken,       // open in `file`, locked by us, still under its name
    Busy,        // another live window holds it
    Gone,        // renamed or removed by another window between the open and the lock: look again
    NameTaken,   // CreateLocked: something is under the name already
    NotJournal,  // OpenLocked: what is under the name is no plain file (a link, a folder, a FIFO)
    Failed,      // `reason` says why
};

// Creates `path` as a new, empty file for writing and takes its lock: never over anything under
// the name, never through a link. A window that is looking whether the new file is a dead run's
// journal holds its lock for a moment, so the lock is waited for that long. The file is not
// inherited: a program started from the window (the recording mixer) must not keep a dead run's
// journal looking alive.
Lock CreateLocked(const std::string& path, JournalHandle& file, std::string& reason);
// Opens the journal under `path` for reading and takes its lock without waiting; a link under
// the name is not followed.
Lock OpenLocked(const std::string& path, JournalHandle& file, std::string& reason);
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

// Whether the open `file` is the one under the name `path` now (a link to it is not).
bool IsUnderName(std::FILE* file, const std::string& path);
// Removes the name `path` when it names the open `file`, which stays locked until it is closed.
void RemoveIfHeld(std::FILE* file, const std::string& path);
void RemoveIfHeld(JournalHandle file, const std::string& path);

long CurrentProcessId();

}  // namespace qv
