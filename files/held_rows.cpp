// Rows held while a file cannot take them.
#include "files/held_rows.h"

#include <algorithm>
#include <cerrno>

#include "files/whole_file.h"

namespace qv {

namespace {

int64_t LinesIn(std::string_view text) { return std::count(text.begin(), text.end(), '\n'); }

// "1 row", "2 rows": `units` is the plural, the singular without its "s".
std::string Counted(int64_t n, const std::string& units) {
    return std::to_string(n) + " " + (n == 1 ? units.substr(0, units.size() - 1) : units);
}

std::string Amount(size_t bytes) {
    constexpr size_t kMegabyte = size_t{1} << 20;
    if (bytes >= kMegabyte) return std::to_string(bytes / kMegabyte) + " MB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

void HeldRows::Hold(std::string rows) {
    // The oldest go first: the rows of the last hours are the ones a user fixing the disk
    // most likely wants.
    while (!held_.empty() && heldBytes_ + rows.size() > MostBytes) {
        const int64_t lines = LinesIn(held_.front());
        heldBytes_ -= held_.front().size();
        heldLines_ -= lines;
        droppedLines_ += lines;
        everDropped_ = true;
        held_.pop_front();
    }
    heldBytes_ += rows.size();
    heldLines_ += LinesIn(rows);
    held_.push_back(std::move(rows));
}

int64_t HeldRows::WriteOut(const WriteFn& write, int& code) {
    int64_t written = 0;
    code = 0;
    while (!held_.empty()) {
        std::string& front = held_.front();
        size_t done = 0;
        code = write(front, done);
        done = std::min(done, front.size());
        const int64_t lines = LinesIn(std::string_view(front).substr(0, done));
        written += lines;
        heldLines_ -= lines;
        heldBytes_ -= done;
        if (code == 0 && done == front.size()) {
            held_.pop_front();
            continue;
        }
        if (code == 0) code = EIO;  // a writer that took less without a reason
        front.erase(0, done);
        break;
    }
    return written;
}

HeldChange HeldRows::Write(std::string rows, const WriteFn& write, int& code) {
    const int64_t newLines = LinesIn(rows);
    const int64_t droppedBefore = droppedLines_;
    // The rows held first, so that room come back takes them before the bound drops any.
    code = 0;
    int64_t written = held_.empty() ? 0 : WriteOut(write, code);
    const bool stillFull = !held_.empty();
    if (!rows.empty()) Hold(std::move(rows));
    if (!stillFull) written += WriteOut(write, code);
    if (failing_) lateLines_ += written;
    if (held_.empty()) {
        if (!failing_) return HeldChange::None;
        failing_ = false;
        lateLines_ = std::max<int64_t>(0, lateLines_ - newLines);  // this call's came on time
        return HeldChange::Resumed;
    }
    if (!failing_) {
        failing_ = true;
        lateLines_ = droppedLines_ = 0;
        return HeldChange::Failed;
    }
    return droppedBefore == 0 && droppedLines_ > 0 ? HeldChange::Dropping : HeldChange::None;
}

std::string ResumedText(const std::string& path, const HeldRows& held, const char* rows) {
    std::string text = path + ": written again; " + Counted(held.LateLines(), rows) +
                       " held meanwhile " + (held.LateLines() == 1 ? "is" : "are") + " in it now";
    if (held.DroppedLines() > 0) {
        text += "; " + Counted(held.DroppedLines(), rows) + " given up (more than " +
                Amount(held.MostBytes) + " held)";
    }
    return text;
}

std::string UnwrittenText(const std::string& failure, const HeldRows& held, const char* rows) {
    return failure + "; " + Counted(held.HeldLines(), rows) + " never written";
}

std::string DroppingText(const std::string& path, const HeldRows& held, const char* rows) {
    return path + ": more than " + Amount(held.MostBytes) + " of " + rows +
           " held: the oldest are given up";
}

HeldRows::WriteFn AppendingTo(int fd, int64_t& size) {
    return [fd, &size](std::string_view rows, size_t& written) {
        const int64_t before = size;
        bool partLeft = false;  // a row cut short and left: the failure says all there is
        const int code = AppendWholeRecord(fd, rows, size, partLeft);
        written = static_cast<size_t>(size - before);
        return code;
    };
}

}  // namespace qv
