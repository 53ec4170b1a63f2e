// The main window apart from any toolkit: the message handler, the controls' actions and the
// routing between them, the chain's host in the window, and the close-time work. The toolkits'
// windows only translate their events into these calls; tests drive them with a fake window.
// None of its own names is a macro of winuser.h, so it may come before or after windows.h.
#pragma once

#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/iq_journal.h"
#include "capture/capture_engine.h"
#include "capture/csv_output.h"
#include "capture/day_folders.h"
#include "capture/device_list.h"
#include "capture/live_chain.h"
#include "capture/readout_log.h"
#include "capture/signal_simulator.h"
#include "chain/measurement.h"
#include "chain/run_answer.h"
#include "report/day_report.h"
#include "serve/status_pages.h"
#include "serve/status_snapshot.h"

namespace qv {

// The messages the handler acts on, with their classic values.
enum class WindowMessage : int {
    InitDialog = 272,
    MouseMove = 512,
    LButtonDown = 513,
    Notify = 78,
    Paint = 15,
    CaptureBlock = 960,
    Close = 16,
    Command = 273,
};
using WParam = uintptr_t;  // Command: the control id in the low 16 bits, the notification above
using LParam = intptr_t;   // mouse: x in the low 16 bits, y in the high; CaptureBlock: the block

// Why a control sent its command: the notification code in WParam's high 16 bits, Plain for
// buttons, check boxes, options and menu items. The entry fields' first three are the classic
// edit-control codes; classic edit controls leave Enter to the dialog, so the code for Enter in
// the field is the program's own.
enum class EntryNotification : int {
    Plain = 0,
    SetFocus = 0x0100,   // the field took the keyboard focus
    KillFocus = 0x0200,  // the field lost it
    Change = 0x0300,     // its text changed (typed, deleted, pasted, or set by the program)
    Enter = 0x0F00,      // Enter was pressed in it
};
// The notification code of a command's WParam.
EntryNotification NotificationOf(WParam wParam);

// A client-area point as a mouse message carries it (16-bit signed coordinates).
LParam PointParam(int x, int y);
int PointX(LParam p);
int PointY(LParam p);

enum class MessageIcon { Plain, Exclamation };
enum class Cursor { Arrow, CrossHair };

// What the handler needs of the window.
class WindowPort {
public:
    virtual void SetTitle(const std::string& title) = 0;
    // The status line under the client area: the latest message, kept until the next.
    virtual void SetStatus(const std::string& text) = 0;
    // The text of an entry field.
    virtual std::string ControlText(int id) = 0;
    // A label's or entry field's new text (setting an entry's text does not notify; the
    // handler repeats the notification itself where it matters).
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    virtual void SetMenuCheck(int id, bool checked) = 0;
    // Ticks or clears a check box as a click would, without its command.
    virtual void SetCheck(int id, bool checked) = 0;
    virtual void SetCursor(Cursor cursor) = 0;
    // The panel's buffer has changed: show it.
    virtual void ShowPanel(PanelId panel) = 0;
    // A message box with an OK button; returns when it is closed.
    virtual void ShowMessage(const std::string& caption, const std::string& text,
                             MessageIcon icon) = 0;
    // A save dialog; the chosen path, or "" when the user cancels. It need not ask before
    // replacing a file: the handler asks.
    virtual std::string AskSavePath(const std::string& prompt, const std::string& suggested) = 0;
    // A question with the buttons Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
    // Closes every message box, question and save dialog that waits for the user, as OK, No or
    // Cancel would (a dialog then answers ""): called when a stop signal has asked the program
    // to end.
    virtual void CloseBoxes() = 0;
    virtual void FillDeviceList(const std::vector<std::string>& names, int selected) = 0;
    // The device list's selected entry (-1: none) and the text in its edit field.
    virtual int DeviceListIndex() = 0;
    virtual std::string DeviceListText() = 0;
    virtual void DestroyWindow() = 0;

protected:
    ~WindowPort() = default;
};

// The sound system as the window uses it: its devices, and the source for the chosen entry.
class CaptureSystem : public DeviceEnumerator {
public:
    virtual std::unique_ptr<BlockSource> CreateSource(const DeviceList& list) = 0;

protected:
    ~CaptureSystem() = default;
};

// The window's controls as the command line presets them (the batch tool's chain options):
// applied by the initialisation, before the window is first painted. Unset ones keep the
// window's start-up state.
struct WindowPresets {
    bool LockFreqGiven = false, OffsetGiven = false, IntegrationGiven = false;
    std::string LockFreqText;     // --lock-freq TEXT: the entry's text, as if typed
    std::string OffsetText;       // --offset TEXT
    std::string IntegrationText;  // --integration TEXT
    int ClickPosition = -1;       // --click-position N [samples after the PPS edge]; -1: unset
    bool NoBlank = false;         // --no-blank: "Blank RF click" cleared
    bool Invert = false;          // --invert: "Inverted" ticked
    bool SwapChannels = false;    // --swap-channels: the PPS left, the radio right
    bool SaveIq = false;          // --save-iq: "Save I,Q to file?" checked
    bool SaveScreen = false;      // --save-screen: "Save screen to file?" checked
    std::string Device;           // --device N|NAME: the device list's choice; "": the first
    int Rate = 0;  // --rate N [frames/s] a sound card's (and the simulator's); 0: the device's
};

// What the command line adds to the window.
struct AppOptions {
    bool Simulate = false;        // --simulate: the simulator heads the device list
    SimulatorSettings Simulator;  // its settings (seconds unused: it runs until End)
    std::string PlayPath;         // --play FILE.wav
    std::string RecordPath;       // --record FILE.wav
    std::string LogPath;          // --log-readouts FILE
    WindowPresets Presets;
    std::string CsvPath;    // --csv FILE: a row per second
    std::string IqCsvPath;  // --iq-csv FILE: a row per integration period
    int Scale = 0;          // --scale N: the window's UI scale; 0: from the screen's dots per inch
    std::string Folder;     // --folder DIR: where the measurements go (app/measurements_folder.h)
    std::string DailyDir;   // --daily DIR: the CSV files and the read-out log in a folder per day
    bool Serve = false;     // --serve [ADDR:]PORT: the read-only status page
    ServeAddress ServeAt;
};

struct App;

// The chain's host in the window: read-outs into the labels and the log, panels shown, the
// automatic chart captures written, records journalled.
class WindowHost final : public ChainHost {
public:
    explicit WindowHost(App& app) : app_(app) {}
    void SetReadout(Readout id, const std::string& text) override;
    int64_t MillisecondsOfDay() override;
    void PanelChanged(PanelId panel) override;
    void ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) override;
    void IqRecordAdded(const std::string& iqText, const std::string& record) override;
    void Warn(const std::string& text) override;
    void SecondEnded(const Measurement& m, const SecondValues& values) override;
    void PeriodClosed(const PeriodValues& values) override;
    void StatusChanged(const SignalStatus& status) override;

private:
    App& app_;
};

// How promptly blocks were handled after the audio thread posted them.
struct BlockTiming {
    int64_t Blocks = 0;
    int64_t LateBlocks = 0;          // handled more than one block time (16 ms) after posting
    int64_t LongestNanoseconds = 0;  // [ns]
    int64_t TotalNanoseconds = 0;    // [ns]
};

struct App {
    // parameters
    AppOptions Options;
    WindowPort* Port = nullptr;
    CaptureSystem* Sound = nullptr;
    CaptureNotifier* Notifier = nullptr;        // where the audio thread posts filled blocks
    int DotsPerInch = 96;                       // of the screen, for the label fonts
    std::vector<std::string>* Trace = nullptr;  // tests: actions and handler commands in order

    // state
    Measurement M;
    CaptureEngine Engine;
    DeviceList Devices;
    WindowHost Host{*this};
    // --serve: the chain's host is this, which hands the status page a snapshot each second and
    // passes everything on to Host; set by the caller before the window opens.
    StatusHost* StatusPage = nullptr;
    ReadoutLog Log;                  // --log-readouts, opened by the caller
    CsvOutputs Csv;                  // --csv and --iq-csv, opened by OpenCsvFiles
    std::optional<DayFolders> Days;  // --daily: the day whose log and CSV files are open
    DayReportWorker DayReports;      // --daily: the finished day's report, beside the chain
    // Each captured block to the recording (--record: Chain.Recording, opened by the caller,
    // closed at close), then through the chain.
    LiveChain Chain{M, Log, std::cerr, "quorvelle"};
    IqJournal Journal;
    // Shown once the window is up: an earlier run's journal, a measurements folder that could
    // not be made.
    std::string StartupNotice;
    bool Initialised = false;  // the handler's initialisation has run to its end
    bool Ended = false;        // EndMainWindow has begun: capture blocks and paints are ignored
    // No input at all, and the user chose the simulator instead: Start is pressed once the
    // window is up.
    bool StartSimulatorWhenShown = false;
    bool CloseWorkDone = false;
    // The first stop signal (SIGINT, SIGTERM, SIGHUP), 0 before one: from then on no box waits
    // for the user, who may not be there; what a box would say goes to stderr instead.
    int StopSignal = 0;
    // The program's exit status: 1 once the window ends because the capture failed (Start, or
    // a block that could not be handed back), or when the I/Q text could not be saved where it
    // was asked for (the journal, a fallback file or stderr has it then), else 0.
    int ExitStatus = 0;
    // The chart captures this run has written: the save dialog does not take them for the I/Q
    // text.
    std::vector<std::string> ChartsWritten;
    // The status line: a message holds it against the signal status for kMessageHoldSeconds.
    int64_t MessageShownNanoseconds = 0;  // [ns, capture clock] 0: no message yet
    std::string SignalStatus;             // the latest signal status, shown when free
    BlockTiming Timing;

    App() = default;
    App(const App&) = delete;
    App& operator=(const App&) = delete;
};

// The window's handler. Returns 0 in every case.
int MainDialogCallback(App& a, WindowMessage message, WParam wParam, LParam lParam);

// A control's or menu item's command: its action first, the handler only when the action
// returns 0 (or there is none). `notification` is Plain for buttons, check boxes, options and
// menu items.
void SendCommand(App& a, int id, EntryNotification notification = EntryNotification::Plain);

// The mouse over the client area as the window's handler sees it: controls that take the
// mouse themselves (buttons, entries, check boxes, options, device list) keep it.
void DeliverMouseMove(App& a, int x, int y);
void DeliverLeftButton(App& a, int x, int y);

// The window's initialisation through the handler, once the window is built and before it is
// shown. A stop signal that arrived meanwhile ends the window; false when it has ended (the
// initialisation may also end it), and the program is to end with ExitStatus.
bool InitialiseMainWindow(App& a);

// The question the "Warning" asks below kNoInputDevicesText when the system has no input at all.
inline constexpr const char* kOfferSimulatorText =
    "Start the built-in simulator instead? It measures a simulated GPS receiver and radio, "
    "as the option --simulate does.";

// Whether the window has start-up work to do once it is up (FinishStartup), for the toolkit to
// call it soon after the window is shown.
bool StartupPending(const App& a);
// Once the window is up, unless it has ended or a stop signal has arrived: the start-up notice
// (an earlier run's journal) in a box, then Start when the user chose the simulator because the
// system has no input.
void FinishStartup(App& a);

// Ends the window: the close-time work once, then the window is destroyed. Every way out
// comes here: the close box, End, a failed Start, a block that cannot be handed back (those
// two set ExitStatus to 1 first).
void EndMainWindow(App& a);

// A stop signal has arrived: boxes waiting for the user close, and the window ends as the close
// box ends it (the close-time work without questions). Any number of them end it once.
void StopSignalArrived(App& a, int signal);

// The capture source ended or failed on its own (a played file ran out, a device vanished).
void CaptureSourceStopped(App& a);

// Sets the title, and logs it.
void SetWindowTitle(App& a, const std::string& title);

// How long a message keeps the status line from the signal status [s].
constexpr int kMessageHoldSeconds = 10;

// A message for the user on the status line, logged as a MESSAGE line; it stays until the next
// message, or until the signal status replaces it after kMessageHoldSeconds.
void ShowStatusMessage(App& a, const std::string& text);
// The chain's signal status on the status line (not logged here: the chain's host logs it),
// unless a message shown in the last kMessageHoldSeconds is still there: then it waits for
// the next call after that.
void ShowSignalStatus(App& a, const std::string& text);
// The status line's text for the signal's state: the run's answer as the summary opens with it
// (the card's frequency error and its source, the timing, the state's own text and how long it
// has held), then, when known, the rate the input runs at ("...; input 48000 Hz").
std::string SignalStatusText(const RunAnswer& answer, int framesPerSecond = 0);

// From here on, the first failed write of the read-out log and of the recording is reported
// when it happens, on stderr, in the title and on the status line, while the measurement goes
// on.
void WatchWriteFailures(App& a);

// The files the command line names: none of the outputs (--csv, --iq-csv, --log-readouts,
// --record) may be the input recording (--play), another of them, or an I/Q journal in the
// current directory ("IQfile.journal" and its other names), as one file under any name. False
// with one line in `error` naming them.
bool CheckWindowFiles(const AppOptions& o, std::string& error);

// Opens --csv and --iq-csv, appending to what earlier runs wrote, after CheckWindowFiles (a file
// that holds other rows is refused too); a write failure later is reported as the recording's
// are, while the measurement goes on. False with one line in `error`.
bool OpenCsvFiles(App& a, std::string& error);

// --daily DIR: the read-out log and the CSV files (readouts.tsv, seconds.csv, periods.csv) in
// DIR/YYYY/MM/DD by the UTC date, appended to as --log-readouts and --csv append, and closed
// and opened again in the next day's folder at each UTC midnight, as quorvelle-batch --daily
// switches its days. OpenDayFiles opens the first day's (false with one line in `error`);
// SwitchDayFiles, before each row and line the chain's host writes, moves on a new day: a
// folder or file that cannot be made then is reported as a write failure is, the measurement
// goes on and the next midnight tries again. The finished day gets report.png and report.txt
// beside its files, made on a thread of their own (said when it has finished: a day with
// nothing to report a CAPTURE line, a text that cannot be written as a write failure), and so
// does the day open when the window closes.
bool OpenDayFiles(App& a, std::string& error);
void SwitchDayFiles(App& a);

// The I/Q file at close, where the usual one in the current directory cannot be written and
// the save dialog gave no place: a new file of the same name in the home folder (HOME, or
// USERPROFILE on Windows), else in the temporary folder; its path, or "" when neither takes it.
std::string SaveIqTextToFallback(const std::string& iqText, const std::string& name);

// The control actions (exposed for the window's routing and for tests).
int StartCaptureAction(App& a, WindowMessage, WParam, LParam);
int EndCaptureAction(App& a, WindowMessage, WParam, LParam);
int ReadLockFreq(App& a, WindowMessage, WParam, LParam);
int ReadOffset(App& a, WindowMessage, WParam, LParam);
int ReadIntegrationTimeAction(App& a, WindowMessage, WParam, LParam);
int FixOffsetAction(App& a, WindowMessage, WParam, LParam);
int ResetAllAction(App& a, WindowMessage, WParam, LParam);
int ToggleBlankRf(App& a, WindowMessage, WParam, LParam);
int ToggleInvert(App& a, WindowMessage, WParam, LParam);
int ToggleSaveIq(App& a, WindowMessage, WParam, LParam);
int ToggleSaveScreen(App& a, WindowMessage, WParam, LParam);
int OpenRecordingMixer(App& a, WindowMessage, WParam, LParam);
int ClearVectorscopeAction(App& a, WindowMessage, WParam, LParam);
int ClearChartAction(App& a, WindowMessage, WParam, LParam);
int CaptureScreenAction(App& a, WindowMessage, WParam, LParam);

// The closing CAPTURE summary: frames, drops, overflows and how promptly blocks were handled.
std::string CaptureSummary(const App& a);

}  // namespace qv
