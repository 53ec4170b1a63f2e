// The I/Q journal's lock: a journal file is created or opened and locked, and the lock is kept
// only while the file is still under its name. On the system's files held open and locked
// (common/os.h); the journal's logic (app/iq_journal.cpp) is written on top of these.
#pragma once

#include <cstdio>
#include <string>

#include "common/os.h"

namespace qv {

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
Lock CreateLocked(const std::string& path, os::Handle& file, std::string& reason);
// Opens the journal under `path` for reading and takes its lock without waiting; a link under
// the name is not followed.
Lock OpenLocked(const std::string& path, os::Handle& file, std::string& reason);

// Whether the open `file` is the one under the name `path` now (a link to it is not).
bool IsUnderName(os::Handle file, const std::string& path);
// Removes the name `path` when it names the open `file`, which stays locked until it is closed
// (on Windows the name goes when it is closed), so that no other window can take the name's
// file in between.
void RemoveIfHeld(os::Handle file, const std::string& path);

}  // namespace qv
