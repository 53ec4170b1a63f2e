// The I/Q journal on Windows: the lock is LockFileEx's exclusive lock on one byte far beyond
// any data (so that reading the journal is never blocked), and every journal is opened sharing
// deletion, so that it can be renamed and removed while another window or this one holds it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/iq_journal.h"
#include "app/wide_text_win32.h"

namespace qv {

namespace {

constexpr const char* kProcessSuffix = ".pid";  // "IQfile.journal.pid1234"
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;   // the locked byte: at 2^62, past any data

// The system's text for its last error, on one line.
std::string LastErrorText() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = text != nullptr ? text : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason;
}

bool Fail(IqJournal& j, std::string& error, const std::string& reason) {
    error = j.Path + ": cannot write the I/Q journal: " + reason;
    j.Failed = true;
    return false;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Wide(path, CP_ACP).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Opened without access, so that any file under the name can be looked at.
HANDLE OpenToLookAt(const std::string& path) {
    return CreateFileW(Wide(path, CP_ACP).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Whether the open file `held` is the one under the name `path` now.
bool SameFile(HANDLE held, const std::string& path) {
    HANDLE named = OpenToLookAt(path);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(held, &a) &&
                      GetFileInformationByHandle(named, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

int64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file, &size) ? size.QuadPart : 0;
}

enum class Lock {
    Taken,   // open in `file`, locked by us, still under its name
    Busy,    // another live window holds it
    Gone,    // renamed or removed by another window between the open and the lock: look again
    Failed,  // `reason` says why
};

// Opens `path` for writing (creating it, never truncating) or for reading, and takes its lock
// without waiting. The handle is not inherited: a program started from the window (the
// recording mixer) must not keep a dead run's journal looking alive.
Lock OpenLocked(const std::string& path, bool write, HANDLE& file, std::string& reason) {
    file = CreateFileW(Wide(path, CP_ACP).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       write ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (!write && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)) {
            return Lock::Gone;
        }
        reason = LastErrorText();
        return Lock::Failed;
    }
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD code = GetLastError();
        reason = LastErrorText();
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? Lock::Busy : Lock::Failed;
    }
    // A lock on a file that is no longer under this name guards nothing.
    if (!SameFile(file, path)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        return Lock::Gone;
    }
    return Lock::Taken;
}

// Renames the journal at `path` to the first free name "base.1", "base.2", ...; never over an
// existing file, also when another window sets one aside at the same moment.
bool RenameToFreeName(const std::string& path, const std::string& base, std::string& newPath,
                      std::string& error) {
    for (int n = 1; n < 100000; ++n) {
        const std::string candidate = base + "." + std::to_string(n);
        if (Exists(candidate)) continue;
        // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
        if (MoveFileExW(Wide(path, CP_ACP).c_str(), Wide(candidate, CP_ACP).c_str(), 0)) {
            newPath = candidate;
            return true;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) continue;
        error = path + ": cannot rename the I/Q journal of an earlier run: " + LastErrorText();
        return false;
    }
    error = path + ": cannot rename the I/Q journal of an earlier run: too many old journals";
    return false;
}

// The journal at `path`, when no live window holds it and it has records, goes to a free
// "base.N", renamed while we hold its lock. 1: set aside, 0: left alone, -1: failed.
int SetAsideIfDead(const std::string& path, const std::string& base, std::string& newPath,
                   std::string& error) {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string reason;
    switch (OpenLocked(path, false, file, reason)) {
        case Lock::Taken:
            break;
        case Lock::Busy:
        case Lock::Gone:
            return 0;
        case Lock::Failed:
            error = path + ": cannot open the I/Q journal of an earlier run: " + reason;
            return -1;
    }
    // An empty one has nothing to keep, and may be a window's that has just created it and is
    // about to lock it.
    int result = 0;
    if (SizeOf(file) > 0) result = RenameToFreeName(path, base, newPath, error) ? 1 : -1;
    CloseHandle(file);
    return result;
}

// Opens and locks the journal for the first record: under its usual name, or under this
// process's own name when another window holds the usual one.
bool OpenJournal(IqJournal& j, std::string& error) {
    const std::string usual = j.Path;
    for (int attempt = 0; attempt < 10; ++attempt) {
        HANDLE file = INVALID_HANDLE_VALUE;
        std::string reason;
        switch (OpenLocked(j.Path, true, file, reason)) {
            case Lock::Taken:
                break;
            case Lock::Busy:
                if (j.Path != usual) {
                    error = j.Path + ": cannot write the I/Q journal: in use by another window";
                    j.Failed = true;
                    return false;
                }
                j.Path = ProcessJournalName(usual, static_cast<long>(GetCurrentProcessId()));
                j.Notice =
                    usual + " is in use by another window; this window's I/Q journal is " + j.Path;
                continue;
            case Lock::Gone:
                continue;
            case Lock::Failed:
                return Fail(j, error, reason);
        }
        if (SizeOf(file) > 0) {
            // A run that ended without closing has left it since start-up: set it aside as
            // start-up does, then start afresh.
            std::string newPath;
            const bool moved = RenameToFreeName(j.Path, usual, newPath, error);
            CloseHandle(file);
            if (!moved) {
                j.Failed = true;
                return false;
            }
            if (!j.Notice.empty()) j.Notice += "; ";
            j.Notice +=
                "an earlier run did not end normally: the I/Q records it had logged are "
                "kept in " +
                newPath;
            continue;
        }
        // The handle becomes the C runtime's, binary, so the records' CR LF stay as they are.
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(file);
            return Fail(j, error, std::strerror(errno));
        }
        j.File = _fdopen(fd, "wb");  // on a descriptor, "w" does not truncate
        if (j.File == nullptr) {
            const int code = errno;
            _close(fd);
            return Fail(j, error, std::strerror(code));
        }
        return true;
    }
    error = j.Path + ": cannot write the I/Q journal: other windows keep renaming it";
    j.Failed = true;
    return false;
}

HANDLE HandleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

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
    // Deleted while still locked, so no other window can take the name's file in between; the
    // name goes when the file is closed.
    if (SameFile(HandleOf(j.File), j.Path)) DeleteFileW(Wide(j.Path, CP_ACP).c_str());
    std::fclose(j.File);
    j.File = nullptr;
}

bool KeepJournal(IqJournal& j) {
    j.Closed = true;
    if (j.File == nullptr) return false;
    std::fflush(j.File);
    return true;
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

std::string ProcessJournalName(const std::string& path, long pid) {
    return path + kProcessSuffix + std::to_string(pid);
}

}  // namespace qv
