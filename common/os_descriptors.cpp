// The operating system's descriptor calls that Linux's and Windows' C runtimes both have, in the
// same words: what an open descriptor or a name is, cutting a file to a size, and the thread's
// CPU clock. Built for both systems, beside the back-end of each (common/os_posix.cpp,
// common/os_win32.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "common/os.h"

namespace qv::os {

namespace {

FileKind KindOfMode(unsigned mode) {
    if (S_ISREG(mode)) return FileKind::Regular;
    if (S_ISDIR(mode)) return FileKind::Folder;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISCHR(mode)) return FileKind::CharacterDevice;
#ifndef _WIN32  // Windows has neither block devices nor sockets under names
    if (S_ISBLK(mode)) return FileKind::BlockDevice;
    if (S_ISSOCK(mode)) return FileKind::Socket;
#endif
    return FileKind::Other;
}

}  // namespace

bool KindOfOpen(int fd, FileKind& kind, int64_t& size) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    kind = KindOfMode(st.st_mode);
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool KindOfName(const std::string& path, FileKind& kind) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    kind = KindOfMode(st.st_mode);
    return true;
}

int Truncate(int fd, int64_t size) { return ftruncate(fd, static_cast<off_t>(size)); }

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace qv::os
