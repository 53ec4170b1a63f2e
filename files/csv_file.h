// A CSV file for plotting programs and scripts: a header row of column names, then rows that
// reach the file as they are written, so that a run killed at any moment keeps every row it
// wrote. Fields are separated by commas, lines end with LF alone, and numbers are written in
// the shortest form that reads back to exactly the same value, with "." as the decimal point
// whatever the locale.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv {

enum class CsvStart {
    Truncate,  // a file of this run alone (the batch tool: "cannot create" when it fails)
    Append,    // after the rows of earlier runs (the window: "cannot open" when it fails)
};

class CsvFile {
public:
    CsvFile() = default;
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // parameters
    // Called once, with "path: cannot write: reason", at the first row (or header) that cannot
    // be written whole.
    std::function<void(const std::string&)> WriteFailed;

    // Opens `path` and writes the header row of `columns`, unless an appended file already
    // begins with it; an appended file that begins with anything else is refused, so that rows
    // of two kinds never mix in one file. False with one line in `error`. A header that cannot
    // be written is a write failure, not an open failure: the file stays open and each later
    // row is tried again.
    bool Open(const std::string& path, const std::vector<std::string>& columns, CsvStart start,
              std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    // Before any row: a file whose only line is the header this open wrote gets `columns`'
    // header instead (the input turned out to need other columns). A file that held rows
    // before the open keeps them and is refused: false with one line in `error`.
    bool ChangeColumns(const std::vector<std::string>& columns, std::string& error);
    // A row or the header could not be written (WriteFailed has been called).
    bool HasFailed() const { return !failure_.empty(); }
    const std::string& Path() const { return path_; }

    // One row of fields, joined by commas. A row that cannot be written whole is cut off
    // again, so the file holds whole rows only; later rows are still tried, since the disk may
    // have room again. The file is synced to the disk at least once a minute of wall-clock time.
    void WriteRow(const std::vector<std::string>& fields);

    // Syncs and closes the file. False with one line in `error` when any row could not be
    // written (the first failure's text). True when no file is open.
    bool Close(std::string& error);

private:
    bool WriteLine(const std::string& line);
    void NoteFailure(int code);

    int fd_ = -1;
    std::string path_;
    int64_t size_ = 0;        // [bytes] of whole rows in the file
    int64_t ownHeader_ = -1;  // [bytes] of the header this open wrote to an empty file; -1: none
    std::string failure_;     // the first failure, "path: cannot write: reason"; empty while none
    std::chrono::steady_clock::time_point lastSync_;
};

// A number in the shortest form that reads back (as long double) to exactly `v`: "1.000125",
// "31", "-0.5", "1.25e-07"; "nan", "inf" and "-inf" for what is not a finite number.
std::string CsvNumber(long double v);
// A text field: as it is, or in double quotes (inner quotes doubled) when it holds a comma, a
// quote or a line end.
std::string CsvText(const std::string& text);

}  // namespace qv
