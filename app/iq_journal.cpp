// The I/Q journal.
#include "app/iq_journal.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace qv {

namespace {

bool Fail(IqJournal& j, std::string& error) {
    error = j.Path + ": cannot write the I/Q journal: " + std::strerror(errno);
    j.Failed = true;
    return false;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

bool JournalIqRecord(IqJournal& j, const std::string& iqText, const std::string& record,
                     std::string& error) {
    if (j.Failed) return true;  // already reported
    const std::string* text = &record;
    if (j.File == nullptr) {
        j.File = std::fopen(j.Path.c_str(), "wb");
        if (j.File == nullptr) return Fail(j, error);
        text = &iqText;
    }
    if (std::fwrite(text->data(), 1, text->size(), j.File) != text->size() ||
        std::fflush(j.File) != 0) {
        return Fail(j, error);
    }
    return true;
}

void RemoveJournal(IqJournal& j) {
    KeepJournal(j);
    std::remove(j.Path.c_str());
}

void KeepJournal(IqJournal& j) {
    if (j.File != nullptr) std::fclose(j.File);
    j.File = nullptr;
}

bool SetAsideOldJournal(const std::string& path, std::string& newPath, std::string& error) {
    newPath.clear();
    if (!Exists(path)) return true;
    for (int n = 1; n < 100000; ++n) {
        const std::string candidate = path + "." + std::to_string(n);
        if (Exists(candidate)) continue;
        if (std::rename(path.c_str(), candidate.c_str()) != 0) {
            error =
                path + ": cannot rename the I/Q journal of an earlier run: " + std::strerror(errno);
            return false;
        }
        newPath = candidate;
        return true;
    }
    error = path + ": cannot rename the I/Q journal of an earlier run: too many old journals";
    return false;
}

}  // namespace qv
