// Writing a whole file in one go.
#include "files/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/platform.h"

namespace qv {

bool WriteWholeFile(const std::string& path, std::string_view content, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot create: " + std::strerror(errno);
        return false;
    }
    const size_t written = std::fwrite(content.data(), 1, content.size(), file);
    const int writeErrno = errno;
    const bool flushed = std::fflush(file) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (written != content.size() || !flushed || !closed) {
        const int code = written != content.size() ? writeErrno : (!flushed ? flushErrno : errno);
        error = path + ": cannot write: " + std::strerror(code);
        return false;
    }
    return true;
}

int AppendWholeRecord(int fd, std::string_view record, int64_t& size, bool& partLeft) {
    partLeft = false;
    size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = write(fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            if (done > 0) partLeft = ftruncate(fd, size) != 0;
            return code;
        }
        done += static_cast<size_t>(n);
    }
    size += static_cast<int64_t>(record.size());
    return 0;
}

}  // namespace qv
