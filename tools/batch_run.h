// What quorvelle-batch's runs share, over a recording or live: the chain's settings, the
// read-out log, the chart pictures and the close-time work.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "capture/readout_log.h"
#include "chain/measurement.h"

namespace qv {

// The window's entries and options as the command line gives them, and the outputs asked for.
struct ChainSettings {
    // The entry texts and the "Blank RF click" and "Inverted" boxes, as the window starts with
    // them unless the command line says otherwise. Saving follows from the paths below.
    Parameters Entries;
    int ClickPosition = kStartClickPosition;  // [output samples after the PPS edge]
    std::string IqPath;                       // "Save I,Q to file?" on, written here at the end
    std::string LogPath;                      // read-out log
    std::string ChartPath;                    // the chart at the end, as "Capture screen" writes it
    bool SaveScreen = false;
    bool Png = false;       // a PNG beside every bitmap
    std::string PanelsDir;  // the three panels at the end
    bool Quiet = false;
};

// Opens the read-out log of the settings, if they name one, as a new file; false after one
// error line.
bool OpenReadoutLog(const ChainSettings& s, bool lineBuffered, ReadoutLog& log, std::ostream& err);

// Chart bitmaps and PNGs as they are written; a failure is reported at once and remembered,
// and the run goes on so that the other results are still written.
class ChartPictures {
public:
    ChartPictures(std::ostream& err, bool png) : err_(err), png_(png) {}

    // The bitmap, and its PNG when asked for.
    void Write(const Surface& picture, const std::string& path);
    void WritePicture(const Surface& picture, const std::string& path);  // PNG only

    bool Failed() const { return failed_; }
    const std::vector<std::string>& Written() const { return written_; }

private:
    void Fail(const std::string& error);

    std::ostream& err_;
    bool png_;
    bool failed_ = false;
    std::vector<std::string> written_;
};

// The window's initialisation with the settings' entries and options, its first repaint, and
// Start. Warns once when the label font is not the one asked for and pictures are drawn.
void StartChain(Measurement& m, ChainHost& host, const ChainSettings& s, std::ostream& err);

// Close-time work: the chart and panel pictures, the I/Q file, the log closed. Returns false
// when anything could not be written (each failure already reported on `err`).
bool FinishChain(Measurement& m, const ChainSettings& s, ChartPictures& pictures, ReadoutLog& log,
                 std::ostream& err);

// "I/Q file: ...", "read-out log: ..." and "picture: ..." lines for what was written.
void ListWrittenFiles(const ChainSettings& s, const ChartPictures& pictures, std::ostream& out);

}  // namespace qv
