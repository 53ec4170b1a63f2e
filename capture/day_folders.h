// A station's files in a folder per UTC day, DIR/YYYY/MM/DD: the day a time falls on, the day's
// folder and the one number its set of files takes, and the switch at midnight that
// quorvelle-batch --daily and the window's --daily share.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace qv {

// The fixed names of a day folder's files.
inline constexpr const char* kDailyIqName = "iq.txt";
inline constexpr const char* kDailyLogName = "readouts.tsv";
inline constexpr const char* kDailySecondsName = "seconds.csv";
inline constexpr const char* kDailyPeriodsName = "periods.csv";
inline constexpr const char* kDailyPictureName = "report.png";
inline constexpr const char* kDailyTextName = "report.txt";

// How a day's files meet those already in its folder.
enum class DayStart {
    Fresh,   // under the lowest number none of whose names is taken: the files are new
    Append,  // under the plain names, appended to
};

// [days since 1970-01-01] of a time in milliseconds since then, rounded down.
int64_t DayOf(int64_t unixMilliseconds);

// The folder "DIR/YYYY/MM/DD" of the day that `unixMilliseconds` [ms since 1970-01-01 00:00
// UTC] falls on.
std::string DayFolder(const std::string& dir, int64_t unixMilliseconds);

// `name` in `folder`, the folder's text as given (a Windows path keeps its backslashes, and
// messages name the folder as the user wrote it); '/' separates on both systems.
std::string InFolder(const std::string& folder, const std::string& name);

// The day folders of one run: which day's files are open, in which folder and under which
// number. Started Fresh, a name already taken in the day's folder gets "-2", "-3", ... before
// its extension, one number for the whole set of `names` so that a day's files still match: a
// station started again, or a clock stepped back, never replaces a file of the day.
class DayFolders {
public:
    // `now` gives the time the files are written at [ms since 1970-01-01]: a stream's, or the
    // wall clock's in UTC. `option` names the folder in messages ("--daily").
    DayFolders(std::string dir, std::vector<std::string> names, std::function<int64_t()> now,
               DayStart start = DayStart::Fresh, std::string option = "--daily");

    // The current day's folder made and its number chosen; false with one line in `error`
    // ("--daily DIR/2026/12/09: cannot create the folder: ..."). Each call moves to the day
    // `now` falls on.
    bool Open(std::string& error);
    // `now` has passed into another day than the one opened last: the caller closes the day's
    // files, then calls Open for the new day's.
    bool DayChanged() const { return DayOf(now_()) != day_; }

    // The current day's file `name` under the day's number.
    std::string Path(const std::string& name) const;
    const std::string& Folder() const { return folder_; }
    int Number() const { return number_; }

private:
    // parameters
    std::string dir_;
    std::vector<std::string> names_;
    std::function<int64_t()> now_;
    DayStart start_;
    std::string option_;

    // state
    // [days since 1970-01-01] opened last, also when its folder failed; none before the first
    int64_t day_ = std::numeric_limits<int64_t>::min();
    std::string folder_;  // its folder
    int number_ = 1;      // its files' number: 1 is the plain names
};

}  // namespace qv
