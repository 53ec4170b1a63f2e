// Writing a whole file in one go, and appending whole records to a file that grows as a run
// goes on, with every failure reported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Writes `content` to `path`, creating the file or replacing what it held. Returns false with
// "path: cannot create: reason" or "path: cannot write: reason" in `error` when the file cannot
// be created or the content does not reach it whole (a full disk shows up at the flush or close).
bool WriteWholeFile(const std::string& path, std::string_view content, std::string& error);

// Names the program makes up (the I/Q file at close, the chart captures, their PNGs) never
// replace anything: each is a new file, and when its name is taken the next free one in the
// pattern "IQfile 085101.TXT", "IQfile 085101-2.TXT", "IQfile 085101-3.TXT", ... is used.

// Numbered names end here: a folder where all of them are taken has something wrong with it.
constexpr int kMostNumberedNames = 99;

// The name `number` of the pattern: 1 is `name` itself; others put "-number" before the
// extension (the last '.' of the file's own name), "003656.BMP" 2 giving "003656-2.BMP".
std::string NumberedName(const std::string& name, int number);

enum class NewFile {
    Written,    // created and written whole
    NameTaken,  // something is under the name (a file, a folder, a link, dangling or not)
    Failed,     // `error` says why
};

// Writes `content` to `path` as a new file: never over what is under the name, never through
// a link. A file made but not written whole is removed again. `error` as WriteWholeFile's.
NewFile WriteNewFile(const std::string& path, std::string_view content, std::string& error);

// Writes `content` to a new file under the first free name of `name`'s pattern from `number`
// on (1: the name itself), and sets `number` to the one taken. False with "name: reason" in
// `error` when the file cannot be written, or every name up to kMostNumberedNames is taken.
bool WriteUnderFreeName(const std::string& name, std::string_view content, int& number,
                        std::string& error);

// Writes `content` beside `path` and renames it to `path`, replacing the file under the name
// but never writing through it: a link under the name is replaced, its target left as it was.
// For names the program makes up in a folder the user chose, which a new run replaces.
bool ReplaceWholeFile(const std::string& path, std::string_view content, std::string& error);

// Appends one record (a line, a row) to the open file `fd`, whose first `size` bytes are whole
// records, and adds its length to `size`. Returns 0, or the reason (an errno value; ENOSPC for
// a write that wrote nothing) when the record did not reach the file whole: a part of it that
// did is cut off again, since a record cut short would read as a wrong one; `partLeft` tells
// when even that failed.
int AppendWholeRecord(int fd, std::string_view record, int64_t& size, bool& partLeft);

}  // namespace qv
