// quorvelle-report: its options, its outputs checked and written, the report's lines on stderr.
#include "tools/report.h"

#include <cmath>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "files/capture_bitmap.h"
#include "files/output_check.h"
#include "files/whole_file.h"
#include "report/report_run.h"

namespace qv {

namespace {

constexpr const char* kProgram = "quorvelle-report";

constexpr const char* kUsage =
    "Usage: quorvelle-report [--text] [--day] [--rf-frequency HZ] [--adev-csv FILE]\n"
    "       --output OUT.png READOUTS.csv [IQ.csv]\n"
    "\n"
    "Draws a whole run from the CSV files of the window or quorvelle-batch (--csv, and\n"
    "--iq-csv for IQ.csv) into one PNG picture: the card's frequency error (classic and fine),\n"
    "the fine PPS edge residuals, the overlapping Allan and modified Allan deviation with\n"
    "their confidence intervals and the time deviation, and the received phase and level over\n"
    "the run, against UTC (or stream) time.\n"
    "A file that holds several runs is reported for its last run.\n"
    "\n"
    "  --output OUT.png       the picture to write (replaced)\n"
    "  --text                 also print the run's summary and the Allan tables on stdout\n"
    "  --day                  the files hold one day of a longer run (quorvelle-batch --daily\n"
    "                         writes them so): the report starts at the day's midnight, or\n"
    "                         at the run's start when the run began that day\n"
    "  --adev-csv FILE        also write the Allan tables as CSV (replaced): a header row, then\n"
    "                         one row per curve and tau with the columns\n"
    "                           source      card (fine PPS edges) or signal (I/Q phase)\n"
    "                           tau_s       averaging time [s]\n"
    "                           adev        overlapping Allan deviation\n"
    "                           adev_low    its 68 % chi-squared interval's lower end\n"
    "                           adev_high   upper end (inf: not bounded)\n"
    "                           terms       second differences used\n"
    "                           edf         the interval's equivalent degrees of freedom\n"
    "                           noise       white PM or white FM, from the slope of adev: the\n"
    "                                       noise edf is worked out for\n"
    "                           mdev        overlapping modified Allan deviation\n"
    "                           mdev_low    its 68 % chi-squared interval's lower end\n"
    "                           mdev_high   upper end (inf: not bounded)\n"
    "                           mdev_terms  windows of tau / tau0 second differences used\n"
    "                           mdev_edf    the interval's equivalent degrees of freedom\n"
    "                           mdev_noise  white PM or white FM, from the slope of mdev\n"
    "                           tdev_s      time deviation tau / sqrt(3) * mdev [s]\n"
    "                         (an empty cell: no value, gaps leave no window)\n"
    "  --rf-frequency HZ      the received carrier's radio frequency [Hz]: with IQ.csv, the\n"
    "                         Allan deviation of the signal's phase as well\n"
    "  --help                 this text\n"
    "  --version              the program's version\n";

// The input files, --day and --rf-frequency are the report's source; the rest says what to
// write.
struct Options : ReportSource {
    bool Text = false;
    std::string Output;
    std::string AdevCsv;  // empty: not asked for
};

// Parses the command line; 0 to go on, else the exit status (with what to print done).
int ParseOptions(int argc, char** argv, Options& o, std::ostream& out, std::ostream& err) {
    std::string error;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc && error.empty(); ++i) {
        const std::string arg = argv[i];
        if (EndsOptions(arg, optionsEnded)) continue;
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--help" || arg == "-h") {
                out << kUsage;
                return -1;
            }
            if (arg == "--version") {
                out << VersionLine(kProgram);
                return -1;
            }
            if (arg == "--text") {
                o.Text = true;
            } else if (arg == "--day") {
                o.Day = true;
            } else if (arg == "--output") {
                TakeOptionValue(argc, argv, i, o.Output, error, false);
            } else if (arg == "--adev-csv") {
                TakeOptionValue(argc, argv, i, o.AdevCsv, error, false);
            } else if (arg == "--rf-frequency") {
                std::string text;
                if (TakeOptionValue(argc, argv, i, text, error, false) &&
                    (!ParsePlainNumber(text, o.RfHz) || !(o.RfHz > 0) || !std::isfinite(o.RfHz))) {
                    error = "--rf-frequency " + text + ": not a frequency above 0 Hz";
                }
            } else {
                error = "unknown option " + arg;
            }
            continue;
        }
        files.push_back(arg);
    }
    if (error.empty() && files.empty()) error = "no input: give READOUTS.csv (and IQ.csv)";
    if (error.empty() && files.size() > 2) {
        error = "more than two input files (" + files[2] + ")";
    }
    if (error.empty() && o.Output.empty()) error = "no picture to write: give --output OUT.png";
    if (error.empty() && o.RfHz > 0 && files.size() < 2) {
        error = "--rf-frequency needs the --iq-csv file IQ.csv";
    }
    if (!error.empty()) {
        err << UsageErrorLine(kProgram, error);
        return 2;
    }
    o.Readouts = files[0];
    if (files.size() > 1) o.Periods = files[1];
    return 0;
}

void Note(std::ostream& err, const std::string& line) { err << kProgram << ": " << line << "\n"; }

}  // namespace

int RunReport(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options o;
    const int parsed = ParseOptions(argc, argv, o, out, err);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    // The outputs are checked before the work, as the batch tool checks its outputs; an input
    // as an output, or one file for both outputs, is bad usage, as there.
    std::vector<OutputPath> outputs = {{"--output", o.Output}};
    if (!o.AdevCsv.empty()) outputs.push_back({"--adev-csv", o.AdevCsv});
    for (const OutputPath& output : outputs) {
        for (const std::string& input : {o.Readouts, o.Periods}) {
            if (!input.empty() && SameFile(output.Path, input)) {
                err << UsageErrorLine(
                    kProgram, output.Option + " " + output.Path + " is the input file " + input);
                return 2;
            }
        }
    }
    if (!o.AdevCsv.empty() && SameFile(o.AdevCsv, o.Output)) {
        err << UsageErrorLine(kProgram,
                              "--adev-csv " + o.AdevCsv + " is the --output file " + o.Output);
        return 2;
    }
    std::string error;
    for (const OutputPath& output : outputs) {
        if (!CheckWritable(output, error)) {
            Note(err, output.Option + " " + output.Path + ": " + error);
            return 1;
        }
    }

    Report report;
    std::vector<std::string> notes;
    const bool made = MakeReport(o, report, notes, error);
    for (const std::string& note : notes) Note(err, note);
    if (!made) {
        Note(err, error);
        return 1;
    }
    if (o.Text) PrintReport(o, report, out);
    // A table that cannot be written (a full disk) is said at once; the picture is still drawn.
    bool written = true;
    if (!o.AdevCsv.empty()) {
        written = WriteWholeLines(o.AdevCsv, AdevCsvText(report), error);
        if (written) {
            out << "Allan table: " << o.AdevCsv << "\n";
        } else {
            Note(err, "--adev-csv " + error);
        }
    }
    if (!WritePng(DrawReport(ReportPictureOf(o, report)), o.Output, error)) {
        Note(err, error);
        return 1;
    }
    out << "picture: " << o.Output << "\n";
    return written ? 0 : 1;
}

}  // namespace qv
