// The read-out log's file.
#include "capture/readout_log.h"

#include <cassert>
#include <cerrno>
#include <cstring>

#include "common/os.h"
#include "common/time_of_day.h"
#include "files/whole_file.h"

namespace qv {

namespace {

// [bytes] a fully buffered log holds before it writes its lines out, in one write.
constexpr size_t kLogBufferBytes = 8192;

}  // namespace

ReadoutLog::~ReadoutLog() {
    if (fd_ < 0) return;
    Flush(false);
    os::CloseDescriptor(fd_);
}

bool ReadoutLog::Open(const std::string& path, LogStart start, bool lineBuffered,
                      std::string& error) {
    assert(fd_ < 0);
    const bool truncate = start == LogStart::Truncate;
    // Appended to, every line goes to the end, also after one that was cut off again.
    fd_ = OpenOutputFile(
        path, os::kWriteOnly | os::kCreate | os::kAppend | (truncate ? os::kTruncate : 0u));
    if (fd_ < 0) {
        error = path + (truncate ? ": cannot create: " : ": cannot open: ") +
                os::OpenFailure(path, errno);
        return false;
    }
    path_ = path;
    lineBuffered_ = lineBuffered;
    buffer_.clear();
    held_ = HeldRows(held_.MostBytes);  // lines held for a log closed before stay out of this one
    failure_.clear();
    closeFailed_ = false;
    os::FileKind kind{};
    int64_t size = 0;
    size_ = os::KindOfOpen(fd_, kind, size) && kind == os::FileKind::Regular ? size : 0;
    return true;
}

void ReadoutLog::NoteFailure(int code, bool tell) {
    failure_ = path_ + ": cannot write: " + std::strerror(code);
    // Set before the call: a handler that logs (a title change) must not come back here.
    if (tell && WriteFailed) WriteFailed(failure_);
}

bool ReadoutLog::Flush(bool tell) {
    if (buffer_.empty() && !held_.Failing()) return true;
    // Taken out first: a handler may log a line, which goes into a new buffer.
    std::string lines;
    lines.swap(buffer_);
    int code = 0;
    const HeldChange change = held_.Write(std::move(lines), AppendingTo(fd_, size_), code);
    if (change == HeldChange::Failed) NoteFailure(code, tell);
    if (tell && change == HeldChange::Dropping && WriteFailed) {
        WriteFailed(DroppingText(path_, held_, "lines"));
    }
    if (tell && change == HeldChange::Resumed && WriteResumed) {
        WriteResumed(ResumedText(path_, held_, "lines"));
    }
    return !held_.Failing();
}

void ReadoutLog::Write(int64_t millisecondsOfDay, const char* label, const std::string& text) {
    if (fd_ < 0) return;
    buffer_.append(FormatTimeWithMilliseconds(millisecondsOfDay))
        .append("\t")
        .append(label)
        .append("\t")
        .append(text)
        .append("\n");
    // Line by line, a full disk shows at once; fully buffered, when the buffer is written out.
    if (lineBuffered_ || buffer_.size() >= kLogBufferBytes) Flush(true);
}

void ReadoutLog::WriteNow(const char* label, const std::string& text) {
    Write(LocalMillisecondsOfDay(), label, text);
}

bool ReadoutLog::Close(std::string& error) {
    error.clear();
    if (fd_ < 0) return true;
    const bool told = HasFailed();  // through WriteFailed, when it happened
    // Said by the caller from here on, with the error Close gives.
    Flush(false);
    if (os::CloseDescriptor(fd_) != 0) {
        NoteFailure(errno, false);
        closeFailed_ = true;
    }
    fd_ = -1;
    const bool whole = held_.HeldLines() == 0 && !held_.EverDropped() && !closeFailed_;
    if (held_.HeldLines() > 0) {
        error = UnwrittenText(failure_, held_, "lines");  // how many the log lacks for good
    } else if (!whole && !told) {
        error = failure_;
    }
    return whole;
}

}  // namespace qv
