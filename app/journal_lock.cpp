// The I/Q journal's system calls on Linux: flock, device and inode numbers, renameat2.
#include "app/journal_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/whole_file.h"

namespace qv {

namespace {

// Whether the open file `fd` is the one under the name `path` now.
bool SameFile(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

Lock OpenLocked(const std::string& path, bool write, JournalHandle& file, std::string& reason) {
    file = kNoJournalHandle;
    const int flags = write ? O_WRONLY | O_CREAT : O_RDONLY;
    // Close-on-exec keeps the lock from the programs the window starts. O_NONBLOCK: a FIFO
    // under the name must not hold the window at the open; it is refused below.
    const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat info {};
    if (fd < 0) {
        const int code = errno;
        if (code == ENOENT && !write) return Lock::Gone;
        // ENXIO: a FIFO that no program reads, or a socket.
        const char* kind =
            code == ENXIO && stat(path.c_str(), &info) == 0 ? NotAFileKind(info.st_mode) : nullptr;
        reason = kind != nullptr ? std::string(kind) + ", not a regular file" : std::strerror(code);
        return Lock::Failed;
    }
    const bool known = fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        // Records written into a FIFO or a device would be kept nowhere.
        reason = known ? std::string(NotAFileKind(info.st_mode)) + ", not a regular file"
                       : std::strerror(errno);
        close(fd);
        return Lock::Failed;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
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
    // A file system without the no-replace rename: the caller's look at the name has to do.
    if (r != 0 && (errno == EINVAL || errno == ENOSYS)) r = std::rename(from.c_str(), to.c_str());
    if (r == 0) return Rename::Done;
    if (errno == EEXIST) return Rename::NameTaken;
    reason = std::strerror(errno);
    return Rename::Failed;
}

void RemoveIfHeld(std::FILE* file, const std::string& path) {
    if (SameFile(fileno(file), path)) unlink(path.c_str());
}

long CurrentProcessId() { return getpid(); }

}  // namespace qv
