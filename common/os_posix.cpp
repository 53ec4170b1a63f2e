// The operating system on Linux: POSIX calls, flock, renameat2, sigaction, posix_spawn.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "common/os.h"

extern char** environ;  // the process environment (POSIX), for posix_spawn

namespace qv::os {

// ---------------------------------------------------------------------------------------------
// Descriptors

int OpenDescriptor(const std::string& path, unsigned flags) {
    static constexpr int kAccessModes[] = {O_RDONLY, O_WRONLY, O_RDWR, O_RDWR};
    int mode = kAccessModes[flags & kAccess] | O_NONBLOCK | O_CLOEXEC;
    if ((flags & kCreate) != 0) mode |= O_CREAT;
    if ((flags & kTruncate) != 0) mode |= O_TRUNC;
    if ((flags & kAppend) != 0) mode |= O_APPEND;
    if ((flags & kExclusive) != 0) mode |= O_EXCL | O_NOFOLLOW;
    return open(path.c_str(), mode, 0666);
}

int64_t WriteSome(int fd, const void* data, size_t count) { return write(fd, data, count); }

int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) {
    return pread(fd, buffer, count, static_cast<off_t>(offset));
}

int SyncData(int fd) { return fdatasync(fd); }

int CloseDescriptor(int fd) { return close(fd); }

// ---------------------------------------------------------------------------------------------
// Processes, time

void MakeBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

std::string OpenFailure(const std::string& path, int code) {
    struct stat st {};
    if (code == ENXIO && stat(path.c_str(), &st) == 0) {
        if (S_ISFIFO(st.st_mode)) return "a FIFO that no program reads";
        if (S_ISSOCK(st.st_mode)) return "a socket, not a regular file";
    }
    return std::strerror(code);
}

long ProcessId() { return getpid(); }

void LocalTime(time_t t, tm& out) { localtime_r(&t, &out); }
void UtcTime(time_t t, tm& out) { gmtime_r(&t, &out); }

static_assert(sizeof(sigset_t) <= sizeof(SignalMask::Bits));

SignalMask BlockAllSignals() {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    SignalMask mask;
    std::memcpy(mask.Bits, &previous, sizeof previous);
    return mask;
}

void RestoreSignals(const SignalMask& mask) {
    sigset_t previous;
    std::memcpy(&previous, mask.Bits, sizeof previous);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void PrepareConsole() {}
bool ConsoleOfItsOwn() { return false; }
void WaitForKeyBeforeClosing() {}

bool StartDetached(const std::vector<std::string>& argv, std::string& error) {
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_init(&attributes);
    // Its own session, so a Ctrl-C in our terminal does not reach it; default signal handling.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int result = posix_spawnp(&pid, args[0], &files, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        error = argv[0] + ": cannot start: " + std::strerror(result);
        return false;
    }
    // Not waited for by the caller; a thread of its own collects its exit status.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

bool IsProgram(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

int UsableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

// ---------------------------------------------------------------------------------------------
// Names and what is under them

namespace {

FileId IdentityOf(const struct stat& st) {
    return {.Exists = true,
            .Shared = S_ISCHR(st.st_mode),
            .Volume = static_cast<uint64_t>(st.st_dev),
            .Index = static_cast<uint64_t>(st.st_ino)};
}

}  // namespace

FileId IdentifyName(const std::string& path, bool followLink) {
    struct stat st {};
    if ((followLink ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return {};
    return IdentityOf(st);
}

std::string ComparablePath(const std::string& resolved) { return resolved; }

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool Remove(const std::string& path) { return unlink(path.c_str()) == 0; }

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

Probe ProbeExisting(const std::string& path, std::string& reason) {
    // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting.
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return Probe::Writable;
    }
    if (errno == ENOENT) return Probe::Missing;
    reason = OpenFailure(path, errno);
    return Probe::Refused;
}

std::string ProbeNew(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return std::strerror(errno);
    close(fd);
    unlink(path.c_str());
    return "";
}

std::string MakeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0 ? "" : std::strerror(errno);
}

std::string NotAFolder(const std::string& path) {
    struct stat st {};
    const int code = stat(path.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    return code == 0 ? "" : std::strerror(code);
}

void RemoveFolder(const std::string& path) { rmdir(path.c_str()); }

bool DocumentsFolder(std::string& folder, std::string& /*error*/) {
    folder.clear();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Files held open and locked: flock.

Open CreateNew(const std::string& path, Handle& file, std::string& reason) {
    // Close-on-exec keeps the file, and its lock, from the programs the window starts.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) return Open::NameTaken;
        reason = std::strerror(errno);
        return Open::Failed;
    }
    file = fd;
    return Open::Done;
}

Open OpenPlainFile(const std::string& path, Handle& file, std::string& reason) {
    // Non-blocking: a FIFO under the name would wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Open::Missing;
        // ELOOP: a link; ENXIO: a socket.
        if (errno == ELOOP || errno == ENXIO) return Open::NotPlainFile;
        reason = std::strerror(errno);
        return Open::Failed;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return Open::NotPlainFile;
    }
    file = fd;
    return Open::Done;
}

Locking TryLock(Handle file, std::string& reason) {
    while (flock(static_cast<int>(file), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) return Locking::Busy;
        reason = std::strerror(errno);
        return Locking::Failed;
    }
    return Locking::Taken;
}

FileId IdentifyOpen(Handle file) {
    struct stat st {};
    return fstat(static_cast<int>(file), &st) == 0 ? IdentityOf(st) : FileId{};
}

int64_t FileSize(Handle file) {
    struct stat info {};
    return fstat(static_cast<int>(file), &info) == 0 ? info.st_size : 0;
}

void Close(Handle file) { close(static_cast<int>(file)); }

std::FILE* WritingStream(Handle file, std::string& reason) {
    // On a descriptor, "w" does not truncate.
    std::FILE* stream = fdopen(static_cast<int>(file), "wb");
    if (stream == nullptr) {
        reason = std::strerror(errno);
        close(static_cast<int>(file));
    }
    return stream;
}

Handle HandleOf(std::FILE* stream) { return fileno(stream); }

// ---------------------------------------------------------------------------------------------
// Stop requests: SIGINT, SIGTERM and SIGHUP.

namespace {

StopCallback gOnStop = nullptr;
struct sigaction gPreviousInt {
}, gPreviousTerm{}, gPreviousHup{}, gPreviousPipe{};

extern "C" void OnStopSignal(int signal) { gOnStop(signal); }

}  // namespace

bool InstallStopHandlers(StopCallback onStop) {
    gOnStop = onStop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // The handler does not interrupt itself for another stop signal. Interrupted system calls
    // are restarted, so a signal during the close-time work fails no write.
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
    sigaction(SIGHUP, &action, &gPreviousHup);
    // A reader of our output that went away with a dropped session makes those writes fail
    // instead of killing the run.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &gPreviousPipe);
    return true;
}

void RemoveStopHandlers(bool keepIgnoring) {
    if (keepIgnoring) {
        // SIGPIPE stays ignored as it is.
        for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_IGN);
        return;
    }
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
    sigaction(SIGHUP, &gPreviousHup, nullptr);
    sigaction(SIGPIPE, &gPreviousPipe, nullptr);
}

const char* StopRequestName(int request) {
    switch (request) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
    }
    return nullptr;
}

const char* StopRequestsHint() { return "SIGINT (Ctrl-C), SIGTERM or SIGHUP"; }

bool MakeWakePipe(int ends[2]) { return pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0; }

void Wake(int fd) {
    const int saved = errno;  // write may change it under the interrupted code's feet
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
    errno = saved;
}

void DrainWake(int fd) {
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

void CloseWakeEnd(int fd) { close(fd); }

}  // namespace qv::os
