// The few system calls whose names or signatures differ between Linux and Windows (MinGW-w64).
// The rest of the program is written once, against the POSIX names; on Windows this header
// supplies them. Files that open, write or sync files, split the time of day, ask whether
// stderr is a terminal, or keep signals off a thread, include it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <ctime>

#ifdef _WIN32
#include <io.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>

// Windows has no close-on-exec flag. Every file the program opens asks for it, so there it
// asks for binary mode instead: a text-mode file would get a CR before every LF written.
#define O_CLOEXEC _O_BINARY
// Nor a flag for opening without waiting: its opens never wait for another program (a named
// pipe without a free instance fails at once), so there is nothing to ask for.
#define O_NONBLOCK 0
// A new file is made with CREATE_NEW, which fails on any name that exists, a link's too, so
// there is no link to follow.
#define O_NOFOLLOW 0

// Windows' links are rare and stat tells a name that exists: all that callers ask of lstat.
inline int lstat(const char* path, struct stat* info) { return stat(path, info); }

inline tm* localtime_r(const time_t* t, tm* out) {
    return localtime_s(out, t) == 0 ? out : nullptr;
}
// Windows' gmtime_s refuses times before 1970; the calendar of <chrono> takes any.
inline tm* gmtime_r(const time_t* t, tm* out) {
    using namespace std::chrono;
    constexpr long long kSecondsPerDay = 86400;
    long long day = static_cast<long long>(*t) / kSecondsPerDay;
    long long second = static_cast<long long>(*t) % kSecondsPerDay;
    if (second < 0) second += kSecondsPerDay, --day;
    const sys_days date{days{day}};
    const year_month_day ymd{date};
    *out = tm{};
    out->tm_year = static_cast<int>(ymd.year()) - 1900;
    out->tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    out->tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    out->tm_hour = static_cast<int>(second / 3600);
    out->tm_min = static_cast<int>(second / 60 % 60);
    out->tm_sec = static_cast<int>(second % 60);
    out->tm_wday = static_cast<int>(weekday{date}.c_encoding());
    out->tm_yday = static_cast<int>((date - sys_days{ymd.year() / January / 1}).count());
    return out;
}

// The file's data to the disk (Windows flushes the metadata with it).
inline int fdatasync(int fd) { return _commit(fd); }

// Windows' write and read take an unsigned int count; these take size_t like POSIX and move at
// most 1 GiB per call (callers loop until all is done).
constexpr size_t kLargestTransfer = size_t{1} << 30;

inline ssize_t write(int fd, const void* data, size_t count) {
    return _write(fd, data, static_cast<unsigned>(std::min(count, kLargestTransfer)));
}

// Reading at an offset. Not atomic like POSIX pread: the file position moves. The program
// reads this way only from files it appends to (append mode writes at the end regardless) or
// reads from start to end.
inline ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return _read(fd, buffer, static_cast<unsigned>(std::min(count, kLargestTransfer)));
}

// Windows delivers no asynchronous signals to a program's threads (console control events
// arrive on a thread of the system's making), so a thread has none to block: these keep the
// POSIX calls that block them compiling and make them do nothing.
#ifndef SIG_BLOCK
#define SIG_BLOCK 0
#define SIG_SETMASK 2
#endif
#ifndef _POSIX
using sigset_t = _sigset_t;
#endif
inline int sigfillset(sigset_t* set) {
    *set = ~sigset_t{0};
    return 0;
}
#undef pthread_sigmask  // winpthreads' macro ignores its arguments, leaving them unused
inline int pthread_sigmask(int, const sigset_t*, sigset_t* previous) {
    if (previous != nullptr) *previous = 0;
    return 0;
}
#endif

// Makes the reads and writes of `fd` wait again, after an open with O_NONBLOCK (which asks only
// that the open itself not wait for the other end of a FIFO).
inline void MakeBlocking(int fd) {
#ifndef _WIN32
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#else
    (void)fd;
#endif
}
