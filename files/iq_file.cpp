// The I/Q text and its file.
#include "files/iq_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/numbers.h"
#include "common/time_of_day.h"

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
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot create: " + std::strerror(errno);
        return false;
    }
    std::string content = iqText;
    content.append("\r\n");
    size_t written = std::fwrite(content.data(), 1, content.size(), file);
    int writeErrno = errno;
    bool flushed = std::fflush(file) == 0;
    int flushErrno = errno;
    bool closed = std::fclose(file) == 0;
    if (written != content.size() || !flushed || !closed) {
        int code = written != content.size() ? writeErrno : (!flushed ? flushErrno : errno);
        error = path + ": cannot write: " + std::strerror(code);
        return false;
    }
    return true;
}
