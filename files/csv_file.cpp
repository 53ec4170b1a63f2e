// The CSV file, row by row.
#include "files/csv_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/os.h"
#include "files/whole_file.h"

namespace qv {

namespace {

constexpr std::chrono::minutes kCsvSyncInterval{1};

std::string JoinRow(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t k = 0; k < fields.size(); ++k) {
        if (k > 0) line += ',';
        line += fields[k];
    }
    return line + '\n';
}

// The first `count` bytes of the open file (fewer when it is shorter).
std::string FileStart(int fd, size_t count) {
    std::string bytes(count, '\0');
    size_t done = 0;
    while (done < count) {
        const int64_t n =
            os::ReadAt(fd, bytes.data() + done, count - done, static_cast<int64_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace

CsvFile::~CsvFile() {
    if (fd_ >= 0) os::CloseDescriptor(fd_);
}

bool CsvFile::Open(const std::string& path, const std::vector<std::string>& columns, CsvStart start,
                   std::string& error) {
    const bool truncate = start == CsvStart::Truncate;
    // Appended to, every row goes to the end, also after one that was cut off again.
    const unsigned flags = os::kCreate | os::kAppend | (truncate ? os::kTruncate : 0u);
    fd_ = OpenOutputFile(path, os::kReadWrite | flags);
    if (fd_ < 0 && errno == EACCES) {  // write-only, or a device that cannot be read
        fd_ = OpenOutputFile(path, os::kWriteOnly | flags);
    }
    if (fd_ < 0) {
        error = path + (truncate ? ": cannot create: " : ": cannot open: ") +
                os::OpenFailure(path, errno);
        return false;
    }
    path_ = path;
    held_ = HeldRows(held_.MostBytes);  // rows held for a file closed before stay out of this one
    failure_.clear();
    syncFailed_ = false;
    lastSync_ = std::chrono::steady_clock::now();
    os::FileKind kind{};
    int64_t size = 0;
    size_ = os::KindOfOpen(fd_, kind, size) && kind == os::FileKind::Regular ? size : 0;
    const std::string header = JoinRow(columns);
    if (size_ > 0) {
        const std::string begun = FileStart(fd_, header.size());
        if (begun == header) return true;
        os::CloseDescriptor(fd_);
        fd_ = -1;
        // A first line that begins our header is an earlier layout of the same rows, with
        // fewer columns at the end: say which are missing, so the user knows why.
        const std::string firstLine = begun.substr(0, begun.find('\n'));
        if (!firstLine.empty() && firstLine.size() < begun.size() &&
            header.compare(0, firstLine.size() + 1, firstLine + ",") == 0) {
            error = path + ": holds rows of an earlier layout, without the columns " +
                    header.substr(firstLine.size() + 1, header.size() - firstLine.size() - 2) +
                    "; give a new file for this run's rows";
            return false;
        }
        error = path + ": holds something else than rows of the columns " +
                header.substr(0, header.size() - 1) + "; give a new file";
        return false;
    }
    ownHeader_ = WriteLine(header) ? size_ : -1;
    return true;
}

bool CsvFile::ChangeColumns(const std::vector<std::string>& columns, std::string& error) {
    if (fd_ < 0) return true;
    const std::string header = JoinRow(columns);
    if (ownHeader_ < 0 || size_ != ownHeader_) {
        error = path_ + ": holds rows of other columns than " +
                header.substr(0, header.size() - 1) + "; give a new file for this run's rows";
        return false;
    }
    if (os::Truncate(fd_, 0) != 0) {
        error = path_ + ": cannot write: " + std::strerror(errno);
        return false;
    }
    size_ = 0;
    ownHeader_ = WriteLine(header) ? size_ : -1;
    return true;
}

void CsvFile::WriteRow(const std::vector<std::string>& fields) {
    if (fd_ < 0) return;
    if (!WriteLine(JoinRow(fields))) return;
    if (std::chrono::steady_clock::now() - lastSync_ < kCsvSyncInterval) return;
    lastSync_ = std::chrono::steady_clock::now();
    if (os::SyncData(fd_) != 0 && errno != EINVAL) SyncFailed(errno);  // EINVAL: a device
}

bool CsvFile::WriteLine(const std::string& line) {
    int code = 0;
    const HeldChange change = held_.Write(line, AppendingTo(fd_, size_), code);
    if (change == HeldChange::Failed) NoteFailure(code);
    if (change == HeldChange::Dropping && WriteFailed) {
        WriteFailed(DroppingText(path_, held_, "rows"));
    }
    if (change == HeldChange::Resumed && WriteResumed) {
        WriteResumed(ResumedText(path_, held_, "rows"));
    }
    return !held_.Failing();
}

void CsvFile::NoteFailure(int code) {
    failure_ = path_ + ": cannot write: " + std::strerror(code);
    if (WriteFailed) WriteFailed(failure_);
}

void CsvFile::SyncFailed(int code) {
    if (syncFailed_) return;
    syncFailed_ = true;
    NoteFailure(code);
}

bool CsvFile::HasFailed() const {
    return held_.HeldLines() > 0 || held_.EverDropped() || syncFailed_;
}

bool CsvFile::Close(std::string& error) {
    if (fd_ < 0) return true;
    if (held_.Failing()) WriteLine("");  // the disk may have room at the end
    if (os::SyncData(fd_) != 0 && errno != EINVAL) SyncFailed(errno);
    if (os::CloseDescriptor(fd_) != 0) SyncFailed(errno);
    fd_ = -1;
    error = !HasFailed()            ? ""
            : held_.HeldLines() > 0 ? UnwrittenText(failure_, held_, "rows")
                                    : failure_;
    return error.empty();
}

std::string CsvNumber(long double v) {
    char buffer[64];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
}

std::string CsvText(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

}  // namespace qv
