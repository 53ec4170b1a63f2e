// The main window's handler, actions and close-time work.
#include "app/main_handler.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/recording_mixer.h"
#include "capture/stop_signals.h"
#include "common/numbers.h"
#include "common/time_of_day.h"
#include "display/display.h"
#include "display/text.h"
#include "display/traces.h"
#include "files/capture_bitmap.h"
#include "files/iq_file.h"
#include "files/output_check.h"
#include "files/whole_file.h"

namespace qv {

namespace {

constexpr int64_t kBlockNanoseconds =  // [ns] one block of 128 frames: 16 ms
    int64_t{1000000000} * kFramesPerBlock / kFramesPerSecond;

void TraceStep(App& a, const std::string& step) {
    if (a.Trace != nullptr) a.Trace->push_back(step);
}

// A problem found while blocks are being processed: shown in the title and on the status line,
// never in a modal box that would stall the measurement, and also on stderr.
void ShowProblem(App& a, const std::string& text) {
    if (a.Port == nullptr) return;
    SetWindowTitle(a, std::string(kMainTitle) + " - " + text);
    ShowStatusMessage(a, text);
}
void ReportWithoutStopping(App& a, const std::string& text) {
    std::cerr << "quorvelle: " << text << "\n" << std::flush;
    ShowProblem(a, text);
}

// A message for the user: a box that waits for OK, or once a stop signal has asked the program
// to end, a line on stderr, since no one may be there to click it.
void Tell(App& a, const std::string& caption, const std::string& text, MessageIcon icon) {
    if (a.StopSignal == 0) {
        a.Port->ShowMessage(caption, text, icon);
        return;
    }
    std::string line = text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::cerr << "quorvelle: " << line << "\n" << std::flush;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).string();
}

// What to try when no input could be started, below the failure in its box.
constexpr const char* kStartHints =
    "What to try:\n"
    "- another entry of the device list, or the recording mixer (Setup/Input)\n"
    "- quorvelle-batch --list-devices, which lists the inputs\n"
    "- quorvelle --simulate, which measures the built-in simulator\n"
    "- quorvelle --play FILE.wav, which measures a recording";

// The capture failed: the window ends with exit status 1 and stderr says what failed, on one
// line, since the box that says it too is gone when the program has ended.
void EndAfterCaptureFailure(App& a, const std::string& stderrLine, const std::string& boxText) {
    a.ExitStatus = 1;
    std::cerr << "quorvelle: " << stderrLine << "\n" << std::flush;
    ShowStatusMessage(a, stderrLine);
    const bool ended = a.Ended;
    a.Ended = true;  // no more blocks while the box is up
    if (a.StopSignal == 0) a.Port->ShowMessage(kDefaultCaption, boxText, MessageIcon::Plain);
    a.Ended = ended;
    EndMainWindow(a);
}

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// ---------------------------------------------------------------------------------------------
// The click scope under the mouse

const ControlSpec& ScopeControl() { return *FindControl(IDGRAPH); }

bool OverScope(int x, int y) { return ControlAtPoint(x, y) == &ScopeControl(); }

// The panel's client x of a client-area x: one pixel in for the sunken edge, and kept on the
// panel so the edge itself gives the first or last sample position, never one outside.
int ScopePanelX(int x) {
    const ControlSpec& c = ScopeControl();
    return std::clamp(x - (c.X + 1), 0, c.W - 3);
}

// ---------------------------------------------------------------------------------------------
// Entry fields

// Shows the integration time ReadIntegrationTime settled on; a change notifies the field
// again, as any change of its text does.
void SyncIntegrationField(App& a, const std::string& fieldText) {
    if (a.M.Params.IntegrationText == fieldText) return;
    a.Port->SetControlText(IDINTTIME, a.M.Params.IntegrationText);
    SendCommand(a, IDINTTIME, EntryNotification::Change);
}

// Whether the user is done with an entry field's text: it lost the focus, or Enter was pressed.
bool EntryDone(WParam wParam) {
    const EntryNotification notification = NotificationOf(wParam);
    return notification == EntryNotification::KillFocus || notification == EntryNotification::Enter;
}

// The device-list entry Start opens: the selected one while its text is shown, else the one
// the typed text names (in full, by number or by a unique part), else none (the default input).
int ChosenEntry(const DeviceList& list, int index, const std::string& text) {
    const int count = static_cast<int>(list.Entries.size());
    if (index >= 0 && index < count && list.Entries[index].Name == text) return index;
    int found = -1;
    std::string ignored;
    if (!text.empty() && FindDevice(list, text, found, ignored)) return found;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Close-time work

// A file written under a name the program chose: said on the status line (and logged), and on
// stderr when `toStderr` or when the usual name was taken and another one used.
void SayWritten(App& a, const std::string& what, const std::string& path, const std::string& usual,
                bool toStderr) {
    std::string text = what + AbsolutePath(path);
    if (path != usual) text += " (" + usual + " is taken)";
    if (toStderr || path != usual) std::cerr << "quorvelle: " << text << "\n" << std::flush;
    ShowStatusMessage(a, text);
}

// What the file `path` is to this run, when it must not take the I/Q text: an I/Q journal (this
// window's, another's, or one an earlier run left), the input recording, an output of the run
// (with --daily, today's files); "" when it is none of them.
std::string ProtectedFile(const App& a, const std::string& path) {
    if (IsIqJournal(path, a.Journal.Path)) return "an I/Q journal";
    const AppOptions& o = a.Options;
    const std::pair<std::string, std::string> named[] = {
        {o.PlayPath, "the input recording (--play)"},
        {o.CsvPath, "the --csv file"},
        {o.IqCsvPath, "the --iq-csv file"},
        {o.LogPath, "the read-out log (--log-readouts)"},
        {o.RecordPath, "the recording (--record)"},
    };
    for (const auto& [file, what] : named) {
        if (!file.empty() && SameFile(path, file)) return what;
    }
    if (a.Days) {
        for (const char* name : {kDailyLogName, kDailySecondsName, kDailyPeriodsName}) {
            if (SameFile(path, a.Days->Path(name)))
                return std::string("today's ") + name + " (--daily)";
        }
    }
    for (const std::string& chart : a.ChartsWritten) {
        if (SameFile(path, chart)) return "a chart saved by this window";
    }
    return "";
}

// Asks where to save the I/Q text until the answer may take it: not a file of the run (a box
// says which it is), and an existing file only once the user has agreed to replace it. "" when
// the user cancels, or once a stop has been asked for.
std::string AskWhereToSave(App& a, const std::string& suggested) {
    namespace fs = std::filesystem;
    while (a.StopSignal == 0) {
        const std::string path = a.Port->AskSavePath("Save the I/Q text as", suggested);
        if (path.empty() || a.StopSignal != 0) return "";
        if (const std::string what = ProtectedFile(a, path); !what.empty()) {
            a.Port->ShowMessage(kDefaultCaption, path + " is " + what + ".\nChoose another name.",
                                MessageIcon::Exclamation);
            continue;
        }
        std::error_code ignored;
        const fs::file_status named = fs::symlink_status(path, ignored);
        // A folder is not asked about: writing to it fails, and the box then says why.
        if (fs::exists(named) && !fs::is_directory(path, ignored) &&
            !a.Port->AskYesNo(kDefaultCaption,
                              path + " already exists.\nDo you want to replace it?")) {
            continue;
        }
        if (a.StopSignal == 0) return path;
    }
    return "";
}

// The I/Q text could not be saved where it was asked for: the journal keeps its records when
// it holds them all under its name; else a file in the home or temporary folder takes the
// text, else stderr. Said on stderr and the status line, and in a box unless a stop has been
// asked for; the program then ends with status 1.
void KeepIqTextElsewhere(App& a, const std::string& name, const std::string& error) {
    a.ExitStatus = 1;
    std::string where, box;
    bool onStderr = false;
    if (KeepJournal(a.Journal)) {
        const std::string journal = AbsolutePath(a.Journal.Path);
        where = "the I/Q records are kept in " + journal;
        box = "The I/Q text has not been saved.\nIts records are kept in\n" + journal;
    } else if (const std::string saved = SaveIqTextToFallback(a.M.IqText, name); !saved.empty()) {
        where = "the I/Q text is saved in " + saved;
        box = "The I/Q file could not be written.\nThe I/Q text is saved in\n" + saved;
    } else {
        onStderr = true;
        where = "the I/Q text follows on stderr";
        box = "The I/Q text could not be saved anywhere: it has been written to stderr.";
    }
    std::cerr << "quorvelle: " << error << "; " << where << "\n";
    if (onStderr) std::cerr << a.M.IqText << "\r\nquorvelle: end of the I/Q text\n";
    std::cerr << std::flush;
    ShowStatusMessage(a, error + "; " + where);
    if (a.StopSignal == 0) a.Port->ShowMessage(kDefaultCaption, box, MessageIcon::Exclamation);
}

// The home folder (HOME, or USERPROFILE on Windows); "" when neither is set.
std::string HomeFolder() {
    for (const char* variable : {"HOME", "USERPROFILE"}) {
        const char* home = std::getenv(variable);
        if (home != nullptr && *home != '\0') return home;
    }
    return "";
}

// The save dialog's first answer: the I/Q file's name in the current directory, or in the home
// folder once the current one has gone (a file chooser in a folder that has gone cannot even be
// typed into).
std::string SuggestedPath(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    const std::string home = HomeFolder();
    if ((!ec && fs::is_directory(here, ec)) || home.empty()) return name;
    return (fs::path(home) / name).string();
}

// Writes the I/Q file, a new one under the usual name or the next free one; when that fails,
// says why and offers to save the text elsewhere, unless a stop has been asked for (also while
// the box or the dialog is up). The journal goes only once the text is safe.
void WriteIqFileAtClose(App& a) {
    const std::string usual = IqFileName(LocalMillisecondsOfDay());
    std::string path = usual, error;
    int number = 1;
    bool saved = WriteUnderFreeName(usual, a.M.IqText + "\r\n", number, error);
    if (saved) path = NumberedName(usual, number);
    while (!saved && a.StopSignal == 0) {
        a.Port->ShowMessage(
            kDefaultCaption,
            "The I/Q file could not be written:\n" + error + "\n\nChoose another place for it.",
            MessageIcon::Exclamation);
        path = AskWhereToSave(a, SuggestedPath(usual));
        if (path.empty()) break;
        saved = WriteIqFile(a.M.IqText, path, error);
    }
    if (!saved) {
        KeepIqTextElsewhere(a, usual, error);
        return;
    }
    RemoveJournal(a.Journal);
    // The window is going: stderr keeps the message.
    SayWritten(a, "I/Q file written: ", path, number > 1 ? usual : path, true);
}

// The chart capture as a new "hhmmss.BMP" in the current directory, or under the next free
// name; said on the status line. False with the reason in `error`.
bool SaveChart(App& a, const Surface& capture, int64_t millisecondsOfDay, std::string& error) {
    const std::string usual = CaptureBitmapName(millisecondsOfDay);
    int number = 1;
    if (!WriteUnderFreeName(usual, CaptureBitmapBytes(capture), number, error)) return false;
    const std::string path = NumberedName(usual, number);
    a.ChartsWritten.push_back(AbsolutePath(path));
    SayWritten(a, "Chart saved: ", path, usual, false);
    return true;
}

// The finished day's report waited for, and what it has to say said.
void TakeDayReport(App& a) {
    std::string said;
    if (!a.DayReports.Take(said)) {
        ReportWithoutStopping(a, said);
    } else if (!said.empty()) {
        a.Chain.Report(said);
    }
}

void CloseTimeWork(App& a) {
    if (a.CloseWorkDone) return;
    a.CloseWorkDone = true;
    if (a.M.Params.SaveIqFlag == 1) {
        WriteIqFileAtClose(a);
    } else {
        RemoveJournal(a.Journal);  // saving was switched off: its records are not wanted
    }
    ReleaseDisplaySurfaces(a.M.Screen);
    if (a.Engine.State != CaptureState::Idle) a.Log.WriteNow("CAPTURE", CaptureSummary(a));
    if (a.Days && a.Chain.FramesProcessed() > 0) {
        // The day so far gets its report too, as a station's last day does.
        TakeDayReport(a);
        a.DayReports.Start(DayReportFilesOf(*a.Days));
        TakeDayReport(a);
    }
    std::string error;
    Recorder* recording = a.Chain.Recording;
    if (recording != nullptr && recording->IsOpen() && !recording->Close(error)) {
        Tell(a, kDefaultCaption, error, MessageIcon::Exclamation);
    }
}

// ---------------------------------------------------------------------------------------------
// Handler cases

// The command line's entry texts go into the fields as if typed before start-up, so the
// initialisation reads them as it reads the fields' own texts.
void PresetEntryFields(App& a) {
    const WindowPresets& p = a.Options.Presets;
    if (p.LockFreqGiven) a.Port->SetControlText(IDLOCKFREQ, p.LockFreqText);
    if (p.OffsetGiven) a.Port->SetControlText(IDOFFSET, p.OffsetText);
    if (p.IntegrationGiven) a.Port->SetControlText(IDINTTIME, p.IntegrationText);
}

// The command line's check boxes, menu items and click position, on the initialised chain;
// the boxes and items show the flags as their clicks would leave them.
void PresetSwitches(App& a) {
    const WindowPresets& p = a.Options.Presets;
    Parameters& params = a.M.Params;
    if (p.NoBlank) {
        params.BlankRfClickFlag = -1;
        a.Port->SetCheck(IDBLANKRF, false);
    }
    if (p.Invert) {
        params.InvertFlag = 1;
        a.Port->SetCheck(IDINVERT, true);
    }
    a.M.SwapChannels = p.SwapChannels;
    if (p.SaveIq) {
        params.SaveIqFlag = 1;
        a.Port->SetMenuCheck(IDSAVEIQ, true);
    }
    if (p.SaveScreen) {
        params.SaveScreenFlag = 1;
        a.Port->SetMenuCheck(IDSAVESCREEN, true);
    }
    if (p.ClickPosition >= 0) {  // as a click on the scope at that sample sets it
        a.M.Lock.ClickPosition = p.ClickPosition;
        RedrawScopeBackground(a.M.Screen);
        DrawClickMarker(a.M.Screen, p.ClickPosition);
    }
}

// The device list's entry the command line names; the list's own choice when it names none,
// which the status line and stderr then say.
int PresetDevice(App& a) {
    const std::string& wanted = a.Options.Presets.Device;
    if (wanted.empty()) return a.Devices.Selected;
    int index = -1;
    std::string error;
    if (FindDevice(a.Devices, wanted, index, error)) return index;
    ReportWithoutStopping(a, "--device " + wanted + ": " + error);
    return a.Devices.Selected;
}

// No input at all: the "Warning" asks whether the built-in simulator should be measured instead,
// as --simulate would offer it. True for Yes; a stop signal answers No, and once one has
// arrived the warning goes to stderr without a question.
bool OfferSimulator(App& a) {
    const std::string warning = kNoInputDevicesText;
    if (a.StopSignal != 0) {
        Tell(a, kWarningCaption, warning, MessageIcon::Exclamation);
        return false;
    }
    return a.Port->AskYesNo(kWarningCaption, warning + "\n\n" + kOfferSimulatorText) &&
           a.StopSignal == 0;
}

void Initialise(App& a) {
    Measurement& m = a.M;
    m.Screen.DotsPerInch = a.DotsPerInch;
    PresetEntryFields(a);
    m.Params.OffsetText = a.Port->ControlText(IDOFFSET);
    const std::string integrationField = a.Port->ControlText(IDINTTIME);
    m.Params.IntegrationText = integrationField;
    InitialiseMeasurement(m, a.StatusPage != nullptr ? static_cast<ChainHost&>(*a.StatusPage)
                                                     : static_cast<ChainHost&>(a.Host));
    // The signal state's texts name what mends a fault in the window's words: the check box
    // the user ticks, and the option the window is started again with.
    m.Watch.Mending = {"\"" + std::string(FindControl(IDINVERT)->Text) + "\"", "--swap-channels",
                       true};
    SyncIntegrationField(a, integrationField);
    PresetSwitches(a);
    if (a.StatusPage != nullptr) a.StatusPage->Publish(m);

    ExtraSources extras;
    extras.Simulate = a.Options.Simulate;
    extras.PlayPath = a.Options.PlayPath;
    bool noDevices = false;
    ListInputDevices(a.Devices, *a.Sound, extras,
                     [&a, &noDevices](const std::string& caption, const std::string& text) {
                         // The list's only warning: asked as OfferSimulator's question below.
                         noDevices = text == kNoInputDevicesText;
                         if (!noDevices) Tell(a, caption, text, MessageIcon::Exclamation);
                     });
    if (noDevices && OfferSimulator(a)) {
        extras.Simulate = a.Options.Simulate = true;
        ListInputDevices(a.Devices, *a.Sound, extras, {});
        a.StartSimulatorWhenShown = true;
    }
    a.Devices.Selected = PresetDevice(a);
    std::vector<std::string> names;
    for (const DeviceEntry& entry : a.Devices.Entries) names.push_back(entry.Name);
    a.Port->FillDeviceList(names, a.Devices.Selected);

    // Journals that live windows hold are theirs; only dead runs' are set aside and told of.
    std::vector<std::string> oldJournals;
    std::string error;
    const bool setAside = SetAsideOldJournals(a.Journal.Path, oldJournals, error);
    // After what the start has to say (the measurements folder), each part a paragraph.
    auto notice = [&a](const std::string& text) {
        if (!a.StartupNotice.empty()) a.StartupNotice += "\n\n";
        a.StartupNotice += text;
    };
    if (oldJournals.size() == 1) {
        notice(
            "An earlier run did not end normally.\nThe I/Q records it had logged "
            "are kept in\n" +
            AbsolutePath(oldJournals[0]));
    } else if (oldJournals.size() > 1) {
        std::string kept =
            "Earlier runs did not end normally.\nThe I/Q records they had logged "
            "are kept in";
        for (const std::string& old : oldJournals) kept += "\n" + AbsolutePath(old);
        notice(kept);
    }
    if (!setAside) notice(error);
    if (!LabelFace().Problem.empty()) notice(LabelFace().Problem);
    if (!a.StartupNotice.empty()) std::cerr << "quorvelle: " << a.StartupNotice << "\n";
    a.Initialised = true;
}

void HoverReadout(App& a, int x, int y) {
    if (OverScope(x, y)) {
        a.Port->SetCursor(Cursor::CrossHair);
        SetWindowTitle(
            a, "Click peak = " + std::to_string(ScopePanelX(x) / kClickTracePixelsPerSample));
    } else {
        a.Port->SetCursor(Cursor::Arrow);
        SetWindowTitle(a, kHoverTitle);
    }
}

void ClickOnScope(App& a, int x, int y) {
    if (!OverScope(x, y)) return;
    a.Port->SetCursor(Cursor::CrossHair);
    SetClickPositionFromScope(a.M, ScopePanelX(x));
}

void Repaint(App& a) {
    RepaintPanels(a.M.Screen, a.M.Params.IntegrationSeconds, a.M.Now());
    for (PanelId panel : {PanelId::Scope, PanelId::Vector, PanelId::Chart})
        a.Port->ShowPanel(panel);
}

void CompletedBlock(App& a, CaptureBlock* block) {
    if (a.Ended) return;  // the window is going; the process ends with the device
    if (block != nullptr && block->PostedNanoseconds > 0) {
        const int64_t wait = CaptureClockNanoseconds() - block->PostedNanoseconds;
        BlockTiming& t = a.Timing;
        ++t.Blocks;
        t.TotalNanoseconds += wait;
        t.LongestNanoseconds = std::max(t.LongestNanoseconds, wait);
        if (wait > kBlockNanoseconds) ++t.LateBlocks;
    }
    std::string error;
    if (HandleCaptureBlock(a.Engine, block, a.Chain, error)) return;
    EndAfterCaptureFailure(a, "capture failed: " + OneLine(error), error);
}

int MagnificationOf(int id) {
    switch (id) {
        case IDMAG1:
            return 1;
        case IDMAG10:
            return 10;
        case IDMAG100:
            return 100;
        case IDMAG1000:
            return 1000;
    }
    return 0;
}

using ControlAction = int (*)(App&, WindowMessage, WParam, LParam);

ControlAction ActionOf(int id) {
    switch (id) {
        case IDCAP:
            return StartCaptureAction;
        case IDEND:
            return EndCaptureAction;
        case IDRESET:
            return ResetAllAction;
        case IDCLEARV:
            return ClearVectorscopeAction;
        case IDCLEARDISP:
            return ClearChartAction;
        case IDFIXOFFSET:
            return FixOffsetAction;
        case IDCAPTURESCREEN:
            return CaptureScreenAction;
        case IDLOCKFREQ:
            return ReadLockFreq;
        case IDOFFSET:
            return ReadOffset;
        case IDINTTIME:
            return ReadIntegrationTimeAction;
        case IDBLANKRF:
            return ToggleBlankRf;
        case IDINVERT:
            return ToggleInvert;
        case IDSAVEIQ:
            return ToggleSaveIq;
        case IDSAVESCREEN:
            return ToggleSaveScreen;
        case IDINPUT:
            return OpenRecordingMixer;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Messages and routing

LParam PointParam(int x, int y) {
    return static_cast<LParam>((static_cast<uint32_t>(x) & 0xFFFF) |
                               ((static_cast<uint32_t>(y) & 0xFFFF) << 16));
}
int PointX(LParam p) { return static_cast<int16_t>(p & 0xFFFF); }
int PointY(LParam p) { return static_cast<int16_t>((p >> 16) & 0xFFFF); }
EntryNotification NotificationOf(WParam wParam) {
    return static_cast<EntryNotification>((wParam >> 16) & 0xFFFF);
}

int MainDialogCallback(App& a, WindowMessage message, WParam wParam, LParam lParam) {
    switch (message) {
        case WindowMessage::InitDialog:
            Initialise(a);
            break;
        case WindowMessage::MouseMove:
            HoverReadout(a, PointX(lParam), PointY(lParam));
            break;
        case WindowMessage::LButtonDown:
            ClickOnScope(a, PointX(lParam), PointY(lParam));
            break;
        case WindowMessage::Paint:
            if (!a.Ended) Repaint(a);
            break;
        case WindowMessage::CaptureBlock:
            CompletedBlock(a, reinterpret_cast<CaptureBlock*>(lParam));
            break;
        case WindowMessage::Close:
            CloseTimeWork(a);
            break;
        case WindowMessage::Command: {
            const int id = static_cast<int>(wParam & 0xFFFF);
            TraceStep(a, "handler " + ControlName(id));
            if (const int m = MagnificationOf(id)) SetVectorMagnification(a.M, m);
            break;
        }
        case WindowMessage::Notify:
            break;
    }
    return 0;
}

void SendCommand(App& a, int id, EntryNotification notification) {
    const WParam wParam = static_cast<WParam>(static_cast<uint32_t>(id) & 0xFFFF) |
                          (static_cast<WParam>(static_cast<uint32_t>(notification) & 0xFFFF) << 16);
    if (ControlAction action = ActionOf(id)) {
        TraceStep(a, "action " + ControlName(id));
        if (action(a, WindowMessage::Command, wParam, 0) != 0) return;
    }
    MainDialogCallback(a, WindowMessage::Command, wParam, 0);
}

void DeliverMouseMove(App& a, int x, int y) {
    if (MouseTakerAt(x, y) != nullptr) return;
    MainDialogCallback(a, WindowMessage::MouseMove, 0, PointParam(x, y));
}

void DeliverLeftButton(App& a, int x, int y) {
    if (MouseTakerAt(x, y) != nullptr) return;
    MainDialogCallback(a, WindowMessage::LButtonDown, 1, PointParam(x, y));
}

bool InitialiseMainWindow(App& a) {
    MainDialogCallback(a, WindowMessage::InitDialog, 0, 0);
    if (a.StopSignal != 0) EndMainWindow(a);
    return !a.Ended;
}

bool StartupPending(const App& a) { return !a.StartupNotice.empty() || a.StartSimulatorWhenShown; }

void FinishStartup(App& a) {
    if (!a.StartupNotice.empty() && !a.Ended && a.StopSignal == 0) {
        a.Port->ShowMessage(kDefaultCaption, a.StartupNotice, MessageIcon::Exclamation);
    }
    if (a.StartSimulatorWhenShown && !a.Ended && a.StopSignal == 0) {
        a.StartSimulatorWhenShown = false;
        SendCommand(a, IDCAP);
    }
}

void EndMainWindow(App& a) {
    if (a.Ended) return;
    // Ended first: blocks that arrive while the close-time work waits for the user (a save
    // dialog) must not add records after the I/Q text has been written and its journal removed.
    a.Ended = true;
    MainDialogCallback(a, WindowMessage::Close, 0, 0);
    a.Port->DestroyWindow();
}

void StopSignalArrived(App& a, int signal) {
    if (a.StopSignal == 0) {
        a.StopSignal = signal;
        std::cerr << "quorvelle: " << StopSignalName(signal) << ": ending the program\n"
                  << std::flush;
    }
    a.Port->CloseBoxes();
    // During the initialisation (a box of the device list) the window's set-up ends it once
    // the initialisation is through.
    if (a.Initialised) EndMainWindow(a);
}

void CaptureSourceStopped(App& a) {
    if (a.Ended) return;
    const bool failed = CaptureSourceEnd(a.Engine) == SourceEnd::Failed;
    const std::string text = failed ? "capture stopped: " + CaptureStopReason(a.Engine)
                                    : "the input has ended; End saves the results";
    a.Log.WriteNow("CAPTURE", text);
    ReportWithoutStopping(a, text);
}

void SetWindowTitle(App& a, const std::string& title) {
    a.Port->SetTitle(title);
    a.Log.WriteNow("TITLE", title);
}

void ShowStatusMessage(App& a, const std::string& text) {
    if (a.Port == nullptr) return;
    const std::string line = OneLine(text);  // one line on the status line and in the log
    a.Port->SetStatus(line);
    a.MessageShownNanoseconds = std::max<int64_t>(CaptureClockNanoseconds(), 1);
    a.Log.WriteNow("MESSAGE", line);
}

void ShowSignalStatus(App& a, const std::string& text) {
    a.SignalStatus = text;
    if (a.Port == nullptr) return;
    const int64_t hold = int64_t{kMessageHoldSeconds} * 1000000000;
    if (a.MessageShownNanoseconds != 0 &&
        CaptureClockNanoseconds() - a.MessageShownNanoseconds < hold) {
        return;
    }
    a.MessageShownNanoseconds = 0;
    a.Port->SetStatus(text);
}

std::string SignalStatusText(const RunAnswer& answer, int framesPerSecond) {
    std::string text = FrequencyBrief(answer) + "; " + TimingBrief(answer) + "; " +
                       answer.StateText + " (" + std::to_string(answer.StateSeconds) + " s)";
    if (framesPerSecond > 0) text += "; input " + std::to_string(framesPerSecond) + " Hz";
    return text;
}

void WatchWriteFailures(App& a) {
    a.Log.WriteFailed = [&a](const std::string& failure) { ReportWithoutStopping(a, failure); };
    // The lines held meanwhile are in the log again: said as the failure was, without a title.
    a.Log.WriteResumed = [](const std::string& text) {
        std::cerr << "quorvelle: " << text << "\n" << std::flush;
    };
    // The live chain has already written the CAPTURE line and stderr's.
    a.Chain.ShowProblem = [&a](const std::string& problem) { ShowProblem(a, problem); };
}

bool CheckWindowFiles(const AppOptions& o, std::string& error) {
    const std::pair<const char*, std::string> outputs[] = {{"--csv", o.CsvPath},
                                                           {"--iq-csv", o.IqCsvPath},
                                                           {"--log-readouts", o.LogPath},
                                                           {"--record", o.RecordPath}};
    for (size_t i = 0; i < std::size(outputs); ++i) {
        const auto& [option, path] = outputs[i];
        if (path.empty()) continue;
        const std::string named = std::string(option) + " " + path;
        if (!o.PlayPath.empty() && SameFile(path, o.PlayPath)) {
            error = named + " is the input recording";
            return false;
        }
        if (IsIqJournal(path, kIqJournalName)) {
            error = named + " is an I/Q journal's name";
            return false;
        }
        for (size_t j = i + 1; j < std::size(outputs); ++j) {
            const auto& [other, otherPath] = outputs[j];
            if (otherPath.empty() || !SameFile(path, otherPath)) continue;
            error = named + " and " + other + " " + otherPath + " are one file";
            return false;
        }
    }
    return true;
}

bool OpenCsvFiles(App& a, std::string& error) {
    const AppOptions& o = a.Options;
    if (!CheckWindowFiles(o, error)) return false;
    // A CAPTURE line, stderr and the title, as for the recording.
    auto failed = [&a](const std::string& failure) { a.Chain.ReportProblem(failure); };
    if (!a.Csv.Open(o.CsvPath, o.IqCsvPath, CsvStart::Append, failed, error)) return false;
    // The rows held meanwhile are in the file again: a CAPTURE line and stderr's.
    auto resumed = [&a](const std::string& text) { a.Chain.Report(text); };
    a.Csv.Seconds.WriteResumed = resumed;
    a.Csv.Periods.WriteResumed = resumed;
    a.Csv.Unwritten = failed;
    return true;
}

namespace {

// The current day's log and CSV files opened, appended to; false with one line in `error`.
bool OpenDayFilesIn(App& a, const DayFolders& days, std::string& error) {
    auto failed = [&a](const std::string& failure) { a.Chain.ReportProblem(failure); };
    a.Csv.Unwritten = failed;
    return a.Log.Open(days.Path(kDailyLogName), LogStart::Append, true, error) &&
           a.Csv.Open(days.Path(kDailySecondsName), days.Path(kDailyPeriodsName), CsvStart::Append,
                      failed, error, a.Csv.DeviceRate);
}

}  // namespace

bool OpenDayFiles(App& a, std::string& error) {
    a.Days.emplace(a.Options.DailyDir,
                   std::vector<std::string>{kDailyLogName, kDailySecondsName, kDailyPeriodsName},
                   UnixMillisecondsNow, DayStart::Append);
    return a.Days->Open(error) && OpenDayFilesIn(a, *a.Days, error);
}

void SwitchDayFiles(App& a) {
    if (a.DayReports.Finished()) TakeDayReport(a);
    if (!a.Days || !a.Days->DayChanged()) return;
    DayReportFiles finished = DayReportFilesOf(*a.Days);
    // A failure of the CSV files has been said when it happened, and what they lack at the
    // close through the same call; the log says what is left to say.
    a.Csv.Close();
    std::string error;
    a.Log.Close(error);
    if (!error.empty()) ReportWithoutStopping(a, error);
    error.clear();
    if (!a.Days->Open(error) || !OpenDayFilesIn(a, *a.Days, error)) {
        ReportWithoutStopping(a, error);
    }
    TakeDayReport(a);  // one at a time: a day's is done long before the next midnight
    a.DayReports.Start(std::move(finished));
}

std::string SaveIqTextToFallback(const std::string& iqText, const std::string& name) {
    namespace fs = std::filesystem;
    std::vector<fs::path> folders;
    if (const std::string home = HomeFolder(); !home.empty()) folders.emplace_back(home);
    std::error_code noTemp;
    const fs::path temp = fs::temp_directory_path(noTemp);
    if (!noTemp) folders.push_back(temp);
    for (const fs::path& folder : folders) {
        const std::string usual = (folder / name).string();
        int number = 1;
        std::string ignored;  // the next place is tried; the caller says where the text went
        if (WriteUnderFreeName(usual, iqText + "\r\n", number, ignored)) {
            return NumberedName(usual, number);
        }
    }
    return "";
}

std::string CaptureSummary(const App& a) {
    const BlockTiming& t = a.Timing;
    char timing[160];
    std::snprintf(timing, sizeof timing,
                  "; blocks handled %.2f ms after arrival on average, at most %.2f ms, %lld of "
                  "%lld after more than 16 ms",
                  t.Blocks > 0 ? static_cast<double>(t.TotalNanoseconds) * 1e-6 /
                                     static_cast<double>(t.Blocks)
                               : 0.0,
                  static_cast<double>(t.LongestNanoseconds) * 1e-6,
                  static_cast<long long>(t.LateBlocks), static_cast<long long>(t.Blocks));
    return CaptureEndedSummary(a.Chain.FramesProcessed(), ReadCaptureStatistics(a.Engine)) + timing;
}

// ---------------------------------------------------------------------------------------------
// The chain's host

void WindowHost::SetReadout(Readout id, const std::string& text) {
    SwitchDayFiles(app_);
    app_.Port->SetControlText(static_cast<int>(id), text);
    app_.Log.WriteNow(ReadoutName(id), text);
}

int64_t WindowHost::MillisecondsOfDay() { return LocalMillisecondsOfDay(); }

void WindowHost::PanelChanged(PanelId panel) { app_.Port->ShowPanel(panel); }

void WindowHost::ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) {
    std::string error;
    if (!SaveChart(app_, capture, millisecondsOfDay, error)) {
        ReportWithoutStopping(app_, "chart not saved: " + error);
    }
}

void WindowHost::IqRecordAdded(const std::string& iqText, const std::string& record) {
    std::string error;
    if (!JournalIqRecord(app_.Journal, iqText, record, error)) ReportWithoutStopping(app_, error);
    if (!app_.Journal.Notice.empty()) {
        std::cerr << "quorvelle: " << app_.Journal.Notice << "\n" << std::flush;
        app_.Journal.Notice.clear();
    }
}

void WindowHost::Warn(const std::string& text) { ReportWithoutStopping(app_, "warning: " + text); }

// Live rows carry the date and time in UTC: a station's files span days and time zones.
void WindowHost::SecondEnded(const Measurement& m, const SecondValues& values) {
    SwitchDayFiles(app_);
    app_.Csv.WriteSecond(FormatIsoUtc(UnixMillisecondsNow()), m, values);
    const std::string slip = SampleSlipText(values.Fine);
    if (!slip.empty()) app_.Log.WriteNow("CAPTURE", slip);
    // The state's text changes within a state (seconds without an edge): shown every second.
    ShowSignalStatus(app_, SignalStatusText(AnswerOf(m), app_.Chain.FramesPerSecond()));
}

void WindowHost::PeriodClosed(const PeriodValues& values) {
    SwitchDayFiles(app_);
    app_.Csv.WritePeriod(FormatIsoUtc(UnixMillisecondsNow()), values);
}

void WindowHost::StatusChanged(const SignalStatus& status) {
    SwitchDayFiles(app_);
    app_.Log.WriteNow("STATUS", StatusLogText(status));
}

// ---------------------------------------------------------------------------------------------
// Actions

int StartCaptureAction(App& a, WindowMessage, WParam, LParam) {
    ReadLockFreq(a, WindowMessage::Command, IDLOCKFREQ, 0);
    StartMeasurement(a.M);
    a.Port->EnableControl(IDDEVICE, false);
    DeviceList chosen = a.Devices;
    chosen.Selected = ChosenEntry(a.Devices, a.Port->DeviceListIndex(), a.Port->DeviceListText());
    const DeviceEntry* entry = SelectedEntry(chosen);
    const std::string input = entry != nullptr ? entry->Name : "the default input";
    std::string message;
    if (!StartCapture(a.Engine, a.Sound->CreateSource(chosen), *a.Notifier, message)) {
        std::string line = "cannot start the capture from " + input + ": " + OneLine(message);
        if (!a.Engine.ErrorDetail.empty()) {
            message += "\n(" + a.Engine.ErrorDetail + ")";
            line += " (" + OneLine(a.Engine.ErrorDetail) + ")";
        }
        a.Log.WriteNow("CAPTURE", line);
        EndAfterCaptureFailure(a, line, message + "\n\n" + kStartHints);
        return 0;
    }
    const int rate = CaptureFramesPerSecond(a.Engine);
    std::string error;
    if (!a.Chain.Begin(rate, error)) {
        const std::string line = "cannot start the capture from " + input + ": " + OneLine(error);
        a.Log.WriteNow("CAPTURE", line);
        EndCapture(a.Engine);
        EndAfterCaptureFailure(a, line, error);
        return 0;
    }
    if (!a.Csv.SetDeviceRate(rate, error)) a.Chain.ReportProblem(error);
    a.Port->EnableControl(IDCAP, false);
    std::string started = "capture started from " + input;
    if (rate != kFramesPerSecond) {
        started += " at " + DescribeRate(rate) + ", converted to " +
                   std::to_string(kFramesPerSecond) + " for the classic chain";
    }
    if (a.M.SwapChannels) started += "; PPS taken from the left channel (--swap-channels)";
    a.Log.WriteNow("CAPTURE", started);
    return 1;
}

int EndCaptureAction(App& a, WindowMessage, WParam, LParam) {
    EndCapture(a.Engine);
    EndMainWindow(a);
    return 1;
}

int ReadLockFreq(App& a, WindowMessage, WParam, LParam) {
    a.M.Params.LockFreqText = a.Port->ControlText(IDLOCKFREQ);
    return 0;
}

int ReadOffset(App& a, WindowMessage, WParam, LParam) {
    a.M.Params.OffsetText = a.Port->ControlText(IDOFFSET);
    return 0;
}

// T follows every change at once; the field's text is put right ("1", the upper limit) only
// when the user is done with it, so that typing over a selection, or deleting the text to type
// a new one, is not interrupted.
int ReadIntegrationTimeAction(App& a, WindowMessage, WParam wParam, LParam) {
    const std::string field = a.Port->ControlText(IDINTTIME);
    ReadIntegrationTime(a.M, field);
    if (EntryDone(wParam)) SyncIntegrationField(a, field);
    return 0;
}

int FixOffsetAction(App& a, WindowMessage message, WParam, LParam) {
    ReadOffset(a, message, IDOFFSET, 0);
    FixOffset(a.M);
    return 0;
}

int ResetAllAction(App& a, WindowMessage message, WParam, LParam) {
    ReadOffset(a, message, IDOFFSET, 0);
    ReadLockFreq(a, message, IDLOCKFREQ, 0);
    const std::string integrationField = a.Port->ControlText(IDINTTIME);
    a.M.Params.IntegrationText = integrationField;
    ResetAll(a.M);
    SyncIntegrationField(a, integrationField);
    return 0;
}

int ToggleBlankRf(App& a, WindowMessage, WParam, LParam) {
    a.M.Params.BlankRfClickFlag = -a.M.Params.BlankRfClickFlag;
    SetWindowTitle(a, std::to_string(a.M.Params.BlankRfClickFlag));
    return 0;
}

int ToggleInvert(App& a, WindowMessage, WParam, LParam) {
    a.M.Params.InvertFlag = -a.M.Params.InvertFlag;
    return 0;
}

int ToggleSaveIq(App& a, WindowMessage, WParam, LParam) {
    a.M.Params.SaveIqFlag = -a.M.Params.SaveIqFlag;
    a.Port->SetMenuCheck(IDSAVEIQ, a.M.Params.SaveIqFlag == 1);
    return 0;
}

int ToggleSaveScreen(App& a, WindowMessage, WParam, LParam) {
    a.M.Params.SaveScreenFlag = -a.M.Params.SaveScreenFlag;
    a.Port->SetMenuCheck(IDSAVESCREEN, a.M.Params.SaveScreenFlag == 1);
    return 0;
}

int OpenRecordingMixer(App& a, WindowMessage, WParam, LParam) {
    const char* path = std::getenv("PATH");
    std::string error;
    if (!StartDetached(RecordingMixerCommand(path != nullptr ? path : ""), error)) {
        ReportWithoutStopping(a, "Input: " + error);
    }
    return 0;
}

int ClearVectorscopeAction(App& a, WindowMessage, WParam, LParam) {
    ClearVectorscope(a.M);
    return 0;
}

int ClearChartAction(App& a, WindowMessage, WParam, LParam) {
    ClearChart(a.M);
    return 0;
}

int CaptureScreenAction(App& a, WindowMessage, WParam, LParam) {
    CaptureScreen(a.M);
    std::string error;
    if (!SaveChart(a, a.M.Screen.CaptureSurface, LocalMillisecondsOfDay(), error)) {
        ShowStatusMessage(a, "chart not saved: " + error);
        Tell(a, kDefaultCaption, "The chart could not be saved:\n" + error,
             MessageIcon::Exclamation);
    }
    return 0;
}

}  // namespace qv
