// The read-out log's file.
#include "capture/readout_log.h"

#include <cassert>
#include <cerrno>
#include <cstring>

#include "common/time_of_day.h"

namespace qv {

ReadoutLog::~ReadoutLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool ReadoutLog::Open(const std::string& path, LogStart start, bool lineBuffered,
                      std::string& error) {
    assert(file_ == nullptr);
    const bool truncate = start == LogStart::Truncate;
    // Binary: the lines end in LF alone on every system (text mode would write CR LF on Windows).
    file_ = std::fopen(path.c_str(), truncate ? "wb" : "ab");
    if (file_ == nullptr) {
        error = path + (truncate ? ": cannot create: " : ": cannot open: ") + std::strerror(errno);
        return false;
    }
    path_ = path;
    lineBuffered_ = lineBuffered;
    if (lineBuffered) std::setvbuf(file_, nullptr, _IOLBF, 0);
    return true;
}

void ReadoutLog::NoteFailure(int code) {
    if (!failure_.empty()) return;
    failure_ = path_ + ": cannot write: " + std::strerror(code);
    // Set before the call: a handler that logs (a title change) must not come back here.
    if (WriteFailed) WriteFailed(failure_);
}

void ReadoutLog::Write(int64_t millisecondsOfDay, const char* label, const std::string& text) {
    if (file_ == nullptr) return;
    // A line-buffered stream writes the line out here, so a full disk shows at once; a fully
    // buffered one when the buffer is written out.
    if (std::fprintf(file_, "%s\t%s\t%s\n", FormatTimeWithMilliseconds(millisecondsOfDay).c_str(),
                     label, text.c_str()) < 0) {
        NoteFailure(errno);
    } else if (lineBuffered_ && std::fflush(file_) != 0) {
        // Windows' C runtime buffers a "line-buffered" stream fully: the line goes out here.
        NoteFailure(errno);
    }
}

void ReadoutLog::WriteNow(const char* label, const std::string& text) {
    Write(LocalMillisecondsOfDay(), label, text);
}

bool ReadoutLog::Close(std::string& error) {
    if (file_ == nullptr) return true;
    // A line that could not be written sets the stream's error flag; one still in the buffer
    // fails at the flush.
    bool written = std::ferror(file_) == 0 && std::fflush(file_) == 0;
    int code = errno;
    if (std::fclose(file_) != 0) written = false, code = errno;
    file_ = nullptr;
    if (!written)
        error = failure_.empty() ? path_ + ": cannot write: " + std::strerror(code) : failure_;
    return written;
}

}  // namespace qv
