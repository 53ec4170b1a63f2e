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

#include "files/held_rows.h"

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
    // Called with "path: cannot write: reason" when a row (or the header) cannot be written
    // whole after the rows before it could, and with DroppingText's line when the rows held
    // meanwhile pass their bound: once each, not once a row.
    std::function<void(const std::string&)> WriteFailed;
    // Called with ResumedText's line when the rows held have all reached the file again.
    std::function<void(const std::string&)> WriteResumed;

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
    // The file lacks rows: some are held now, some were given up, or it could not be synced.
    bool HasFailed() const;
    // The rows held now; after Close, those the file lacks for good.
    int64_t UnwrittenRows() const { return held_.HeldLines(); }
    const std::string& Path() const { return path_; }

    // One row of fields, joined by commas, in one write. A row that cannot be written whole is
    // cut off again, so the file holds whole rows only, and is held (HeldRows) with the rows
    // after it; each later row tries the held ones first, since the disk may have room again.
    // The file is synced to the disk at least once a minute of wall-clock time.
    void WriteRow(const std::vector<std::string>& fields);

    // Tries the rows held once more, syncs and closes the file. False with one line in `error`
    // when the file lacks rows: UnwrittenText's count when rows were still held, otherwise the
    // last failure's text. True when no file is open.
    bool Close(std::string& error);

private:
    bool WriteLine(const std::string& line);
    void NoteFailure(int code);
    void SyncFailed(int code);  // said once: the rows written may not be on the disk

    int fd_ = -1;
    std::string path_;
    int64_t size_ = 0;        // [bytes] of whole rows in the file
    int64_t ownHeader_ = -1;  // [bytes] of the header this open wrote to an empty file; -1: none
    HeldRows held_;           // rows the file has not taken yet
    std::string failure_;     // the last failure, "path: cannot write: reason"; empty while none
    bool syncFailed_ = false;
    std::chrono::steady_clock::time_point lastSync_;
};

// A number in the shortest form that reads back (as long double) to exactly `v`: "1.000125",
// "31", "-0.5", "1.25e-07"; "nan", "inf" and "-inf" for what is not a finite number.
std::string CsvNumber(long double v);
// A text field: as it is, or in double quotes (inner quotes doubled) when it holds a comma, a
// quote or a line end.
std::string CsvText(const std::string& text);

}  // namespace qv
