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

bool OpenReadoutLog(const ChainSettings& s, bool lineBuffered, ReadoutLog& log, std::ostream& err) {
    if (s.LogPath.empty()) return true;
    std::string error;
    if (log.Open(s.LogPath, LogStart::Truncate, lineBuffered, error)) return true;
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
    const bool drawsText = s.SaveScreen || !s.ChartPath.empty() || !s.PanelsDir.empty();
    if (drawsText && !LabelFace().Problem.empty()) {
        err << "quorvelle-batch: warning: " << LabelFace().Problem << "\n";
    }
    m.Params = s.Entries;
    InitialiseMeasurement(m, host);
    m.Lock.ClickPosition = s.ClickPosition;
    m.Params.SaveIqFlag = s.IqPath.empty() ? -1 : 1;
    m.Params.SaveScreenFlag = s.SaveScreen ? 1 : -1;
    // The window is shown, and so painted, before Start can be pressed.
    RepaintPanels(m.Screen, m.Params.IntegrationSeconds, m.Now());
    StartMeasurement(m);
}

bool FinishChain(Measurement& m, const ChainSettings& s, ChartPictures& pictures, ReadoutLog& log,
                 std::ostream& err) {
    if (!s.ChartPath.empty()) {
        CaptureScreen(m);
        pictures.Write(m.Screen.CaptureSurface, s.ChartPath);
    }
    if (!s.PanelsDir.empty()) WritePanels(m.Screen, s.PanelsDir, pictures);
    bool ok = !pictures.Failed();
    std::string error;
    if (!s.IqPath.empty() && !WriteIqFile(m.IqText, s.IqPath, error)) {
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
    if (!s.IqPath.empty()) out << "I/Q file: " << s.IqPath << "\n";
    if (!s.LogPath.empty()) out << "read-out log: " << s.LogPath << "\n";
    for (const std::string& path : pictures.Written()) out << "picture: " << path << "\n";
}

}  // namespace qv
