// The read-out log: a line "hh:mm:ss.mmm<TAB>label<TAB>text" for every read-out, title change
// and capture event, in a file the log owns from Open until Close or its own end. The file
// holds whole lines only: a write that fails part-way is cut back to the last whole line, as
// the CSV files are.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "files/held_rows.h"

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
    // Called with "path: cannot write: reason" when a line cannot be written after the lines
    // before it could (with line buffering at once; otherwise when the buffer is next written
    // out), and with DroppingText's line when the lines held meanwhile pass their bound: once
    // each, not once a line. The lines are held and tried again before each later one, since
    // the disk may have room again; Close still reports lines the log lacks.
    std::function<void(const std::string&)> WriteFailed;
    // Called with ResumedText's line when the lines held have all reached the file again.
    std::function<void(const std::string&)> WriteResumed;

    // Opens `path` without waiting (a FIFO that no program reads is refused); with
    // `lineBuffered` every line reaches the file as it is written, so that a long run's log can
    // be followed while it grows. False with one line in `error`.
    bool Open(const std::string& path, LogStart start, bool lineBuffered, std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    // A line could not be written at some time (WriteFailed has been called, or Close says it).
    bool HasFailed() const { return !failure_.empty(); }

    // One line, at the given time of day; nothing when no log is open.
    void Write(int64_t millisecondsOfDay, const char* label, const std::string& text);
    // One line at the local wall-clock time, as the window and the live capture log.
    void WriteNow(const char* label, const std::string& text);

    // Tries the lines held once more and closes the file. False when the log lacks lines, held
    // still or given up, or cannot be closed; `error` then has the one line still to be said:
    // UnwrittenText's count when lines were still held, the failure's text when it came at the
    // close, nothing when WriteFailed has said it all. True when no log is open.
    bool Close(std::string& error);

private:
    // Writes the lines held and the buffered lines out; false when they did not all reach the
    // file. A failure or a resumption is told to WriteFailed or WriteResumed when `tell` says
    // so.
    bool Flush(bool tell);
    void NoteFailure(int code, bool tell);

    int fd_ = -1;
    std::string path_;
    bool lineBuffered_ = false;  // every line is written out as it comes
    std::string buffer_;         // whole lines not yet written out
    int64_t size_ = 0;           // [bytes] of whole lines in the file
    HeldRows held_;              // lines the file has not taken yet
    bool closeFailed_ = false;
    std::string failure_;  // the last failure, "path: cannot write: reason"; empty while none
};

}  // namespace qv
