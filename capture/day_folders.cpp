// The day folders of a station's files and the day they are switched on.
#include "capture/day_folders.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "common/time_of_day.h"
#include "files/whole_file.h"

namespace qv {

int64_t DayOf(int64_t unixMilliseconds) {
    const int64_t day = unixMilliseconds / kMillisecondsPerDay;
    return unixMilliseconds < 0 && day * kMillisecondsPerDay != unixMilliseconds ? day - 1 : day;
}

std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

std::string DayFolder(const std::string& dir, int64_t unixMilliseconds) {
    using namespace std::chrono;
    const year_month_day date{sys_days{days{DayOf(unixMilliseconds)}}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return InFolder(dir, text);
}

DayFolders::DayFolders(std::string dir, std::vector<std::string> names,
                       std::function<int64_t()> now, DayStart start, std::string option)
    : dir_(std::move(dir)),
      names_(std::move(names)),
      now_(std::move(now)),
      start_(start),
      option_(std::move(option)) {}

bool DayFolders::Open(std::string& error) {
    day_ = DayOf(now_());
    folder_ = DayFolder(dir_, day_ * kMillisecondsPerDay);
    number_ = 1;
    std::error_code made;
    std::filesystem::create_directories(folder_, made);
    if (made) {
        error = option_ + " " + folder_ + ": cannot create the folder: " + made.message();
        return false;
    }
    if (start_ == DayStart::Append) return true;
    for (int number = 1; number <= kMostNumberedNames; ++number) {
        bool taken = false;
        for (const std::string& name : names_) {
            std::error_code ignored;
            const auto path = std::filesystem::path(folder_) / NumberedName(name, number);
            taken = taken || std::filesystem::symlink_status(path, ignored).type() !=
                                 std::filesystem::file_type::not_found;
        }
        if (!taken) {
            number_ = number;
            return true;
        }
    }
    error = option_ + " " + folder_ + ": every name of the day's files up to " +
            NumberedName(names_.front(), kMostNumberedNames) + " is taken";
    return false;
}

std::string DayFolders::Path(const std::string& name) const {
    return InFolder(folder_, NumberedName(name, number_));
}

}  // namespace qv
