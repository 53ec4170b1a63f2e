// The I/Q journal: while "Save I,Q to file?" is on, every record also goes, flushed, to
// "IQfile.journal" in the current directory, so a crash or power cut after days of logging
// loses nothing. The journal always holds exactly the I/Q text so far (header and records);
// the I/Q file written at a normal close is that text plus a final CR LF, and the journal is
// then removed.
//
// One window per journal: a window holds an exclusive flock on its journal from the moment it
// opens it (before its first byte is written) until the program ends, so a journal that
// nobody has locked is one whose run has ended. A window that finds "IQfile.journal" held by
// another one, or that finds something else under the name (a link, a folder), journals to a
// name of its own, "IQfile.journal.pidNNN" (its process id). A journal is always a new file: a
// link under its name is never followed, a file under it never written into. At
// start-up, unlocked journals of either name left by runs that did not end normally are set
// aside as "IQfile.journal.1", ".2", ... so the new run cannot overwrite them; a window removes
// only the journal it created.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qv {

inline constexpr const char* kIqJournalName = "IQfile.journal";

struct IqJournal {
    // parameters
    std::string Path = kIqJournalName;  // replaced by this process's own name at the first
                                        // record when another live window holds it
    // state
    std::FILE* File = nullptr;  // open and locked from the first record to the program's end
    bool Failed = false;        // a write failed; reported once, later records not tried
    bool Closed = false;        // removed or kept: no more records
    std::string Notice;         // what the first record found, for the caller to pass on

    IqJournal() = default;
    ~IqJournal();  // closes the journal, which ends the lock
    IqJournal(const IqJournal&) = delete;
    IqJournal& operator=(const IqJournal&) = delete;
};

// Records `record`, the last part of `iqText`. The first call opens and locks the journal and
// writes the whole text (header and every record so far); later calls append the record. Each
// call ends with a flush. False with "path: reason" in `error` when the journal cannot be
// written; the journal then stays as it is and later calls do nothing. When the first call had
// to take another name, or found a dead run's journal under its name and set it aside, it says
// so in `j.Notice`.
bool JournalIqRecord(IqJournal& j, const std::string& iqText, const std::string& record,
                     std::string& error);
// Deletes the journal this process created (the I/Q file now holds everything) and closes it.
// A journal it did not create, or one that is no longer under its name, is left alone.
void RemoveJournal(IqJournal& j);
// Keeps the journal, for when the I/Q file could not be written. It stays open and locked to
// the program's end, so that another window does not take it for a dead run's meanwhile.
// True when it holds every record and is still under its name; false when there is none, a
// write to it failed, or its folder has gone (the records then have to go elsewhere).
bool KeepJournal(IqJournal& j);

// At start-up: sets aside every journal at `path` or at this name's process-id form
// ("path.pidNNN") that is not locked and not empty, under the first free names "path.1",
// "path.2", ..., and returns the new names. Journals a live window holds are left alone. False
// with "path: reason" in `error` when one cannot be set aside (the others still are).
bool SetAsideOldJournals(const std::string& path, std::vector<std::string>& setAside,
                         std::string& error);

// Whether `path` is the journal `journal` under any name, or has an I/Q journal's name
// ("IQfile.journal", a window's own "IQfile.journal.pidNNN", a dead run's "IQfile.journal.1")
// in the journal's folder: no other file of the window's may take it.
bool IsIqJournal(const std::string& path, const std::string& journal);

// The journal name of process `pid` for a journal whose usual name is `path`.
std::string ProcessJournalName(const std::string& path, long pid);

}  // namespace qv
