// Opening, and writing whole files and whole lines.
#include "files/whole_file.h"

#include <cerrno>
#include <cstring>

#include "common/platform.h"

namespace qv {

namespace {

// Writes `content` to the open `fd` from its current position; 0, or the reason it stopped,
// with the bytes written in `done`.
int WriteAll(int fd, std::string_view content, size_t& done) {
    done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// The bytes of `written` up to and with its last LF: the whole lines in it.
size_t WholeLines(std::string_view written) {
    const size_t lastLineEnd = written.rfind('\n');
    return lastLineEnd == std::string_view::npos ? 0 : lastLineEnd + 1;
}

bool WriteFile(const std::string& path, std::string_view content, bool wholeLines,
               std::string& error) {
    const int fd = OpenOutputFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) {
        error = path + ": cannot create: " + OpenFailure(path, errno);
        return false;
    }
    size_t done = 0;
    int code = WriteAll(fd, content, done);
    if (code != 0 && wholeLines) {
        [[maybe_unused]] const int cut =
            ftruncate(fd, static_cast<off_t>(WholeLines(content.substr(0, done))));
    }
    if (close(fd) != 0 && code == 0) code = errno;  // a full disk may show only here
    if (code == 0) return true;
    error = path + ": cannot write: " + std::strerror(code);
    return false;
}

}  // namespace

const char* NotAFileKind(unsigned mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
#ifndef _WIN32
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
#endif
    return "not a file";
}

std::string OpenFailure(const std::string& path, int code) {
    struct stat st {};
    if (code == ENXIO && stat(path.c_str(), &st) == 0) {
        if (S_ISFIFO(st.st_mode)) return "a FIFO that no program reads";
#ifndef _WIN32
        if (S_ISSOCK(st.st_mode)) return "a socket, not a regular file";
#endif
    }
    return std::strerror(code);
}

int OpenOutputFile(const std::string& path, int flags) {
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd >= 0 && (flags & O_ACCMODE) == O_RDWR && fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        close(fd);
        fd = open(path.c_str(), (flags & ~O_ACCMODE) | O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0666);
    }
    if (fd >= 0) MakeBlocking(fd);
    return fd;
}

int OpenInputFile(const std::string& path, std::string& reason) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    const char* kind = nullptr;
    if (fstat(fd, &st) != 0) {
        reason = std::strerror(errno);
    } else if ((kind = NotAFileKind(st.st_mode)) == nullptr) {
        MakeBlocking(fd);
        return fd;
    } else {
        reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
                                     : std::string(kind) + ", not a regular file";
    }
    close(fd);
    return -1;
}

bool WriteWholeFile(const std::string& path, std::string_view content, std::string& error) {
    return WriteFile(path, content, false, error);
}

bool WriteWholeLines(const std::string& path, std::string_view content, std::string& error) {
    return WriteFile(path, content, true, error);
}

int AppendWholeRecord(int fd, std::string_view record, int64_t& size, bool& partLeft) {
    partLeft = false;
    size_t done = 0;
    const int code = WriteAll(fd, record, done);
    if (code == 0) {
        size += static_cast<int64_t>(record.size());
        return 0;
    }
    const size_t kept = WholeLines(record.substr(0, done));
    if (done > kept) partLeft = ftruncate(fd, size + static_cast<int64_t>(kept)) != 0;
    size += static_cast<int64_t>(kept);
    return code;
}

}  // namespace qv
