// quorvelle-batch killed outright in a live run: the I/Q file on the disk holds its header and
// whole records only, every record of the periods that had closed.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "files/iq_file.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// The records after the header, each without its CR LF; ADD_FAILURE for anything else.
std::vector<std::string> WholeRecords(const std::string& text) {
    std::vector<std::string> records;
    if (text.compare(0, IqTextHeader().size(), IqTextHeader()) != 0) {
        ADD_FAILURE() << "no header: " << text;
        return records;
    }
    const std::regex record(R"(\d\d:\d\d:\d\d,-?\d*\.\d{7},-?\d*\.\d{7})");
    size_t at = IqTextHeader().size();
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a record cut short: " << text.substr(at);
            break;
        }
        records.push_back(text.substr(at, end - at));
        EXPECT_TRUE(std::regex_match(records.back(), record)) << records.back();
        at = end + 2;
    }
    return records;
}

TEST(BatchKilled, IqFileKeepsTheHeaderAndEveryClosedPeriod) {
    TestFolder folder;
    const std::string iq = folder.Path("iq.txt");
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start({QUORVELLE_BATCH_BIN, "--quiet", "--integration", "1", "--iq-file", iq,
                             "--capture", "--simulate", "600"},
                            {}, folder.Path("out"), folder.Path("err"), error))
        << error;
    // Wait for three one-second periods to close, then kill in the middle of the next.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t seen = 0;
    while (seen < 3 && child.Running() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Lines ended so far, less the header's two (a record being written may show in part).
        const std::string text = FileText(iq);
        size_t lines = 0;
        for (size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + 2)) {
            ++lines;
        }
        seen = lines > 2 ? lines - 2 : 0;
    }
    ASSERT_TRUE(child.Running()) << FileText(folder.Path("err"));
    ASSERT_GE(seen, 3u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    child.Signal(SIGKILL);
    EXPECT_EQ(child.Wait(std::chrono::seconds(10)), -1);

    const std::vector<std::string> records = WholeRecords(FileText(iq));
    EXPECT_GE(records.size(), seen);
    EXPECT_LE(records.size(), seen + 1);
    ASSERT_FALSE(records.empty());
    EXPECT_FALSE(records.back().empty());  // no closing CR LF: the run did not end normally
}

}  // namespace

}  // namespace qv
