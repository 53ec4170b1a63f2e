// Rows held while a file cannot take them, as quorvelle-batch's I/Q file holds its records: each
// reaches the file whole or not at all, in order and once; the failure, the bound passed and
// the resumption are each one line; the records held stay within the bound, the oldest given
// up and counted.
#include "files/held_rows.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "files/iq_file.h"
#include "tests/test_files.h"
#include "tools/batch_run.h"

namespace qv {

namespace {

// Mid-run: the header and two records fit, four more wait beyond a bound of 100 bytes (two
// records and a bit), and the room comes back. At the end: the first header line fits, the
// second is cut off again, and the room comes back only at the finish.
TEST(HeldRows, TheIqFileTakesTheRecordsItMissedInOrderWithinTheBound) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    TestFolder folder;
    for (const bool roomMidRun : {true, false}) {
        const std::string path = folder.Path(roomMidRun ? "mid.txt" : "end.txt");
        std::ostringstream err;
        IqOutput iq(err);
        if (roomMidRun) iq.Held().MostBytes = 100;
        std::string text = IqTextHeader(), expected = text;
        auto append = [&](int k) {
            text += IqRecord("00:00:0" + std::to_string(k), 1000 + k, 2000 + k);  // 36 bytes
            if (!roomMidRun || k < 2 || k > 3) expected += text.substr(text.size() - 36);
            return iq.Append(text.substr(text.size() - 36));
        };
        const std::string failure = path + ": cannot write: File too large";
        {
            FileSizeLimit full(roomMidRun ? IqTextHeader().size() + 2 * 36 + 10 : 40);
            EXPECT_EQ(iq.Create(path), roomMidRun);
            for (int k = 0; k < 6; ++k) append(k);
            EXPECT_EQ(FileText(path), roomMidRun ? expected.substr(0, IqTextHeader().size() + 72)
                                                 : text.substr(0, 29));
        }
        std::string lines = "quorvelle-batch: " + failure + " (the run goes on)\n";
        if (roomMidRun) {
            EXPECT_FALSE(append(6));
            const std::string resumed = path + ": written again; 2 records held meanwhile are in " +
                                        "it now; 2 records given up (more than 100 bytes held)";
            EXPECT_EQ(iq.LogText(), "I/Q file " + resumed);
            lines += "quorvelle-batch: " + path + ": more than 100 bytes of records held: the " +
                     "oldest are given up (the run goes on)\nquorvelle-batch: " + resumed + "\n";
        } else {
            lines += "quorvelle-batch: " + path + ": written whole at the end\n";
        }
        EXPECT_EQ(iq.Finish(), !roomMidRun) << "false: records are missing";
        EXPECT_TRUE(iq.Written());
        EXPECT_EQ(FileText(path), expected + "\r\n");
        EXPECT_EQ(err.str(), lines);
    }
#endif
}

}  // namespace

}  // namespace qv
