// The reference recording: our chain must reproduce an independent implementation's I/Q
// records and read-outs. Its folder is chosen when configuring (QUORVELLE_GOLDEN_DIR); without
// that folder the test is skipped, and says so, rather than passing.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

const std::string kGolden = QUORVELLE_GOLDEN_DIR;

struct Record {
    std::string Time;
    long double I = 0, Q = 0;
};

std::vector<Record> Records(const std::string& path) {
    std::vector<Record> records;
    std::vector<std::string> lines = TextLines(path);
    for (size_t k = 2; k < lines.size(); ++k) {
        const std::string& l = lines[k];
        if (l == "\r") continue;  // the closing empty line
        const size_t a = l.find(','), b = l.find(',', a + 1);
        records.push_back(
            {l.substr(0, a), std::stold(l.substr(a + 1, b - a - 1)), std::stold(l.substr(b + 1))});
    }
    return records;
}

TEST(Golden, CardFiftyPpmFastMatchesTheReference) {
    if (!std::filesystem::is_directory(kGolden)) {
        GTEST_SKIP() << "no reference recording folder " << kGolden
                     << " (configure with -DQUORVELLE_GOLDEN_DIR=FOLDER)";
    }
    // A folder that is there but incomplete is a fault, not a reason to skip.
    const std::string wav = kGolden + "/pps50.wav";
    for (const char* name : {"pps50.wav", "pps50.iq.txt", "pps50.readouts.tsv"}) {
        ASSERT_TRUE(std::filesystem::exists(kGolden + "/" + name)) << kGolden << " has no " << name;
    }
    TestFolder folder;
    const std::string iq = folder.Path("golden.iq.txt");
    const std::string log = folder.Path("golden.readouts.tsv");
    const ToolRun run = RunBatchTool({"--quiet", "--iq-file", iq, "--log", log, wav});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");

    // I/Q records to 1e-6 relative: the sums carry about ten significant digits.
    std::vector<Record> expected = Records(kGolden + "/pps50.iq.txt");
    std::vector<Record> actual = Records(iq);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(actual[k].Time, expected[k].Time) << "record " << k;
        const long double scale = std::hypot(expected[k].I, expected[k].Q);
        EXPECT_LE(std::fabs(actual[k].I - expected[k].I), 1e-6L * scale) << "record " << k;
        EXPECT_LE(std::fabs(actual[k].Q - expected[k].Q), 1e-6L * scale) << "record " << k;
    }

    // Read-outs: every line, time, label and text.
    std::vector<std::string> expectedLog = TextLines(kGolden + "/pps50.readouts.tsv");
    // The STATUS lines (the signal's state) are ours alone; the reference has none.
    std::vector<std::string> actualLog;
    for (const std::string& line : TextLines(log)) {
        if (line.find("\tSTATUS\t") == std::string::npos) actualLog.push_back(line);
    }
    ASSERT_EQ(actualLog.size(), expectedLog.size());
    for (size_t k = 0; k < expectedLog.size(); ++k) {
        EXPECT_EQ(actualLog[k], expectedLog[k]) << "read-out line " << k + 1;
    }
}

}  // namespace

}  // namespace qv
