// The fine PPS columns of the --csv file through a whole simulated batch run: the simulated
// truth, read as a CSV reader reads them.
#include "capture/csv_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/live_chain.h"
#include "common/time_of_day.h"
#include "tests/chain_fixture.h"
#include "tests/csv_rows.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// The fine PPS columns end to end through quorvelle-batch --csv, ten minutes of a card 37 ppm
// fast: each second's edge where the simulator put it (device frame (second - 0.3172 s) x
// 8000.296) and before the second's end, the fit's frequency within 0.01 ppm once it has five
// edges, residuals far below a microsecond; empty where there is nothing to say.
TEST(CsvFiles, FinePpsColumnsThroughTheBatchToolHoldTheSimulatedTruth) {
    TestFolder folder;
    const std::string csv = folder.Path("seconds.csv");
    const ToolRun r = RunBatchTool({"--quiet", "--csv", csv, "--simulate", "600", "--ppm", "37"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const Rows rows = ReadCsv(csv, kSecondColumns);
    ASSERT_EQ(kSecondColumns.size(), 15u);
    EXPECT_EQ(kSecondColumns[10], "pps_edge_frame");
    EXPECT_EQ(kSecondColumns[11], "card_ppm_fine");
    EXPECT_EQ(kSecondColumns[12], "pps_residual_us");
    EXPECT_EQ(kSecondColumns[13], "pps_series");
    EXPECT_EQ(kSecondColumns[14], "pps_slip_frames");
    const long double rate = 8000 * (1 + 37e-6L);  // [frames per GPS second]
    int edges = 0, fitted = 0;
    double squares = 0;
    for (const std::vector<std::string>& row : rows) {
        if (row[10].empty()) {
            EXPECT_EQ(row[12], "") << "no residual without an edge, at " << row[1];
            EXPECT_EQ(row[13] + row[14], "") << "no series without an edge, at " << row[1];
            continue;
        }
        ++edges;
        EXPECT_EQ(row[13], "1") << "one series: the simulator's pulse by the model, at " << row[1];
        EXPECT_EQ(row[14], "0") << "no sample slip, at " << row[1];
        const long double frame = std::strtold(row[10].c_str(), nullptr);
        const long double second = std::floor(0.3172L + frame / rate + 0.5L);
        EXPECT_LT(std::fabs(frame - (second - 0.3172L) * rate), 0.005L) << row[10];
        const long double end = std::strtold(row[1].c_str(), nullptr) * 8000;  // [frames]
        EXPECT_TRUE(frame < end && frame > end - rate) << row[1] << " " << row[10];
        EXPECT_EQ(row[11].empty(), row[12].empty()) << row[1];
        if (row[11].empty()) continue;
        ++fitted;
        EXPECT_NEAR(Field(row[11]), 37, 0.01) << row[1];
        squares += Field(row[12]) * Field(row[12]);
    }
    EXPECT_GE(edges, 597);
    // The series' first edge, said only once the second confirms it, is the fit's first point.
    EXPECT_EQ(fitted, edges - (kPpsFineFitMinEdges - 2));
    EXPECT_LT(std::sqrt(squares / fitted), 1.0) << "[us]";
}

}  // namespace

}  // namespace qv
