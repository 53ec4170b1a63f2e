// Writing a whole file in one go, with every failure reported.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// Writes `content` to `path`, creating the file or replacing what it held. Returns false with
// "path: cannot create: reason" or "path: cannot write: reason" in `error` when the file cannot
// be created or the content does not reach it whole (a full disk shows up at the flush or close).
bool WriteWholeFile(const std::string& path, std::string_view content, std::string& error);

}  // namespace qv
