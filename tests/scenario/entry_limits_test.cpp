// Out-of-range entry texts through quorvelle-batch: a huge lock frequency, offset or integration
// time acts as its limit, every read-out and I/Q record stays a plain number, and a doubtful
// lock frequency is one warning line on stderr.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "files/iq_file.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

struct Outputs {
    ToolRun Run;
    std::string Iq, Log;
};

// A simulated run of `seconds` with the entry options given, its I/Q file and read-out log.
Outputs RunWithEntries(const std::string& name, const std::vector<std::string>& entries,
                       int seconds = 12) {
    const std::string iq = testing::TempDir() + name + ".iq.txt";
    const std::string log = testing::TempDir() + name + ".log.tsv";
    std::vector<std::string> args = {"--quiet", "--iq-file", iq, "--log", log};
    args.insert(args.end(), entries.begin(), entries.end());
    args.insert(args.end(), {"--simulate", std::to_string(seconds)});
    Outputs o{RunBatchTool(args), "", ""};
    o.Iq = FileText(iq);
    o.Log = FileText(log);
    return o;
}

// Every read-out and record a plain number where a number stands: no "overflow", "nan", "inf".
void ExpectPlainNumbers(const Outputs& o) {
    for (const char* bad : {"overflow", "nan", "inf"}) {
        EXPECT_EQ(o.Log.find(bad), std::string::npos) << bad << " in the log\n" << o.Log;
        EXPECT_EQ(o.Iq.find(bad), std::string::npos) << bad << " in the I/Q file\n" << o.Iq;
    }
    const std::regex lockReadout(R"(\tLock frequency = -?\d{1,10}\.\d{3}\n)");
    EXPECT_TRUE(std::regex_search(o.Log, lockReadout)) << o.Log;
}

TEST(EntryLimits, HugeEntriesActAsTheirLimitsAndOnlyTheLockFrequencyIsWarned) {
    struct Case {
        std::vector<std::string> Huge, Limit;
        std::string Warning;  // stderr of the huge run
    };
    const std::vector<Case> cases = {
        {{"--lock-freq", "1e400"},
         {"--lock-freq", "1000000000"},
         "quorvelle-batch: warning: lock frequency \"1e400\" is outside 0 to 4000 Hz (half the "
         "sample rate): limited to 1000000000 Hz, the oscillator turns as at 0.000 Hz\n"},
        {{"--lock-freq", "-1e5000"}, {"--lock-freq", "-1e9"}, ""},
        {{"--offset", "1e400"}, {"--offset", "1e9"}, ""},
        {{"--offset", "-1e99999", "--integration", "1"},
         {"--offset", "-1e9", "--integration", "1"},
         ""},
        {{"--integration", "1e4933"}, {"--integration", "268435"}, ""},
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE("case " + std::to_string(k));
        const Outputs huge = RunWithEntries("huge", cases[k].Huge);
        const Outputs limit = RunWithEntries("limit", cases[k].Limit);
        ASSERT_EQ(huge.Run.Status, 0) << huge.Run.Err;
        ASSERT_EQ(limit.Run.Status, 0) << limit.Run.Err;
        EXPECT_EQ(huge.Iq, limit.Iq);
        EXPECT_EQ(huge.Log, limit.Log);
        ExpectPlainNumbers(huge);
        if (!cases[k].Warning.empty()) {
            EXPECT_EQ(huge.Run.Err, cases[k].Warning);
        }
        if (cases[k].Huge[0] == "--lock-freq") {
            EXPECT_NE(huge.Run.Err.find("warning: lock frequency"), std::string::npos);
        } else {
            EXPECT_EQ(huge.Run.Err, "") << "only the lock frequency is warned about";
        }
    }
    // A huge integration time is the limit, not 1 s: no period closes in 12 s.
    const Outputs longPeriods = RunWithEntries("long", {"--integration", "1e4933"});
    EXPECT_EQ(longPeriods.Iq, IqTextHeader() + "\r\n");
}

}  // namespace

}  // namespace qv
