// The I/Q journal's system calls on Windows: the lock is LockFileEx's exclusive lock on one byte
// far beyond any data (so that reading the journal is never blocked), and every journal is
// opened sharing deletion, so that it can be renamed and removed while another window or this
// one holds it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "app/journal_lock.h"
#include "app/wide_text_win32.h"

namespace qv {

namespace {

constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;  // the locked byte: at 2^62, past any data
// How long a new journal's lock is waited for while another window looks at the file [ms].
constexpr int kNewLockWaitMilliseconds = 200;

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

HANDLE HandleOf(JournalHandle file) { return reinterpret_cast<HANDLE>(file); }

// Opened without access, so that any file under the name can be looked at; a link itself, not
// its target.
HANDLE OpenToLookAt(const std::string& path) {
    return CreateFileW(
        Wide(path, CP_ACP).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

// Takes the lock of the open `handle` (closed unless Taken), waiting up to `waitMilliseconds`.
Lock TakeLock(HANDLE handle, const std::string& path, int waitMilliseconds, JournalHandle& file,
              std::string& reason) {
    for (int waited = 0;; ++waited) {
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            break;
        }
        const DWORD code = GetLastError();
        const bool busy = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
        if (busy && waited < waitMilliseconds) {
            Sleep(1);
            continue;
        }
        reason = LastErrorText();
        CloseHandle(handle);
        return busy ? Lock::Busy : Lock::Failed;
    }
    // A lock on a file that is no longer under this name guards nothing.
    if (!SameFile(handle, path)) {
        CloseHandle(handle);
        return Lock::Gone;
    }
    file = reinterpret_cast<JournalHandle>(handle);
    return Lock::Taken;
}

}  // namespace

Lock CreateLocked(const std::string& path, JournalHandle& file, std::string& reason) {
    file = kNoJournalHandle;
    // CREATE_NEW fails on any name that exists, a link's included. Handles are not inherited
    // unless asked for.
    HANDLE handle = CreateFileW(Wide(path, CP_ACP).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A folder under the name is refused as "access denied": taken all the same.
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS || Exists(path)) {
            return Lock::NameTaken;
        }
        reason = LastErrorText();
        return Lock::Failed;
    }
    return TakeLock(handle, path, kNewLockWaitMilliseconds, file, reason);
}

Lock OpenLocked(const std::string& path, JournalHandle& file, std::string& reason) {
    file = kNoJournalHandle;
    const std::wstring name = Wide(path, CP_ACP);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Lock::Gone;
        reason = LastErrorText();
        return Lock::Failed;
    }
    // Only a plain file is a journal; a link's target is not looked at.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return Lock::NotJournal;
    }
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Lock::Gone;
        reason = LastErrorText();
        return Lock::Failed;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return Lock::NotJournal;
    }
    return TakeLock(handle, path, 0, file, reason);
}

int64_t JournalSize(JournalHandle file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(HandleOf(file), &size) ? size.QuadPart : 0;
}

void CloseJournal(JournalHandle file) { CloseHandle(HandleOf(file)); }

std::FILE* JournalStream(JournalHandle file, std::string& reason) {
    // The handle becomes the C runtime's, binary, so the records' CR LF stay as they are.
    const int fd = _open_osfhandle(file, _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        reason = std::strerror(errno);
        CloseHandle(HandleOf(file));
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");  // on a descriptor, "w" does not truncate
    if (stream == nullptr) {
        reason = std::strerror(errno);
        _close(fd);
    }
    return stream;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Wide(path, CP_ACP).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Rename RenameNoReplace(const std::string& from, const std::string& to, std::string& reason) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (MoveFileExW(Wide(from, CP_ACP).c_str(), Wide(to, CP_ACP).c_str(), 0)) return Rename::Done;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return Rename::NameTaken;
    reason = LastErrorText();
    return Rename::Failed;
}

bool IsUnderName(std::FILE* file, const std::string& path) {
    return SameFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), path);
}

// Deleted while still locked, so no other window can take the name's file in between; the name
// goes when the file is closed.
void RemoveIfHeld(std::FILE* file, const std::string& path) {
    if (IsUnderName(file, path)) DeleteFileW(Wide(path, CP_ACP).c_str());
}

void RemoveIfHeld(JournalHandle file, const std::string& path) {
    if (SameFile(HandleOf(file), path)) DeleteFileW(Wide(path, CP_ACP).c_str());
}

long CurrentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace qv
