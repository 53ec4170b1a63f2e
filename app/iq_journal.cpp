// The I/Q journal, its lock and the setting aside of dead runs' journals.
#include "app/iq_journal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/journal_lock.h"
#include "files/output_check.h"

namespace qv {

namespace {

constexpr const char* kProcessSuffix = ".pid";  // "IQfile.journal.pid1234"

bool Fail(IqJournal& j, std::string& error, const std::string& reason) {
    error = j.Path + ": cannot write the I/Q journal: " + reason;
    j.Failed = true;
    return false;
}

// Renames the journal at `path` to the first free name "base.1", "base.2", ...; never over an
// existing file, also when another window sets one aside at the same moment.
bool RenameToFreeName(const std::string& path, const std::string& base, std::string& newPath,
                      std::string& error) {
    for (int n = 1; n < 100000; ++n) {
        const std::string candidate = base + "." + std::to_string(n);
        if (os::Exists(candidate)) continue;
        std::string reason;
        switch (os::RenameNoReplace(path, candidate, reason)) {
            case os::Rename::Done:
                newPath = candidate;
                return true;
            case os::Rename::NameTaken:
                continue;
            case os::Rename::Failed:
                error = path + ": cannot rename the I/Q journal of an earlier run: " + reason;
                return false;
        }
    }
    error = path + ": cannot rename the I/Q journal of an earlier run: too many old journals";
    return false;
}

// The journal at `path`, when no live window holds it and it has records, goes to a free
// "base.N", renamed while we hold its lock. 1: set aside, 0: left alone, -1: failed.
int SetAsideIfDead(const std::string& path, const std::string& base, std::string& newPath,
                   std::string& error) {
    os::Handle file = os::kNoHandle;
    std::string reason;
    switch (OpenLocked(path, file, reason)) {
        case Lock::Taken:
            break;
        case Lock::Busy:
        case Lock::Gone:
        case Lock::NameTaken:
        case Lock::NotJournal:  // a link, a folder: nothing of ours to move
            return 0;
        case Lock::Failed:
            error = path + ": cannot open the I/Q journal of an earlier run: " + reason;
            return -1;
    }
    // An empty one has nothing to keep, and may be a window's that has just created it and is
    // about to lock it.
    int result = 0;
    if (os::FileSize(file) > 0) result = RenameToFreeName(path, base, newPath, error) ? 1 : -1;
    os::Close(file);
    return result;
}

// The journal's name is taken by another live window's journal (`why`), or by something that
// is not a journal: this process's own name is used instead, once.
bool TakeOwnName(IqJournal& j, const std::string& usual, const std::string& why,
                 std::string& error) {
    if (j.Path != usual) {
        error = j.Path + ": cannot write the I/Q journal: " + why;
        j.Failed = true;
        return false;
    }
    j.Path = ProcessJournalName(usual, os::ProcessId());
    if (!j.Notice.empty()) j.Notice += "; ";
    j.Notice += usual + " " + why + "; this window's I/Q journal is " + j.Path;
    return true;
}

// Creates and locks the journal for the first record, as a new file under its usual name, or
// under this process's own name when another window holds the usual one or something else is
// under it. A dead run's journal under the name is set aside first, as start-up does.
bool OpenJournal(IqJournal& j, std::string& error) {
    const std::string usual = j.Path;
    for (int attempt = 0; attempt < 10; ++attempt) {
        os::Handle file = os::kNoHandle;
        std::string reason;
        switch (CreateLocked(j.Path, file, reason)) {
            case Lock::Taken:
                j.File = os::WritingStream(file, reason);
                return j.File != nullptr || Fail(j, error, reason);
            case Lock::Busy:  // another window took the new file at once: it is theirs
                if (!TakeOwnName(j, usual, "is in use by another window", error)) return false;
                continue;
            case Lock::NameTaken:
                break;
            case Lock::Gone:
            case Lock::NotJournal:
                continue;
            case Lock::Failed:
                return Fail(j, error, reason);
        }
        // Something is under the name: whose?
        switch (OpenLocked(j.Path, file, reason)) {
            case Lock::Taken:
                break;
            case Lock::Busy:
                if (!TakeOwnName(j, usual, "is in use by another window", error)) return false;
                continue;
            case Lock::NotJournal:
                if (!TakeOwnName(j, usual, "is taken by something that is not an I/Q journal",
                                 error)) {
                    return false;
                }
                continue;
            case Lock::Gone:
            case Lock::NameTaken:
                continue;
            case Lock::Failed:
                return Fail(j, error, reason);
        }
        // No live window holds it: a run that ended without closing has left it since start-up.
        // An empty one holds nothing and goes; one with records is set aside as start-up does.
        if (os::FileSize(file) == 0) {
            RemoveIfHeld(file, j.Path);
            os::Close(file);
            continue;
        }
        std::string newPath;
        const bool moved = RenameToFreeName(j.Path, usual, newPath, error);
        os::Close(file);
        if (!moved) {
            j.Failed = true;
            return false;
        }
        if (!j.Notice.empty()) j.Notice += "; ";
        j.Notice +=
            "an earlier run did not end normally: the I/Q records it had logged are kept in " +
            newPath;
    }
    error = j.Path + ": cannot write the I/Q journal: other windows keep renaming it";
    j.Failed = true;
    return false;
}

}  // namespace

IqJournal::~IqJournal() {
    if (File != nullptr) std::fclose(File);
}

bool JournalIqRecord(IqJournal& j, const std::string& iqText, const std::string& record,
                     std::string& error) {
    if (j.Failed || j.Closed) return true;  // already reported, or the run is ending
    const std::string* text = &record;
    if (j.File == nullptr) {
        if (!OpenJournal(j, error)) return false;
        text = &iqText;
    }
    if (std::fwrite(text->data(), 1, text->size(), j.File) != text->size() ||
        std::fflush(j.File) != 0) {
        return Fail(j, error, std::strerror(errno));
    }
    return true;
}

void RemoveJournal(IqJournal& j) {
    j.Closed = true;
    if (j.File == nullptr) return;  // none created here: whatever is under the name is not ours
    // Removed while still locked, so no other window can take the name's file in between.
    RemoveIfHeld(os::HandleOf(j.File), j.Path);
    std::fclose(j.File);
    j.File = nullptr;
}

bool KeepJournal(IqJournal& j) {
    j.Closed = true;
    if (j.File == nullptr || j.Failed) return false;
    // A journal whose folder has gone keeps nothing once it is closed.
    return std::fflush(j.File) == 0 && IsUnderName(os::HandleOf(j.File), j.Path);
}

bool SetAsideOldJournals(const std::string& path, std::vector<std::string>& setAside,
                         std::string& error) {
    setAside.clear();
    // The usual name first, then the process-id names of windows that found it taken.
    const std::filesystem::path usual(path);
    const std::string prefix = usual.filename().string() + kProcessSuffix;
    std::vector<std::string> names;
    std::error_code ignored;
    const std::filesystem::path folder = usual.has_parent_path() ? usual.parent_path() : ".";
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            names.push_back((usual.parent_path() / name).string());
        }
    }
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), path);

    bool ok = true;
    for (const std::string& name : names) {
        std::string newPath, reason;
        const int r = SetAsideIfDead(name, path, newPath, reason);
        if (r > 0) setAside.push_back(newPath);
        if (r < 0 && ok) {
            ok = false;
            error = reason;
        }
    }
    return ok;
}

bool IsIqJournal(const std::string& path, const std::string& journal) {
    if (SameFile(path, journal)) return true;
    namespace fs = std::filesystem;
    const fs::path p(path), j(journal);
    // Any case: Windows' names ignore it.
    const std::string name = p.filename().string();
    const std::string usual = kIqJournalName;
    if (name.size() < usual.size() ||
        !std::equal(usual.begin(), usual.end(), name.begin(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        })) {
        return false;
    }
    return SameFile(p.has_parent_path() ? p.parent_path().string() : ".",
                    j.has_parent_path() ? j.parent_path().string() : ".");
}

std::string ProcessJournalName(const std::string& path, long pid) {
    return path + kProcessSuffix + std::to_string(pid);
}

}  // namespace qv
