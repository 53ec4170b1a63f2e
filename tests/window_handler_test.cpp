// The main window's handler and actions, driven through a fake window without a display:
// routing, mouse, magnification, entry fields, toggles, Start and every way out, the journal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "app/iq_journal.h"
#include "app/main_handler.h"
#include "app/recording_mixer.h"
#include "capture/block_sources.h"
#include "common/time_of_day.h"
#include "files/capture_bitmap.h"
#include "files/iq_file.h"
#include "tests/capture_fakes.h"
#include "tests/readouts.h"
#include "tests/test_files.h"

namespace qv {

namespace {

// A window that keeps what the handler does to it.
class FakeWindow final : public WindowPort {
public:
    std::string title = kMainTitle;
    std::string status;
    std::map<int, bool> checks = {{IDBLANKRF, true}, {IDINVERT, false}};
    std::map<int, std::string> texts = {
        {IDLOCKFREQ, "1700.0"}, {IDOFFSET, "0.0000000000000000000"}, {IDINTTIME, "3"}};
    std::map<int, bool> disabled, menuChecks;
    Cursor cursor = Cursor::Arrow;
    std::vector<std::string> messages;     // "caption: text"
    std::vector<std::string> saveAnswers;  // what the save dialog answers, in turn
    int saveDialogs = 0;
    std::vector<bool> yesAnswers;        // what the questions answer, in turn; then No
    std::vector<std::string> questions;  // their texts
    std::function<void()> whileSaveDialogIsOpen;
    std::function<void()> whileMessageIsOpen;
    int boxesOpen = 0;    // a box is up while its call runs
    int boxesClosed = 0;  // boxes closed by CloseBoxes
    bool boxClosed = false;
    std::vector<std::string> deviceNames;
    int deviceIndex = -1;
    std::string deviceText;
    int destroyed = 0;
    int panelsShown = 0;

    void SetTitle(const std::string& t) override { title = t; }
    void SetStatus(const std::string& text) override { status = text; }
    std::string ControlText(int id) override { return texts[id]; }
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    void EnableControl(int id, bool enabled) override { disabled[id] = !enabled; }
    void SetMenuCheck(int id, bool checked) override { menuChecks[id] = checked; }
    void SetCheck(int id, bool checked) override { checks[id] = checked; }
    void SetCursor(Cursor c) override { cursor = c; }
    void ShowPanel(PanelId) override { ++panelsShown; }
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon) override {
        messages.push_back(caption + ": " + text);
        ++boxesOpen;
        boxClosed = false;
        if (whileMessageIsOpen) whileMessageIsOpen();
        --boxesOpen;
    }
    std::string suggested;  // the save dialog's first answer, as it was last opened
    std::string AskSavePath(const std::string&, const std::string& first) override {
        suggested = first;
        ++saveDialogs;
        ++boxesOpen;
        boxClosed = false;
        if (whileSaveDialogIsOpen) whileSaveDialogIsOpen();
        --boxesOpen;
        if (saveAnswers.empty() || boxClosed) return "";
        const std::string answer = saveAnswers.front();
        saveAnswers.erase(saveAnswers.begin());
        return answer;
    }
    bool AskYesNo(const std::string&, const std::string& text) override {
        questions.push_back(text);
        if (yesAnswers.empty()) return false;
        const bool yes = yesAnswers.front();
        yesAnswers.erase(yesAnswers.begin());
        return yes;
    }
    void CloseBoxes() override {
        if (boxesOpen > 0 && !boxClosed) ++boxesClosed;
        boxClosed = true;
    }
    void FillDeviceList(const std::vector<std::string>& names, int selected) override {
        deviceNames = names;
        deviceIndex = selected;
        deviceText = selected >= 0 ? names[selected] : "";
    }
    int DeviceListIndex() override { return deviceIndex; }
    std::string DeviceListText() override { return deviceText; }
    void DestroyWindow() override { ++destroyed; }
};

// One fake sound card (or none); Start gets a fast counting source, or one that cannot be
// opened, or for the simulator's entry the simulator with `simulator`'s settings, ten times as
// fast as real time (faster, a loaded machine's chain falls 2 s behind and frames are dropped).
class FakeSound final : public CaptureSystem {
public:
    std::shared_ptr<SourceProbe> probe = std::make_shared<SourceProbe>();
    std::string openFailure;
    int64_t totalFrames = -1;  // -1: endless
    int rate = 8000;           // [frames/s] the source delivers
    int sourcesMade = 0;
    int chosenEntry = -2;
    bool noDevices = false;
    const SimulatorSettings* simulator = nullptr;

    bool EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string&) override {
        devices = {{true, "Line In", 2}};
        if (noDevices) devices.clear();
        return true;
    }
    std::unique_ptr<BlockSource> CreateSource(const DeviceList& list) override {
        ++sourcesMade;
        chosenEntry = list.Selected;
        const DeviceEntry* entry = SelectedEntry(list);
        if (simulator != nullptr && entry != nullptr && entry->Kind == EntryKind::Simulator) {
            return std::make_unique<SimulatorSource>(*simulator, -1, 10);
        }
        auto source = std::make_unique<CountingSource>(probe);
        source->openFailure = openFailure;
        source->totalFrames = totalFrames;
        source->rate = rate;
        return source;
    }
};

// Another window program with fakes of its own, beside the fixture's, in the current directory.
struct OtherWindow {
    OtherWindow() {
        A.Port = &Window;
        A.Sound = &Sound;
        A.Notifier = &Queue;
    }
    ~OtherWindow() { EndCapture(A.Engine); }

    FakeWindow Window;
    FakeSound Sound;
    BlockQueue Queue;  // outlives the engine, which posts to it
    App A;
};

// The program in a test folder of its own, as the current directory (files land there).
class WindowHandler : public testing::Test {
protected:
    WindowHandler() {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder.Dir());
        app.Port = &window;
        app.Sound = &sound;
        app.Notifier = &queue;
        app.Trace = &trace;
    }
    ~WindowHandler() override {
        EndCapture(app.Engine);
        std::filesystem::current_path(previous_);
    }

    void Init() { MainDialogCallback(app, WindowMessage::InitDialog, 0, 0); }

    // Types `text` into an entry field: its text changes and it notifies.
    void Type(int id, const std::string& text) {
        window.texts[id] = text;
        SendCommand(app, id, EntryNotification::Change);
    }

    // Handles posted blocks until `frames` have been processed.
    void Process(int64_t frames) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (app.Chain.FramesProcessed() < frames && std::chrono::steady_clock::now() < giveUp) {
            CaptureBlock* block = nullptr;
            if (queue.Next(block, std::chrono::milliseconds(100)) == BlockQueue::Wait::Block) {
                MainDialogCallback(app, WindowMessage::CaptureBlock, 0,
                                   reinterpret_cast<LParam>(block));
            }
        }
        ASSERT_GE(app.Chain.FramesProcessed(), frames);
    }

    std::vector<std::string> IqFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Dir())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("IQfile ", 0) == 0) names.push_back(name);
        }
        return names;
    }

    TestFolder folder;
    FakeWindow window;
    FakeSound sound;
    BlockQueue queue;  // outlives the engine, which posts to it
    std::vector<std::string> trace;
    App app;

private:
    std::filesystem::path previous_;
};

using Trace = std::vector<std::string>;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Routing

TEST_F(WindowHandler, ActionRunsFirstAndTheHandlerOnlyWhenItReturnsZero) {
    Init();
    trace.clear();
    SendCommand(app, IDOFFSET);
    EXPECT_EQ(trace, (Trace{"action IDOFFSET", "handler IDOFFSET"}));

    trace.clear();
    SendCommand(app, IDMAG10);  // no action of its own
    EXPECT_EQ(trace, (Trace{"handler IDMAG10"}));

    // An emptied integration time stays empty while the field has the focus; when it loses
    // it, the field is set to "1", which notifies again inside the first run.
    trace.clear();
    Type(IDINTTIME, "");
    EXPECT_EQ(trace, (Trace{"action IDINTTIME", "handler IDINTTIME"}));
    trace.clear();
    SendCommand(app, IDINTTIME, EntryNotification::KillFocus);
    EXPECT_EQ(trace, (Trace{"action IDINTTIME", "action IDINTTIME", "handler IDINTTIME",
                            "handler IDINTTIME"}));

    // A started capture is handled by Start's action: the handler never sees it.
    trace.clear();
    SendCommand(app, IDCAP);
    EXPECT_EQ(trace, (Trace{"action IDCAP"}));
}

// ---------------------------------------------------------------------------------------------
// Mouse

TEST_F(WindowHandler, HoverTitleFollowsTheClickScopeAndOnlyWhereTheWindowGetsTheMouse) {
    Init();
    DeliverMouseMove(app, 11 + 49, 60);  // panel x 49
    EXPECT_EQ(window.title, "Click peak = 24");
    EXPECT_EQ(window.cursor, Cursor::CrossHair);

    DeliverMouseMove(app, 200, 530);  // empty window area
    EXPECT_EQ(window.title, "GPS Quorvelle");
    EXPECT_EQ(window.cursor, Cursor::Arrow);

    for (auto [x, y] : {std::pair{11, 6}, {200, 60}, {400, 300}, {330, 5}, {500, 10}}) {
        window.title = "before";  // scope's left edge, I/Q panel, chart, read-out, label
        DeliverMouseMove(app, x, y);
        EXPECT_EQ(window.title, x == 11 ? "Click peak = 0" : "GPS Quorvelle") << x << "," << y;
    }
    // Buttons, entries, check boxes, options and the device list keep the mouse.
    for (auto [x, y] : {std::pair{330, 150}, {570, 35}, {565, 115}, {495, 45}, {500, 150}}) {
        window.title = "before";
        DeliverMouseMove(app, x, y);
        EXPECT_EQ(window.title, "before") << x << "," << y;
    }
}

TEST_F(WindowHandler, ClickOnTheScopeSetsClickPositionFromHalfThePanelX) {
    Init();
    for (auto [panelX, position] : {std::pair{0, 0}, {1, 0}, {125, 62}, {64, 32}}) {
        DeliverLeftButton(app, 11 + panelX, 100);
        EXPECT_EQ(app.M.Lock.ClickPosition, position) << panelX;
    }
    DeliverLeftButton(app, 10, 100);  // the sunken edge counts as the first pixel
    EXPECT_EQ(app.M.Lock.ClickPosition, 0);
    DeliverLeftButton(app, 137, 100);
    EXPECT_EQ(app.M.Lock.ClickPosition, 62);
    DeliverLeftButton(app, 200, 100);  // the I/Q panel: nothing
    EXPECT_EQ(app.M.Lock.ClickPosition, 62);
}

// ---------------------------------------------------------------------------------------------
// Magnification, entry fields and toggles

TEST_F(WindowHandler, MagnificationOptionsSetTheDivisorAndAlwaysClearTheVectorscope) {
    Init();
    for (auto [id, divisor] : {std::pair{IDMAG10, 10},
                               {IDMAG100, 100},
                               {IDMAG1000, 1000},
                               {IDMAG1, 1},
                               {IDMAG10, 10},
                               {IDMAG10, 10}}) {
        app.M.Lock.VectorI = 5;
        app.M.Screen.ChartColumn = 7;
        SendCommand(app, id);
        EXPECT_EQ(app.M.Screen.VectorMagnification, divisor);
        EXPECT_EQ(app.M.Lock.VectorI, 0) << "cleared even when chosen again";
        EXPECT_EQ(app.M.Screen.ChartColumn, 0);
    }
}

// T follows every change of the integration-time field at once; its text is put right ("1",
// the upper limit) only when the field loses the focus or Enter is pressed in it (or at once by
// Reset All, below).
TEST_F(WindowHandler, IntegrationTimeFieldIsPutRightOnlyWhenTheUserIsDoneWithIt) {
    Init();
    EXPECT_EQ(app.M.Params.IntegrationSeconds, 3);
    struct Step {
        EntryNotification Notification;
        std::string Typed;  // the field's text before the notification; "=" leaves it as it is
        int Seconds;
        std::string Shown;  // the field's text after it
    };
    using enum EntryNotification;
    const std::vector<Step> steps = {
        {SetFocus, "=", 3, "3"},
        // "3" selected, BackSpace, "30" typed: T is 1 while the field is empty, no "1" appears.
        {Change, "", 1, ""},
        {Change, "3", 3, "3"},
        {Change, "30", 30, "30"},
        {KillFocus, "=", 30, "30"},
        // Emptied, then Tab away.
        {SetFocus, "=", 30, "30"},
        {Change, "", 1, ""},
        {KillFocus, "=", 1, "1"},
        {Change, "15", 15, "15"},  // a 5 typed behind the 1
        // No number, then Enter; the field keeps the focus and typing goes on behind the "1".
        {Change, "abc", 1, "abc"},
        {Enter, "=", 1, "1"},
        {Change, "12", 12, "12"},
        // Too large: limited at once, shown limited when the user is done.
        {Change, "999999", kMaxIntegrationSeconds, "999999"},
        {SetFocus, "=", kMaxIntegrationSeconds, "999999"},
        {KillFocus, "=", kMaxIntegrationSeconds, "268435"},
        {Change, "1e4933", kMaxIntegrationSeconds, "1e4933"},
        {Enter, "=", kMaxIntegrationSeconds, "268435"},
        {Change, "2.9", 2, "2.9"},
        {KillFocus, "=", 2, "2.9"},
        {Change, "0.5", 1, "0.5"},
        {KillFocus, "=", 1, "1"},
    };
    for (size_t k = 0; k < steps.size(); ++k) {
        const Step& step = steps[k];
        if (step.Typed != "=") window.texts[IDINTTIME] = step.Typed;
        SendCommand(app, IDINTTIME, step.Notification);
        EXPECT_EQ(app.M.Params.IntegrationSeconds, step.Seconds) << "step " << k;
        EXPECT_EQ(window.texts[IDINTTIME], step.Shown) << "step " << k;
    }
}

// A lock frequency Start or Reset All reads as something else than it looks is shown in the
// title and on stderr, once while the same text is read again.
TEST_F(WindowHandler, DoubtfulLockFrequencyIsWarnedInTheTitleOnce) {
    Init();
    window.texts[IDLOCKFREQ] = "nan";
    testing::internal::CaptureStderr();
    SendCommand(app, IDCAP);
    SendCommand(app, IDRESET);
    window.texts[IDLOCKFREQ] = "1700";
    SendCommand(app, IDRESET);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "quorvelle: warning: lock frequency \"nan\" holds no number: the oscillator starts "
              "at 0 Hz\n");
    EXPECT_EQ(window.title, std::string(kMainTitle) +
                                " - warning: lock frequency \"nan\" holds "
                                "no number: the oscillator starts at 0 Hz");
    EXPECT_EQ(app.M.Lock.LockStep, 1700.0L / 8000);
    EXPECT_EQ(app.Engine.State, CaptureState::Recording) << "a warning does not stop the capture";
}

// The offset takes effect only at Fix offset or Reset All; Reset All before Start sets the rates
// and clears without opening the device.
TEST_F(WindowHandler, OffsetAtFixOffsetAndResetAllBeforeStartSetTheRatesWithoutTheDevice) {
    Init();
    Type(IDOFFSET, "1");
    EXPECT_EQ(app.M.Lock.OffsetStep, 0);
    SendCommand(app, IDFIXOFFSET);
    EXPECT_EQ(app.M.Lock.OffsetStep, 1.0L / 8000);

    window.texts[IDLOCKFREQ] = "1000";
    window.texts[IDOFFSET] = "2";
    window.texts[IDINTTIME] = "0";
    app.M.Lock.VectorI = 3;
    SendCommand(app, IDRESET);
    EXPECT_EQ(app.M.Front.ResampleStep, 1.0L);
    EXPECT_EQ(app.M.Front.RealignPending, 1);
    EXPECT_EQ(app.M.Lock.LockStep, 1000.0L / 8000);
    EXPECT_EQ(app.M.Lock.OffsetStep, 2.0L / 8000);
    EXPECT_EQ(app.M.Lock.VectorI, 0);
    EXPECT_EQ(window.texts[IDINTTIME], "1");
    EXPECT_EQ(sound.sourcesMade, 0);
    EXPECT_EQ(app.Engine.State, CaptureState::Idle);
}

TEST_F(WindowHandler, TogglesNegateTheirFlagsAndShowThem) {
    Init();
    SendCommand(app, IDBLANKRF);
    EXPECT_EQ(window.title, "-1");
    SendCommand(app, IDBLANKRF);
    EXPECT_EQ(window.title, "1");
    EXPECT_EQ(app.M.Params.BlankRfClickFlag, 1);

    SendCommand(app, IDINVERT);
    EXPECT_EQ(app.M.Params.InvertFlag, 1);

    SendCommand(app, IDSAVEIQ);
    EXPECT_TRUE(window.menuChecks[IDSAVEIQ]);
    SendCommand(app, IDSAVEIQ);
    EXPECT_FALSE(window.menuChecks[IDSAVEIQ]);
    EXPECT_EQ(app.M.Params.SaveIqFlag, -1);

    SendCommand(app, IDSAVESCREEN);
    EXPECT_TRUE(window.menuChecks[IDSAVESCREEN]);
    EXPECT_EQ(app.M.Params.SaveScreenFlag, 1);
}

// ---------------------------------------------------------------------------------------------
// Capture and the ways out

TEST_F(WindowHandler, StartDisablesItsControlsAndBlocksReachTheChain) {
    Init();
    EXPECT_EQ(window.deviceNames, (std::vector<std::string>{"Line In"}));
    window.texts[IDLOCKFREQ] = "1234";
    SendCommand(app, IDCAP);
    EXPECT_TRUE(window.disabled[IDCAP]);
    EXPECT_TRUE(window.disabled[IDDEVICE]);
    EXPECT_EQ(sound.chosenEntry, 0);
    EXPECT_EQ(app.M.Params.LockFrequency, 1234);
    Process(3 * 8000);
    EXPECT_NE(window.texts[IDFREQERROR], "");  // read-outs arrive once a second
    EXPECT_GT(window.panelsShown, 0);

    // A block with no recorded bytes processes nothing and still goes back.
    CaptureBlock* block = nullptr;
    ASSERT_EQ(queue.Next(block, std::chrono::seconds(5)), BlockQueue::Wait::Block);
    block->BytesRecorded = 0;
    const int64_t before = app.Chain.FramesProcessed();
    MainDialogCallback(app, WindowMessage::CaptureBlock, 0, reinterpret_cast<LParam>(block));
    EXPECT_EQ(app.Chain.FramesProcessed(), before);
    EXPECT_EQ(window.destroyed, 0);
}

TEST_F(WindowHandler, InputThatEndsIsShownWithoutEndingTheProgram) {
    Init();
    sound.totalFrames = 1000;  // a played recording that runs out
    SendCommand(app, IDCAP);
    Process(1000);
    CaptureBlock* block = nullptr;
    ASSERT_EQ(queue.Next(block, std::chrono::seconds(5)), BlockQueue::Wait::Stopped);
    CaptureSourceStopped(app);
    EXPECT_NE(window.title.find("the input has ended"), std::string::npos) << window.title;
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.destroyed, 0);
}

TEST_F(WindowHandler, TypedDeviceTextChoosesTheEntryItNamesOrTheDefaultInput) {
    Init();
    window.deviceText = "line";
    SendCommand(app, IDCAP);
    EXPECT_EQ(sound.chosenEntry, 0);
}

TEST_F(WindowHandler, EveryWayOutDoesTheCloseTimeWorkOnce) {
    enum class Way { CloseBox, End, EndBeforeStart, FailedStart, FailedHandBack };
    for (Way way :
         {Way::CloseBox, Way::End, Way::EndBeforeStart, Way::FailedStart, Way::FailedHandBack}) {
        SCOPED_TRACE(static_cast<int>(way));
        TestFolder here;
        std::filesystem::current_path(here.Dir());
        OtherWindow other;
        FakeWindow& w = other.Window;
        FakeSound& s = other.Sound;
        App& a = other.A;
        MainDialogCallback(a, WindowMessage::InitDialog, 0, 0);
        SendCommand(a, IDSAVEIQ);
        if (way == Way::FailedStart) s.openFailure = "unplugged";
        if (way != Way::EndBeforeStart) SendCommand(a, IDCAP);
        switch (way) {
            case Way::CloseBox:
                EndMainWindow(a);
                EndMainWindow(a);  // a second close finds the window gone
                break;
            case Way::End:
            case Way::EndBeforeStart:
                SendCommand(a, IDEND);
                break;
            case Way::FailedStart: {
                // The failure, then what to try instead.
                ASSERT_EQ(w.messages.size(), 1u);
                const std::string& box = w.messages[0];
                EXPECT_EQ(box.rfind("GPS QuorVelle: No suitable device found\n(unplugged)\n\n", 0),
                          0u)
                    << box;
                for (const char* hint : {"--simulate", "--play FILE.wav", "Setup/Input",
                                         "quorvelle-batch --list-devices"}) {
                    EXPECT_NE(box.find(hint), std::string::npos) << hint;
                }
                break;
            }
            case Way::FailedHandBack: {
                CaptureBlock forged;
                MainDialogCallback(a, WindowMessage::CaptureBlock, 0,
                                   reinterpret_cast<LParam>(&forged));
                ASSERT_EQ(w.messages.size(), 1u);
                EXPECT_NE(w.messages[0].find("cannot be handed back"), std::string::npos);
                break;
            }
        }
        EXPECT_EQ(w.destroyed, 1);
        EXPECT_TRUE(a.CloseWorkDone);
        // Only a failed capture is a failure of the program.
        const bool failed = way == Way::FailedStart || way == Way::FailedHandBack;
        EXPECT_EQ(a.ExitStatus, failed ? 1 : 0);
        int iqFiles = 0;
        for (const auto& entry : std::filesystem::directory_iterator(here.Dir())) {
            iqFiles += entry.path().filename().string().rfind("IQfile ", 0) == 0;
        }
        EXPECT_EQ(iqFiles, 1);
        // Blocks arriving after the end are left alone.
        const int64_t processed = a.Chain.FramesProcessed();
        CaptureBlock* block = nullptr;
        if (other.Queue.Next(block, std::chrono::milliseconds(200)) == BlockQueue::Wait::Block) {
            MainDialogCallback(a, WindowMessage::CaptureBlock, 0, reinterpret_cast<LParam>(block));
        }
        EXPECT_EQ(a.Chain.FramesProcessed(), processed);
        EndCapture(a.Engine);
        std::filesystem::current_path(folder.Dir());
    }
}

// ---------------------------------------------------------------------------------------------
// The I/Q file and its journal

TEST_F(WindowHandler, JournalHoldsTheIqTextAndGoesAtANormalClose) {
    Init();
    SendCommand(app, IDSAVEIQ);
    SendCommand(app, IDINTTIME);
    Type(IDINTTIME, "1");
    SendCommand(app, IDCAP);
    Process(3 * 8000 + 1000);
    ASSERT_GE(TextLines(folder.Path(kIqJournalName)).size(), 4u);
    EXPECT_EQ(FileText(folder.Path(kIqJournalName)), app.M.IqText);

    SendCommand(app, IDEND);
    const std::vector<std::string> files = IqFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(FileText(folder.Path(files[0])), app.M.IqText + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path(kIqJournalName)));
}

TEST_F(WindowHandler, UnwritableIqFileIsOfferedElsewhereAndTheJournalKeptIfRefused) {
    Init();
    SendCommand(app, IDSAVEIQ);
    app.M.IqText += IqRecord("12:00:00", 1, 2);
    std::string error;
    ASSERT_TRUE(JournalIqRecord(app.Journal, app.M.IqText, "", error));
    // The current directory is gone, so the I/Q file cannot be created there.
    EnterRemovedFolder(folder.Path("gone"));
    app.Journal.Path = folder.Path(kIqJournalName);  // where it was created

    window.saveAnswers = {folder.Path("nope/x.TXT"), folder.Path("saved.TXT")};
    EndMainWindow(app);
    EXPECT_EQ(window.saveDialogs, 2);
    EXPECT_EQ(window.messages.size(), 2u);  // each failure says why
    EXPECT_EQ(FileText(folder.Path("saved.TXT")), app.M.IqText + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path(kIqJournalName)));
}

TEST_F(WindowHandler, BlocksArrivingDuringTheCloseTimeWorkAddNothing) {
    Init();
    SendCommand(app, IDSAVEIQ);
    Type(IDINTTIME, "1");
    SendCommand(app, IDCAP);
    Process(2 * 8000 + 1000);
    app.Journal.Path = folder.Path(kIqJournalName);
    EnterRemovedFolder(folder.Path("gone"));

    const std::string iqText = app.M.IqText;
    window.whileSaveDialogIsOpen = [&] {
        CaptureBlock* block = nullptr;
        for (int i = 0; i < 200; ++i) {  // 3 s of blocks: more than one period
            if (queue.Next(block, std::chrono::seconds(2)) != BlockQueue::Wait::Block) break;
            MainDialogCallback(app, WindowMessage::CaptureBlock, 0,
                               reinterpret_cast<LParam>(block));
        }
    };
    window.saveAnswers = {folder.Path("saved.TXT")};
    EndMainWindow(app);  // the close box: capture goes on while the dialog is open
    EXPECT_EQ(app.M.IqText, iqText);
    EXPECT_EQ(FileText(folder.Path("saved.TXT")), iqText + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Path(kIqJournalName)));
}

TEST_F(WindowHandler, RefusedSaveDialogKeepsTheJournalAndSaysWhere) {
    Init();
    SendCommand(app, IDSAVEIQ);
    std::string error;
    ASSERT_TRUE(JournalIqRecord(app.Journal, app.M.IqText, "", error));
    app.Journal.Path = folder.Path(kIqJournalName);
    EnterRemovedFolder(folder.Path("gone"));
    EndMainWindow(app);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_NE(window.messages[1].find(folder.Path(kIqJournalName)), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder.Path(kIqJournalName)));
}

TEST_F(WindowHandler, JournalOfAnEarlierRunIsSetAsideAtStartUp) {
    WriteText(folder.Path(kIqJournalName), "old records");
    WriteText(folder.Path(std::string(kIqJournalName) + ".1"), "older records");
    Init();
    EXPECT_FALSE(std::filesystem::exists(folder.Path(kIqJournalName)));
    EXPECT_EQ(FileText(folder.Path(std::string(kIqJournalName) + ".2")), "old records");
    EXPECT_NE(app.StartupNotice.find(std::string(kIqJournalName) + ".2"), std::string::npos);
}

TEST_F(WindowHandler, ChartThatCannotBeSavedIsShownInTheTitleNotInABox) {
    Init();
    EnterRemovedFolder(folder.Path("gone"));
    app.Host.ChartCaptured(app.M.Screen.CaptureSurface, 12 * 3600000);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_NE(window.title.find("chart not saved: 120000.BMP"), std::string::npos) << window.title;

    // "Capture screen" is the user's own request: a box says why.
    SendCommand(app, IDCAPTURESCREEN);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_NE(window.messages[0].find(".BMP: cannot create"), std::string::npos)
        << window.messages[0];
}

TEST_F(WindowHandler, LogOrRecordingThatCannotBeWrittenIsShownInTheTitleAtOnce) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::string error;
    ASSERT_TRUE(app.Log.Open("/dev/full", LogStart::Append, true, error)) << error;
    WatchWriteFailures(app);
    Init();
    SendCommand(app, IDCAP);
    Process(8000);  // a second's read-outs, each a line that cannot be written
    EXPECT_EQ(window.title,
              std::string(kMainTitle) + " - /dev/full: cannot write: No space left on device");
    EXPECT_TRUE(window.messages.empty()) << "no box stalls the measurement";

    // The live chain reports a failing recording through the same title.
    app.Chain.ShowProblem("rec.wav: cannot write: No space left on device");
    EXPECT_EQ(window.title,
              std::string(kMainTitle) + " - rec.wav: cannot write: No space left on device");
}

// The status line keeps what used to flash by in the title: each message stays until the next,
// is logged as MESSAGE, and holds the line against the signal status for a while. The title
// keeps its own hover texts meanwhile.
TEST_F(WindowHandler, StatusLineKeepsTheMessagesAndLogsThem) {
    const std::string log = folder.Path("log.tsv");
    std::string error;
    ASSERT_TRUE(app.Log.Open(log, LogStart::Append, true, error)) << error;
    Init();
    EXPECT_EQ(window.status, "") << "nothing to say at a normal start";

    // The recording mixer cannot be started: no mixer on the PATH.
    const char* path = std::getenv("PATH");
    const std::string oldPath = path != nullptr ? path : "";
    setenv("PATH", folder.Path("no-bin").c_str(), 1);
    testing::internal::CaptureStderr();
    SendCommand(app, IDINPUT);
    testing::internal::GetCapturedStderr();
    setenv("PATH", oldPath.c_str(), 1);
    const std::string mixer = window.status;
    EXPECT_EQ(mixer.rfind("Input: ", 0), 0u) << mixer;
    DeliverMouseMove(app, 200, 530);  // the hover title replaces the title, not the status
    EXPECT_EQ(window.title, kHoverTitle);
    EXPECT_EQ(window.status, mixer);

    // "Capture screen" says where the chart went, as an absolute path.
    SendCommand(app, IDCAPTURESCREEN);
    const std::string saved = window.status;
    ASSERT_EQ(saved.rfind("Chart saved: " + folder.Dir() + "/", 0), 0u) << saved;
    EXPECT_TRUE(std::filesystem::exists(saved.substr(saved.find('/'))));

    // The signal status waits while a message is fresh, then takes the line, unlogged.
    ShowSignalStatus(app, "PPS: none");
    EXPECT_EQ(window.status, saved);
    app.MessageShownNanoseconds -= int64_t{kMessageHoldSeconds} * 1000000000;
    ShowSignalStatus(app, "PPS: ok");
    EXPECT_EQ(window.status, "PPS: ok");
    ShowSignalStatus(app, "PPS: ok, click: ok");
    EXPECT_EQ(window.status, "PPS: ok, click: ok");

    // A warning and the input's end are messages again; End writes the I/Q file and says where.
    testing::internal::CaptureStderr();
    window.texts[IDLOCKFREQ] = "nan";
    sound.totalFrames = 1000;
    SendCommand(app, IDCAP);
    EXPECT_EQ(window.status.rfind("warning: lock frequency \"nan\"", 0), 0u) << window.status;
    Process(1000);
    CaptureBlock* block = nullptr;
    ASSERT_EQ(queue.Next(block, std::chrono::seconds(5)), BlockQueue::Wait::Stopped);
    CaptureSourceStopped(app);
    EXPECT_EQ(window.status, "the input has ended; End saves the results");
    SendCommand(app, IDSAVEIQ);
    SendCommand(app, IDEND);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(IqFiles().size(), 1u);
    const std::string written = "I/Q file written: " + folder.Path(IqFiles()[0]);
    EXPECT_EQ(window.status, written);
    EXPECT_NE(err.find("quorvelle: " + written + "\n"), std::string::npos) << err;
    EXPECT_EQ(app.ExitStatus, 0);

    const std::vector<std::string> messages = LogTexts(log, "MESSAGE");
    ASSERT_EQ(messages.size(), 5u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0], mixer);
    EXPECT_EQ(messages[1], saved);
    EXPECT_EQ(messages[3], "the input has ended; End saves the results");
    EXPECT_EQ(messages[4], written);
}

// The status line leads with the run's answer: the card frequency (the fine PPS timing's once
// its fit is known), the timing, the state's text and how long it has held, then the input's
// rate; a fresh message still holds the line.
TEST_F(WindowHandler, StatusLineLeadsWithTheAnswerAndEndsWithTheRate) {
    Init();
    SecondValues v{};
    app.Host.SecondEnded(app.M, v);
    const std::string state = app.M.Watch.Current.Text;
    const std::string held = " (" + std::to_string(app.M.Watch.SecondsInState) + " s)";
    EXPECT_EQ(window.status, "card frequency not known yet; timing not known yet; " + state + held +
                                 "; input 8000 Hz");
    RunAnswer answer;
    answer.Frequency = AnswerSource::FineEdges;
    answer.Ppm = -0.00004L;  // rounds to zero: a plus, never "-0.0000"
    answer.Uncertainty = 0.0000123L;
    answer.Timing = AnswerSource::ClockLoop;
    answer.TimingRmsUs = 11.344L;
    answer.StateText = "Measuring";
    answer.StateSeconds = 97;
    EXPECT_EQ(SignalStatusText(answer, 48000),
              "card +0.0000 ppm +-0.000012 (fine PPS); timing 11.34 us RMS (clock loop); "
              "Measuring (97 s); input 48000 Hz");
    ShowStatusMessage(app, "Chart saved: here");
    app.Host.SecondEnded(app.M, v);
    EXPECT_EQ(window.status, "Chart saved: here");
    app.MessageShownNanoseconds -= int64_t{kMessageHoldSeconds} * 1000000000;
    std::string error;
    ASSERT_TRUE(app.Chain.Begin(96000, error)) << error;
    app.Host.SecondEnded(app.M, v);
    EXPECT_NE(window.status.find("; input 96000 Hz"), std::string::npos) << window.status;
}

// A card at its own rate: Start opens it, the chain takes its frames at that rate (the classic
// chain 8000 a second), and the log says so.
TEST_F(WindowHandler, StartAtTheCardsRateRunsTheChainThereAndSaysIt) {
    std::string error;
    ASSERT_TRUE(app.Log.Open("log.tsv", LogStart::Truncate, false, error)) << error;
    sound.rate = 44100;
    Init();
    SendCommand(app, IDCAP);
    EXPECT_EQ(CaptureFramesPerSecond(app.Engine), 44100);
    ASSERT_NO_FATAL_FAILURE(Process(2 * 44100));
    EXPECT_EQ(app.Chain.FramesPerSecond(), 44100);
    EXPECT_EQ(app.M.InputRate, 44100);
    EXPECT_NEAR(static_cast<double>(app.M.FramesProcessed),
                static_cast<double>(app.Chain.FramesProcessed()) * 8000 / 44100, 300);
    SendCommand(app, IDEND);
    ASSERT_TRUE(app.Log.Close(error)) << error;
    const std::vector<std::string> lines = LogTexts("log.tsv", "CAPTURE");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0],
              "capture started from Line In at 44100 frames per second, converted to 8000 for "
              "the classic chain");
}

// --csv rows carry the UTC date and time; --iq-csv has a row for every period although "Save
// I,Q to file?" is off. A CSV file that cannot be written is said once, in the title and on
// stderr, while the measurement and the other file go on.
TEST_F(WindowHandler, CsvRowsCarryTheUtcDateAndAFailingCsvFileIsSaidOnce) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::string error;
    app.Options.CsvPath = "seconds.csv";
    app.Options.IqCsvPath = "/dev/full";
    WatchWriteFailures(app);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(OpenCsvFiles(app, error)) << error;  // its header cannot be written
    const std::string failure = "/dev/full: cannot write: No space left on device";
    EXPECT_EQ(window.title, std::string(kMainTitle) + " - " + failure);
    Init();
    SendCommand(app, IDCAP);
    Process(7 * 8000);  // two periods of 3 s
    // The fake source outruns the chain: stderr also tells of dropped frames.
    const std::string said = testing::internal::GetCapturedStderr();
    size_t times = 0;
    for (size_t at = said.find(failure); at != std::string::npos; at = said.find(failure, at + 1)) {
        ++times;
    }
    EXPECT_EQ(times, 1u) << said;
    EXPECT_NE(said.find("quorvelle: " + failure + "\n"), std::string::npos);
    EXPECT_TRUE(window.messages.empty());

    const std::vector<std::string> lines = TextLines("seconds.csv");
    ASSERT_GE(lines.size(), 1u + 6);
    EXPECT_EQ(lines[0].substr(0, 9), "time,t_s,");
    const std::regex row(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,[0-9.]+,.*)");
    for (size_t k = 1; k < lines.size(); ++k) EXPECT_TRUE(std::regex_match(lines[k], row)) << k;

    // The period rows go on into a file that works, "Save I,Q to file?" still off.
    app.Options.IqCsvPath = "iq.csv";
    app.Csv.Periods.Close(error);
    ASSERT_TRUE(app.Csv.Periods.Open("iq.csv", kPeriodColumns, CsvStart::Append, error)) << error;
    const int64_t periods = app.M.PeriodsClosed;
    Process(app.Chain.FramesProcessed() + 3 * 8000);
    EXPECT_EQ(app.M.PeriodsClosed, periods + 1);
    EXPECT_EQ(TextLines("iq.csv").size(), 2u) << "header and the period's row";
}

// Names the window makes up never replace anything: a link put under the predictable name of
// the I/Q file or a capture is passed over, its target untouched; two windows closing in the
// same second each keep their own I/Q file; each taken name is said on stderr and the status
// line. The files the command line names may be neither the input, nor one another, nor the
// journal.
TEST_F(WindowHandler, NamesTheWindowMakesUpNeverReplaceAnything) {
    namespace fs = std::filesystem;
    const std::string precious = folder.Path("precious.wav");
    WriteText(precious, "a precious recording");
    const int64_t now = LocalMillisecondsOfDay() / 1000 * 1000;
    for (int64_t s = 0; s < 10; ++s) {
        const int64_t ms = (now + s * 1000) % kMillisecondsPerDay;
        fs::create_symlink(precious, folder.Path(IqFileName(ms)));
        fs::create_symlink(precious, folder.Path(CaptureBitmapName(ms)));
    }
    OtherWindow other;
    for (App* a : {&app, &other.A}) {
        MainDialogCallback(*a, WindowMessage::InitDialog, 0, 0);
        SendCommand(*a, IDSAVEIQ);
        a->M.IqText += IqRecord("12:00:00", a == &app ? 1 : 2, 3);
    }
    testing::internal::CaptureStderr();
    SendCommand(app, IDCAPTURESCREEN);
    const std::string chartSaved = window.status;
    EndMainWindow(app);
    EndMainWindow(other.A);
    const std::string err = testing::internal::GetCapturedStderr();

    const std::regex chart("Chart saved: " + folder.Dir() +
                           R"(/(\d{6})-2\.BMP \(\1\.BMP is taken\))");
    EXPECT_TRUE(std::regex_match(chartSaved, chart)) << chartSaved;
    const std::regex iq("I/Q file written: " + folder.Dir() +
                        R"(/IQfile (\d{6})-[23]\.TXT \(IQfile \1\.TXT is taken\))");
    EXPECT_TRUE(std::regex_match(window.status, iq)) << window.status;
    EXPECT_TRUE(std::regex_match(other.Window.status, iq)) << other.Window.status;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
    std::vector<std::string> texts;
    for (const auto& entry : fs::directory_iterator(folder.Dir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("IQfile ", 0) == 0 && !entry.is_symlink()) {
            texts.push_back(FileText(entry.path().string()));
        }
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{app.M.IqText + "\r\n", other.A.M.IqText + "\r\n"}));
    EXPECT_EQ(FileText(precious), "a precious recording");

    AppOptions o;  // (an I/Q journal's name, and one file under two names: WindowProgram)
    o.PlayPath = precious;
    o.RecordPath = folder.Dir() + "/./precious.wav";
    std::string error;
    EXPECT_FALSE(CheckWindowFiles(o, error));
    EXPECT_EQ(error, "--record " + o.RecordPath + " is the input recording");
}

// The save dialog refuses the I/Q journals, the input and the run's other files, and asks before
// it replaces a file. Where neither the I/Q file nor the journal can keep the records (the
// folder deleted with the journal in it), they go to a new file in the home folder, else in the
// temporary folder, else to stderr; never "kept in" a file that is gone; exit status 1.
TEST_F(WindowHandler, SaveDialogRefusesTheRunsFilesAndLostRecordsGoElsewhereWithStatusOne) {
    namespace fs = std::filesystem;
    const std::string rows = folder.Path("rows.csv"), input = folder.Path("in.wav");
    const std::string old = folder.Path("old.TXT");
    WriteText(rows, "rows");
    WriteText(input, "a recording");
    WriteText(old, "an earlier I/Q file");
    Init();
    app.Options.PlayPath = input;  // named only: the close-time work reads no file of them
    app.Options.CsvPath = rows;
    app.Days.emplace(
        folder.Path("days"),
        std::vector<std::string>{kDailyLogName, kDailySecondsName, kDailyPeriodsName},
        [] { return int64_t{0}; }, DayStart::Append);
    std::string daysError;
    ASSERT_TRUE(app.Days->Open(daysError)) << daysError;
    const std::string today = app.Days->Path(kDailySecondsName);
    WriteText(today, "today's rows");
    SendCommand(app, IDSAVEIQ);
    app.M.IqText += IqRecord("12:00:00", 1, 2);
    std::string error;
    ASSERT_TRUE(JournalIqRecord(app.Journal, app.M.IqText, "", error));
    app.Journal.Path = folder.Path(kIqJournalName);
    EnterRemovedFolder(folder.Path("gone"));
    window.saveAnswers = {
        app.Journal.Path, folder.Path("IQfile.journal.7"), input, rows, today, old, old};
    window.yesAnswers = {false, true};
    EndMainWindow(app);
    const std::vector<std::string> refusals = {"is an I/Q journal", ".7 is an I/Q journal",
                                               "is the input recording", "is the --csv file",
                                               "is today's seconds.csv (--daily)"};
    ASSERT_EQ(window.messages.size(), 1 + refusals.size());
    for (size_t i = 0; i < refusals.size(); ++i) {
        EXPECT_NE(window.messages[i + 1].find(refusals[i]), std::string::npos) << refusals[i];
    }
    EXPECT_EQ(window.questions,
              std::vector<std::string>(2, old + " already exists.\nDo you want to replace it?"));
    EXPECT_EQ(FileText(old), app.M.IqText + "\r\n");
    EXPECT_EQ(FileText(rows), "rows");
    EXPECT_EQ(FileText(today), "today's rows");
    EXPECT_EQ(FileText(input), "a recording");
    EXPECT_FALSE(fs::exists(app.Journal.Path));
    EXPECT_EQ(app.ExitStatus, 0);

    // The environment as it was, restored at the end.
    auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    const std::optional<std::string> homeBefore = variable("HOME"), tempBefore = variable("TMPDIR");
    const std::string home = folder.Path("home");
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "a stop signal, no home or temporary folder" : "the dialog cancelled");
        const std::string work = folder.Path(stop ? "work2" : "work1");
        fs::create_directories(work);
        fs::current_path(work);
        OtherWindow w;
        MainDialogCallback(w.A, WindowMessage::InitDialog, 0, 0);
        SendCommand(w.A, IDSAVEIQ);
        w.A.M.IqText += IqRecord("12:00:00", 5, 6);
        ASSERT_TRUE(JournalIqRecord(w.A.Journal, w.A.M.IqText, "", error)) << error;
        fs::remove_all(work);  // the journal with it
        if (stop) {
            setenv("HOME", folder.Path("no-home").c_str(), 1);
            setenv("TMPDIR", folder.Path("no-temp").c_str(), 1);
        }
        testing::internal::CaptureStderr();
        stop ? StopSignalArrived(w.A, SIGTERM) : EndMainWindow(w.A);
        const std::string err = testing::internal::GetCapturedStderr();
        fs::current_path(folder.Dir());
        EXPECT_EQ(w.A.ExitStatus, 1);
        EXPECT_EQ(err.find("kept in"), std::string::npos) << err;
        if (stop) {
            EXPECT_NE(err.find(": cannot create: No such file or directory; the I/Q text follows "
                               "on stderr\n" +
                               w.A.M.IqText + "\r\nquorvelle: end of the I/Q text\n"),
                      std::string::npos)
                << err;
            continue;
        }
        const std::vector<fs::path> saved{fs::directory_iterator(home), {}};
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(FileText(saved[0].string()), w.A.M.IqText + "\r\n");
        EXPECT_NE(err.find("; the I/Q text is saved in " + saved[0].string()), std::string::npos)
            << err;
        EXPECT_EQ(w.Window.suggested, home + "/" + saved[0].filename().string())
            << "the dialog starts in the home folder once the current one has gone";
        ASSERT_EQ(w.Window.messages.size(), 2u);
        EXPECT_NE(w.Window.messages[1].find("The I/Q text is saved in\n" + saved[0].string()),
                  std::string::npos);
    }
    homeBefore ? setenv("HOME", homeBefore->c_str(), 1) : unsetenv("HOME");
    tempBefore ? setenv("TMPDIR", tempBefore->c_str(), 1) : unsetenv("TMPDIR");
}

// ---------------------------------------------------------------------------------------------
// Stop signals and more than one window

// A stop signal while a box waits for the user closes it and ends the program as the close box
// does, once however many come: here the box of a failed Start.
TEST_F(WindowHandler, StopSignalsCloseTheBoxAndEndTheProgramOnce) {
    Init();
    SendCommand(app, IDSAVEIQ);
    sound.openFailure = "unplugged";
    window.whileMessageIsOpen = [&] {
        for (int s : {SIGTERM, SIGINT, SIGHUP}) StopSignalArrived(app, s);
    };
    testing::internal::CaptureStderr();
    SendCommand(app, IDCAP);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(window.boxesClosed, 1);
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.destroyed, 1);
    EXPECT_EQ(app.StopSignal, SIGTERM);
    // The failed Start still fails the program; stderr names the input and the reason.
    EXPECT_EQ(app.ExitStatus, 1);
    EXPECT_EQ(err.rfind("quorvelle: cannot start the capture from Line In: No suitable device "
                        "found (unplugged)\nquorvelle: SIGTERM: ending the program\nquorvelle: "
                        "I/Q file written: " +
                            folder.Dir(),
                        0),
              0u)
        << err;
    EXPECT_EQ(IqFiles().size(), 1u);
    StopSignalArrived(app, SIGTERM);  // after the end: nothing more
    EXPECT_EQ(window.destroyed, 1);
    EXPECT_EQ(IqFiles().size(), 1u);
}

// A stop while the close-time work asks about an I/Q file that cannot be written (in its box,
// or in the save dialog): no further box or dialog; the journal is kept and stderr says where.
TEST_F(WindowHandler, StopWhileTheCloseTimeWorkAsksKeepsTheJournalWithoutAskingAgain) {
    for (const bool inDialog : {false, true}) {
        SCOPED_TRACE(inDialog ? "stop in the save dialog" : "stop in the message box");
        TestFolder here;
        std::filesystem::current_path(here.Dir());
        OtherWindow other;
        FakeWindow& w = other.Window;
        App& a = other.A;
        MainDialogCallback(a, WindowMessage::InitDialog, 0, 0);
        SendCommand(a, IDSAVEIQ);
        a.M.IqText += IqRecord("12:00:00", 1, 2);
        std::string error;
        ASSERT_TRUE(JournalIqRecord(a.Journal, a.M.IqText, "", error));
        a.Journal.Path = here.Path(kIqJournalName);
        EnterRemovedFolder(here.Path("gone"));

        auto stop = [&] { StopSignalArrived(a, SIGHUP); };
        (inDialog ? w.whileSaveDialogIsOpen : w.whileMessageIsOpen) = stop;
        w.saveAnswers = {here.Path("never.TXT")};
        testing::internal::CaptureStderr();
        EndMainWindow(a);  // the close box
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(w.messages.size(), 1u) << "only the box that was up when the stop came";
        EXPECT_EQ(w.saveDialogs, inDialog ? 1 : 0);
        EXPECT_EQ(w.boxesClosed, 1);
        EXPECT_EQ(w.destroyed, 1);
        EXPECT_FALSE(std::filesystem::exists(here.Path("never.TXT")));
        EXPECT_EQ(FileText(here.Path(kIqJournalName)), a.M.IqText);
        EXPECT_NE(err.find("the I/Q records are kept in " + here.Path(kIqJournalName)),
                  std::string::npos)
            << err;
        std::filesystem::current_path(folder.Dir());
    }
}

// Two windows in one folder, both saving I/Q: the second neither sets aside nor touches the
// first's live journal and says nothing of an earlier run; each close removes only its own.
TEST_F(WindowHandler, TwoWindowsInOneFolderKeepToTheirOwnJournals) {
    Init();
    SendCommand(app, IDSAVEIQ);
    Type(IDINTTIME, "1");
    SendCommand(app, IDCAP);
    Process(2 * 8000 + 1000);
    const std::string first = folder.Path(kIqJournalName);
    ASSERT_EQ(FileText(first), app.M.IqText);

    OtherWindow other;
    App& second = other.A;
    MainDialogCallback(second, WindowMessage::InitDialog, 0, 0);
    EXPECT_EQ(second.StartupNotice, "");
    SendCommand(second, IDSAVEIQ);
    second.M.IqText += IqRecord("12:00:00", 1, 2);
    testing::internal::CaptureStderr();
    second.Host.IqRecordAdded(second.M.IqText, IqRecord("12:00:00", 1, 2));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string own = folder.Path(ProcessJournalName(kIqJournalName, getpid()));
    EXPECT_EQ(FileText(own), second.M.IqText);
    EXPECT_NE(err.find("in use by another window"), std::string::npos) << err;
    EXPECT_EQ(err.find("earlier run"), std::string::npos) << err;

    SendCommand(app, IDEND);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_EQ(FileText(own), second.M.IqText);
    EndMainWindow(second);
    EXPECT_FALSE(std::filesystem::exists(own));
    std::vector<std::string> files = IqFiles();  // one each, also when in the same second
    ASSERT_EQ(files.size(), 2u);
    std::vector<std::string> texts = {FileText(folder.Path(files[0])),
                                      FileText(folder.Path(files[1]))};
    std::sort(texts.begin(), texts.end());
    std::vector<std::string> expected = {app.M.IqText + "\r\n", second.M.IqText + "\r\n"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(texts, expected);
    EndCapture(second.Engine);
}

// ---------------------------------------------------------------------------------------------
// The recording mixer and the command line

TEST(RecordingMixer, PrefersPavucontrolThenAlsamixerInATerminal) {
    TestFolder folder;
    const std::string bin = folder.Path("bin");
    std::filesystem::create_directories(bin);
    auto install = [&](const std::string& name) {
        WriteText(bin + "/" + name,
                  "#!/bin/sh\necho \"$@\" > " + folder.Path(name + ".ran") + "\n");
        chmod((bin + "/" + name).c_str(), 0755);
    };
    EXPECT_TRUE(RecordingMixerCommand(bin).empty());
    install("alsamixer");
    EXPECT_TRUE(RecordingMixerCommand(bin).empty()) << "alsamixer needs a terminal";
    install("xterm");
    EXPECT_EQ(RecordingMixerCommand(bin),
              (std::vector<std::string>{"xterm", "-e", "alsamixer", "-V", "capture"}));
    install("pavucontrol");
    const std::vector<std::string> command = RecordingMixerCommand("/nonexistent:" + bin);
    EXPECT_EQ(command, (std::vector<std::string>{"pavucontrol", "--tab=4"}));

    // Started detached: not waited for, but it runs.
    std::string error;
    std::vector<std::string> full = command;
    full[0] = bin + "/pavucontrol";
    ASSERT_TRUE(StartDetached(full, error)) << error;
    for (int i = 0; i < 100 && !std::filesystem::exists(folder.Path("pavucontrol.ran")); ++i) {
        usleep(20000);
    }
    EXPECT_EQ(FileText(folder.Path("pavucontrol.ran")), "--tab=4\n");
    EXPECT_FALSE(StartDetached({folder.Path("missing")}, error));
    EXPECT_NE(error.find("cannot start"), std::string::npos);
}

// The batch tool's chain options preset the window: entry texts before --simulate (after it
// --lock-freq is the simulated click's), check boxes, menu items, click position and device,
// all in place when the initialisation ends, before the window is first painted.
TEST_F(WindowHandler, CommandLinePresetsTheControlsBeforeTheFirstPaint) {
    std::vector<std::string> args = {"quorvelle",   "--lock-freq",   "1234.5",
                                     "--offset",    "0.25",          "--integration",
                                     "7",           "--no-blank",    "--invert",
                                     "--save-iq",   "--save-screen", "--simulate",
                                     "--lock-freq", "1000",          "--click-position",
                                     "40",          "--device",      "line",
                                     "--rate",      "48000"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    bool help = false, version = false;
    std::string error;
    ASSERT_TRUE(ParseAppOptions(static_cast<int>(argv.size()), argv.data(), app.Options, help,
                                version, error))
        << error;
    EXPECT_EQ(app.Options.Simulator.LockFreqHz, 1000);
    EXPECT_EQ(app.Options.Presets.Rate, 48000);

    Init();
    EXPECT_EQ(window.panelsShown, 0) << "presets are in before the first paint";
    EXPECT_EQ(window.texts[IDLOCKFREQ], "1234.5");
    EXPECT_EQ(window.texts[IDOFFSET], "0.25");
    EXPECT_EQ(window.texts[IDINTTIME], "7");
    EXPECT_EQ(app.M.Lock.OffsetStep, 0.25L / 8000) << "read by the initialisation";
    EXPECT_EQ(app.M.Params.IntegrationSeconds, 7);
    EXPECT_EQ(app.M.Lock.ClickPosition, 40);
    EXPECT_EQ(app.M.Params.BlankRfClickFlag, -1);
    EXPECT_FALSE(window.checks[IDBLANKRF]);
    EXPECT_EQ(app.M.Params.InvertFlag, 1);
    EXPECT_TRUE(window.checks[IDINVERT]);
    EXPECT_EQ(app.M.Params.SaveIqFlag, 1);
    EXPECT_EQ(app.M.Params.SaveScreenFlag, 1);
    EXPECT_TRUE(window.menuChecks[IDSAVEIQ]);
    EXPECT_TRUE(window.menuChecks[IDSAVESCREEN]);
    ASSERT_EQ(window.deviceNames.size(), 2u) << "the simulator, then the sound card";
    EXPECT_EQ(window.deviceIndex, 1);
    EXPECT_EQ(window.status, "");

    // The boxes' next clicks turn them back; Start reads the preset lock frequency.
    SendCommand(app, IDBLANKRF);
    EXPECT_EQ(app.M.Params.BlankRfClickFlag, 1);
    SendCommand(app, IDCAP);
    EXPECT_EQ(app.M.Params.LockFrequency, 1234.5);
    EXPECT_EQ(sound.chosenEntry, 1);

    // A device the list does not hold: said on the status line and stderr, the first entry kept.
    OtherWindow other;
    other.A.Options.Presets.Device = "nothing like it";
    testing::internal::CaptureStderr();
    MainDialogCallback(other.A, WindowMessage::InitDialog, 0, 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(other.Window.deviceIndex, 0);
    EXPECT_EQ(other.Window.status.rfind("--device nothing like it: ", 0), 0u)
        << other.Window.status;
    EXPECT_NE(err.find("--device nothing like it"), std::string::npos) << err;
    EXPECT_TRUE(other.Window.checks[IDBLANKRF]) << "no other preset given, none applied";
    EXPECT_EQ(other.Window.texts[IDLOCKFREQ], "1700.0");
}

namespace {

// The window's command line, `args` after the program's name.
bool ParseWindowArgs(std::vector<std::string> args, AppOptions& o, std::string& error,
                     bool* help = nullptr, bool* version = nullptr) {
    args.insert(args.begin(), "quorvelle");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    bool helpShown = false, versionShown = false;
    const bool ok = ParseAppOptions(static_cast<int>(argv.size()), argv.data(), o, helpShown,
                                    versionShown, error);
    if (help != nullptr) *help = helpShown;
    if (version != nullptr) *version = versionShown;
    return ok;
}

}  // namespace

TEST(AppOptions, AcceptsTheExtraSourcesAndRejectsWhatItDoesNotKnow) {
    AppOptions o;
    bool help = false, version = false;
    std::string error;
    ASSERT_TRUE(ParseWindowArgs({"--simulate", "--ppm", "25", "--log-readouts", "log.tsv"}, o,
                                error, &help, &version))
        << error;
    EXPECT_TRUE(o.Simulate);
    EXPECT_EQ(o.Simulator.Ppm, 25);
    EXPECT_EQ(o.LogPath, "log.tsv");
    ASSERT_TRUE(ParseWindowArgs({"--help"}, o, error, &help, &version));
    EXPECT_TRUE(help);
    EXPECT_FALSE(version);
    ASSERT_TRUE(ParseWindowArgs({"--simulate", "--version"}, o, error, &help, &version));
    EXPECT_TRUE(version);
    EXPECT_FALSE(help);
    for (const auto& bad : {std::vector<std::string>{"--bogus"},
                            {"--play"},
                            {"--record", ""},
                            {"--click-position", "8000"},
                            {"--click-position", "-1"},
                            {"--device", ""},
                            {"--simulate", "--lock-freq", "abc"},
                            {"--ppm", "3"},
                            {"--simulate", "--ppm", "x"},
                            {"--rate", "44000"}}) {
        AppOptions fresh;
        EXPECT_FALSE(ParseWindowArgs(bad, fresh, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
    // "--" ends the options; the window takes no file name after it.
    AppOptions ended;
    EXPECT_TRUE(ParseWindowArgs({"--simulate", "--"}, ended, error)) << error;
    EXPECT_TRUE(ended.Simulate);
    EXPECT_FALSE(ParseWindowArgs({"--", "--simulate"}, ended, error));
    EXPECT_EQ(error, "unexpected argument --simulate: the window takes no file names");

    // The simulator's length is refused: the window's simulator runs until End.
    for (std::vector<std::string> seconds :
         {std::vector<std::string>{"--seconds", "30"}, {"--seconds=30"}}) {
        seconds.insert(seconds.begin(), "--simulate");
        AppOptions refused;
        EXPECT_FALSE(ParseWindowArgs(seconds, refused, error));
        EXPECT_EQ(error, "--seconds does not apply to the window: the simulator runs until End");
    }
    EXPECT_EQ(AppUsage().find("--seconds"), std::string::npos) << "nor offered by --help";
    EXPECT_NE(AppUsage().find("--ppm"), std::string::npos);
}

// --scale takes a whole number from 1 to 8; without it the screen decides (0).
TEST(AppOptions, ScaleIsAWholeNumberFromOneToEight) {
    std::string error;
    AppOptions none, two, eight;
    ASSERT_TRUE(ParseWindowArgs({"--simulate"}, none, error)) << error;
    EXPECT_EQ(none.Scale, 0);
    ASSERT_TRUE(ParseWindowArgs({"--scale", "2", "--simulate"}, two, error)) << error;
    EXPECT_EQ(two.Scale, 2);
    EXPECT_TRUE(two.Simulate);
    ASSERT_TRUE(ParseWindowArgs({"--scale", "8"}, eight, error)) << error;
    EXPECT_EQ(eight.Scale, 8);
    for (const char* bad : {"0", "9", "-1", "1.5", "2x", ""}) {
        AppOptions o;
        EXPECT_FALSE(ParseWindowArgs({"--scale", bad}, o, error)) << bad;
        EXPECT_EQ(error, std::string("--scale: \"") + bad + "\" is not a whole number from 1 to 8");
    }
    AppOptions o;
    EXPECT_FALSE(ParseWindowArgs({"--scale"}, o, error));
    EXPECT_FALSE(error.empty());
    EXPECT_NE(AppUsage().find("--scale N"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Wiring and the simulator

// --swap-channels before --simulate is the window's (the PPS taken from the left), after it the
// simulator's wiring: together they measure the simulated PPS (its level 60 %, steady edges)
// as plain wiring would, and the log says the PPS is taken from the left. The state's texts
// name the window's own mends.
TEST_F(WindowHandler, SwapPresetUndoesTheSwappedSimulator) {
    std::string error;
    ASSERT_TRUE(
        ParseWindowArgs({"--swap-channels", "--simulate", "--swap-channels"}, app.Options, error))
        << error;
    EXPECT_TRUE(app.Options.Presets.SwapChannels);
    EXPECT_TRUE(app.Options.Simulator.SwapChannels);
    AppOptions simulatorOnly;
    ASSERT_TRUE(ParseWindowArgs({"--simulate", "--swap-channels"}, simulatorOnly, error)) << error;
    EXPECT_FALSE(simulatorOnly.Presets.SwapChannels);
    EXPECT_TRUE(simulatorOnly.Simulator.SwapChannels);

    sound.simulator = &app.Options.Simulator;
    ASSERT_TRUE(app.Log.Open("log.tsv", LogStart::Truncate, false, error)) << error;
    Init();
    EXPECT_TRUE(app.M.SwapChannels);
    EXPECT_EQ(app.M.Watch.Mending.Invert, "\"Inverted\"");
    EXPECT_TRUE(app.M.Watch.Mending.SwapAtRestart);
    SendCommand(app, IDCAP);  // the simulator heads the list
    ASSERT_NO_FATAL_FAILURE(Process(12 * 8000));
    EXPECT_EQ(window.texts[IDAUDIOLEVEL], "Audio level = 60.0%");
    for (const char* wiringFault : {"pps-unsteady", "no-pps"}) {
        EXPECT_NE(StatusName(app.M), wiringFault) << app.M.Watch.Current.Text;
    }
    SendCommand(app, IDEND);
    ASSERT_TRUE(app.Log.Close(error)) << error;
    const std::vector<std::string> lines = LogTexts("log.tsv", "CAPTURE");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], std::string("capture started from ") + kSimulatorEntryName +
                            "; PPS taken from the left channel (--swap-channels)");
}

// With no input at all the "Warning" asks whether to measure the built-in simulator instead:
// Yes puts the simulator in the list, as --simulate would, and Start is pressed once the window
// is up; No leaves the list empty, as before. After a stop signal nothing is asked.
TEST_F(WindowHandler, NoInputOffersTheSimulatorAndYesMeasuresIt) {
    sound.noDevices = true;
    sound.simulator = &app.Options.Simulator;
    window.yesAnswers = {true};
    Init();
    ASSERT_EQ(window.questions.size(), 1u);
    EXPECT_EQ(window.questions[0], std::string(kNoInputDevicesText) + "\n\n" + kOfferSimulatorText);
    EXPECT_TRUE(window.messages.empty()) << "the question is the warning";
    EXPECT_EQ(window.deviceNames, std::vector<std::string>{kSimulatorEntryName});
    EXPECT_EQ(window.deviceIndex, 0);
    EXPECT_EQ(sound.sourcesMade, 0) << "Start waits for the window";
    ASSERT_TRUE(StartupPending(app));
    FinishStartup(app);
    EXPECT_FALSE(StartupPending(app));
    EXPECT_TRUE(window.disabled[IDCAP]);
    EXPECT_EQ(sound.chosenEntry, 0);
    ASSERT_NO_FATAL_FAILURE(Process(3 * 8000));
    EXPECT_EQ(window.texts[IDAUDIOLEVEL], "Audio level = 60.0%") << "the simulator's PPS";

    OtherWindow no;
    no.Sound.noDevices = true;
    MainDialogCallback(no.A, WindowMessage::InitDialog, 0, 0);
    EXPECT_EQ(no.Window.questions.size(), 1u);
    EXPECT_TRUE(no.Window.deviceNames.empty());
    EXPECT_FALSE(StartupPending(no.A));
    FinishStartup(no.A);
    EXPECT_EQ(no.Sound.sourcesMade, 0);

    OtherWindow stopped;
    stopped.Sound.noDevices = true;
    stopped.Window.yesAnswers = {true};
    stopped.A.StopSignal = SIGTERM;
    testing::internal::CaptureStderr();
    MainDialogCallback(stopped.A, WindowMessage::InitDialog, 0, 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(stopped.Window.questions.empty());
    EXPECT_NE(err.find(std::string("quorvelle: ") + kNoInputDevicesText), std::string::npos) << err;
    EXPECT_FALSE(StartupPending(stopped.A));
}

}  // namespace qv
