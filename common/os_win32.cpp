// The operating system on Windows (MinGW-w64): the C runtime's descriptors, file handles and
// their identities by volume and file index, LockFileEx, MoveFileEx, the console's control
// events, CreateProcess, the Documents known folder.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "common/os.h"
#include "common/wide_text_win32.h"

namespace qv::os {

namespace fs = std::filesystem;

namespace {

// The C library's number for a Windows error, so that reasons read as on Linux; 0 when none.
int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
            return EINVAL;
        default:
            return 0;
    }
}

// The system's own text for a Windows error in `codePage`, without the characters of `trailing`
// at its end (its line end, and for a reason within a message its full stop).
std::string SystemWords(DWORD code, const char* trailing = "\r\n .", UINT codePage = CP_ACP) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words = length > 0 && text != nullptr ? Narrow(std::wstring(text, length), codePage)
                                                      : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!words.empty() && std::strchr(trailing, words.back()) != nullptr) words.pop_back();
    return words;
}

// A Windows error in words for the output checks: the C library's text where there is one, so
// that messages read as on Linux, else the system's.
std::string Words(DWORD code) {
    if (const int number = ErrnoOf(code); number != 0) return std::strerror(number);
    return SystemWords(code, "\r\n.");
}

// Paths are in the ANSI code page, as the C runtime's narrow file functions read them.
std::wstring PathOf(const std::string& path) { return Wide(path, CP_ACP); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

enum class Kind { Missing, File, Folder };

Kind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(PathOf(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Folder : Kind::File;
}

// Why a path whose folder part is missing cannot be made: an existing part that is a file
// makes it "Not a directory", as on Linux; otherwise "No such file or directory".
std::string MissingPathWords(const fs::path& path, DWORD code) {
    if (code != ERROR_PATH_NOT_FOUND && code != ERROR_FILE_NOT_FOUND && code != ERROR_DIRECTORY) {
        return Words(code);
    }
    for (fs::path p = path.parent_path(); !p.empty(); p = p.parent_path()) {
        const Kind kind = KindOf(p.string());
        if (kind == Kind::File) return std::strerror(ENOTDIR);
        if (kind == Kind::Folder) break;
        if (p == p.parent_path()) break;
    }
    return std::strerror(ENOENT);
}

// The reserved device names (NUL, CON, PRN, AUX, COM1..9, LPT1..9), with any extension or folder.
bool IsDeviceName(const std::string& path) {
    std::string stem = fs::path(path).stem().string();
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem == "NUL" || stem == "CON" || stem == "PRN" || stem == "AUX") return true;
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

HANDLE HandleFrom(Handle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Descriptors

namespace {

// The C runtime's reads and writes take an unsigned int count: at most 1 GiB per call (callers
// loop until all is done).
constexpr size_t kLargestTransfer = size_t{1} << 30;

}  // namespace

// Windows has no close-on-exec flag (its descriptors are not inherited by CreateProcess without
// asking) and its opens never wait for another program (a named pipe without a free instance
// fails at once); a new file with O_EXCL fails on any name that exists, a link's too. Binary
// mode, so that no CR is written before an LF.
int OpenDescriptor(const std::string& path, unsigned flags) {
    static constexpr int kAccessModes[] = {_O_RDONLY, _O_WRONLY, _O_RDWR, _O_RDWR};
    int mode = kAccessModes[flags & kAccess] | _O_BINARY;
    if ((flags & kCreate) != 0) mode |= _O_CREAT;
    if ((flags & kTruncate) != 0) mode |= _O_TRUNC;
    if ((flags & kAppend) != 0) mode |= _O_APPEND;
    if ((flags & kExclusive) != 0) mode |= _O_EXCL;
    return open(path.c_str(), mode, 0666);
}

int64_t WriteSome(int fd, const void* data, size_t count) {
    return _write(fd, data, static_cast<unsigned>(std::min(count, kLargestTransfer)));
}

int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) {
    if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return _read(fd, buffer, static_cast<unsigned>(std::min(count, kLargestTransfer)));
}

int SyncData(int fd) { return _commit(fd); }

int CloseDescriptor(int fd) { return _close(fd); }

// ---------------------------------------------------------------------------------------------
// Processes, time

// Opens never wait on Windows: there is nothing to undo.
void MakeBlocking(int) {}

std::string OpenFailure(const std::string& path, int code) {
    struct stat st {};
    if (code == ENXIO && stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        return "a FIFO that no program reads";
    }
    return std::strerror(code);
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

void LocalTime(time_t t, tm& out) { localtime_s(&out, &t); }

// Windows' gmtime_s refuses times before 1970; the calendar of <chrono> takes any.
void UtcTime(time_t t, tm& out) {
    using namespace std::chrono;
    constexpr long long kSecondsPerDay = 86400;
    long long day = static_cast<long long>(t) / kSecondsPerDay;
    long long second = static_cast<long long>(t) % kSecondsPerDay;
    if (second < 0) second += kSecondsPerDay, --day;
    const sys_days date{days{day}};
    const year_month_day ymd{date};
    out = tm{};
    out.tm_year = static_cast<int>(ymd.year()) - 1900;
    out.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    out.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    out.tm_hour = static_cast<int>(second / 3600);
    out.tm_min = static_cast<int>(second / 60 % 60);
    out.tm_sec = static_cast<int>(second % 60);
    out.tm_wday = static_cast<int>(weekday{date}.c_encoding());
    out.tm_yday = static_cast<int>((date - sys_days{ymd.year() / January / 1}).count());
}

// Windows delivers no asynchronous signals to a program's threads (console control events
// arrive on a thread of the system's making), so a thread has none to block.
SignalMask BlockAllSignals() { return {}; }
void RestoreSignals(const SignalMask&) {}

bool StderrIsTerminal() {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err == INVALID_HANDLE_VALUE || err == nullptr || !GetConsoleMode(err, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

namespace {

// A C++ stream's UTF-8 text shown on a console as the letters it is: handed to the console as
// UTF-16 (WriteConsoleW) at every flush, whatever the console's code page. The C runtime
// would write the bytes one at a time for the console to read in its code page (Windows), or
// read them in the C locale's (Wine's runtime): "é" shown as two wrong characters.
class ConsoleText : public std::streambuf {
public:
    explicit ConsoleText(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            pending_ += traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        pending_.append(text, static_cast<size_t>(n));
        return n;
    }
    // Whole letters: the bytes of one not yet complete wait for the rest.
    int sync() override {
        size_t whole = pending_.size();
        for (size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
            const auto byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
            if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
            const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (length > back) whole = pending_.size() - back;
            break;
        }
        const std::wstring text = Wide(pending_.substr(0, whole));
        pending_.erase(0, whole);
        for (size_t at = 0; at < text.size();) {
            DWORD written = 0;
            const DWORD n = static_cast<DWORD>(std::min<size_t>(text.size() - at, 8192));
            if (!WriteConsoleW(console_, text.data() + at, n, &written, nullptr) || written == 0) {
                return -1;
            }
            at += written;
        }
        return 0;
    }

private:
    HANDLE console_;
    std::string pending_;
};

// `cxx` (std::cout or std::cerr) written through ConsoleText when the standard handle `which`
// is a console, its text handed on after every output operation as std::cerr's is anyway. The
// buffer lives to the process's end, when the streams are flushed for the last time.
void LettersToConsole(DWORD which, std::ostream& cxx) {
    const HANDLE h = GetStdHandle(which);
    DWORD mode = 0;
    if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return;
    cxx.flush();
    cxx.rdbuf(new ConsoleText(h));
    cxx.setf(std::ios::unitbuf);
}

// Whether this program was linked for the Windows subsystem (a window program, which Windows
// starts with no console) rather than the console subsystem.
bool WindowsSubsystem() {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

// Whether the standard handle `which` was redirected by the parent: a file, a pipe, or a device
// that is not a console (NUL). Asked once attached, when a console handle answers as one.
bool Redirected(DWORD which) {
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    switch (GetFileType(h)) {
        case FILE_TYPE_DISK:
        case FILE_TYPE_PIPE:
            return true;
        case FILE_TYPE_CHAR:
            return !GetConsoleMode(h, &mode);
        default:
            return false;
    }
}

// `stream` (stdout or stderr) and the standard handle `which` on the console's screen buffer.
void ToConsoleScreen(DWORD which, std::FILE* stream) {
    if (std::freopen("CONOUT$", "w", stream) == nullptr) return;
    SetStdHandle(which, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))));
}

// A window program started from a console (cmd, PowerShell) has none of its own: it takes its
// parent's, so that its messages show there and Ctrl-C there reaches it as the console's control
// event. A standard stream the parent redirected to a file or pipe stays where it goes; the
// others go to the console's screen. Started from Explorer there is no parent console and
// nothing changes. (Wine hands a window program its parent's console itself: attaching then
// fails, and the standard handles are the console's already.)
void AttachToParentConsole() {
    if (!WindowsSubsystem() || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!Redirected(STD_OUTPUT_HANDLE)) ToConsoleScreen(STD_OUTPUT_HANDLE, stdout);
    if (!Redirected(STD_ERROR_HANDLE)) ToConsoleScreen(STD_ERROR_HANDLE, stderr);
    // Ctrl-C processed, even where the program was started in a process group of its own, which
    // begins with Ctrl-C ignored: the console it shows its messages on is the one to stop it.
    SetConsoleCtrlHandler(nullptr, FALSE);
}

}  // namespace

void PrepareConsole() {
    AttachToParentConsole();
    // A file or pipe gets the text's own bytes, UTF-8 as on Linux.
    LettersToConsole(STD_OUTPUT_HANDLE, std::cout);
    LettersToConsole(STD_ERROR_HANDLE, std::cerr);
}

// The only process on its console: Windows made the console for it. Not so under Wine, where a
// program started from a Linux terminal is alone on a console Wine makes for it, shown by the
// terminal, which stays.
bool ConsoleOfItsOwn() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) return false;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

void WaitForKeyBeforeClosing() {
    const HANDLE in =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return;
    std::cerr << "Press a key to close this window.\n" << std::flush;
    FlushConsoleInputBuffer(in);  // keys pressed while the program ran do not count
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputW(in, &record, 1, &read) || read == 0) break;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
    }
    CloseHandle(in);
}

namespace {

// A program's argument quoted for its command line as the C runtime splits it again: in double
// quotes, with the backslashes before a quote doubled and the quote itself escaped.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

}  // namespace

bool StartDetached(const std::vector<std::string>& argv, std::string& error) {
    std::wstring commandLine;
    for (const std::string& a : argv) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += Quoted(Wide(a));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Its own process group, so a Ctrl-C in our console does not reach it; no console of ours,
    // no inherited handles; not waited for.
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &process)) {
        error = argv[0] + ": cannot start: " + SystemWords(GetLastError(), "\r\n", CP_UTF8);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);  // the process runs on; Windows reaps it
    return true;
}

bool IsProgram(const std::string& path) { return KindOf(path) == Kind::File; }

int UsableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        int count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::max(static_cast<int>(info.dwNumberOfProcessors), 1);
}

// ---------------------------------------------------------------------------------------------
// Names and what is under them

FileId IdentifyName(const std::string& path, bool followLink) {
    FileId id;
    if (IsDeviceName(path)) {
        id.Shared = true;
        return id;
    }
    // Backup semantics: folders open too. No access asked: only the identity is read.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle =
        CreateFileW(PathOf(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return id;
    id = IdentifyOpen(reinterpret_cast<Handle>(handle));
    CloseHandle(handle);
    return id;
}

std::string ComparablePath(const std::string& resolved) {
    // Windows file names ignore case; compared in one case and with one kind of separator.
    std::string path = fs::path(resolved).make_preferred().string();
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
}

bool Exists(const std::string& path) { return KindOf(path) != Kind::Missing; }

bool Remove(const std::string& path) { return DeleteFileW(PathOf(path).c_str()) != 0; }

Rename RenameNoReplace(const std::string& from, const std::string& to, std::string& reason) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (MoveFileExW(PathOf(from).c_str(), PathOf(to).c_str(), 0)) return Rename::Done;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return Rename::NameTaken;
    reason = SystemWords(code);
    return Rename::Failed;
}

Probe ProbeExisting(const std::string& path, std::string& reason) {
    const Kind kind = KindOf(path);
    if (kind == Kind::Folder) {
        reason = std::strerror(EISDIR);
        return Probe::Refused;
    }
    if (kind == Kind::Missing && !IsDeviceName(path)) return Probe::Missing;
    const HANDLE handle = CreateFileW(PathOf(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = Words(GetLastError());
        return Probe::Refused;
    }
    CloseHandle(handle);
    return Probe::Writable;
}

std::string ProbeNew(const std::string& path) {
    const HANDLE handle =
        CreateFileW(PathOf(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return MissingPathWords(fs::path(path), GetLastError());
    CloseHandle(handle);  // and with it the file
    DeleteFileW(PathOf(path).c_str());
    return "";
}

std::string MakeFolder(const std::string& path) {
    if (CreateDirectoryW(PathOf(path).c_str(), nullptr)) return "";
    return MissingPathWords(fs::path(path), GetLastError());
}

std::string NotAFolder(const std::string& path) {
    const Kind kind = KindOf(path);
    if (kind == Kind::Folder) return "";
    return std::strerror(kind == Kind::File ? ENOTDIR : ENOENT);
}

void RemoveFolder(const std::string& path) { RemoveDirectoryW(PathOf(path).c_str()); }

bool DocumentsFolder(std::string& folder, std::string& error) {
    folder.clear();
    wchar_t* path = nullptr;
    const HRESULT result =
        SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &path);
    if (SUCCEEDED(result) && path != nullptr) folder = Narrow(path, CP_ACP);
    CoTaskMemFree(path);  // also after a failure, which may leave a path to free
    if (SUCCEEDED(result)) return true;
    error = "the Documents folder cannot be found: " + SystemWords(static_cast<DWORD>(result));
    return false;
}

// ---------------------------------------------------------------------------------------------
// Files held open and locked: the lock is LockFileEx's exclusive lock on one byte far beyond any
// data (so that reading the file is never blocked), and every file is opened sharing deletion, so
// that it can be renamed and removed while another window or this one holds it; removed while
// held, its name goes when it is closed.

namespace {

constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;  // the locked byte: at 2^62, past any data

}  // namespace

Open CreateNew(const std::string& path, Handle& file, std::string& reason) {
    // CREATE_NEW fails on any name that exists, a link's included. Handles are not inherited
    // unless asked for.
    const HANDLE handle = CreateFileW(PathOf(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A folder under the name is refused as "access denied": taken all the same.
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS || Exists(path)) {
            return Open::NameTaken;
        }
        reason = SystemWords(code);
        return Open::Failed;
    }
    file = reinterpret_cast<Handle>(handle);
    return Open::Done;
}

Open OpenPlainFile(const std::string& path, Handle& file, std::string& reason) {
    const std::wstring name = PathOf(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Open::Missing;
        reason = SystemWords(code);
        return Open::Failed;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return Open::NotPlainFile;
    }
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Open::Missing;
        reason = SystemWords(code);
        return Open::Failed;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return Open::NotPlainFile;
    }
    file = reinterpret_cast<Handle>(handle);
    return Open::Done;
}

Locking TryLock(Handle file, std::string& reason) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(HandleFrom(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &at)) {
        return Locking::Taken;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Locking::Busy;
    reason = SystemWords(code);
    return Locking::Failed;
}

FileId IdentifyOpen(Handle file) {
    FileId id;
    BY_HANDLE_FILE_INFORMATION info{};
    id.Shared = GetFileType(HandleFrom(file)) != FILE_TYPE_DISK;
    if (!GetFileInformationByHandle(HandleFrom(file), &info)) return id;
    id.Exists = true;
    id.Volume = info.dwVolumeSerialNumber;
    id.Index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return id;
}

int64_t FileSize(Handle file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(HandleFrom(file), &size) ? size.QuadPart : 0;
}

void Close(Handle file) { CloseHandle(HandleFrom(file)); }

std::FILE* WritingStream(Handle file, std::string& reason) {
    // The handle becomes the C runtime's, binary, so the records' CR LF stay as they are.
    const int fd = _open_osfhandle(file, _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        reason = std::strerror(errno);
        CloseHandle(HandleFrom(file));
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");  // on a descriptor, "w" does not truncate
    if (stream == nullptr) {
        reason = std::strerror(errno);
        _close(fd);
    }
    return stream;
}

Handle HandleOf(std::FILE* stream) { return _get_osfhandle(_fileno(stream)); }

// ---------------------------------------------------------------------------------------------
// Stop requests: the console's control events through SetConsoleCtrlHandler.
//
// Windows runs the handler on a new thread for every event. Ctrl-C and Ctrl-Break are answered
// at once (handled: the process goes on and ends its run). For the console window's close
// button, log-off and shut-down the system ends the process as soon as the handler returns, or
// at the latest after its own time limit (about 5 s for a closed console), so the handler
// returns never. Windows' handlers form a list the system keeps; removing ours is all the
// restoring needed.

namespace {

// The numbers of the requests: SIGINT for Ctrl-C and SIGBREAK for Ctrl-Break, as the C runtime
// names them; 100 + the event's own number for the events the runtime has no signal for.
constexpr int kEventBase = 100;
constexpr int kConsoleClosed = kEventBase + CTRL_CLOSE_EVENT;
constexpr int kLogOff = kEventBase + CTRL_LOGOFF_EVENT;
constexpr int kShutDown = kEventBase + CTRL_SHUTDOWN_EVENT;

StopCallback gOnStop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int request = 0;
    switch (event) {
        case CTRL_C_EVENT:
            request = SIGINT;
            break;
        case CTRL_BREAK_EVENT:
            request = SIGBREAK;
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            request = kEventBase + static_cast<int>(event);
            break;
        default:
            return FALSE;  // not ours: the next handler (finally the default) decides
    }
    gOnStop(request);
    if (request >= kEventBase) {
        // Returning would end the process now; the main thread's exit ends it instead.
        for (;;) Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

bool InstallStopHandlers(StopCallback onStop) {
    gOnStop = onStop;
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

// Kept to the end, a late Ctrl-C is answered as handled and a closed console waits for the
// process's own exit, which ends it with the status its run earned.
void RemoveStopHandlers(bool keepIgnoring) {
    if (!keepIgnoring) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

const char* StopRequestName(int request) {
    switch (request) {
        case SIGINT:
            return "Ctrl-C";
        case SIGBREAK:
            return "Ctrl-Break";
        case kConsoleClosed:
            return "console closed";
        case kLogOff:
            return "log-off";
        case kShutDown:
            return "shut-down";
    }
    return nullptr;
}

const char* StopRequestsHint() { return "Ctrl-C, Ctrl-Break or closing the console"; }

// The event loop polls instead.
bool MakeWakePipe(int ends[2]) {
    ends[0] = ends[1] = -1;
    return true;
}
void Wake(int) {}
void DrainWake(int) {}
void CloseWakeEnd(int fd) { _close(fd); }

}  // namespace qv::os
