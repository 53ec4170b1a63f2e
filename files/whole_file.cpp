// Opening, and writing whole files, whole lines and new files.
#include "files/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/os.h"

namespace qv {

namespace {

// Writes `content` to the open `fd` from its current position; 0, or the reason it stopped,
// with the bytes written in `done`.
int WriteAll(int fd, std::string_view content, size_t& done) {
    done = 0;
    while (done < content.size()) {
        const int64_t n = os::WriteSome(fd, content.data() + done, content.size() - done);
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
    const int fd = OpenOutputFile(path, os::kWriteOnly | os::kCreate | os::kTruncate);
    if (fd < 0) {
        error = path + ": cannot create: " + os::OpenFailure(path, errno);
        return false;
    }
    size_t done = 0;
    int code = WriteAll(fd, content, done);
    if (code != 0 && wholeLines) {
        [[maybe_unused]] const int cut =
            os::Truncate(fd, static_cast<int64_t>(WholeLines(content.substr(0, done))));
    }
    if (os::CloseDescriptor(fd) != 0 && code == 0) code = errno;  // a full disk may show only here
    if (code == 0) return true;
    error = path + ": cannot write: " + std::strerror(code);
    return false;
}

}  // namespace

const char* NotAFileKind(os::FileKind kind) {
    switch (kind) {
        case os::FileKind::Regular:
            return nullptr;
        case os::FileKind::Folder:
            return "a folder";
        case os::FileKind::Fifo:
            return "a FIFO";
        case os::FileKind::CharacterDevice:
            return "a character device";
        case os::FileKind::BlockDevice:
            return "a block device";
        case os::FileKind::Socket:
            return "a socket";
        case os::FileKind::Other:
            break;
    }
    return "not a file";
}

int OpenOutputFile(const std::string& path, unsigned flags) {
    int fd = os::OpenDescriptor(path, flags);
    os::FileKind kind{};
    int64_t size = 0;
    if (fd >= 0 && (flags & os::kAccess) == os::kReadWrite && os::KindOfOpen(fd, kind, size) &&
        kind == os::FileKind::Fifo) {
        os::CloseDescriptor(fd);
        fd = os::OpenDescriptor(path, (flags & ~unsigned{os::kAccess}) | os::kWriteOnly);
    }
    if (fd >= 0) os::MakeBlocking(fd);
    return fd;
}

int OpenInputFile(const std::string& path, std::string& reason) {
    const int fd = os::OpenDescriptor(path, os::kReadOnly);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    os::FileKind kind{};
    int64_t size = 0;
    const char* notAFile = nullptr;
    if (!os::KindOfOpen(fd, kind, size)) {
        reason = std::strerror(errno);
    } else if ((notAFile = NotAFileKind(kind)) == nullptr) {
        os::MakeBlocking(fd);
        return fd;
    } else {
        reason = kind == os::FileKind::Folder ? std::strerror(EISDIR)
                                              : std::string(notAFile) + ", not a regular file";
    }
    os::CloseDescriptor(fd);
    return -1;
}

bool WriteWholeFile(const std::string& path, std::string_view content, std::string& error) {
    return WriteFile(path, content, false, error);
}

bool WriteWholeLines(const std::string& path, std::string_view content, std::string& error) {
    return WriteFile(path, content, true, error);
}

namespace {

// WriteNewFile, its errors naming `shown`.
NewFile CreateAndWrite(const std::string& path, const std::string& shown, std::string_view content,
                       std::string& error) {
    // Exclusive: nothing under the name is opened, so no FIFO can hold the open either;
    // without waiting all the same, as every output the program opens.
    const int fd = os::OpenDescriptor(path, os::kWriteOnly | os::kCreate | os::kExclusive);
    if (fd < 0) {
        const int code = errno;
        // Windows refuses a folder's name as "access denied": taken all the same.
        if (code == EEXIST || (code == EACCES && os::Exists(path))) {
            return NewFile::NameTaken;
        }
        error = shown + ": cannot create: " + std::strerror(code);
        return NewFile::Failed;
    }
    os::MakeBlocking(fd);
    size_t done = 0;
    int code = WriteAll(fd, content, done);
    if (os::CloseDescriptor(fd) != 0 && code == 0) code = errno;
    if (code == 0) return NewFile::Written;
    os::Remove(path);  // made just now by us: a torn file would pass for a whole one
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
    const std::string beside = path + ".new" + std::to_string(os::ProcessId());
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
    os::Remove(written);
    error = path + ": cannot create: " + renamed.message();
    return false;
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
    if (done > kept) partLeft = os::Truncate(fd, size + static_cast<int64_t>(kept)) != 0;
    size += static_cast<int64_t>(kept);
    return code;
}

}  // namespace qv
