// The window program under a private X server: real pointer and key events through xdotool,
// results read from the window title, the read-out log, the files written and screenshots.
// Each test starts its own Xvfb and its own program in its own folder (the program's current
// directory), and stops both at the end, also when the test fails.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/day_folders.h"
#include "common/time_of_day.h"
#include "files/capture_bitmap.h"
#include "files/iq_file.h"
#include "tests/e2e/http_client.h"
#include "tests/e2e/window_session.h"
#include "tests/png_pixels.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// Client-area geometry [pixels]; the X window is the client area with the menu bar above it
// and the status line below it.
constexpr int kMenuBarHeight = 25, kStatusLineHeight = 20;
constexpr int kWindowWidth = 785, kWindowHeight = 540 + kMenuBarHeight + kStatusLineHeight;
constexpr Box kScope{10, 5, 128, 170};
constexpr Box kVector{143, 5, 170, 170};
constexpr Box kChart{10, 180, 768, 340};
// Points inside controls, and away from every control.
constexpr Point kStart{347, 152}, kEnd{397, 152};
constexpr Point kLockFreqEntry{590, 40}, kIntegrationEntry{590, 70};
constexpr Point kBlankRfCheck{570, 120}, kDeviceList{560, 152}, kMagnification10{500, 66};
constexpr Point kCaptureScreen{742, 67};
constexpr Point kFreqErrorLabel{340, 27}, kEmptyArea{200, 530}, kEmptyArea2{700, 160};
// A point of the click scope at a panel-client x (the panel's sunken edge is one pixel wide).
constexpr Point ScopeAt(int panelX) { return {kScope.X + 1 + panelX, 60}; }

const std::string kIqJournal = "IQfile.journal";

// ---------------------------------------------------------------------------------------------
// I/Q texts

// Whole records in a journal being written: lines after the header, counted only while the
// text ends with a CR LF (a reader may catch a write half done).
size_t WholeRecords(const std::string& bytes) {
    const size_t header = IqTextHeader().size();
    if (bytes.size() < header || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0) return 0;
    size_t n = 0;
    for (size_t at = bytes.find("\r\n", header); at != std::string::npos;
         at = bytes.find("\r\n", at + 2)) {
        ++n;
    }
    return n;
}

int SecondsOfDay(const std::string& hhmmss) {
    return std::stoi(hhmmss.substr(0, 2)) * 3600 + std::stoi(hhmmss.substr(3, 2)) * 60 +
           std::stoi(hhmmss.substr(6, 2));
}

// ---------------------------------------------------------------------------------------------

class WindowGui : public WindowSession {
protected:
    // "Save I,Q to file?", the first of the Setup menu's three items: a click on the menu's
    // title opens its item list, a window of its own below the menu bar.
    void ToggleSaveIq() {
        const Box main = Geometry(window_);
        XOrFail({"xdotool", "mousemove", "--window", window_, "20", "12", "click", "1"});
        std::string list;
        auto findList = [&] {
            for (const std::string& id : OtherWindows(".*")) {
                const Box r = Geometry(id);
                if (r.W < main.W && r.Y >= main.Y + kMenuBarHeight - 2 && r.H >= 30) list = id;
            }
            return !list.empty();
        };
        ASSERT_TRUE(WaitFor(findList, 5s)) << "the Setup menu did not open";
        const Box r = Geometry(list);
        XOrFail({"xdotool", "mousemove", "--window", list, std::to_string(r.W / 2),
                 std::to_string(r.H / 6), "click", "1"});
        auto closed = [&] {
            const std::vector<std::string> open = OtherWindows(".*");
            return std::find(open.begin(), open.end(), list) == open.end();
        };
        ASSERT_TRUE(WaitFor(closed, 5s)) << "the Setup menu stayed open";
    }

    // The status page's port, from the line on stderr that says where it listens.
    int ServedPort() {
        const std::string err = FileText(folder_.Path("app.err"));
        std::smatch found;
        const std::regex url("status page: http://127\\.0\\.0\\.1:([0-9]+)/\n");
        if (!std::regex_search(err, found, url)) {
            ADD_FAILURE() << "no status page address on stderr: " << err;
            return 0;
        }
        return std::stoi(found[1]);
    }

    std::vector<std::string> IqFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.Dir())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("IQfile", 0) == 0 && name.rfind(kIqJournal, 0) != 0) {
                names.push_back(name);
            }
        }
        return names;
    }
};

// ---------------------------------------------------------------------------------------------

// A whole measurement: "Save I,Q to file?" chosen in the menu, Start, read-outs once a second
// with the card's clock error converging to the simulated +25 ppm, pictures in all three
// panels, then End: exit status 0, one I/Q file with the records so far, no journal left.
TEST_F(WindowGui, SimulatedRunMeasuresTheCardAndEndWritesTheIqFile) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--ppm", "25", "--log-readouts", Log()}));
    const Box window = Geometry(window_);
    EXPECT_EQ(window.W, kWindowWidth);
    EXPECT_EQ(window.H, kWindowHeight);

    ASSERT_NO_FATAL_FAILURE(ToggleSaveIq());
    ASSERT_NO_FATAL_FAILURE(Click(kStart));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return !LogTexts(Log(), "IDFREQERROR").empty(); }, 10s))
        << "no read-out within 10 s of Start\n"
        << FileText(Log()) << AppErr();

    // After two periods: the journal so far, and a screenshot.
    ASSERT_TRUE(WaitFor([&] { return WholeRecords(FileText(folder_.Path(kIqJournal))) >= 2; }, 20s))
        << "the I/Q journal did not reach two records: was \"Save I,Q to file?\" chosen?\n"
        << FileText(folder_.Path(kIqJournal)) << AppErr();
    const std::string journalSoFar = FileText(folder_.Path(kIqJournal));
    Picture picture;
    ASSERT_NO_FATAL_FAILURE(Screenshot(picture));
    // A panel's drawable inside on the screen, one pixel in from its sunken edge.
    auto inside = [&](const Box& panel) {
        return OnScreen({panel.X + 1, panel.Y + 1, panel.W - 2, panel.H - 2});
    };
    EXPECT_GT(picture.Count(inside(kScope), 0, 255, 255), 20) << "no cyan traces in the scope";
    EXPECT_GT(picture.Count(inside(kScope), 255, 255, 0), 20) << "no yellow scope marks";
    EXPECT_GT(picture.Count(inside(kVector), 0, 255, 0), 100) << "no green I/Q axes";
    EXPECT_GT(picture.Count(inside(kVector), 0, 0, 0), 0) << "no vectorscope dots";
    EXPECT_GT(picture.Count(inside(kChart), 0, 192, 0), 100) << "no phase grid on the chart";
    EXPECT_GT(picture.Count(inside(kChart), 255, 0, 0), 0) << "no phase dots on the chart";

    // The loop pulls the read-out from 0 to the card's +25 ppm in about 20 s; three read-outs
    // in a row within 2 ppm (the residual wander of the settled loop is under 1 ppm).
    auto settled = [&] {
        const std::vector<std::string> f = LogTexts(Log(), "IDFREQERROR");
        if (f.size() < 3) return false;
        for (size_t i = f.size() - 3; i < f.size(); ++i) {
            if (std::abs(Number(f[i]) - 25) > 2) return false;
        }
        return true;
    };
    EXPECT_TRUE(WaitFor(settled, 60s)) << FileText(Log());

    ASSERT_NO_FATAL_FAILURE(Click(kEnd));
    ASSERT_EQ(app_.Wait(20s), 0) << AppErr();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // The log: well-formed lines, every read-out present, one frequency error a second.
    const std::regex time(R"(\d\d:\d\d:\d\d\.\d\d\d)");
    const std::vector<std::string> names = {"IDFREQERROR",   "IDTIMINGERROR", "IDAUDIOLEVEL",
                                            "IDLOCKFREQOUT", "IDCLICKPHASE",  "IDCLICKLEVEL",
                                            "IDCLICKPEAK",   "TITLE",         "CAPTURE",
                                            "MESSAGE",       "STATUS"};
    for (const LogLine& l : ReadLog(Log())) {
        EXPECT_TRUE(std::regex_match(l.Time, time)) << l.Time << "\t" << l.Name << "\t" << l.Text;
        EXPECT_NE(std::find(names.begin(), names.end(), l.Name), names.end()) << l.Name;
    }
    for (size_t i = 0; i + 3 < names.size(); ++i) {
        EXPECT_FALSE(LogTexts(Log(), names[i]).empty()) << names[i];
    }
    // The signal's state from the first second on, as changes: never the same twice in a row.
    const std::vector<std::string> status = LogTexts(Log(), "STATUS");
    ASSERT_FALSE(status.empty());
    for (size_t i = 1; i < status.size(); ++i) {
        EXPECT_NE(status[i].substr(0, status[i].find(':')),
                  status[i - 1].substr(0, status[i - 1].find(':')));
    }
    const std::vector<std::string> freq = LogTexts(Log(), "IDFREQERROR");
    for (const std::string& f : freq) {
        EXPECT_TRUE(std::regex_match(f, std::regex(R"(Freq error = -?\d+\.\d\dppm)"))) << f;
    }
    EXPECT_LT(std::abs(Number(freq.front())), 5) << "the loop starts from the nominal rate";
    EXPECT_NEAR(static_cast<double>(freq.size()), seconds, 4) << "one read-out a second";

    // Exactly one I/Q file: the journal's text so far plus later records, then CR LF.
    const std::vector<std::string> files = IqFiles();
    ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(files);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(IQfile \d{6}\.TXT)"))) << files[0];
    const std::string iq = FileText(folder_.Path(files[0]));
    ASSERT_EQ(iq.compare(0, IqTextHeader().size(), IqTextHeader()), 0) << iq;
    ASSERT_GE(iq.size(), journalSoFar.size() + 2);
    EXPECT_EQ(iq.compare(0, journalSoFar.size(), journalSoFar), 0)
        << "the I/Q file does not begin with the journal's records\n"
        << journalSoFar << "\n"
        << iq;
    EXPECT_EQ(iq.substr(iq.size() - 4), "\r\n\r\n");
    const std::vector<std::string> records = IqTextRecords(iq.substr(0, iq.size() - 2));
    EXPECT_GE(static_cast<double>(records.size()), seconds / 3 - 2) << iq;
    EXPECT_LE(static_cast<double>(records.size()), seconds / 3 + 1) << iq;
    // One record per 3 s period: stamped with the local time when the period's last block was
    // processed, so single steps may jitter by a block queue's length, their sum may not.
    ASSERT_GE(records.size(), 2u);
    const int span = (SecondsOfDay(records.back()) - SecondsOfDay(records.front()) + 86400) % 86400;
    EXPECT_NEAR(span, 3.0 * static_cast<double>(records.size() - 1), 3) << iq;
    EXPECT_FALSE(std::filesystem::exists(folder_.Path(kIqJournal)))
        << "a normal close leaves no journal";
}

// The title follows the pointer over the click scope as "Click peak = INT(x / 2)" of the
// panel-client x, reads "GPS Quorvelle" over empty area, labels and the other panels, and is
// left alone over controls that take the mouse; the "Blank RF click" box writes -1 and 1.
TEST_F(WindowGui, TitleFollowsThePointerOverTheClickScope) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log()}));
    EXPECT_EQ(Title(), "GPS QuorVelle");

    struct Step {
        Point At;
        std::string Title;
    };
    const std::vector<Step> steps = {
        {kEmptyArea, "GPS Quorvelle"},     {ScopeAt(57), "Click peak = 28"},
        {kEmptyArea2, "GPS Quorvelle"},    {ScopeAt(1), "Click peak = 0"},
        {ScopeAt(125), "Click peak = 62"}, {{kVector.X + 80, 60}, "GPS Quorvelle"},
        {ScopeAt(2), "Click peak = 1"},    {{kChart.X + 300, 300}, "GPS Quorvelle"},
        {ScopeAt(126), "Click peak = 62"}, {kFreqErrorLabel, "GPS Quorvelle"},
        {ScopeAt(-1), "Click peak = 0"},   {{kScope.X + 60, 170}, "Click peak = 29"},
    };
    for (const Step& s : steps) ASSERT_NO_FATAL_FAILURE(HoverExpecting(s.At, s.Title));

    // Over controls that take the mouse the title stays; the next move over the scope proves
    // the moves before it were handled, and the log shows nothing set in between.
    ASSERT_NO_FATAL_FAILURE(HoverExpecting(ScopeAt(20), "Click peak = 10"));
    for (Point p : {kStart, kLockFreqEntry, kBlankRfCheck, kMagnification10, kDeviceList}) {
        ASSERT_NO_FATAL_FAILURE(Move(p));
    }
    EXPECT_EQ(Title(), "Click peak = 10");
    ASSERT_NO_FATAL_FAILURE(HoverExpecting(ScopeAt(40), "Click peak = 20"));
    const std::vector<std::string> titles = LogTexts(Log(), "TITLE");
    const auto last10 = std::find(titles.rbegin(), titles.rend(), "Click peak = 10");
    ASSERT_NE(last10, titles.rend()) << "the title changes are not in the log";
    for (auto t = titles.rbegin(); t != last10; ++t) {
        EXPECT_EQ(*t, "Click peak = 20") << "title set while over controls that take the mouse";
    }

    // "Blank RF click" starts checked: ticking it shows -1, again 1.
    ASSERT_NO_FATAL_FAILURE(Click(kBlankRfCheck));
    EXPECT_TRUE(WaitFor([&] { return Title() == "-1"; }, 5s)) << Title();
    ASSERT_NO_FATAL_FAILURE(Click(kBlankRfCheck));
    EXPECT_TRUE(WaitFor([&] { return Title() == "1"; }, 5s)) << Title();
    ASSERT_NO_FATAL_FAILURE(HoverExpecting(kEmptyArea, "GPS Quorvelle"));

    app_.Signal(SIGINT);
    EXPECT_EQ(app_.Wait(15s), 0) << "SIGINT closes the window normally\n" << AppErr();
}

// A left click on the scope sets the click position to INT(x / 2) of the panel-client x,
// which the "Click Peak" read-out shows from the next second; clicks elsewhere do nothing.
// Its status page has no report: the run writes no CSV files.
TEST_F(WindowGui, ClickOnTheScopeMovesTheClickPeak) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log(), "--serve", "0"}));
    const int port = ServedPort();
    ASSERT_NO_FATAL_FAILURE(Click(kStart));
    auto peaks = [&] { return LogTexts(Log(), "IDCLICKPEAK"); };
    ASSERT_TRUE(WaitFor([&] { return !peaks().empty(); }, 10s)) << FileText(Log()) << AppErr();
    EXPECT_EQ(peaks().front(), "Click Peak = 31");
    const std::string noReport = Get(port, "/report.png");
    EXPECT_EQ(StatusOf(noReport), 404);
    EXPECT_EQ(BodyOf(noReport), "no report: this run writes no CSV files\n");

    // Waits for the once-a-second read-out to show `text`.
    auto expectPeak = [&](const std::string& text) {
        EXPECT_TRUE(WaitFor([&] { return peaks().back() == text; }, 10s))
            << "expected \"" << text << "\"; read-outs:\n"
            << ::testing::PrintToString(peaks());
    };
    ASSERT_NO_FATAL_FAILURE(Click(ScopeAt(125)));
    expectPeak("Click Peak = 62");
    ASSERT_NO_FATAL_FAILURE(Click(ScopeAt(1)));
    expectPeak("Click Peak = 0");
    ASSERT_NO_FATAL_FAILURE(Click(ScopeAt(81)));
    expectPeak("Click Peak = 40");

    for (Point p :
         {Point{kVector.X + 80, 60}, Point{kChart.X + 300, 300}, kEmptyArea, kFreqErrorLabel}) {
        ASSERT_NO_FATAL_FAILURE(Click(p));
    }
    const size_t before = peaks().size();
    ASSERT_TRUE(WaitFor([&] { return peaks().size() >= before + 3; }, 10s)) << AppErr();
    const std::vector<std::string> after = peaks();
    for (size_t i = before; i < after.size(); ++i) EXPECT_EQ(after[i], "Click Peak = 40");

    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(15s), 0) << "SIGTERM closes the window normally\n" << AppErr();
}

// --serve: the window's status page follows what the window shows, a click on the scope
// included, and offers the CSV file of its --daily day and the report of the day so far.
TEST_F(WindowGui, StatusPageFollowsTheWindow) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--serve", "0", "--daily", "days"}));
    const int port = ServedPort();
    ASSERT_NO_FATAL_FAILURE(Click(kStart));
    auto pageShows = [&](const std::string& text) {
        return WaitFor(
            [&] { return BodyOf(Get(port, "/status.json")).find(text) != std::string::npos; }, 10s);
    };
    ASSERT_TRUE(pageShows("\"IDCLICKPEAK\": \"Click Peak = 31\"")) << Get(port, "/status.json");
    ASSERT_NO_FATAL_FAILURE(Click(ScopeAt(125)));
    EXPECT_TRUE(pageShows("\"IDCLICKPEAK\": \"Click Peak = 62\"")) << Get(port, "/status.json");
    EXPECT_EQ(StatusOf(Get(port, "/chart.png")), 200);
    // The report, failures included, is made at most once a minute: asked for once the day's
    // file holds a whole row.
    std::string rows;
    auto wholeRows = [&] {
        rows = BodyOf(Get(port, "/seconds.csv"));
        return std::count(rows.begin(), rows.end(), '\n') >= 2;
    };
    ASSERT_TRUE(WaitFor(wholeRows, 10s)) << rows;
    EXPECT_EQ(rows.rfind("time,t_s,", 0), 0u);
    const std::string report = Get(port, "/report.png");
    ASSERT_EQ(StatusOf(report), 200) << BodyOf(report);
    WriteText(folder_.Path("report.png"), BodyOf(report));
    PngPixels pixels;
    ASSERT_TRUE(ReadPngPixels(folder_.Path("report.png"), pixels));
    EXPECT_EQ(std::make_pair(pixels.Width, pixels.Height), std::make_pair(1200, 800));

    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(15s), 0) << AppErr();
}

// Escape, and Return in an entry field, leave the window open and working.
TEST_F(WindowGui, EscapeAndReturnDoNotCloseTheWindow) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log()}));
    ASSERT_NO_FATAL_FAILURE(Move(kEmptyArea));
    ASSERT_NO_FATAL_FAILURE(Focus(window_));
    ASSERT_NO_FATAL_FAILURE(Key("Escape"));
    // Events are handled in order: once the next move shows in the title, Escape has been.
    ASSERT_NO_FATAL_FAILURE(HoverExpecting(ScopeAt(10), "Click peak = 5"));
    ASSERT_TRUE(app_.Running()) << "Escape ended the program\n" << AppErr();

    for (Point entry : {kLockFreqEntry, kIntegrationEntry}) {
        ASSERT_NO_FATAL_FAILURE(Click(entry));
        ASSERT_NO_FATAL_FAILURE(Key("Return"));
        ASSERT_NO_FATAL_FAILURE(Key("Escape"));
    }
    ASSERT_NO_FATAL_FAILURE(HoverExpecting(ScopeAt(30), "Click peak = 15"));
    ASSERT_TRUE(app_.Running()) << "Return or Escape in an entry ended the program\n" << AppErr();
    EXPECT_EQ(Geometry(window_).W, kWindowWidth) << "the window is no longer shown";
    EXPECT_TRUE(OtherWindows().empty()) << "a window other than the main one appeared";

    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(15s), 0) << AppErr();
}

// The integration-time field under real typing. T follows every change at once; the field's
// text is put right ("1", the upper limit) only when it loses the focus or Enter is pressed in
// it. T is read from the chart's "Integration time = T secs" in a "Capture screen" bitmap (the
// button takes the focus from the field), compared with quorvelle-batch's chart for the
// expected T; the text is read by typing behind it.
TEST_F(WindowGui, IntegrationTimeFieldDoesNotFightTheTypist) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate"}));
    ASSERT_NO_FATAL_FAILURE(Focus(window_));

    // The rows and columns of the chart that hold "Integration time = T secs", below the grid
    // and between "Current time" and "Ticks at".
    constexpr int kLeft = 300, kRight = 558, kTop = 305;
    auto expectCapturedT = [&](int seconds) {
        ASSERT_NO_FATAL_FAILURE(Click(kCaptureScreen));
        std::string path;
        auto written = [&] {
            for (const auto& entry : std::filesystem::directory_iterator(folder_.Dir())) {
                const std::string name = entry.path().filename().string();
                if (std::regex_match(name, std::regex(R"(\d{6}\.BMP)")) &&
                    std::filesystem::file_size(entry.path()) == kCaptureBitmapFileSize) {
                    path = entry.path().string();
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(WaitFor(written, 10s)) << "no capture bitmap\n" << AppErr();
        const std::string bytes = FileText(path);
        std::filesystem::remove(path);

        // The same chart from quorvelle-batch (which draws at 96 dots per inch too): a second
        // of the simulator closes no period of `seconds` > 1.
        const std::string drawnPath = folder_.Path("expected.BMP");
        const ToolRun batch =
            RunProgram({QUORVELLE_BATCH_BIN, "--quiet", "--integration", std::to_string(seconds),
                        "--chart", drawnPath, "--simulate", "1"},
                       {}, folder_.Path("batch.out"), folder_.Path("batch.err"), 60s);
        ASSERT_EQ(batch.Status, 0) << batch.Err;
        const std::string drawn = FileText(drawnPath);
        ASSERT_EQ(bytes.size(), drawn.size());
        // From 10000 s on, the ticks and start-time text ends at the chart's edge and so
        // begins left of kRight; its start time is the window's clock, not the stream's.
        const int right = seconds >= 10000 ? 460 : kRight;
        int differences = 0;
        for (int y = kTop; y < kChart.H; ++y) {
            // 54 header bytes, then rows of 768 x 3 bytes from the bottom row up.
            const size_t row = 54 + static_cast<size_t>(kChart.H - 1 - y) * kChart.W * 3;
            for (size_t at = row + kLeft * 3; at < row + right * 3; ++at) {
                differences += bytes[at] != drawn[at];
            }
        }
        EXPECT_EQ(differences, 0) << "the chart does not say \"Integration time = " << seconds
                                  << " secs\"";
    };
    auto intoField = [&] {
        ASSERT_NO_FATAL_FAILURE(Click(kIntegrationEntry));
        ASSERT_NO_FATAL_FAILURE(Key("End"));
    };
    // Into the field behind its text, then each step (a key, "=text" typed, or "field" to go
    // into it again), then the T the chart shows.
    auto edit = [&](const std::vector<std::string>& steps, int seconds) {
        ASSERT_NO_FATAL_FAILURE(intoField());
        for (const std::string& step : steps) {
            if (step == "field")
                ASSERT_NO_FATAL_FAILURE(intoField());
            else if (step[0] == '=')
                ASSERT_NO_FATAL_FAILURE(TypeText(step.substr(1)));
            else
                ASSERT_NO_FATAL_FAILURE(Key(step));
        }
        ASSERT_NO_FATAL_FAILURE(expectCapturedT(seconds));
    };

    ASSERT_NO_FATAL_FAILURE(expectCapturedT(3));
    // "3" selected, BackSpace, "30" typed: 30 s, not 130.
    ASSERT_NO_FATAL_FAILURE(edit({"ctrl+a", "BackSpace", "=30"}, 30));
    // The text is still "30": a 0 typed behind it gives 300.
    ASSERT_NO_FATAL_FAILURE(edit({"=0"}, 300));
    // Emptied, then Tab away: "1", so a 5 typed behind it gives 15.
    ASSERT_NO_FATAL_FAILURE(edit({"ctrl+a", "BackSpace", "Tab", "field", "=5"}, 15));
    // "abc", then Enter: "1", and typing goes on behind it.
    ASSERT_NO_FATAL_FAILURE(edit({"ctrl+a", "=abc", "Return", "=2"}, 12));
    // Too large: 268435 s, and "268435" once the field has lost the focus, so a BackSpace
    // then gives 26843.
    ASSERT_NO_FATAL_FAILURE(edit({"ctrl+a", "=999999"}, 268435));
    ASSERT_NO_FATAL_FAILURE(edit({"BackSpace"}, 26843));

    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(15s), 0) << AppErr();
}

// A run killed while saving I/Q leaves a journal holding every record so far, byte-exact and
// whole; the next run in the same folder sets it aside under a new name, says where, and
// starts no journal of its own before it has records.
TEST_F(WindowGui, KilledRunLeavesAJournalThatTheNextRunSetsAside) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log()}));
    ASSERT_NO_FATAL_FAILURE(ToggleSaveIq());
    ASSERT_NO_FATAL_FAILURE(Click(kStart));
    const std::string journal = folder_.Path(kIqJournal);
    ASSERT_TRUE(WaitFor([&] { return WholeRecords(FileText(journal)) >= 2; }, 25s))
        << "the journal did not reach two records: was \"Save I,Q to file?\" chosen?\n"
        << FileText(journal) << AppErr();
    app_.Kill();

    const std::string old = FileText(journal);
    ASSERT_EQ(old.compare(0, IqTextHeader().size(), IqTextHeader()), 0) << old;
    const std::vector<std::string> kept = IqTextRecords(old);
    EXPECT_GE(kept.size(), 2u);
    std::string rebuilt = IqTextHeader();
    for (const std::string& r : kept) rebuilt += r + "\r\n";
    EXPECT_EQ(old, rebuilt) << "the journal holds exactly the header and whole records";
    EXPECT_TRUE(IqFiles().empty()) << "a killed run writes no I/Q file";

    // The next run: the old journal renamed at once, its bytes kept; a notice box.
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log()}));
    const std::string setAside = folder_.Path(kIqJournal + ".1");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(setAside); }, 10s)) << AppErr();
    EXPECT_EQ(FileText(setAside), old);
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_TRUE(WaitFor(
        [&] {
            return FileText(folder_.Path("app.err")).find(kIqJournal + ".1") != std::string::npos;
        },
        10s))
        << "stderr does not say where the old journal went\n"
        << AppErr();
    std::vector<std::string> notice;
    ASSERT_TRUE(WaitFor([&] { return !(notice = OtherWindows()).empty(); }, 10s))
        << "no notice box titled \"GPS QuorVelle\"; the screen's windows:\n"
        << Windows() << AppErr();
    // A long folder name must not push the box, or its button, off the screen.
    const Box box = Geometry(notice[0]);
    EXPECT_TRUE(box.X >= 0 && box.Y >= 0 && box.X + box.W <= x_.Width() &&
                box.Y + box.H <= x_.Height())
        << "the notice box (" << box.W << " x " << box.H << " at " << box.X << ", " << box.Y
        << ") does not fit on a " << x_.Width() << " x " << x_.Height() << " screen";
    ASSERT_NO_FATAL_FAILURE(Focus(notice[0]));
    ASSERT_NO_FATAL_FAILURE(Key("Return"));
    EXPECT_TRUE(WaitFor([&] { return OtherWindows().empty(); }, 10s)) << "Return left the notice";
    ASSERT_NO_FATAL_FAILURE(HoverExpecting(ScopeAt(10), "Click peak = 5"));

    EXPECT_FALSE(std::filesystem::exists(journal)) << "a journal before any record";
    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(15s), 0) << AppErr();
    EXPECT_FALSE(std::filesystem::exists(journal));
    EXPECT_EQ(FileText(setAside), old);
    EXPECT_TRUE(IqFiles().empty()) << "\"Save I,Q to file?\" starts unchecked in every run";
}

// A stop signal while the start-up notice waits for OK closes it and ends the program as the
// close box does: status 0 within seconds, the old journal kept where the notice said.
TEST_F(WindowGui, StopSignalClosesTheStartupNoticeAndEndsTheProgram) {
    const std::string old = IqTextHeader() + "00:00:03,1.0000000,-2.0000000\r\n";
    WriteText(folder_.Path(kIqJournal), old);
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log()}));
    ASSERT_TRUE(WaitFor([&] { return !OtherWindows().empty(); }, 10s))
        << "no notice box; the screen's windows:\n"
        << Windows() << AppErr();
    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(10s), 0) << "SIGTERM with the notice up\n" << AppErr();
    EXPECT_EQ(FileText(folder_.Path(kIqJournal + ".1")), old);
    EXPECT_FALSE(std::filesystem::exists(folder_.Path(kIqJournal)));
    EXPECT_NE(FileText(folder_.Path("app.err")).find("SIGTERM: ending the program"),
              std::string::npos)
        << AppErr();
}

// No sound input at all (no sound server, no card): before the window shows, the "Warning"
// asks whether to measure the built-in simulator; Yes lists it and starts it once the window is
// up, with the read-outs following as with --simulate; End then ends the program normally.
TEST_F(WindowGui, NoInputOffersTheSimulatorAndYesStartsMeasuringIt) {
    const std::vector<std::string> environment = {"DISPLAY=" + x_.Display(),
                                                  "JACK_NO_START_SERVER=1",
                                                  "PULSE_SERVER=unix:" + folder_.Path("no-server")};
    const ToolRun list = RunProgram({QUORVELLE_BATCH_BIN, "--list-devices"}, environment,
                                    folder_.Path("list.out"), folder_.Path("list.err"), 20s);
    if (list.Out != "Input devices: none\n") GTEST_SKIP() << "a sound card is here:\n" << list.Out;
    std::string error;
    ASSERT_TRUE(app_.Start({"env", "-C", folder_.Dir(), QUORVELLE_BIN, "--log-readouts", Log()},
                           environment, folder_.Path("app.out"), folder_.Path("app.err"), error))
        << error;
    std::vector<std::string> boxes;
    ASSERT_TRUE(WaitFor([&] { return !(boxes = VisibleWindows(x_, "^Warning$")).empty(); }, 20s))
        << "no \"Warning\" box\n"
        << Windows() << AppErr();
    EXPECT_TRUE(MainWindow(x_).empty()) << "the question comes before the window";
    // Yes, left of No at the box's foot (the box's margins and buttons, app/fltk/window.cpp).
    const Box box = Geometry(boxes[0]);
    XOrFail({"xdotool", "mousemove", "--window", boxes[0],
             std::to_string(box.W - 10 - 90 - 10 - 45), std::to_string(box.H - 10 - 12), "click",
             "1"});
    ASSERT_TRUE(WaitFor([&] { return !(window_ = MainWindow(x_)).empty(); }, 20s))
        << "no main window after Yes\n"
        << AppErr();
    ASSERT_TRUE(WaitFor([&] { return LogTexts(Log(), "IDFREQERROR").size() >= 2; }, 20s))
        << "no read-outs: the simulator was not started\n"
        << FileText(Log()) << AppErr();
    const std::vector<std::string> capture = LogTexts(Log(), "CAPTURE");
    ASSERT_FALSE(capture.empty());
    EXPECT_EQ(capture[0], "capture started from Simulated GPS receiver and radio");
    ASSERT_NO_FATAL_FAILURE(Click(kEnd));
    EXPECT_EQ(app_.Wait(20s), 0) << AppErr();
}

// --daily: the read-out log and the CSV files in a folder per UTC day. The wall clock moved to
// 20 s before a UTC midnight, the measurement crosses it: the next day's folder takes the rows
// and lines from then on, none lost and none twice, and End closes the second day's files.
// Each day gets its report beside its files: the first at midnight, the second at the close.
TEST_F(WindowGui, DailyFilesFollowTheUtcDateAcrossMidnight) {
    const std::string dir = folder_.Path("days");
    const int64_t now = UnixMillisecondsNow();
    const int64_t midnight = (DayOf(now) + 1) * kMillisecondsPerDay;
    const std::string offset = std::to_string(static_cast<double>(midnight - 20000 - now) / 1000);
    ASSERT_NO_FATAL_FAILURE(
        StartWindow({"env", "-C", folder_.Dir(), QUORVELLE_BIN, "--simulate", "--daily", dir},
                    {std::string(kWallClockOffsetVariable) + "=" + offset}, 20s));
    ASSERT_NO_FATAL_FAILURE(Click(kStart));
    const std::string days[] = {DayFolder(dir, midnight - 1), DayFolder(dir, midnight)};
    auto rows = [](const std::string& path) {
        return std::filesystem::exists(path) ? TextLines(path).size() : 0;
    };
    ASSERT_TRUE(WaitFor([&] { return rows(days[0] + "/seconds.csv") >= 3; }, 20s)) << AppErr();
    ASSERT_TRUE(WaitFor([&] { return rows(days[1] + "/seconds.csv") >= 3; }, 40s)) << AppErr();
    ASSERT_NO_FATAL_FAILURE(Click(kEnd));
    ASSERT_EQ(app_.Wait(20s), 0) << AppErr();

    std::vector<double> ts;
    for (int day = 0; day < 2; ++day) {
        const std::string date = FormatIsoUtc(day == 0 ? midnight - 1 : midnight).substr(0, 11);
        for (const std::string& row : TextLines(days[day] + "/seconds.csv")) {
            if (row.starts_with("time,")) continue;
            EXPECT_TRUE(row.starts_with(date)) << days[day] << ": " << row;
            ts.push_back(std::stod(row.substr(row.find(',') + 1)));
        }
        EXPECT_TRUE(TextLines(days[day] + "/periods.csv").front().starts_with("time,t_s,"));
        EXPECT_FALSE(LogTexts(days[day] + "/readouts.tsv", "IDFREQERROR").empty()) << days[day];
        EXPECT_TRUE(FileText(days[day] + "/report.png").starts_with("\x89PNG")) << days[day];
        const std::string report = FileText(days[day] + "/report.txt");
        EXPECT_NE(report.find(day == 0 ? "start: " + FormatIsoUtc(midnight - 1).substr(0, 10)
                                       : "start: " + date.substr(0, 10) + " 00:00:00"),
                  std::string::npos)
            << report;
    }
    EXPECT_EQ(AppErr().find("no report"), std::string::npos) << AppErr();
    // A second apart, after the first second, which the clock loop ends at the first PPS edge.
    for (size_t i = 2; i < ts.size(); ++i) EXPECT_NEAR(ts[i] - ts[i - 1], 1, 0.1) << "row " << i;
}

// A storm of stop signals over eight windows, each in a folder of its own, on through their
// close-time work and their exit: every one ends once, with status 0 and its I/Q file written.
TEST_F(WindowGui, AStormOfStopSignalsEndsEveryWindowOnceWithItsIqFile) {
    StormOfStopSignals({"env", "-C", "RUN", QUORVELLE_BIN, "--simulate", "--save-iq"},
                       x_.Environment(), 8, 8, {": ending the program", "I/Q file written: "});
}

}  // namespace

// A larger window moves no control and stretches no panel; and Return on the focused "Start",
// the first control that takes the focus, presses it.
TEST_F(WindowGui, ResizingKeepsTheControlsAndReturnPressesTheFocusedButton) {
    ASSERT_NO_FATAL_FAILURE(StartProgram({"--simulate", "--log-readouts", Log()}));
    XOrFail({"xdotool", "windowsize", window_, "1000", "700"});
    ASSERT_TRUE(WaitFor([&] { return Geometry(window_).W == 1000; }, 5s)) << Windows();

    // The scope's black background fills its inside but for the labels and the centre line,
    // and not one pixel beside it; the chart's white fills its inside likewise. Photographed
    // until the resized window's repaint shows so, then checked.
    auto at = [&](const Box& r) { return OnScreen(r); };
    const Box scopeInside{kScope.X + 1, kScope.Y + 1, kScope.W - 2, kScope.H - 2};
    const Box chartInside{kChart.X + 1, kChart.Y + 1, kChart.W - 2, kChart.H - 2};
    const Box besideScope = at({kScope.X + kScope.W, kScope.Y, 4, kScope.H});
    const Box belowChart = at({kChart.X, kChart.Y + kChart.H + 2, kChart.W, 100});
    auto repainted = [&](const Picture& p) {
        return p.Count(at(scopeInside), 0, 0, 0) > scopeInside.W * scopeInside.H * 8 / 10 &&
               p.Count(besideScope, 0, 0, 0) == 0 &&
               p.Count(at(chartInside), 255, 255, 255) > chartInside.W * chartInside.H / 2 &&
               p.Count(belowChart, 255, 255, 255) == 0;
    };
    Picture picture;
    ASSERT_NO_FATAL_FAILURE(ScreenshotWhen(picture, repainted));
    EXPECT_GT(picture.Count(at(scopeInside), 0, 0, 0), scopeInside.W * scopeInside.H * 8 / 10);
    EXPECT_EQ(picture.Count(besideScope, 0, 0, 0), 0);
    EXPECT_GT(picture.Count(at(chartInside), 255, 255, 255), chartInside.W * chartInside.H / 2);
    EXPECT_EQ(picture.Count(belowChart, 255, 255, 255), 0) << "the chart grew with the window";

    ASSERT_NO_FATAL_FAILURE(Focus(window_));
    ASSERT_NO_FATAL_FAILURE(Key("Return"));
    EXPECT_TRUE(WaitFor([&] { return !LogTexts(Log(), "IDFREQERROR").empty(); }, 10s))
        << "Return did not press Start\n"
        << FileText(Log()) << AppErr();
    app_.Signal(SIGTERM);
    EXPECT_EQ(app_.Wait(15s), 0) << AppErr();
}

}  // namespace qv
