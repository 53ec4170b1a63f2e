// The I/Q journal: while "Save I,Q to file?" is on, every record also goes, flushed, to
// "IQfile.journal" in the current directory, so a crash or power cut after days of logging
// loses nothing. The journal always holds exactly the I/Q text so far (header and records);
// the I/Q file written at a normal close is that text plus a final CR LF, and the journal is
// then removed. A journal found at start-up is from a run that did not end normally: it is
// renamed so the new run cannot overwrite it.
#pragma once

#include <cstdio>
#include <string>

namespace qv {

inline constexpr const char* kIqJournalName = "IQfile.journal";

struct IqJournal {
    // parameters
    std::string Path = kIqJournalName;
    // state
    std::FILE* File = nullptr;  // open from the first record to Remove
    bool Failed = false;        // a write failed; reported once, later records not tried
};

// Records `record`, the last part of `iqText`. The first call creates the journal with the
// whole text (header and every record so far); later calls append the record. Each call ends
// with a flush. False with "path: reason" in `error` when the journal cannot be written; the
// journal then stays as it is and later calls do nothing.
bool JournalIqRecord(IqJournal& j, const std::string& iqText, const std::string& record,
                     std::string& error);
// Closes the journal and deletes it: the I/Q file now holds everything.
void RemoveJournal(IqJournal& j);
// Closes the journal and keeps it, for when the I/Q file could not be written.
void KeepJournal(IqJournal& j);

// At start-up: when a journal exists at `path`, renames it to the first free name
// "path.1", "path.2", ... and returns the new name; returns "" when there is none. False with
// "path: reason" in `error` when it exists but cannot be renamed.
bool SetAsideOldJournal(const std::string& path, std::string& newPath, std::string& error);

}  // namespace qv
