// The I/Q journal's system calls on Linux: flock, device and inode numbers, renameat2.
#include "app/journal_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace qv {

namespace {

// How long a new journal's lock is waited for while another window looks at the file [ms].
constexpr int kNewLockWaitMilliseconds = 200;

// Whether the open file `fd` is the one under the name `path` now.
bool SameFile(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Takes the lock of the open `fd` (closed unless Taken), waiting up to `waitMilliseconds`.
Lock TakeLock(int fd, const std::string& path, int waitMilliseconds, JournalHandle& file,
              std::string& reason) {
    for (int waited = 0; flock(fd, LOCK_EX | LOCK_NB) != 0;) {
        const int code = errno;
        if (code == EINTR) continue;
        if (code == EWOULDBLOCK && waited < waitMilliseconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++waited;
            continue;
        }
        close(fd);
        if (code == EWOULDBLOCK) return Lock::Busy;
        reason = std::strerror(code);
        return Lock::Failed;
    }
    // A lock on a file that is no longer under this name guards nothing.
    if (!SameFile(fd, path)) {
        close(fd);
        return Lock::Gone;
    }
    file = fd;
    return Lock::Taken;
}

}  // namespace

Lock CreateLocked(const std::string& path, JournalHandle& file, std::string& reason) {
    file = kNoJournalHandle;
    // Close-on-exec keeps the lock from the programs the window starts.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) return Lock::NameTaken;
        reason = std::strerror(errno);
        return Lock::Failed;
    }
    return TakeLock(fd, path, kNewLockWaitMilliseconds, file, reason);
}

Lock OpenLocked(const std::string& path, JournalHandle& file, std::string& reason) {
    file = kNoJournalHandle;
    // Non-blocking: a FIFO under the name would wait for a writer. Only a plain file is a
    // journal; a link's target is not looked at.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Lock::Gone;
        // ELOOP: a link; ENXIO: a socket.
        if (errno == ELOOP || errno == ENXIO) return Lock::NotJournal;
        reason = std::strerror(errno);
        return Lock::Failed;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return Lock::NotJournal;
    }
    return TakeLock(fd, path, 0, file, reason);
}

int64_t JournalSize(JournalHandle file) {
    struct stat info {};
    return fstat(static_cast<int>(file), &info) == 0 ? info.st_size : 0;
}

void CloseJournal(JournalHandle file) { close(static_cast<int>(file)); }

std::FILE* JournalStream(JournalHandle file, std::string& reason) {
    // On a descriptor, "w" does not truncate.
    std::FILE* stream = fdopen(static_cast<int>(file), "wb");
    if (stream == nullptr) {
        reason = std::strerror(errno);
        close(static_cast<int>(file));
    }
    return stream;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

Rename RenameNoReplace(const std::string& from, const std::string& to, std::string& reason) {
    int r = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the no-replace rename (NFS): a new hard link fails on a taken
        // name as well. Only where there are no hard links either, the caller's look at the
        // name has to do.
        r = link(from.c_str(), to.c_str());
        if (r == 0) {
            unlink(from.c_str());
        } else if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
            r = std::rename(from.c_str(), to.c_str());
        }
    }
    if (r == 0) return Rename::Done;
    if (errno == EEXIST) return Rename::NameTaken;
    reason = std::strerror(errno);
    return Rename::Failed;
}

bool IsUnderName(std::FILE* file, const std::string& path) { return SameFile(fileno(file), path); }

void RemoveIfHeld(std::FILE* file, const std::string& path) {
    if (IsUnderName(file, path)) unlink(path.c_str());
}

void RemoveIfHeld(JournalHandle file, const std::string& path) {
    if (SameFile(static_cast<int>(file), path)) unlink(path.c_str());
}

long CurrentProcessId() { return getpid(); }

}  // namespace qv
