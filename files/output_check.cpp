// Checking output files before a run.
#include "files/output_check.h"

#include <filesystem>

#include "common/os.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

// What identifies a file: the system's identity when it exists, else its resolved path.
struct FileIdentity {
    os::FileId File;
    std::string Path;
};

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity id;
    id.File = os::IdentifyName(path, true);
    if (id.File.Exists || id.File.Shared) return id;
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) resolved = fs::absolute(path, ec).lexically_normal();
    id.Path = os::ComparablePath(resolved.string());
    return id;
}

// An existing file opened for writing as it is, or a new one created and removed again.
bool CheckFile(const std::string& path, std::string& error) {
    std::string reason;
    switch (os::ProbeExisting(path, reason)) {
        case os::Probe::Writable:
            return true;
        case os::Probe::Refused:
            error = (os::Exists(path) ? "cannot write: " : "cannot create: ") + reason;
            return false;
        case os::Probe::Missing:
            break;
    }
    reason = os::ProbeNew(path);
    if (reason.empty()) return true;
    error = "cannot create: " + reason;
    return false;
}

// Makes the missing folders of `dir`, outermost first, listing those made in `made`.
bool MakeFolders(const fs::path& dir, std::vector<fs::path>& made, std::string& error) {
    std::vector<fs::path> missing;
    for (fs::path p = dir; !p.empty(); p = p.parent_path()) {
        if (os::Exists(p.string())) break;
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (const std::string reason = os::MakeFolder(it->string()); !reason.empty()) {
            error = "cannot create the folder: " + reason;
            return false;
        }
        made.push_back(*it);
    }
    const std::string reason = os::NotAFolder(dir.string());
    if (reason.empty()) return true;
    error = "cannot create the folder: " + reason;
    return false;
}

bool CheckFolder(const OutputPath& output, std::string& error) {
    fs::path dir = fs::path(output.Path).lexically_normal();
    if (dir.filename().empty() && dir.has_relative_path()) dir = dir.parent_path();  // "dir/"
    std::vector<fs::path> made;
    bool ok = MakeFolders(dir, made, error);
    if (ok && output.Inside.empty()) {
        const std::string probe =
            (dir / (".quorvelle-check-" + std::to_string(os::ProcessId()))).string();
        if (const std::string reason = os::ProbeNew(probe); !reason.empty()) {
            ok = false;
            error = "cannot create files there: " + reason;
        }
    }
    for (const std::string& name : output.Inside) {
        if (!ok) break;
        ok = CheckFile((dir / name).string(), error);
        if (!ok) error = name + ": " + error;
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it) os::RemoveFolder(it->string());
    return ok;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    const FileIdentity x = IdentityOf(a), y = IdentityOf(b);
    if (x.File.Exists != y.File.Exists || x.File.Shared || y.File.Shared) return false;
    if (x.File.Exists) return os::SameId(x.File, y.File);
    return x.Path == y.Path;
}

std::string FileKey(const std::string& path) {
    const FileIdentity id = IdentityOf(path);
    if (id.File.Shared) return "";
    if (id.File.Exists) {
        return "file " + std::to_string(id.File.Volume) + ":" + std::to_string(id.File.Index);
    }
    return "name " + id.Path;
}

bool CheckWritable(const OutputPath& output, std::string& error) {
    return output.Folder ? CheckFolder(output, error) : CheckFile(output.Path, error);
}

}  // namespace qv
