// The read-out log: a line "hh:mm:ss.mmm<TAB>label<TAB>text" for every read-out, title change
// and capture event, in a file the log owns from Open until Close or its own end.
#pragma once

#include <cstdint>
#include <cstdio>
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

    // Opens `path`; with `lineBuffered` every line reaches the file as it is written, so that
    // a long run's log can be followed while it grows. False with one line in `error`.
    bool Open(const std::string& path, LogStart start, bool lineBuffered, std::string& error);
    bool IsOpen() const { return file_ != nullptr; }

    // One line, at the given time of day; nothing when no log is open.
    void Write(int64_t millisecondsOfDay, const char* label, const std::string& text);
    // One line at the local wall-clock time, as the window and the live capture log.
    void WriteNow(const char* label, const std::string& text);

    // Closes the file. False with one line in `error` when a line could not be written: a full
    // disk shows only at the last flush or at the close. True when no log is open.
    bool Close(std::string& error);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

}  // namespace qv
