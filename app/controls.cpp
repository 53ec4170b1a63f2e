// The main window's control table.
#include "app/controls.h"

#include "chain/measurement.h"

namespace qv {

using K = ControlKind;

const std::array<ControlSpec, kControlCount> kControls = {{
    {IDGRAPH, "IDGRAPH", K::Panel, "", 10, 5, kScopePanelWidth, kScopePanelHeight},
    {IDVECTOR, "IDVECTOR", K::Panel, "", 143, 5, kVectorPanelSize, kVectorPanelSize},
    {IDDISPLAY, "IDDISPLAY", K::Panel, "", 10, 180, kChartPanelWidth, kChartPanelHeight},
    {IDCAP, "IDCAP", K::Button, "Start", 325, 140, 45, 25},
    {IDEND, "IDEND", K::Button, "End", 375, 140, 45, 25},
    {IDRESET, "IDRESET", K::Button, "Reset All", 425, 140, 55, 25},
    {IDCLEARV, "IDCLEARV", K::Button, "Clear V-scope", 700, 105, 85, 25},
    {IDCLEARDISP, "IDCLEARDISP", K::Button, "Clear display", 700, 80, 85, 25},
    {IDFIXOFFSET, "IDFIXOFFSET", K::Button, "Fix offset", 700, 30, 85, 25},
    {IDCAPTURESCREEN, "IDCAPTURESCREEN", K::Button, "Capture screen", 700, 55, 85, 25},
    {IDLOCKFREQ, "IDLOCKFREQ", K::Entry, kStartLockFreqText, 560, 30, 60, 20},
    {-1, "", K::Label, "Initial lock freq", 625, 35, 75, 15},
    {IDOFFSET, "IDOFFSET", K::Entry, kStartOffsetText, 560, 0, 140, 20},
    {-1, "", K::Label, "Offset frequency", 705, 5, 85, 15},
    {IDINTTIME, "IDINTTIME", K::Entry, kStartIntegrationText, 560, 60, 60, 20},
    {-1, "", K::Label, "Integration time", 625, 65, 75, 15},
    {IDAUDIOLEVEL, "IDAUDIOLEVEL", K::Label, "Audio level=", 325, 0, 150, 15},
    {IDFREQERROR, "IDFREQERROR", K::Label, "Freq error=", 325, 20, 150, 15},
    {IDTIMINGERROR, "IDTIMINGERROR", K::Label, "Timing error=", 325, 40, 150, 15},
    {IDLOCKFREQOUT, "IDLOCKFREQOUT", K::Label, "Lock frequency=", 325, 60, 150, 15},
    {IDCLICKPHASE, "IDCLICKPHASE", K::Label, "ClickPhase degrees = ", 325, 80, 150, 15},
    {IDCLICKLEVEL, "IDCLICKLEVEL", K::Label, "Click Level % = ", 325, 100, 150, 15},
    {IDCLICKPEAK, "IDCLICKPEAK", K::Label, "Click Peak  = ", 325, 120, 150, 15},
    {IDBLANKRF, "IDBLANKRF", K::Check, "Blank RF click", 560, 110, 100, 20},
    {IDINVERT, "IDINVERT", K::Check, "Inverted", 560, 90, 60, 20},
    {-1, "", K::GroupBox, "", 477, 25, 75, 100},
    {-1, "", K::Label, "Vectorscope magnification", 480, 0, 70, 32},
    {IDMAG1, "IDMAG1", K::Option, "/1", 490, 40, 45, 13},
    {IDMAG10, "IDMAG10", K::Option, "/10", 490, 60, 45, 13},
    {IDMAG100, "IDMAG100", K::Option, "/100", 490, 80, 45, 13},
    {IDMAG1000, "IDMAG1000", K::Option, "/1000", 490, 100, 48, 13},
    {IDDEVICE, "IDDEVICE", K::DeviceList, "", 485, 142, 180, 240},
}};

const std::array<MenuItemSpec, 3> kSetupMenu = {{
    {IDSAVEIQ, "IDSAVEIQ", "Save I,Q to file?"},
    {IDSAVESCREEN, "IDSAVESCREEN", "Save screen to file?"},
    {IDINPUT, "IDINPUT", "Input"},
}};

const ControlSpec* FindControl(int id) {
    if (id < 0) return nullptr;
    for (const ControlSpec& c : kControls) {
        if (c.Id == id) return &c;
    }
    return nullptr;
}

std::string ControlName(int id) {
    if (const ControlSpec* c = FindControl(id)) return c->Name;
    for (const MenuItemSpec& item : kSetupMenu) {
        if (item.Id == id) return item.Name;
    }
    return std::to_string(id);
}

const char* LongestReadout(int id) {
    switch (id) {
        case IDAUDIOLEVEL:
            return "Audio level = 100.0%";
        case IDFREQERROR:
            return "Freq error = -9999.99ppm";
        case IDTIMINGERROR:
            return "Timing error = -62500.00uS";
        case IDLOCKFREQOUT:
            return "Lock frequency = 999999999.998";
        case IDCLICKPHASE:
            return "ClickPhase degrees = -179.999";
        case IDCLICKLEVEL:
            return "Click Level % = 100.000";
        case IDCLICKPEAK:
            return "Click Peak = 7999";
    }
    return nullptr;
}

const char* ControlTooltip(const ControlSpec& c) {
    if (c.Id < 0) {  // a caption beside its control says what that control does
        const std::string text = c.Text;
        const int captioned = text == "Initial lock freq"           ? IDLOCKFREQ
                              : text == "Offset frequency"          ? IDOFFSET
                              : text == "Integration time"          ? IDINTTIME
                              : text == "Vectorscope magnification" ? IDMAG1
                                                                    : -1;
        return captioned >= 0 ? ControlTooltip(*FindControl(captioned)) : "";
    }
    switch (c.Id) {
        case IDGRAPH:
            return "Click scope: the RF click (top) and the PPS edge (bottom), 2 pixels a sample; "
                   "click to set the click position";
        case IDVECTOR:
            return "I/Q panel: the running sums of I and Q (vectorscope), divided by the "
                   "magnification";
        case IDDISPLAY:
            return "Chart: the click's phase and level, one point per integration period";
        case IDCAP:
            return "Start measuring from the input chosen in the device list";
        case IDEND:
            return "Stop measuring, save the I/Q file if chosen in Setup, and end the program";
        case IDRESET:
            return "Restart the clock loop and the lock oscillator from the entry fields, and "
                   "clear the I/Q panel";
        case IDCLEARV:
            return "Clear the I/Q panel and its sums";
        case IDCLEARDISP:
            return "Clear the chart";
        case IDFIXOFFSET:
            return "Apply the offset frequency to the lock oscillator";
        case IDCAPTURESCREEN:
            return "Save the chart as hhmmss.BMP in the current directory";
        case IDLOCKFREQ:
            return "The click's frequency the lock oscillator starts at, read at Start and Reset "
                   "All [Hz, 0 to 4000]";
        case IDOFFSET:
            return "Frequency offset added to the lock oscillator by Fix offset [Hz]";
        case IDINTTIME:
            return "Length of one integration period: one I/Q record and chart point each "
                   "[s, whole, at least 1]";
        case IDAUDIOLEVEL:
            return "Peak level of the PPS channel (right input) [percent of full scale]";
        case IDFREQERROR:
            return "The sound card's sample-clock error against GPS [ppm]";
        case IDTIMINGERROR:
            return "How late the PPS edge comes against the corrected second [microseconds]";
        case IDLOCKFREQOUT:
            return "The lock oscillator's frequency now [Hz]";
        case IDCLICKPHASE:
            return "The click's phase against the lock oscillator [degrees]";
        case IDCLICKLEVEL:
            return "The click's level at the click position [percent]";
        case IDCLICKPEAK:
            return "The click position: the sample after the PPS edge where the click is read "
                   "[samples at 8000 per second]";
        case IDBLANKRF:
            return "Leave the samples from 20 before to 300 after the click position out of "
                   "the I/Q sums";
        case IDINVERT:
            return "Negate both input channels (RF and PPS)";
        case IDMAG1:
        case IDMAG10:
        case IDMAG100:
        case IDMAG1000:
            return "Vectorscope magnification: the I/Q panel's scale divisor; choosing one "
                   "clears the panel";
        case IDDEVICE:
            return "The input to measure: a sound card (left RF, right PPS), or a simulator or "
                   "recording added on the command line";
    }
    return "";
}

bool TakesMouse(ControlKind kind) {
    return kind != K::Panel && kind != K::Label && kind != K::GroupBox;
}

namespace {

bool Holds(const ControlSpec& c, int x, int y) {
    // The device list's height includes its drop-down; closed, it is one entry high.
    const int h = c.Kind == K::DeviceList ? kDeviceListClosedHeight : c.H;
    return x >= c.X && x < c.X + c.W && y >= c.Y && y < c.Y + h;
}

}  // namespace

const ControlSpec* ControlAtPoint(int x, int y) {
    for (const ControlSpec& c : kControls) {
        if (Holds(c, x, y)) return &c;
    }
    return nullptr;
}

const ControlSpec* MouseTakerAt(int x, int y) {
    for (const ControlSpec& c : kControls) {
        if (TakesMouse(c.Kind) && Holds(c, x, y)) return &c;
    }
    return nullptr;
}

}  // namespace qv
