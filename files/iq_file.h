// The I/Q text: header lines, one record per integration period, and the file written at close
// or record by record as the periods close.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qv {

// The two header lines, each ended by CR LF.
std::string IqTextHeader();
// One record "hh:mm:ss,I,Q" with CR LF; the sums in the picture "#.0000000".
std::string IqRecord(const std::string& timeOfDay, long double periodI, long double periodQ);
// "IQfile hhmmss.TXT".
std::string IqFileName(int64_t millisecondsOfDay);

// Writes the whole text followed by CR LF to `path`, replacing any file there. Returns false
// with "path: reason" in `error` when the file cannot be created or written completely; the
// file then ends with the last whole line that reached it.
bool WriteIqFile(const std::string& iqText, const std::string& path, std::string& error);

// The I/Q file written while the periods close, so that a run killed at any moment leaves the
// header and every whole record of the periods that had closed. Create, Append each record,
// Finish: the finished file holds exactly what WriteIqFile writes for the same text. Each
// record reaches the file in one write; the file is synced to the disk at most a minute of
// wall-clock time after a record and at Finish. After a failure the file keeps its header and
// whole records only, and the writer writes nothing more.
class IqFileWriter {
public:
    IqFileWriter() = default;
    // Closes a file that was not finished, without the closing CR LF: it looks as after a crash.
    ~IqFileWriter();
    IqFileWriter(const IqFileWriter&) = delete;
    IqFileWriter& operator=(const IqFileWriter&) = delete;

    // Creates `path` (replacing any file there) and writes the header lines. False with
    // "path: cannot create: reason" or "path: cannot write: reason" in `error`.
    bool Create(const std::string& path, std::string& error);
    // One record as IqRecord gives it. False with "path: cannot write: reason".
    bool Append(const std::string& record, std::string& error);
    // The closing CR LF, the sync to the disk and the close. False with "path: cannot write:
    // reason"; the file is closed either way.
    bool Finish(std::string& error);
    // After a failure (the disk may have room again): the file opened again for appending,
    // with anything after its last whole line cut off. `afresh` tells when it was found
    // shorter than it was left (emptied or removed meanwhile): it is then empty, and what it
    // held is not written again. False with "path: cannot create: reason" or "path: cannot
    // write: reason".
    bool Reopen(std::string& error, bool& afresh);
    // After a failure (the disk may have room again): the file opened again, and the rest of
    // `iqText`, the text whose beginning the file holds, appended with the closing CR LF, so
    // that it ends as Finish would have left it; then closed. False with "path: cannot write:
    // reason" (or "cannot create"), the file holding whole lines only.
    bool Resume(const std::string& iqText, std::string& error);

    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const { return size_; }  // [bytes] whole lines in the file
    // The records in the file now, whole (header and closing CR LF not counted).
    int64_t Records() const;

private:
    // Writes `bytes` whole or, on failure, cuts the file back to its last whole record.
    bool WriteWhole(const std::string& bytes, std::string& error);
    bool Sync(std::string& error);
    void Close();

    int fd_ = -1;
    std::string path_;
    int64_t size_ = 0;     // [bytes] header and whole records written
    int64_t lines_ = 0;    // whole lines written: the header's two, the records, the closing one
    bool closed_ = false;  // the closing CR LF is written
    std::chrono::steady_clock::time_point lastSync_;
};

}  // namespace qv
