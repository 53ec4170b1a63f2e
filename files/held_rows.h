// Rows that a growing file (a CSV file, the read-out log, the I/Q file) could not take while
// its disk was full, held in order until it takes them again, in a bounded amount of memory:
// each row reaches the file whole or not at all, none is written twice, and those that had to
// be given up are counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

// [bytes] held per file at most: a day and a half of --csv rows (about 220 bytes a second), a
// day of the read-out log's lines (about 360), ten days of I/Q records at one a second. Beyond
// it the oldest rows are given up.
constexpr size_t kMostHeldBytes = size_t{32} << 20;

// What one HeldRows::Write changed.
enum class HeldChange {
    None,      // as before: all written, or still failing
    Failed,    // the file stopped taking rows: a failure begins
    Dropping,  // while failing, the bound was passed and the oldest rows are now being given up
    Resumed,   // everything held reached the file after a failure
};

class HeldRows {
public:
    // Writes `rows` (one or more whole lines) to the file and returns how many of its first
    // bytes reached it as whole lines (all of them on success) and the reason it stopped: 0, or
    // an errno value.
    using WriteFn = std::function<int(std::string_view rows, size_t& written)>;

    explicit HeldRows(size_t mostBytes = kMostHeldBytes) : MostBytes(mostBytes) {}

    // parameters
    size_t MostBytes;  // [bytes] held at most

    // Writes the rows held, oldest first, each through one call of `write`, then `rows`, until
    // one is not taken whole: it stays held with those after it, `rows` among them, the oldest
    // given up beyond the bound. `code` is the failure's reason (0 when all was written).
    HeldChange Write(std::string rows, const WriteFn& write, int& code);
    // The rows held written once more with nothing new (the file is closing, or its disk may
    // have room again).
    HeldChange Retry(const WriteFn& write, int& code) { return Write({}, write, code); }

    bool Failing() const { return failing_; }
    int64_t HeldLines() const { return heldLines_; }
    // Counts since the last failure began, for the message that says it has ended.
    int64_t LateLines() const { return lateLines_; }        // written after a wait
    int64_t DroppedLines() const { return droppedLines_; }  // given up to keep the bound
    // Rows were given up at any time, before the last resumption too: the file lacks them.
    bool EverDropped() const { return everDropped_; }

private:
    void Hold(std::string rows);
    // The rows held, oldest first, until one is not taken whole; the lines written.
    int64_t WriteOut(const WriteFn& write, int& code);

    // state
    std::deque<std::string> held_;  // whole lines each, oldest first
    size_t heldBytes_ = 0;
    int64_t heldLines_ = 0;
    bool failing_ = false;
    int64_t lateLines_ = 0;
    int64_t droppedLines_ = 0;
    bool everDropped_ = false;
};

// The writer of rows appended to the open file `fd` whose first `size` bytes are whole lines:
// each call one AppendWholeRecord, `size` moved on by what reached the file whole.
HeldRows::WriteFn AppendingTo(int fd, int64_t& size);

// The text of a resumption for the messages: "path: written again; 12 rows held meanwhile are
// in it now" and, when some were given up, "; 3 rows given up (more than 32 MB held)". `rows`
// names the unit ("rows", "lines", "records").
std::string ResumedText(const std::string& path, const HeldRows& held, const char* rows);
// The text of rows still held when their file closes, after the failure's own text:
// "path: cannot write: No space left on device; 12 rows never written".
std::string UnwrittenText(const std::string& failure, const HeldRows& held, const char* rows);
// The text of the bound passed: "path: more than 32 MB of rows held: the oldest are given up".
std::string DroppingText(const std::string& path, const HeldRows& held, const char* rows);

}  // namespace qv
