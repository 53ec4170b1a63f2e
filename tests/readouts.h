// Test helper for read-outs: the number in a read-out's text, and the read-out log
// ("hh:mm:ss.mmm<TAB>NAME<TAB>text" a line) that the window and the batch tool write.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace qv {

// The number after "=" in a read-out ("Freq error = 24.93ppm" gives 24.93). A text without one
// fails the test and gives NaN, which no comparison accepts, so a check near 0 cannot pass on a
// text that holds no number.
inline long double Number(const std::string& text) {
    const size_t equals = text.find('=');
    if (equals != std::string::npos) {
        const char* start = text.c_str() + equals + 1;
        char* end = nullptr;
        const long double value = std::strtold(start, &end);
        if (end != start) return value;
    }
    ADD_FAILURE() << "no number after \"=\" in the read-out \"" << text << "\"";
    return std::nanl("");
}

struct LogLine {
    std::string Time, Name, Text;
};

inline std::vector<LogLine> ReadLog(const std::string& path) {
    std::vector<LogLine> lines;
    for (const std::string& line : TextLines(path)) {
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        if (tab1 == std::string::npos || tab2 == std::string::npos) {
            lines.push_back({line, "", ""});  // malformed: kept so a check can name it
            continue;
        }
        lines.push_back(
            {line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
    }
    return lines;
}

// The texts logged for one control name (a read-out's id name, TITLE or CAPTURE), oldest first.
inline std::vector<std::string> LogTexts(const std::string& path, const std::string& name) {
    std::vector<std::string> texts;
    for (const LogLine& l : ReadLog(path)) {
        if (l.Name == name) texts.push_back(l.Text);
    }
    return texts;
}

}  // namespace qv
