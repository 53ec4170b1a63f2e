// quorvelle-batch over several recordings: every file's outputs the bytes of its run alone, its
// lines together, a line per file at the end, bad files among good ones, and outputs that two
// files would share refused before anything runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

// Every file under `dir` by its path below it, with its bytes; the folder is emptied.
std::map<std::string, std::string> TakeFiles(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        files[fs::relative(entry.path(), dir).generic_string()] = FileText(entry.path().string());
    }
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
    return files;
}

// A run's stdout without the line of its processor time, which differs by nature.
std::string WithoutCpuTime(const std::string& out) {
    return std::regex_replace(out, std::regex("quorvelle-batch: .* of CPU time.*\n"), "");
}

class BatchFiles : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder_.Path("d1"));
        fs::create_directories(folder_.Path("d2"));
        fs::create_directories(out_);
        // Short recordings of cards at other rates of error, two of one name.
        const std::pair<std::string, std::string> recordings[] = {
            {a_, "-20"}, {b_, "15"}, {c_, "3"}, {a2_, "40"}};
        for (const auto& [path, ppm] : recordings) {
            ASSERT_EQ(RunSimulatorTool({"--seconds", "7", "--ppm", ppm, path}).Status, 0);
        }
    }

    TestFolder folder_;
    const std::string a_ = folder_.Path("d1/a.wav"), b_ = folder_.Path("d1/b.wav");
    const std::string c_ = folder_.Path("d2/c.wav"), a2_ = folder_.Path("d2/a.wav");
    const std::string out_ = folder_.Path("out") + "/";
};

// Two good files, a missing one, one that is no recording and one whose log cannot be written,
// two at a time: the good files' outputs and lines are those of their runs alone, the bad ones
// fail alone, and the closing lines say which is which.
TEST_F(BatchFiles, EachFileAsItsOwnRunAndBadFilesFailAlone) {
    // One file's outputs are the paths given, several files' a folder's names for each.
    const std::vector<std::string> common = {"--integration",       "2",     "--log",
                                             out_ + "{name}.tsv",   "--png", "--panels",
                                             out_ + "{name}-panels"};
    std::vector<std::string> one = common, several = common;
    for (const auto& [option, extension] :
         std::vector<std::pair<std::string, std::string>>{{"--iq-file", ".iq.txt"},
                                                          {"--csv", ".csv"},
                                                          {"--iq-csv", ".iq.csv"},
                                                          {"--chart", ".BMP"}}) {
        one.insert(one.end(), {option, out_ + "{name}" + extension});
        several.insert(several.end(), {option, out_});
    }
    std::map<std::string, std::string> alone;
    std::map<std::string, std::string> aloneOut;
    for (const std::string& input : {a_, b_}) {
        std::vector<std::string> args = one;
        args.push_back(input);
        const ToolRun r = RunBatchTool(args);
        ASSERT_EQ(r.Status, 0) << r.Err;
        aloneOut[input] = WithoutCpuTime(r.Out);
        alone.merge(TakeFiles(out_));
    }
    EXPECT_EQ(alone.size(), 2u * 9) << "I/Q file, log, two CSVs, bitmap, its PNG, three panels";

    const std::string missing = folder_.Path("d1/missing.wav"), notes = folder_.Path("notes.wav");
    WriteText(notes, "not a recording\n");
    fs::create_directories(out_ + "c.tsv");  // c's log: a folder is in its place
    std::vector<std::string> args = several;
    args.insert(args.end(), {"-j", "2", a_, missing, b_, notes, c_});
    const ToolRun r = RunBatchTool(args);
    EXPECT_EQ(r.Status, 1) << r.Err;

    fs::remove(out_ + "c.tsv");
    EXPECT_EQ(TakeFiles(out_), alone) << "the same files, byte for byte";
    // Each file's lines whole under its name, as its run alone prints them.
    for (const std::string& input : {a_, b_}) {
        EXPECT_NE(WithoutCpuTime(r.Out).find("== " + input + " ==\n" + aloneOut[input]),
                  std::string::npos)
            << r.Out;
    }
    // Each failure once, with the name of its file.
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 3) << r.Err;
    EXPECT_NE(r.Err.find("quorvelle-batch: " + missing + ": cannot open"), std::string::npos);
    EXPECT_NE(r.Err.find("quorvelle-batch: " + notes + ": "), std::string::npos);
    EXPECT_NE(r.Err.find("quorvelle-batch: " + c_ + ": --log " + out_ + "c.tsv: cannot write"),
              std::string::npos)
        << r.Err;

    // At the end a line per file in the order given: name, status, seconds, key figure.
    const std::string end = r.Out.substr(r.Out.rfind("quorvelle-batch: 5 files in "));
    const std::string name = "  (\\S+) +";
    const std::regex lines(
        "quorvelle-batch: 5 files in \\d+\\.\\d\\d s, 2 at a time: 2 ok, 3 failed\n" + name +
        "ok +\\d+\\.\\d\\d s  card .*\n" + name + "failed .* s  \\2: cannot open.*\n" + name +
        "ok .* s  card .*\n" + name + "failed .* s  \\4: .*\n" + name +
        "failed .* s  --log .*c\\.tsv: cannot write.*\n");
    std::smatch found;
    ASSERT_TRUE(std::regex_match(end, found, lines)) << end;
    EXPECT_EQ(found[1], a_);
    EXPECT_EQ(found[2], missing);
    EXPECT_EQ(found[3], b_);
    EXPECT_EQ(found[4], notes);
    EXPECT_EQ(found[5], c_);
}

// Outputs two files would share, or that are an input: a usage error naming them, before any
// file is read or any output made.
TEST_F(BatchFiles, SharedOutputsAreBadUsageBeforeAnythingRuns) {
    const std::string hint = " (with several files: a folder, or a name with {name})";
    const std::string ax = folder_.Path("d1/ax.wav");
    struct Case {
        std::vector<std::string> Args;
        std::string Line;
    };
    const Case cases[] = {
        // Inputs of one name in two folders.
        {{"--iq-file", out_, a_, b_, a2_},
         "--iq-file " + out_ + "a.iq.txt would be written for both " + a_ + " and " + a2_ + hint},
        {{"--panels", out_, a_, a2_},
         "--panels " + out_ + "a would be written for both " + a_ + " and " + a2_ + hint},
        // A file's name without {name}.
        {{"--log", out_ + "all.tsv", a_, b_},
         "--log " + out_ + "all.tsv would be written for both " + a_ + " and " + b_ + hint},
        // One file's output the other's input, or its own.
        {{"--chart", folder_.Path("d1/{name}x.wav"), a_, ax},
         "--chart " + ax + " of " + a_ + " is the input " + ax},
        {{"--csv", folder_.Path("d1/{name}.wav"), a_, b_},
         a_ + ": --csv " + a_ + " is the input recording"},
        // Pictures named by the stream time alone.
        {{"--save-screen", a_, b_},
         "--save-screen takes one input file: its pictures are named by the stream time alone"},
        {{"-j", "0", a_, b_}, "-j/--jobs: \"0\" is not a whole number from 1 to 1024"},
        {{"--jobs", "2", "--simulate", "3"}, "-j/--jobs is for input files, not for --simulate"},
        {{"--simulate", "3", a_, b_}, "give either an input file or --simulate, not both"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunBatchTool(c.Args);
        EXPECT_EQ(r.Status, 2) << r.Err;
        EXPECT_EQ(r.Err, "quorvelle-batch: " + c.Line + " (see --help)\n");
        EXPECT_EQ(r.Out, "");
    }
    EXPECT_TRUE(fs::is_empty(out_));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Path("d1")), {}), 2);
}

}  // namespace

}  // namespace qv
