// The read-out log: a line "hh:mm:ss.mmm<TAB>label<TAB>text" for every read-out, title change
// and capture event, in a file the log owns from Open until Close or its own end. The file
// holds whole lines only: a write that fails part-way is cut back to the last whole line, as
// the CSV files are.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

enum class LogStart {
    Truncate,  // a log of this run alone (the batch tool: "cannot create" when it fails)
    Append,    // after what earlier runs wrote (the window: "cannot open" when it fails)
};

class ReadoutLog {
public:
    ReadoutLog() = default;
    // Closes a log still open. A failure to write it goes unreported here: call Close to hear
    // of it.
    ~ReadoutLog();
    ReadoutLog(const ReadoutLog&) = delete;
    ReadoutLog& operator=(const ReadoutLog&) = delete;

    // parameters
    // Called once, with "path: cannot write: reason", the first time a line cannot be written
    // (with line buffering at once; otherwise when the buffer is next written out). The log
    // goes on trying later lines, since the disk may have room again; Close still reports the
    // failure.
    std::function<void(const std::string&)> WriteFailed;

    // Opens `path` without waiting (a FIFO that no program reads is refused); with
    // `lineBuffered` every line reaches the file as it is written, so that a long run's log can
    // be followed while it grows. False with one line in `error`.
    bool Open(const std::string& path, LogStart start, bool lineBuffered, std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    // A line could not be written (WriteFailed has been called).
    bool HasFailed() const { return !failure_.empty(); }

    // One line, at the given time of day; nothing when no log is open.
    void Write(int64_t millisecondsOfDay, const char* label, const std::string& text);
    // One line at the local wall-clock time, as the window and the live capture log.
    void WriteNow(const char* label, const std::string& text);

    // Closes the file. False with one line in `error` when a line could not be written (the
    // first failure's text, if there was one before the close). True when no log is open.
    bool Close(std::string& error);

private:
    // Writes the buffered lines out; false when they did not all reach the file. A failure is
    // told to WriteFailed when `tell` says so.
    bool Flush(bool tell);
    void NoteFailure(int code, bool tell);

    int fd_ = -1;
    std::string path_;
    bool lineBuffered_ = false;  // every line is written out as it comes
    std::string buffer_;         // whole lines not yet written out
    int64_t size_ = 0;           // [bytes] of whole lines in the file
    std::string failure_;  // the first failure, "path: cannot write: reason"; empty while none
};

}  // namespace qv
