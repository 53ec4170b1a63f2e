// The I/Q journal, its lock and the setting aside of dead runs' journals.
#include "app/iq_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace qv {

namespace {

constexpr const char* kProcessSuffix = ".pid";  // "IQfile.journal.pid1234"

bool Fail(IqJournal& j, std::string& error) {
    error = j.Path + ": cannot write the I/Q journal: " + std::strerror(errno);
    j.Failed = true;
    return false;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// Whether the open file `fd` is the one under the name `path` now.
bool SameFile(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

enum class Lock {
    Taken,   // open in `fd`, locked by us, still under its name
    Busy,    // another live window holds it
    Gone,    // renamed or removed by another window between the open and the lock: look again
    Failed,  // errno says why
};

// Opens `path` with `flags` (never truncating) and takes its lock without waiting.
Lock OpenLocked(const std::string& path, int flags, int& fd) {
    // Close-on-exec: a program started from the window (the recording mixer) must not inherit
    // the lock and keep a dead run's journal looking alive.
    fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return errno == ENOENT && (flags & O_CREAT) == 0 ? Lock::Gone : Lock::Failed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        close(fd);
        fd = -1;
        errno = reason;
        return reason == EWOULDBLOCK ? Lock::Busy : Lock::Failed;
    }
    // A lock on a file that is no longer under this name guards nothing.
    if (!SameFile(fd, path)) {
        close(fd);
        fd = -1;
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
        int r = renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE);
        // A file system without the no-replace rename: the check above has to do.
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            r = std::rename(path.c_str(), candidate.c_str());
        }
        if (r == 0) {
            newPath = candidate;
            return true;
        }
        if (errno == EEXIST) continue;
        error = path + ": cannot rename the I/Q journal of an earlier run: " + std::strerror(errno);
        return false;
    }
    error = path + ": cannot rename the I/Q journal of an earlier run: too many old journals";
    return false;
}

// The journal at `path`, when no live window holds it and it has records, goes to a free
// "base.N", renamed while we hold its lock. 1: set aside, 0: left alone, -1: failed.
int SetAsideIfDead(const std::string& path, const std::string& base, std::string& newPath,
                   std::string& error) {
    int fd = -1;
    switch (OpenLocked(path, O_RDONLY, fd)) {
        case Lock::Taken:
            break;
        case Lock::Busy:
        case Lock::Gone:
            return 0;
        case Lock::Failed:
            error =
                path + ": cannot open the I/Q journal of an earlier run: " + std::strerror(errno);
            return -1;
    }
    // An empty one has nothing to keep, and may be a window's that has just created it and is
    // about to lock it.
    struct stat info {};
    int result = 0;
    if (fstat(fd, &info) == 0 && info.st_size > 0) {
        result = RenameToFreeName(path, base, newPath, error) ? 1 : -1;
    }
    close(fd);
    return result;
}

// Opens and locks the journal for the first record: under its usual name, or under this
// process's own name when another window holds the usual one.
bool OpenJournal(IqJournal& j, std::string& error) {
    const std::string usual = j.Path;
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = -1;
        switch (OpenLocked(j.Path, O_WRONLY | O_CREAT, fd)) {
            case Lock::Taken:
                break;
            case Lock::Busy:
                if (j.Path != usual) {
                    error = j.Path + ": cannot write the I/Q journal: in use by another window";
                    j.Failed = true;
                    return false;
                }
                j.Path = ProcessJournalName(usual, getpid());
                j.Notice =
                    usual + " is in use by another window; this window's I/Q journal is " + j.Path;
                continue;
            case Lock::Gone:
                continue;
            case Lock::Failed:
                return Fail(j, error);
        }
        struct stat info {};
        if (fstat(fd, &info) == 0 && info.st_size > 0) {
            // A run that ended without closing has left it since start-up: set it aside as
            // start-up does, then start afresh.
            std::string newPath;
            const bool moved = RenameToFreeName(j.Path, usual, newPath, error);
            close(fd);
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
        j.File = fdopen(fd, "wb");  // on a descriptor, "w" does not truncate
        if (j.File == nullptr) {
            const int reason = errno;
            close(fd);
            errno = reason;
            return Fail(j, error);
        }
        return true;
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
        return Fail(j, error);
    }
    return true;
}

void RemoveJournal(IqJournal& j) {
    j.Closed = true;
    if (j.File == nullptr) return;  // none created here: whatever is under the name is not ours
    // Unlinked while still locked, so no other window can take the name's file in between.
    if (SameFile(fileno(j.File), j.Path)) unlink(j.Path.c_str());
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
