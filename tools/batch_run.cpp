// What quorvelle-batch's runs share.
#include "tools/batch_run.h"

#include <filesystem>

#include "display/text.h"
#include "files/capture_bitmap.h"
#include "files/iq_file.h"

namespace qv {

namespace {

// The three panels as the window shows them, as PNGs in `dir` (created when missing).
void WritePanels(const Display& d, const std::string& dir, ChartPictures& pictures) {
    std::error_code ignored;  // a directory that cannot be made shows up as failed writes
    std::filesystem::create_directories(dir, ignored);
    const std::filesystem::path base(dir);
    pictures.WritePicture(d.ScopePanel, (base / "scope.png").string());
    pictures.WritePicture(d.VectorPanel, (base / "iq.png").string());
    pictures.WritePicture(d.ChartPanel, (base / "chart.png").string());
}

}  // namespace

bool OpenReadoutLog(const ChainSettings& s, bool lineBuffered, ReadoutLog& log,
                    std::ostream& err) {
    if (s.logPath.empty()) return true;
    std::string error;
    if (log.Open(s.logPath, LogStart::Truncate, lineBuffered, error)) return true;
    err << "quorvelle-batch: " << error << "\n";
    return false;
}

void ChartPictures::Write(const Surface& picture, const std::string& path) {
    std::string error;
    if (!WriteCaptureBitmap(picture, path, error)) return Fail(error);
    written_.push_back(path);
    if (png_) WritePicture(picture, PngPathBeside(path));
}

void ChartPictures::WritePicture(const Surface& picture, const std::string& path) {
    std::string error;
    if (!WritePng(picture, path, error)) return Fail(error);
    written_.push_back(path);
}

void ChartPictures::Fail(const std::string& error) {
    err_ << "quorvelle-batch: " << error << "\n";
    failed_ = true;
}

void StartChain(Measurement& m, ChainHost& host, const ChainSettings& s, std::ostream& err) {
    const bool drawsText = s.saveScreen || !s.chartPath.empty() || !s.panelsDir.empty();
    if (drawsText && !LabelFace().Problem.empty()) {
        err << "quorvelle-batch: warning: " << LabelFace().Problem << "\n";
    }
    m.Params.LockFreqText = s.entries.LockFreqText;
    m.Params.OffsetText = s.entries.OffsetText;
    m.Params.IntegrationText = s.entries.IntegrationText;
    InitialiseMeasurement(m, host);
    m.Lock.ClickPosition = s.clickPosition;
    m.Params.BlankRfClickFlag = s.entries.BlankRfClickFlag;
    m.Params.InvertFlag = s.entries.InvertFlag;
    m.Params.SaveIqFlag = s.iqPath.empty() ? -1 : 1;
    m.Params.SaveScreenFlag = s.saveScreen ? 1 : -1;
    // The window is shown, and so painted, before Start can be pressed.
    RepaintPanels(m.Screen, m.Params.IntegrationSeconds, m.Now());
    StartMeasurement(m);
}

bool FinishChain(Measurement& m, const ChainSettings& s, ChartPictures& pictures,
                 ReadoutLog& log, std::ostream& err) {
    if (!s.chartPath.empty()) {
        CaptureScreen(m);
        pictures.Write(m.Screen.CaptureSurface, s.chartPath);
    }
    if (!s.panelsDir.empty()) WritePanels(m.Screen, s.panelsDir, pictures);
    bool ok = !pictures.Failed();
    std::string error;
    if (!s.iqPath.empty() && !WriteIqFile(m.IqText, s.iqPath, error)) {
        err << "quorvelle-batch: " << error << "\n";
        ok = false;
    }
    if (!log.Close(error)) {
        err << "quorvelle-batch: " << error << "\n";
        ok = false;
    }
    return ok;
}

void ListWrittenFiles(const ChainSettings& s, const ChartPictures& pictures, std::ostream& out) {
    if (!s.iqPath.empty()) out << "I/Q file: " << s.iqPath << "\n";
    if (!s.logPath.empty()) out << "read-out log: " << s.logPath << "\n";
    for (const std::string& path : pictures.Written()) out << "picture: " << path << "\n";
}

}  // namespace qv
