// Writing a whole file in one go.
#include "files/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

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

namespace {

// WriteNewFile, its errors naming `shown`.
NewFile CreateAndWrite(const std::string& path, const std::string& shown, std::string_view content,
                       std::string& error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        // Windows refuses a folder's name as "access denied": taken all the same.
        struct stat info {};
        if (code == EEXIST || (code == EACCES && lstat(path.c_str(), &info) == 0)) {
            return NewFile::NameTaken;
        }
        error = shown + ": cannot create: " + std::strerror(code);
        return NewFile::Failed;
    }
    int code = 0;
    for (size_t done = 0; done < content.size();) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            code = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 && code == 0) code = errno;
    if (code == 0) return NewFile::Written;
    unlink(path.c_str());  // made just now by us: a torn file would pass for a whole one
    error = shown + ": cannot write: " + std::strerror(code);
    return NewFile::Failed;
}

}  // namespace

std::string NumberedName(const std::string& name, int number) {
    if (number <= 1) return name;
    const size_t slash = name.find_last_of("/\\");
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < start) dot = name.size();
    return name.substr(0, dot) + "-" + std::to_string(number) + name.substr(dot);
}

NewFile WriteNewFile(const std::string& path, std::string_view content, std::string& error) {
    return CreateAndWrite(path, path, content, error);
}

bool WriteUnderFreeName(const std::string& name, std::string_view content, int& number,
                        std::string& error) {
    for (int n = std::max(number, 1); n <= kMostNumberedNames; ++n) {
        switch (WriteNewFile(NumberedName(name, n), content, error)) {
            case NewFile::Written:
                number = n;
                return true;
            case NewFile::NameTaken:
                continue;
            case NewFile::Failed:
                return false;
        }
    }
    error = name + ": cannot create: every name up to " + NumberedName(name, kMostNumberedNames) +
            " is taken";
    return false;
}

bool ReplaceWholeFile(const std::string& path, std::string_view content, std::string& error) {
    // Beside it under a name of this process's, numbered past one a killed run left.
    const std::string beside = path + ".new" + std::to_string(getpid());
    std::string written;
    for (int n = 1; written.empty(); ++n) {
        if (n > kMostNumberedNames) {
            error = path + ": cannot create: every name beside it is taken";
            return false;
        }
        const std::string candidate = NumberedName(beside, n);
        switch (CreateAndWrite(candidate, path, content, error)) {
            case NewFile::Written:
                written = candidate;
                break;
            case NewFile::NameTaken:
                continue;
            case NewFile::Failed:
                return false;
        }
    }
    std::error_code renamed;
    std::filesystem::rename(written, path, renamed);
    if (!renamed) return true;
    unlink(written.c_str());
    error = path + ": cannot create: " + renamed.message();
    return false;
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
