// The I/Q text and its file.
#include "files/iq_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/numbers.h"
#include "common/os.h"
#include "common/time_of_day.h"
#include "files/whole_file.h"

namespace qv {

namespace {

// [wall-clock time] longest a written record waits for its sync to the disk; a power cut
// loses at most this much of the file.
constexpr std::chrono::minutes kIqSyncInterval{1};

}  // namespace

std::string IqTextHeader() {
    return "   Time     I            Q \r\n"
           "==================================\r\n";
}

std::string IqRecord(const std::string& timeOfDay, long double periodI, long double periodQ) {
    std::string record = timeOfDay;
    record.append(",").append(FormatPicture7(periodI));
    record.append(",").append(FormatPicture7(periodQ));
    return record.append("\r\n");
}

std::string IqFileName(int64_t millisecondsOfDay) {
    return "IQfile " + FormatTimeForFileName(millisecondsOfDay) + ".TXT";
}

bool WriteIqFile(const std::string& iqText, const std::string& path, std::string& error) {
    return WriteWholeLines(path, iqText + "\r\n", error);
}

// ---------------------------------------------------------------------------------------------
// IqFileWriter

IqFileWriter::~IqFileWriter() { Close(); }

bool IqFileWriter::Create(const std::string& path, std::string& error) {
    Close();
    path_ = path;
    size_ = lines_ = 0;
    closed_ = false;
    fd_ = OpenOutputFile(path, os::kWriteOnly | os::kCreate | os::kTruncate);
    if (fd_ < 0) {
        error = path + ": cannot create: " + os::OpenFailure(path, errno);
        return false;
    }
    lastSync_ = std::chrono::steady_clock::now();
    return WriteWhole(IqTextHeader(), error);
}

bool IqFileWriter::Append(const std::string& record, std::string& error) {
    if (!WriteWhole(record, error)) return false;
    if (std::chrono::steady_clock::now() - lastSync_ < kIqSyncInterval) return true;
    return Sync(error);
}

bool IqFileWriter::Finish(std::string& error) {
    const bool ok = WriteWhole("\r\n", error) && Sync(error);
    closed_ = ok;
    Close();
    return ok;
}

bool IqFileWriter::Reopen(std::string& error, bool& afresh) {
    Close();
    afresh = false;
    // Appended: every write goes to the end, where the whole lines end.
    fd_ = OpenOutputFile(path_, os::kWriteOnly | os::kCreate | os::kAppend);
    if (fd_ < 0) {
        error = path_ + ": cannot create: " + os::OpenFailure(path_, errno);
        return false;
    }
    os::FileKind kind{};
    int64_t size = 0;
    if (os::KindOfOpen(fd_, kind, size) && kind == os::FileKind::Regular && size != size_) {
        // Shorter: something else changed it, so it is begun afresh. Longer: a part of a
        // line whose cutting off failed, cut off now.
        if (size < size_) {
            size_ = lines_ = 0;
            afresh = true;
        }
        if (os::Truncate(fd_, size_) != 0) {
            error = path_ + ": cannot write: " + std::strerror(errno);
            Close();
            return false;
        }
    }
    return true;
}

bool IqFileWriter::Resume(const std::string& iqText, std::string& error) {
    bool afresh = false;
    if (!Reopen(error, afresh)) return false;
    const size_t at = std::min(static_cast<size_t>(size_), iqText.size());
    closed_ = WriteWhole(iqText.substr(at) + "\r\n", error) && Sync(error);
    Close();
    return closed_;
}

int64_t IqFileWriter::Records() const {
    return std::max<int64_t>(0, lines_ - 2 - (closed_ ? 1 : 0));
}

bool IqFileWriter::WriteWhole(const std::string& bytes, std::string& error) {
    if (fd_ < 0) {
        error = path_ + ": cannot write: the file is not open";
        return false;
    }
    bool partLeft = false;
    const int64_t before = size_;
    const int code = AppendWholeRecord(fd_, bytes, size_, partLeft);
    const std::string_view kept(bytes.data(), static_cast<size_t>(size_ - before));
    lines_ += std::count(kept.begin(), kept.end(), '\n');
    if (code == 0) return true;
    error = path_ + ": cannot write: " + std::strerror(code);
    if (partLeft) error += " (and a part of a record is left at its end)";
    Close();
    return false;
}

bool IqFileWriter::Sync(std::string& error) {
    lastSync_ = std::chrono::steady_clock::now();
    if (os::SyncData(fd_) == 0 || errno == EINVAL) return true;  // EINVAL: cannot sync (a device)
    error = path_ + ": cannot write: " + std::strerror(errno);
    Close();
    return false;
}

void IqFileWriter::Close() {
    if (fd_ >= 0) os::CloseDescriptor(fd_);
    fd_ = -1;
}

}  // namespace qv
