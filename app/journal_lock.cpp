// The I/Q journal's lock, and the look at whether a locked journal is still under its name.
#include "app/journal_lock.h"

#include <chrono>
#include <thread>

namespace qv {

namespace {

// How long a new journal's lock is waited for while another window looks at the file [ms].
constexpr int kNewLockWaitMilliseconds = 200;

// Takes the lock of the open `handle` (closed unless Taken), waiting up to `waitMilliseconds`.
Lock TakeLock(os::Handle handle, const std::string& path, int waitMilliseconds, os::Handle& file,
              std::string& reason) {
    for (int waited = 0;; ++waited) {
        const os::Locking locking = os::TryLock(handle, reason);
        if (locking == os::Locking::Taken) break;
        if (locking == os::Locking::Busy && waited < waitMilliseconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        os::Close(handle);
        return locking == os::Locking::Busy ? Lock::Busy : Lock::Failed;
    }
    // A lock on a file that is no longer under this name guards nothing.
    if (!IsUnderName(handle, path)) {
        os::Close(handle);
        return Lock::Gone;
    }
    file = handle;
    return Lock::Taken;
}

}  // namespace

Lock CreateLocked(const std::string& path, os::Handle& file, std::string& reason) {
    file = os::kNoHandle;
    os::Handle handle = os::kNoHandle;
    switch (os::CreateNew(path, handle, reason)) {
        case os::Open::Done:
            return TakeLock(handle, path, kNewLockWaitMilliseconds, file, reason);
        case os::Open::NameTaken:
            return Lock::NameTaken;
        case os::Open::Missing:
        case os::Open::NotPlainFile:
        case os::Open::Failed:
            break;
    }
    return Lock::Failed;
}

Lock OpenLocked(const std::string& path, os::Handle& file, std::string& reason) {
    file = os::kNoHandle;
    os::Handle handle = os::kNoHandle;
    switch (os::OpenPlainFile(path, handle, reason)) {
        case os::Open::Done:
            return TakeLock(handle, path, 0, file, reason);
        case os::Open::Missing:
            return Lock::Gone;
        case os::Open::NotPlainFile:  // only a plain file is a journal; a link's target is not
            return Lock::NotJournal;  // looked at
        case os::Open::NameTaken:
        case os::Open::Failed:
            break;
    }
    return Lock::Failed;
}

bool IsUnderName(os::Handle file, const std::string& path) {
    return os::SameId(os::IdentifyOpen(file), os::IdentifyName(path, false));
}

void RemoveIfHeld(os::Handle file, const std::string& path) {
    if (IsUnderName(file, path)) os::Remove(path);
}

}  // namespace qv
