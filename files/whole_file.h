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

// Appends one record (a line, a row) to the open file `fd`, whose first `size` bytes are whole
// records, and adds its length to `size`. Returns 0, or the reason (an errno value; ENOSPC for
// a write that wrote nothing) when the record did not reach the file whole: a part of it that
// did is cut off again, since a record cut short would read as a wrong one; `partLeft` tells
// when even that failed.
int AppendWholeRecord(int fd, std::string_view record, int64_t& size, bool& partLeft);

}  // namespace qv
