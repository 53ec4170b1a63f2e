// The I/Q text: header lines, one record per integration period, and the file written at close.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// The two header lines, each ended by CR LF.
std::string IqTextHeader();
// One record "hh:mm:ss,I,Q" with CR LF; the sums in the picture "#.0000000".
std::string IqRecord(const std::string& timeOfDay, long double periodI, long double periodQ);
// "IQfile hhmmss.TXT".
std::string IqFileName(int64_t millisecondsOfDay);

// Writes the whole text followed by CR LF to `path`, replacing any file there. Returns false
// with "path: reason" in `error` when the file cannot be created or written completely.
bool WriteIqFile(const std::string& iqText, const std::string& path, std::string& error);

}  // namespace qv
