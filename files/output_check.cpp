// Checking output files before a run.
#include "files/output_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "files/whole_file.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

// What identifies a file: its device and inode when it exists, else its resolved path.
struct FileIdentity {
    bool Exists = false;
    bool CharacterDevice = false;  // /dev/null, /dev/stdout: many writers may share one
    dev_t Device = 0;
    ino_t Inode = 0;
    std::string Path;
};

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        id.Exists = true;
        id.CharacterDevice = S_ISCHR(st.st_mode);
        id.Device = st.st_dev;
        id.Inode = st.st_ino;
        return id;
    }
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) resolved = fs::absolute(path, ec).lexically_normal();
    id.Path = resolved.string();
    return id;
}

std::string Reason(const std::string& what, int code) { return what + ": " + std::strerror(code); }

// An existing file opened for writing as it is (O_NONBLOCK: a FIFO without a reader fails at
// once instead of waiting), or a new one created and removed again.
bool CheckFile(const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    if (errno != ENOENT) {
        const int code = errno;
        struct stat st {};
        error = (lstat(path.c_str(), &st) == 0 ? "cannot write: " : "cannot create: ") +
                OpenFailure(path, code);
        return false;
    }
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = Reason("cannot create", errno);
        return false;
    }
    close(fd);
    unlink(path.c_str());
    return true;
}

// Makes the missing folders of `dir`, outermost first, listing those made in `made`.
bool MakeFolders(const fs::path& dir, std::vector<fs::path>& made, std::string& error) {
    std::vector<fs::path> missing;
    for (fs::path p = dir; !p.empty(); p = p.parent_path()) {
        struct stat st {};
        if (lstat(p.c_str(), &st) == 0) break;
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (mkdir(it->c_str(), 0777) != 0) {
            error = Reason("cannot create the folder", errno);
            return false;
        }
        made.push_back(*it);
    }
    struct stat st {};
    const int code = stat(dir.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (code == 0) return true;
    error = Reason("cannot create the folder", code);
    return false;
}

bool CheckFolder(const OutputPath& output, std::string& error) {
    fs::path dir = fs::path(output.Path).lexically_normal();
    if (dir.filename().empty() && dir.has_relative_path()) dir = dir.parent_path();  // "dir/"
    std::vector<fs::path> made;
    bool ok = MakeFolders(dir, made, error);
    if (ok && output.Inside.empty()) {
        const std::string probe = (dir / (".quorvelle-check-" + std::to_string(getpid()))).string();
        const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            ok = false;
            error = Reason("cannot create files there", errno);
        } else {
            close(fd);
            unlink(probe.c_str());
        }
    }
    for (const std::string& name : output.Inside) {
        if (!ok) break;
        ok = CheckFile((dir / name).string(), error);
        if (!ok) error = name + ": " + error;
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
    return ok;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    const FileIdentity x = IdentityOf(a), y = IdentityOf(b);
    if (x.Exists != y.Exists || x.CharacterDevice || y.CharacterDevice) return false;
    if (x.Exists) return x.Device == y.Device && x.Inode == y.Inode;
    return x.Path == y.Path;
}

bool CheckWritable(const OutputPath& output, std::string& error) {
    return output.Folder ? CheckFolder(output, error) : CheckFile(output.Path, error);
}

}  // namespace qv
