// The Windows batch tool and simulator against their Linux builds: the same recordings and
// options give the same bytes in every file (I/Q file, read-out log, CSV files, bitmaps, WAV),
// the same pixels in every PNG, the same summary, and for bad input the same exit status and
// the same one-line message.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

const std::string kLinuxBatch = QUORVELLE_BATCH_BIN;
const std::string kLinuxSim = QUORVELLE_SIM_BIN;
const std::string kGoldenWav = std::string(QUORVELLE_GOLDEN_DIR) + "/pps50.wav";

// The pixels of a PNG file as 8-bit RGB, decoded by ImageMagick: PNG encoders may differ in
// their compressed bytes, never in the picture.
std::string PngPixels(const TestFolder& folder, const std::string& png) {
    const std::string rgb = folder.Path("pixels.rgb");
    const ToolRun r =
        RunProgram({"convert", png, "-depth", "8", "rgb:" + rgb}, {}, folder.Path("convert.out"),
                   folder.Path("convert.err"), std::chrono::seconds(60));
    EXPECT_EQ(r.Status, 0) << png << ": " << r.Err;
    return FileText(rgb);
}

// Console output as the other system would show it: CR LF line ends (Windows' console text)
// as LF, the run's own folder as "@", and without the line that reports the processor time,
// which differs by nature.
std::string Comparable(const std::string& out, const std::string& folder) {
    std::string kept;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        end = end == std::string::npos ? out.size() : end + 1;
        std::string line = out.substr(start, end - start);
        start = end;
        if (line.find(" of CPU time (") != std::string::npos) continue;
        if (line.ends_with("\r\n")) line.erase(line.size() - 2, 1);
        for (size_t at = line.find(folder); at != std::string::npos; at = line.find(folder, at)) {
            line.replace(at, folder.size(), "@");
        }
        kept += line;
    }
    return kept;
}

// Runs both batch tools with `options` (where "@" stands for each run's own output folder)
// and expects every file they write to be the same, PNGs by their pixels.
void ExpectSameOutputs(const TestFolder& folder, const std::string& name,
                       const std::vector<std::string>& options) {
    const std::string linuxDir = folder.Path(name + "-linux"),
                      windowsDir = folder.Path(name + "-windows");
    std::filesystem::create_directories(linuxDir);
    std::filesystem::create_directories(windowsDir);
    auto argsFor = [&](const std::string& dir) {
        std::vector<std::string> args;
        for (const std::string& o : options) {
            args.push_back(o.starts_with("@") ? dir + o.substr(1) : o);
        }
        return args;
    };
    const ToolRun linux = RunLinuxProgram(folder, kLinuxBatch, argsFor(linuxDir));
    const ToolRun windows = RunWindowsProgram(folder, "quorvelle-batch.exe", argsFor(windowsDir));
    ASSERT_EQ(linux.Status, 0) << linux.Err;
    ASSERT_EQ(windows.Status, 0) << windows.Err;
    EXPECT_EQ(Comparable(windows.Out, windowsDir), Comparable(linux.Out, linuxDir));
    EXPECT_EQ(Comparable(windows.Err, windowsDir), Comparable(linux.Err, linuxDir));

    size_t compared = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(linuxDir)) {
        if (!entry.is_regular_file()) continue;
        const std::filesystem::path relative = std::filesystem::relative(entry.path(), linuxDir);
        const std::string twin = (std::filesystem::path(windowsDir) / relative).string();
        ASSERT_TRUE(std::filesystem::exists(twin)) << name << ": Windows wrote no " << relative;
        if (relative.extension() == ".png") {
            EXPECT_EQ(PngPixels(folder, twin), PngPixels(folder, entry.path().string()))
                << name << ": " << relative << " differs in its pixels";
        } else {
            EXPECT_TRUE(FileText(twin) == FileText(entry.path().string()))
                << name << ": " << relative << " differs";
        }
        ++compared;
    }
    size_t windowsFiles = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(windowsDir)) {
        windowsFiles += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(windowsFiles, compared) << name << ": Windows wrote other files";
    EXPECT_GE(compared, 2u) << name;
}

// Each build's quorvelle-sim writes `linuxName` / `windowsName` with `options`: the same bytes
// (`what` names them in the message).
void ExpectSameSimulatedWav(const TestFolder& folder, std::vector<std::string> options,
                            const std::string& linuxName, const std::string& windowsName,
                            const std::string& what) {
    std::vector<std::string> windowsRun = options;
    options.push_back(folder.Path(linuxName));
    windowsRun.push_back(folder.Path(windowsName));
    ASSERT_EQ(RunLinuxProgram(folder, kLinuxSim, options).Status, 0);
    const ToolRun sim = RunWindowsProgram(folder, "quorvelle-sim.exe", windowsRun);
    ASSERT_EQ(sim.Status, 0) << sim.Err;
    EXPECT_TRUE(FileText(folder.Path(windowsName)) == FileText(folder.Path(linuxName)))
        << "the " << what << " differ";
}

class WindowsBatch : public testing::Test {
protected:
    void SetUp() override {
        for (const char* exe : {"quorvelle-batch.exe", "quorvelle-sim.exe"}) {
            const std::string why = WineUnavailable(exe);
            ASSERT_EQ(why, "") << why;
        }
    }
    TestFolder folder_;
};

TEST_F(WindowsBatch, SameFilesAsLinuxForTheReferenceAndSimulatedSignals) {
    const std::vector<std::string> every = {
        "--quiet",     "--iq-file",     "@/iq.txt", "--log",         "@/readouts.tsv",
        "--csv",       "@/seconds.csv", "--iq-csv", "@/periods.csv", "--chart",
        "@/chart.bmp", "--png",         "--panels", "@/panels"};
    if (std::filesystem::exists(kGoldenWav)) {
        std::vector<std::string> golden = every;
        golden.push_back(kGoldenWav);
        ExpectSameOutputs(folder_, "golden", golden);
    }

    // Recordings made by each simulator: the same WAV bytes.
    ASSERT_NO_FATAL_FAILURE(ExpectSameSimulatedWav(
        folder_, {"--seconds", "150", "--ppm", "-61", "--invert-pps", "--carrier-offset-hz", "0.3"},
        "linux.wav", "windows.wav", "simulated recordings"));

    // The card model, computed with the project's own exponential, logarithm and sine (the
    // minimum-phase filter through its cepstrum): the same WAV bytes too; resampled to 8000,
    // and at the card's own rate (its filter, the band-limited radio noise, a drifting clock).
    ASSERT_NO_FATAL_FAILURE(ExpectSameSimulatedWav(
        folder_,
        {"--seconds", "20", "--ppm", "43.2", "--pps-width-ms", "1", "--pps-ac-hz", "20",
         "--card-rate", "44100", "--card-filter", "minimum", "--pps-noise", "0.001", "--pps-hum",
         "0.01", "--dither", "--pps-jitter", "5e-8"},
        "linux-card.wav", "windows-card.wav", "card model's recordings"));
    ASSERT_NO_FATAL_FAILURE(ExpectSameSimulatedWav(
        folder_,
        {"--seconds", "6", "--rate", "44100", "--ppm", "-31.5", "--drift-ppm-per-hour", "20",
         "--pps-width-ms", "100", "--pps-ac-hz", "0.5", "--pps-jitter", "5e-8", "--card-filter",
         "minimum", "--dither"},
        "linux-44100.wav", "windows-44100.wav", "recordings at 44100"));

    std::vector<std::string> inverted = every;
    for (const char* o : {"--invert", "--no-blank", "--offset", "0.3", "--click-position", "25",
                          "--integration", "1", "--start-time", "23:59:30"}) {
        inverted.push_back(o);
    }
    inverted.push_back(folder_.Path("linux.wav"));
    ExpectSameOutputs(folder_, "inverted", inverted);

    // The same signal as 24-bit and as floating-point samples: the same conversions to 16 bits.
    for (const char* format : {"24", "float"}) {
        const std::string converted = folder_.Path(std::string("linux-") + format + ".wav");
        const std::vector<std::string> encoding =
            format == std::string("24")
                ? std::vector<std::string>{"-b", "24"}
                : std::vector<std::string>{"-e", "floating-point", "-b", "32"};
        std::vector<std::string> sox = {"sox", folder_.Path("linux.wav")};
        sox.insert(sox.end(), encoding.begin(), encoding.end());
        sox.push_back(converted);
        ASSERT_EQ(RunProgram(sox, {}, folder_.Path("sox.out"), folder_.Path("sox.err"),
                             std::chrono::seconds(60))
                      .Status,
                  0)
            << FileText(folder_.Path("sox.err"));
        ExpectSameOutputs(folder_, format,
                          {"--quiet", "--iq-file", "@/iq.txt", "--log", "@/readouts.tsv", "--csv",
                           "@/seconds.csv", converted});
    }

    // The same signal at a card's rate, 48000 and 44100 frames per second: the rate converter
    // and the fine timing at the card's rate give the same bytes too.
    for (const char* rate : {"48000", "44100"}) {
        const std::string card = folder_.Path(std::string("card-") + rate + ".wav");
        ASSERT_EQ(RunProgram({"sox", "-D", "-R", folder_.Path("linux.wav"), card, "trim", "0", "30",
                              "rate", "-v", rate, "dither"},
                             {}, folder_.Path("sox.out"), folder_.Path("sox.err"),
                             std::chrono::seconds(60))
                      .Status,
                  0)
            << FileText(folder_.Path("sox.err"));
        ExpectSameOutputs(
            folder_, std::string("card-") + rate,
            {"--iq-file", "@/iq.txt", "--log", "@/readouts.tsv", "--csv", "@/seconds.csv",
             "--iq-csv", "@/periods.csv", "--integration", "1", card});
    }

    // The built-in simulator inside the batch tool, with automatic chart captures.
    std::vector<std::string> simulated = {
        "--quiet",       "--iq-file",     "@/iq.txt", "--log",       "@/readouts.tsv", "--csv",
        "@/seconds.csv", "--integration", "0.5",      "--lock-freq", "1234.5"};
    for (const char* o : {"--simulate", "200", "--ppm", "123", "--lock-freq", "1234.5"}) {
        simulated.push_back(o);
    }
    ExpectSameOutputs(folder_, "simulated", simulated);

    // What a real card and GPS receiver add: jitter drawn with a logarithm and a cosine, frame
    // times from the card's wander (a sine): the same outputs of the chain.
    std::vector<std::string> card = {"--quiet",        "--iq-file", "@/iq.txt",     "--log",
                                     "@/readouts.tsv", "--csv",     "@/seconds.csv"};
    for (const char* o :
         {"--simulate", "120", "--ppm", "-23", "--pps-jitter", "3e-6", "--drift-ppm-per-hour", "40",
          "--wander-ppm", "15", "--wander-period", "37", "--seed", "11"}) {
        card.push_back(o);
    }
    ExpectSameOutputs(folder_, "card", card);
}

// Folder and file names beyond ASCII (UTF-8 on Linux; the programs' manifest makes them UTF-8
// for Windows' narrow file functions too): read and written as on Linux.
TEST_F(WindowsBatch, PathsWithAnyLettersWork) {
    const std::string folder = folder_.Path("M\u00e4tning \u00f8 \u65e5");
    std::filesystem::create_directories(folder);
    const std::string wav = folder + "/s\u00e9ance.wav";
    const ToolRun sim = RunWindowsProgram(folder_, "quorvelle-sim.exe", {"--seconds", "8", wav});
    ASSERT_EQ(sim.Status, 0) << sim.Err;
    ASSERT_TRUE(std::filesystem::exists(wav));
    ExpectSameOutputs(folder_, "\u00fc",
                      {"--quiet", "--iq-file", "@/\u00e9t\u00e9.txt", "--log", "@/\u65e5.tsv",
                       "--integration", "1", wav});
    const ToolRun missing =
        RunWindowsProgram(folder_, "quorvelle-batch.exe", {folder + "/\u00e5.wav"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find(folder + "/\u00e5.wav: "), std::string::npos) << missing.Err;
}

// Several files on the Windows program's threads: each file's outputs the bytes of the Linux
// program's run of it alone, and a line per file at the end.
TEST_F(WindowsBatch, SeveralFilesAtATimeGiveTheBytesOfLinuxRunsOfEachAlone) {
    const std::string linuxDir = folder_.Path("linux"), windowsDir = folder_.Path("windows");
    std::filesystem::create_directories(linuxDir);
    std::filesystem::create_directories(windowsDir);
    std::vector<std::string> inputs;
    for (const char* ppm : {"-12", "31"}) {
        inputs.push_back(folder_.Path(std::string("rec") + ppm + ".wav"));
        ASSERT_EQ(
            RunLinuxProgram(folder_, kLinuxSim, {"--seconds", "20", "--ppm", ppm, inputs.back()})
                .Status,
            0);
        const ToolRun alone = RunLinuxProgram(folder_, kLinuxBatch,
                                              {"--quiet", "--iq-file", linuxDir + "/{name}.iq.txt",
                                               "--log", linuxDir + "/{name}.readouts.tsv",
                                               "--chart", linuxDir + "/{name}.BMP", inputs.back()});
        ASSERT_EQ(alone.Status, 0) << alone.Err;
    }
    std::vector<std::string> args = {"-j",        "2",
                                     "--iq-file", windowsDir + "/",
                                     "--log",     windowsDir + "/",
                                     "--chart",   windowsDir + "/"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const ToolRun windows = RunWindowsProgram(folder_, "quorvelle-batch.exe", args);
    ASSERT_EQ(windows.Status, 0) << windows.Err;
    EXPECT_TRUE(std::regex_search(
        Lf(windows.Out),
        std::regex("2 files in .*: 2 ok\n  .*rec-12\\.wav +ok .*\n  .*rec31\\.wav +ok ")))
        << windows.Out;
    size_t compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(linuxDir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(FileText(windowsDir + "/" + name) == FileText(entry.path().string())) << name;
        ++compared;
    }
    EXPECT_EQ(compared, 6u);
}

// Bad input and unwritable outputs: the same exit status and message from both builds (the
// paths are the same text for both; Wine maps them to the same files).
TEST_F(WindowsBatch, SameRefusalsAsLinux) {
    WriteText(folder_.Path("not-a-wav.wav"), std::string("RIFF\x10\0\0\0WAVEjunkjunkjunk", 20));
    WriteText(folder_.Path("text.wav"), "just some words, no header at all\n");
    std::filesystem::create_directories(folder_.Path("folder.wav"));
    ASSERT_EQ(
        RunLinuxProgram(folder_, kLinuxSim, {"--seconds", "2", "--", folder_.Path("short.wav")})
            .Status,
        0);
    const std::string good = folder_.Path("short.wav");
    // A rate that is not a card's: refused with the list and a conversion command.
    ASSERT_EQ(RunProgram({"sox", good, "-r", "50000", folder_.Path("odd-rate.wav")}, {},
                         folder_.Path("sox.out"), folder_.Path("sox.err"), std::chrono::seconds(60))
                  .Status,
              0);
    const std::vector<std::vector<std::string>> cases = {
        {folder_.Path("missing.wav")},
        {folder_.Path("not-a-wav.wav")},
        {folder_.Path("text.wav")},
        {folder_.Path("folder.wav")},
        {folder_.Path("odd-rate.wav")},
        {"--integration"},
        {"--bogus", good},
        {"--click-position", "8000", good},
        {"--start-time", "25:00:00", good},
        {"--iq-file", good, good},
        {"--iq-file", folder_.Path("no/such/folder/iq.txt"), good},
        {"--log", folder_.Dir(), good},
        // Several files: one that fails among good ones, and an output two would share.
        {"--quiet", "-j", "1", good, folder_.Path("missing.wav")},
        {"--iq-file", folder_.Path("iq.txt"), good, folder_.Path("text.wav")},
        {"--simulate", "--ppm"},
        {"--seconds", "-1", "--capture"},
        {},
    };
    for (const std::vector<std::string>& args : cases) {
        std::string shown;
        for (const std::string& a : args) shown += " " + a;
        const ToolRun linux = RunLinuxProgram(folder_, kLinuxBatch, args);
        const ToolRun windows = RunWindowsProgram(folder_, "quorvelle-batch.exe", args);
        EXPECT_NE(linux.Status, 0) << shown;
        EXPECT_EQ(windows.Status, linux.Status) << shown << "\n" << windows.Err;
        EXPECT_EQ(Comparable(windows.Err, "//"), linux.Err) << shown;
    }
}

}  // namespace

}  // namespace qv
