// quorvelle-batch ended by stop signals: SIGINT, SIGTERM and SIGHUP, alone or back to back,
// during the run, during its close-time work or while it exits, end it once, with exit status 0,
// its summary and every output complete; live capture (of the simulator, at real-time pace) and
// runs over the simulator alike. Only SIGKILL may end a run without its close-time work. And no
// FIFO or device among its files holds a run: refused at once, never waited for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "files/iq_file.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

constexpr uintmax_t kChartBytes = 783414;  // 768 x 340 pixels, 24-bit, with its headers

// Whether process `pid` waits in a write to a full pipe: its wait channel says so or, where
// the kernel hides that, the system call it is in.
bool BlockedWritingAPipe(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    const std::string wchan = FileText(proc + "/wchan");
    if (wchan.find("pipe_write") != std::string::npos) return true;
    if (!wchan.empty() && wchan != "0") return false;
    return FileText(proc + "/syscall").rfind(std::to_string(SYS_write) + " ", 0) == 0;
}

// A named pipe that this test holds open at both ends and keeps full: a program that writes
// to it waits, for as long as the test wants, until the test reads. Given as an output file,
// it holds the program at that write: deterministically inside its close-time work.
class FullPipe {
public:
    ~FullPipe() {
        if (fd_ >= 0) close(fd_);
    }

    bool Open(const std::string& path, std::string& error) {
        path_ = path;
        if (mkfifo(path.c_str(), 0644) != 0 ||
            (fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK)) < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        fcntl(fd_, F_SETPIPE_SZ, 4096);  // the smallest: quicker to fill
        const char byte = '#';
        while (write(fd_, &byte, 1) == 1) ++filler_;
        return true;
    }

    // Takes what the program has written so far.
    void Drain() {
        char bytes[65536];
        for (ssize_t n; (n = read(fd_, bytes, sizeof bytes)) > 0;) {
            read_.append(bytes, static_cast<size_t>(n));
        }
    }
    // What the program wrote, the filler taken off.
    std::string Written() const { return read_.size() > filler_ ? read_.substr(filler_) : ""; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    size_t filler_ = 0;
    std::string read_;
};

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The outputs every stopped run must leave whole: the I/Q text `iq` (header, records, the
// closing CR LF), the chart bitmap of `chartBytes` bytes and the three panels.
void ExpectCompleteOutputs(const TestFolder& folder, const std::string& iq, uintmax_t chartBytes) {
    ASSERT_EQ(iq.compare(0, IqTextHeader().size(), IqTextHeader()), 0) << iq;
    const std::regex records(R"((\d\d:\d\d:\d\d,-?\d*\.\d{7},-?\d*\.\d{7}\r\n)*\r\n)");
    EXPECT_TRUE(std::regex_match(iq.substr(IqTextHeader().size()), records)) << iq;
    EXPECT_EQ(chartBytes, kChartBytes);
    for (const char* panel : {"scope.png", "iq.png", "chart.png"}) {
        EXPECT_GT(std::filesystem::file_size(folder.Path("panels/") + panel), 0u) << panel;
    }
}

// A run with the chart, which is written only at the end, on a full pipe: SIGHUP alone ends
// it; while its close-time work waits to write the chart, the signals `later` arrive; then the
// pipe is read. The run must end once, with status 0, naming SIGHUP, its outputs complete.
void StopDuringTheCloseTimeWork(const std::vector<std::string>& input,
                                const std::vector<int>& later, const std::string& says) {
    TestFolder folder;
    FullPipe chart;
    std::string error;
    ASSERT_TRUE(chart.Open(folder.Path("chart.fifo"), error)) << error;
    const std::string log = folder.Path("log.tsv"), iq = folder.Path("iq.txt");
    std::vector<std::string> argv = {
        QUORVELLE_BATCH_BIN, "--integration", "1",        "--iq-file",          iq, "--log", log,
        "--chart",           chart.Path(),    "--panels", folder.Path("panels")};
    argv.insert(argv.end(), input.begin(), input.end());
    ChildProcess batch;
    const std::string errPath = folder.Path("err");
    ASSERT_TRUE(batch.Start(argv, {}, folder.Path("out"), errPath, error)) << error;

    // Once the run is going (read-outs in the log), or already waiting for the pipe.
    ASSERT_TRUE(WaitWhileRunning(
        batch, [&] { return !FileText(log).empty() || BlockedWritingAPipe(batch.Pid()); }, 60s))
        << FileText(errPath);
    batch.Signal(SIGHUP);
    ASSERT_TRUE(WaitWhileRunning(
        batch, [&] { return BlockedWritingAPipe(batch.Pid()); }, 60s))
        << "the run did not come to write the chart\n"
        << FileText(errPath);
    for (int s : later) {
        batch.Signal(s);
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(batch.Running()) << "a stop signal in the close-time work ended the run\n"
                                 << FileText(errPath);

    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    while (batch.Running() && std::chrono::steady_clock::now() < giveUp) {
        chart.Drain();
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(batch.Wait(1s), 0) << FileText(errPath);
    chart.Drain();

    const std::string err = FileText(errPath);
    EXPECT_EQ(Count(err, " ended"), 1) << err;
    EXPECT_NE(err.find("quorvelle-batch: SIGHUP: " + says), std::string::npos) << err;
    ASSERT_NO_FATAL_FAILURE(ExpectCompleteOutputs(folder, FileText(iq), chart.Written().size()));
    const std::string logText = FileText(log);
    EXPECT_EQ(logText.back(), '\n') << "the read-out log ends in a whole line";
    EXPECT_NE(FileText(folder.Path("out")).find("I/Q file: " + iq), std::string::npos);
}

}  // namespace

// A storm of stop signals, on through the close-time work and the exit, changes nothing after
// the first: 40 runs over the simulator and 12 live captures end with status 0, once, with
// their summary and the list of their files.
TEST(BatchStop, AStormOfStopSignalsEndsEveryRunOnceWithItsSummary) {
    const std::vector<std::string> run = {QUORVELLE_BATCH_BIN, "--integration", "1", "--iq-file",
                                          "RUN/iq.txt"};
    std::vector<std::string> simulated = run, live = run;
    simulated.insert(simulated.end(), {"--simulate", "86400"});
    live.insert(live.end(), {"--capture", "--simulate", "600"});
    StormOfStopSignals(simulated, {}, 40, 8, {" run ended after ", "summary: ", "\nI/Q file: "});
    StormOfStopSignals(live, {}, 12, 12, {": capture ended\n", "summary: ", "\nI/Q file: "});
}

// A FIFO or a device as the input, or a FIFO that no program reads as an output, is one line
// and exit status 1 within the time limit: no open or read waits for another program. (A FIFO
// that a program reads is written as it reads: the chart above.)
TEST(BatchStop, FifosAndDevicesAreRefusedAtOnceAndHoldNoRun) {
    TestFolder folder;
    const std::string fifo = folder.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0) << std::strerror(errno);
    const std::string notAFile = fifo + ": cannot open: a FIFO, not a regular file\n";
    const std::string noReader = fifo + ": cannot write: a FIFO that no program reads\n";
    for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{QUORVELLE_BATCH_BIN, fifo}, "quorvelle-batch: " + notAFile},
             {{QUORVELLE_BATCH_BIN, "/dev/zero"},
              "quorvelle-batch: /dev/zero: cannot open: a character device, not a regular file\n"},
             {{QUORVELLE_BATCH_BIN, "--capture", "--play", fifo}, "quorvelle-batch: " + notAFile},
             {{QUORVELLE_BATCH_BIN, "--log", fifo, "--simulate", "2"},
              "quorvelle-batch: --log " + noReader},
             {{QUORVELLE_BATCH_BIN, "--csv", fifo, "--capture", "--simulate", "2"},
              "quorvelle-batch: --csv " + noReader},
             {{QUORVELLE_REPORT_BIN, "--output", folder.Path("r.png"), fifo},
              "quorvelle-report: " + notAFile},
         }) {
        const ToolRun r = RunProgram(args, {}, folder.Path("out"), folder.Path("err"), 10s);
        EXPECT_EQ(r.Status, 1) << says;
        EXPECT_EQ(r.Err, says);
    }
}

// Several files, two at a time: a stop request ends both runs, each with its outputs whole and
// its lines, and starts no other; the file never started makes the status 1.
TEST(BatchStop, AStopEndsEveryFileRunningAndStartsNoOther) {
    TestFolder folder;
    const std::string golden = std::string(QUORVELLE_GOLDEN_DIR) + "/pps50.wav";
    if (!std::filesystem::exists(golden)) GTEST_SKIP() << "no " << golden;
    std::vector<std::string> argv = {QUORVELLE_BATCH_BIN,
                                     "-j",
                                     "2",
                                     "--integration",
                                     "1",
                                     "--iq-file",
                                     folder.Path("{name}.iq.txt"),
                                     "--log",
                                     folder.Path("{name}.tsv")};
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        std::filesystem::create_symlink(golden, folder.Path(name));
        argv.push_back(folder.Path(name));
    }
    ChildProcess batch;
    std::string error;
    const std::string errPath = folder.Path("err");
    ASSERT_TRUE(batch.Start(argv, {}, folder.Path("out"), errPath, error)) << error;
    ASSERT_TRUE(WaitWhileRunning(
        batch, [&] { return !FileText(folder.Path("b.tsv")).empty(); }, 60s))
        << FileText(errPath);
    for (int s : {SIGINT, SIGTERM, SIGINT}) batch.Signal(s);
    EXPECT_EQ(batch.Wait(60s), 1) << FileText(errPath);

    const std::string err = FileText(errPath), out = FileText(folder.Path("out"));
    for (const char* name : {"a", "b"}) {
        const std::string input = folder.Path(std::string(name) + ".wav");
        EXPECT_EQ(Count(err, "quorvelle-batch: " + input + ": SIGINT: run ended after "), 1) << err;
        EXPECT_EQ(Count(out, "== " + input + " ==\n"), 1) << out;
        const std::string iq = FileText(folder.Path(std::string(name) + ".iq.txt"));
        EXPECT_TRUE(iq.ends_with("\r\n\r\n")) << name << ": " << iq;
        EXPECT_EQ(FileText(folder.Path(std::string(name) + ".tsv")).back(), '\n');
    }
    EXPECT_NE(err.find("quorvelle-batch: SIGINT: 1 of 3 files not started\n"), std::string::npos)
        << err;
    EXPECT_EQ(Count(out, "\nsummary: "), 2) << out;
    EXPECT_NE(out.find(": 2 stopped, 1 not run\n"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(folder.Path("c.tsv")));
}

TEST(BatchStop, StopSignalsDuringTheCloseTimeWorkOfACaptureChangeNothing) {
    StopDuringTheCloseTimeWork({"--capture", "--simulate", "600"},
                               {SIGTERM, SIGINT, SIGHUP, SIGTERM, SIGINT, SIGHUP}, "capture ended");
}

TEST(BatchStop, SighupAloneEndsARunOverTheSimulatorWithWhatItProcessed) {
    // A simulated day: far more than the test waits for, so the signal comes in the middle.
    StopDuringTheCloseTimeWork({"--quiet", "--simulate", "86400"}, {}, "run ended after ");
}

// Signals back to back, as `timeout` sends them to a process and its group: all three held
// while the process is stopped, then delivered at once. One close-time work, status 0, the
// recording holding exactly the frames processed, the log ending with the capture summary.
TEST(BatchStop, SignalsBackToBackEndALiveCaptureOnce) {
    TestFolder folder;
    const std::string log = folder.Path("log.tsv"), rec = folder.Path("rec.wav");
    const std::string iq = folder.Path("iq.txt"), errPath = folder.Path("err");
    ChildProcess batch;
    std::string error;
    ASSERT_TRUE(batch.Start({QUORVELLE_BATCH_BIN, "--integration", "1", "--iq-file", iq, "--log",
                             log, "--record", rec, "--chart", folder.Path("chart.bmp"), "--panels",
                             folder.Path("panels"), "--capture", "--simulate", "600"},
                            {}, folder.Path("out"), errPath, error))
        << error;
    ASSERT_TRUE(WaitWhileRunning(
        batch, [&] { return LogTexts(log, "IDFREQERROR").size() >= 3; }, 60s))
        << FileText(errPath);

    batch.Signal(SIGSTOP);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) batch.Signal(s);
    batch.Signal(SIGCONT);
    ASSERT_EQ(batch.Wait(30s), 0) << FileText(errPath);

    // Pending signals are delivered lowest number first: SIGHUP (1) is the one that ended it.
    const std::string err = FileText(errPath);
    EXPECT_EQ(Count(err, "capture ended"), 1) << err;
    EXPECT_NE(err.find("quorvelle-batch: SIGHUP: capture ended"), std::string::npos) << err;
    ASSERT_NO_FATAL_FAILURE(ExpectCompleteOutputs(
        folder, FileText(iq), std::filesystem::file_size(folder.Path("chart.bmp"))));
    EXPECT_GE(TextLines(iq).size(), 2u + 2 + 1) << FileText(iq);
    const std::vector<LogLine> lines = ReadLog(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().Name, "CAPTURE");
    const std::string summary = lines.back().Text;
    ASSERT_EQ(summary.rfind("capture ended: ", 0), 0u) << summary;
    const size_t processed = std::stoul(summary.substr(std::string("capture ended: ").size()));
    EXPECT_GE(processed, 2u * kFramesPerSecond);
    EXPECT_EQ(ReadWavFile(rec).size(), processed);
}

}  // namespace qv
