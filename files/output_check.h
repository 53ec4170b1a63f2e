// Checking the files a run will write before it starts: that no two of them, and no output and
// input, are one file, and that each can be written, all without changing anything on the disk.
#pragma once

#include <string>
#include <vector>

namespace qv {

// A file or folder a run will write, as the command line names it.
struct OutputPath {
    std::string Option;  // the option that names it, as in "--iq-file"
    std::string Path;
    // A folder the run writes files into (created when missing): the names of those files, or
    // none when they are not known before the run.
    bool Folder = false;
    std::vector<std::string> Inside = {};
};

// True when `a` and `b` are one file: by device and inode when both exist (hard links,
// symbolic links, "./x" and "x"), by the absolute path with "." and ".." and the symbolic links
// of the folders that exist resolved when neither does. A character device (/dev/null) is never
// one file with anything: writing it twice destroys nothing.
bool SameFile(const std::string& a, const std::string& b);

// What SameFile compares, as a text: two names give the same text exactly when SameFile calls
// them one file, so that many names can be matched through a map. Empty for a shared device.
std::string FileKey(const std::string& path);

// Proves that `output` can be written without truncating or leaving anything: an existing file
// is opened for writing as it is; a new one is created and removed again; a folder gets its
// missing parts made, its files (or a probe file) checked, and the parts made removed. False
// with "what: reason" in `error`, the reason being the system's own for the first failure.
bool CheckWritable(const OutputPath& output, std::string& error);

}  // namespace qv
