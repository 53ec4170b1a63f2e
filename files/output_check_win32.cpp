// Checking output files before a run, on Windows: files told apart by volume and file index,
// devices (NUL, CON, ...) never one file with anything, and the same checks and messages as
// on Linux.
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "files/output_check.h"

namespace qv {

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

// A Windows error in words: the C library's text where there is one, else the system's.
std::string Words(DWORD code) {
    if (const int number = ErrnoOf(code); number != 0) return std::strerror(number);
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words =
        length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
        words.pop_back();
    return words;
}

std::string Reason(const std::string& what, const std::string& words) {
    return what + ": " + words;
}

enum class Kind { Missing, File, Folder };

Kind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
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

// What identifies a file: its volume and file index when it exists, else its resolved path.
struct FileIdentity {
    bool Exists = false;
    bool Device = false;  // NUL, CON: many writers may share one
    DWORD Volume = 0;
    uint64_t Index = 0;
    std::string Path;
};

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity id;
    if (IsDeviceName(path)) {
        id.Device = true;
        return id;
    }
    // Backup semantics: folders open too. No access asked: only the identity is read.
    const HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known = GetFileInformationByHandle(handle, &info) != 0;
        id.Device = GetFileType(handle) != FILE_TYPE_DISK;
        CloseHandle(handle);
        if (known) {
            id.Exists = true;
            id.Volume = info.dwVolumeSerialNumber;
            id.Index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
            return id;
        }
    }
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) resolved = fs::absolute(path, ec).lexically_normal();
    // Windows file names ignore case; compared in one case and with one kind of separator.
    id.Path = resolved.make_preferred().string();
    for (char& c : id.Path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

// An existing file opened for writing as it is, or a new one created and removed again.
bool CheckFile(const std::string& path, std::string& error) {
    const Kind kind = KindOf(path);
    if (kind == Kind::Folder) {
        error = Reason("cannot write", std::strerror(EISDIR));
        return false;
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (kind == Kind::File || IsDeviceName(path)) {
        const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = Reason("cannot write", Words(GetLastError()));
            return false;
        }
        CloseHandle(handle);
        return true;
    }
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = Reason("cannot create", MissingPathWords(fs::path(path), GetLastError()));
        return false;
    }
    CloseHandle(handle);  // and with it the file
    DeleteFileA(path.c_str());
    return true;
}

// Makes the missing folders of `dir`, outermost first, listing those made in `made`.
bool MakeFolders(const fs::path& dir, std::vector<fs::path>& made, std::string& error) {
    std::vector<fs::path> missing;
    for (fs::path p = dir; !p.empty(); p = p.parent_path()) {
        if (KindOf(p.string()) != Kind::Missing) break;
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!CreateDirectoryA(it->string().c_str(), nullptr)) {
            error = Reason("cannot create the folder", MissingPathWords(*it, GetLastError()));
            return false;
        }
        made.push_back(*it);
    }
    const Kind kind = KindOf(dir.string());
    if (kind == Kind::Folder) return true;
    error =
        Reason("cannot create the folder", std::strerror(kind == Kind::File ? ENOTDIR : ENOENT));
    return false;
}

bool CheckFolder(const OutputPath& output, std::string& error) {
    fs::path dir = fs::path(output.Path).lexically_normal();
    if (dir.filename().empty() && dir.has_relative_path()) dir = dir.parent_path();  // "dir/"
    std::vector<fs::path> made;
    bool ok = MakeFolders(dir, made, error);
    if (ok && output.Inside.empty()) {
        const std::string probe =
            (dir / (".quorvelle-check-" + std::to_string(GetCurrentProcessId()))).string();
        const HANDLE handle =
            CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            ok = false;
            error = Reason("cannot create files there", Words(GetLastError()));
        } else {
            CloseHandle(handle);
            DeleteFileA(probe.c_str());
        }
    }
    for (const std::string& name : output.Inside) {
        if (!ok) break;
        ok = CheckFile((dir / name).string(), error);
        if (!ok) error = name + ": " + error;
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryA(it->string().c_str());
    return ok;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    const FileIdentity x = IdentityOf(a), y = IdentityOf(b);
    if (x.Exists != y.Exists || x.Device || y.Device) return false;
    if (x.Exists) return x.Volume == y.Volume && x.Index == y.Index;
    return x.Path == y.Path;
}

bool CheckWritable(const OutputPath& output, std::string& error) {
    return output.Folder ? CheckFolder(output, error) : CheckFile(output.Path, error);
}

}  // namespace qv
