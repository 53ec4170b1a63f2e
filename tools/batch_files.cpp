// quorvelle-batch over a list of recordings: output names, the shared-output check and the run
// of the files on threads.
//
// Threads rather than child processes: one program on both systems, and the chain keeps no state
// outside its Measurement; what is shared (the label font, loaded once and drawn under its lock;
// the stop requests, one atomic every run polls) is made for it. Each file writes only to its own
// string streams until it ends, so no two files' lines mix.
#include "tools/batch_files.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/os.h"
#include "files/output_check.h"

namespace qv {

namespace {

constexpr const char* kProgram = "quorvelle-batch: ";

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// `name` in `folder`, joined with '/' unless the folder ends in a separator.
std::string InFolder(const std::string& folder, const std::string& name) {
    return IsSeparator(folder.back()) ? folder + name : folder + "/" + name;
}

std::string ReplaceNameMark(std::string path, const std::string& name) {
    const std::string mark = kNameMark;
    for (size_t at = path.find(mark); at != std::string::npos; at = path.find(mark, at)) {
        path.replace(at, mark.size(), name);
        at += name.size();
    }
    return path;
}

// The options that name one file, with the extension a file of theirs gets in a folder.
struct FileOption {
    std::string ChainSettings::*Path;
    const char* Extension;
};
constexpr FileOption kFileOptions[] = {
    {&ChainSettings::IqPath, ".iq.txt"}, {&ChainSettings::LogPath, ".readouts.tsv"},
    {&ChainSettings::CsvPath, ".csv"},   {&ChainSettings::IqCsvPath, ".iq.csv"},
    {&ChainSettings::ChartPath, ".BMP"},  // as the program names its bitmaps
};

}  // namespace

std::string InputName(const std::string& input) {
    size_t start = input.size();
    while (start > 0 && !IsSeparator(input[start - 1])) --start;
    std::string name = input.substr(start);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

ChainSettings OutputsForInput(const ChainSettings& given, const std::string& input, bool several) {
    ChainSettings s = given;
    const std::string name = InputName(input);
    for (const FileOption& option : kFileOptions) {
        std::string& path = s.*option.Path;
        if (path.empty()) continue;
        // One file's outputs are the paths given, as they always were. With several, a path
        // with the name in it names a file unless it ends in a separator: an existing folder in
        // its place is an error, as with one file.
        const bool named = path.find(kNameMark) != std::string::npos;
        path = ReplaceNameMark(path, name);
        if (several && !path.empty() &&
            (IsSeparator(path.back()) || (!named && os::NotAFolder(path).empty()))) {
            path = InFolder(path, name + option.Extension);
        }
    }
    if (!s.PanelsDir.empty()) {
        const bool named = s.PanelsDir.find(kNameMark) != std::string::npos;
        s.PanelsDir = ReplaceNameMark(s.PanelsDir, name);
        if (several && !named) s.PanelsDir = InFolder(s.PanelsDir, name);
    }
    return s;
}

bool CheckNoSharedOutputs(const std::vector<std::string>& inputs,
                          const std::vector<ChainSettings>& outputs, std::string& error) {
    std::map<std::string, size_t> inputKeys;
    for (size_t i = 0; i < inputs.size(); ++i) inputKeys.emplace(FileKey(inputs[i]), i);
    std::map<std::string, size_t> writers;  // an output's key, the file that writes it
    for (size_t i = 0; i < inputs.size(); ++i) {
        for (const OutputPath& file : OutputFiles(outputs[i], "")) {
            const std::string key = FileKey(file.Path);
            if (key.empty()) continue;  // a device many may write
            const std::string named = file.Option + " " + file.Path;
            if (const auto in = inputKeys.find(key); in != inputKeys.end() && in->second != i) {
                error = named + " of " + inputs[i] + " is the input " + inputs[in->second];
                return false;
            }
            const auto [writer, added] = writers.emplace(key, i);
            if (added || writer->second == i) continue;
            error = named + " would be written for both " + inputs[writer->second] + " and " +
                    inputs[i] + " (with several files: a folder, or a name with " + kNameMark + ")";
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The run

namespace {

// One file's progress, written by its thread and read by the progress line.
class FileCounters final : public RunProgress {
public:
    void Begin(long long totalFrames, int) override { total_ = totalFrames; }
    void Update(long long doneFrames) override { done_ = doneFrames; }
    void Finish() override {}

    // Percent read, -1 while the length is not known.
    int Percent() const {
        const long long total = total_;
        return total > 0 ? static_cast<int>(100 * std::min<long long>(done_, total) / total) : -1;
    }

private:
    std::atomic<long long> total_{0}, done_{0};  // [input frames]
};

struct FileState {
    FileCounters Progress;
    std::atomic<bool> Running{false};
    // Under the list's mutex:
    bool Ended = false;
    FileOutcome Outcome;
    double Seconds = 0;  // [s] of wall-clock time
    std::string Out, Err;
};

// `err`'s lines with the input's name after the program's, unless a line names it already (a
// file that cannot be opened).
std::string NamedLines(const std::string& err, const std::string& input) {
    const std::string prefix = kProgram;
    std::string named;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        end = end == std::string::npos ? err.size() : end + 1;
        std::string line = err.substr(start, end - start);
        start = end;
        if (line.starts_with(prefix) &&
            line.compare(prefix.size(), input.size() + 1, input + ":") != 0) {
            line.insert(prefix.size(), input + ": ");
        }
        named += line;
    }
    return named;
}

// The first line of `err` without the program's name: why a file gave no result.
std::string FirstLine(const std::string& err) {
    std::string line = err.substr(0, err.find('\n'));
    if (line.starts_with(kProgram)) line.erase(0, std::string_view(kProgram).size());
    return line;
}

// The line on stderr a terminal rewrites: files done, then each running file's percent.
class ListProgress {
public:
    ListProgress(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

    void Show(const std::vector<std::string>& inputs, const std::vector<FileState>& files,
              size_t done) {
        if (!enabled_) return;
        std::string line =
            "files: " + std::to_string(done) + " of " + std::to_string(inputs.size()) + " done";
        const char* joint = "; ";
        for (size_t i = 0; i < files.size(); ++i) {
            if (!files[i].Running) continue;
            const int percent = files[i].Progress.Percent();
            line += joint + InputName(inputs[i]) + " " +
                    (percent < 0 ? std::string("...") : std::to_string(percent) + "%");
            joint = ", ";
        }
        constexpr size_t kWidth = 79;  // [characters] within an 80-column terminal
        if (line.size() > kWidth) line = line.substr(0, kWidth - 3) + "...";
        err_ << "\r" << line << "\x1b[K" << std::flush;
        shown_ = true;
    }

    void Clear() {
        if (shown_) err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_;
    bool shown_ = false;
};

const char* StatusWord(const FileState& f) {
    if (!f.Ended) return "not run";
    if (f.Outcome.Status != 0) return "failed";
    return f.Outcome.StopSignal != 0 ? "stopped" : "ok";
}

// The closing lines: the count, then name, status, seconds and key figure of every file.
void PrintFileLines(const std::vector<std::string>& inputs, const std::vector<FileState>& files,
                    double seconds, int jobs, std::ostream& out) {
    std::map<std::string, int> counts;
    size_t nameWidth = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        ++counts[StatusWord(files[i])];
        nameWidth = std::max(nameWidth, inputs[i].size());
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "quorvelle-batch: %zu files in %.2f s, %d at a time:", files.size(), seconds,
                  jobs);
    out << text;
    const char* joint = " ";
    for (const char* word : {"ok", "stopped", "failed", "not run"}) {
        if (counts[word] == 0) continue;
        out << joint << counts[word] << " " << word;
        joint = ", ";
    }
    out << "\n";
    for (size_t i = 0; i < files.size(); ++i) {
        const FileState& f = files[i];
        std::string figure = f.Outcome.Figure;
        if (!f.Ended) figure = "stopped before it started";
        if (figure.empty()) figure = FirstLine(f.Err);
        std::snprintf(text, sizeof text, "  %-7s %8.2f s  ", StatusWord(f), f.Seconds);
        out << "  " << inputs[i] << std::string(nameWidth - inputs[i].size(), ' ') << text << figure
            << "\n";
    }
}

}  // namespace

int RunFileList(const std::vector<std::string>& inputs, int jobs, bool quiet, const FileRun& run,
                std::ostream& out, std::ostream& err) {
    const auto start = std::chrono::steady_clock::now();
    // Any number of SIGINT, SIGTERM and SIGHUP (Ctrl-C and the console's events on Windows)
    // end every file running, its outputs written, and start no other.
    StopSignals signals;
    std::vector<FileState> files(inputs.size());
    jobs = static_cast<int>(std::min<size_t>(static_cast<size_t>(std::max(jobs, 1)), files.size()));
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> ended;  // files ended and not yet printed
    int working = jobs;        // threads not yet returned

    // Thread k starts with file k whatever comes, as a single run does: a stop request before
    // its first frame still writes its outputs. Later files are not started after one.
    std::atomic<size_t> next{static_cast<size_t>(jobs)};
    auto work = [&](size_t first) {
        for (size_t i = first; i < files.size(); i = next++) {
            if (i != first && signals.Received() != 0) break;
            FileState& f = files[i];
            f.Running = true;
            const auto begun = std::chrono::steady_clock::now();
            std::ostringstream fileOut, fileErr;
            FileOutcome outcome;
            try {
                outcome = run(i, signals, f.Progress, fileOut, fileErr);
            } catch (const std::exception& e) {
                // One file that runs out of memory must not take the others with it.
                fileErr << kProgram << inputs[i] << ": " << e.what() << "\n";
                outcome = FileOutcome{1, 0, ""};
            }
            std::lock_guard lock(mutex);
            f.Outcome = outcome;
            f.Out = fileOut.str();
            f.Err = fileErr.str();
            f.Seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
            f.Ended = true;
            f.Running = false;
            ended.push_back(i);
            changed.notify_one();
        }
        std::lock_guard lock(mutex);
        --working;
        changed.notify_one();
    };

    // The workers block every signal, so that the stop requests reach this thread and no
    // file's system call is interrupted by one.
    std::vector<std::thread> threads;
    const os::SignalMask mask = os::BlockAllSignals();
    for (int k = 0; k < jobs; ++k) threads.emplace_back(work, static_cast<size_t>(k));
    os::RestoreSignals(mask);

    ListProgress progress(err, !quiet && os::StderrIsTerminal());
    size_t printed = 0;
    bool blockShown = false;  // a file's lines on `out`: a blank line before the next
    std::unique_lock lock(mutex);
    while (working > 0 || !ended.empty()) {
        changed.wait_for(lock, std::chrono::milliseconds(200),
                         [&] { return working == 0 || !ended.empty(); });
        while (!ended.empty()) {
            // An ended file's state is no longer written: printed without the lock, so that a
            // slow reader of our output holds no thread up at its file's end.
            const size_t i = ended.front();
            ended.pop_front();
            lock.unlock();
            progress.Clear();
            err << NamedLines(files[i].Err, inputs[i]) << std::flush;
            if (!files[i].Out.empty()) {
                out << (blockShown ? "\n== " : "== ") << inputs[i] << " ==\n"
                    << files[i].Out << std::flush;
                blockShown = true;
            }
            ++printed;
            lock.lock();
        }
        if (printed < files.size()) progress.Show(inputs, files, printed);
    }
    lock.unlock();
    for (std::thread& t : threads) t.join();
    progress.Clear();

    const size_t notRun = files.size() - printed;
    if (notRun > 0) {
        err << kProgram << StopSignalName(signals.Received()) << ": " << notRun << " of "
            << files.size() << " files not started\n";
    }
    if (blockShown) out << "\n";
    PrintFileLines(inputs, files,
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                   jobs, out);
    int status = notRun > 0 ? 1 : 0;
    for (const FileState& f : files) status = std::max(status, f.Ended ? f.Outcome.Status : 1);
    return status;
}

}  // namespace qv
