// Writing a whole file in one go.
#include "files/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

}  // namespace qv
