// quorvelle-batch over a list of recordings: each file's output names, the check that no two
// files write one output, and the run of the files on several threads, each file's lines kept
// together and a line per file at the end.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "capture/stop_signals.h"
#include "tools/batch_run.h"

namespace qv {

// In an output's path, the input's file name without its extension.
inline constexpr const char* kNameMark = "{name}";

// The input's file name without its folder and its last extension ("rec/day1.wav" -> "day1").
std::string InputName(const std::string& input);

// The outputs of `given` for one input: `{name}` replaced by InputName(input) in every path. With
// `several` files, a file option (--iq-file, --log, --csv, --iq-csv, --chart) whose path ends in
// a separator, or names an existing folder and has no `{name}`, becomes NAME plus the option's
// extension in that folder, and a --panels folder without `{name}` gets a folder NAME inside it.
ChainSettings OutputsForInput(const ChainSettings& given, const std::string& input, bool several);

// Before anything runs: no output written by two of the files (inputs of the same name in other
// folders, a path without `{name}`), and no output that is one of the inputs. False with one
// line in `error` naming the output and both files.
bool CheckNoSharedOutputs(const std::vector<std::string>& inputs,
                          const std::vector<ChainSettings>& outputs, std::string& error);

// What a file's run reports of its progress: the input's length once it is open, then the frames
// read so far.
class RunProgress {
public:
    virtual ~RunProgress() = default;
    virtual void Begin(long long totalFrames, int framesPerSecond) = 0;
    virtual void Update(long long doneFrames) = 0;
    virtual void Finish() = 0;
};

// How one file's run ended.
struct FileOutcome {
    int Status = 0;      // 0 success, 1 input or output error
    int StopSignal = 0;  // the stop request that ended it early, else 0
    // The answer's key figure ("freq error ... ppm ..., locked"); empty when the chain did not
    // run, and the file's first error line is shown instead.
    std::string Figure;
};

// Runs file `index` of the list with its outputs, its summary on `out` and its messages on
// `err`, polling `signals` as a single run does.
using FileRun =
    std::function<FileOutcome(size_t index, const StopSignals& signals, RunProgress& progress,
                              std::ostream& out, std::ostream& err)>;

// Runs every file of `inputs` through `run`, `jobs` at a time on threads of their own. Each file's
// output is held until it ends, then printed whole, in the order the files end: its lines on
// `out` under a heading with its name, its messages on `err` with its name after the program's.
// On a terminal (unless `quiet`) one line on stderr shows the files done and those running. A
// stop request ends the files running (their outputs written) and starts no other. At the end
// one line per file, in the order given: name, status, seconds, key figure. Returns the worst
// status of the files; a file not started counts as failed.
int RunFileList(const std::vector<std::string>& inputs, int jobs, bool quiet, const FileRun& run,
                std::ostream& out, std::ostream& err);

}  // namespace qv
