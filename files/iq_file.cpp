// The I/Q text and its file.
#include "files/iq_file.h"

#include "common/numbers.h"
#include "common/time_of_day.h"
#include "files/whole_file.h"

namespace qv {

std::string IqTextHeader() {
    return "   Time     I            Q \r\n"
           "==================================\r\n";
}

std::string IqRecord(const std::string& timeOfDay, long double periodI, long double periodQ) {
    std::string record = timeOfDay;
    record.append(",").append(FormatPicture7(periodI));
    record.append(",").append(FormatPicture7(periodQ));
    return record.append("\r\n");
}

std::string IqFileName(int64_t millisecondsOfDay) {
    return "IQfile " + FormatTimeForFileName(millisecondsOfDay) + ".TXT";
}

bool WriteIqFile(const std::string& iqText, const std::string& path, std::string& error) {
    return WriteWholeFile(path, iqText + "\r\n", error);
}

}  // namespace qv
