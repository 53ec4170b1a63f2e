// Test helper: a CSV file of the batch tool's read as a CSV reader reads it, after the checks
// that keep one from guessing wrong, and its fields as numbers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace qv {

using Rows = std::vector<std::vector<std::string>>;

// The file as a CSV reader sees it, after checking what would make one guess wrong: no CR, no
// quotes, LF after every row, the expected header and `columns` fields in every row.
inline Rows ReadCsv(const std::string& path, const std::vector<std::string>& header) {
    const std::string text = FileText(path);
    EXPECT_EQ(text.find('\r'), std::string::npos) << path;
    EXPECT_EQ(text.find('"'), std::string::npos) << path;
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << path;
    Rows rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (size_t comma; (comma = line.find(',', start)) != std::string::npos;
             start = comma + 1) {
            fields.push_back(line.substr(start, comma - start));
        }
        fields.push_back(line.substr(start));
        EXPECT_EQ(fields.size(), header.size()) << line;
        rows.push_back(fields);
    }
    EXPECT_FALSE(rows.empty()) << path;
    if (rows.empty()) return rows;
    EXPECT_EQ(rows[0], header);
    rows.erase(rows.begin());
    return rows;
}

// A field as strtod reads it, which must take all of it.
inline double Field(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    EXPECT_TRUE(!text.empty() && *end == '\0') << "not a number: \"" << text << "\"";
    return value;
}

}  // namespace qv
