// The main window's controls and menu: ids, names, kinds, captions and client-area geometry in
// creation (and tab) order, so the window, the handler and the tests share one table.
#pragma once

#include <array>
#include <string>

namespace qv {

// Control and menu ids.
enum ControlIds : int {
    IDCAP = 100,
    IDEND = 200,
    IDGRAPH = 300,
    IDDISPLAY = 320,
    IDVECTOR = 350,
    IDINVERT = 500,
    IDRESET = 600,
    IDCLEARV = 660,
    IDINPUT = 670,
    IDBLANKRF = 680,
    IDLOCKFREQ = 690,
    IDOFFSET = 691,
    IDCLEARDISP = 696,
    IDFIXOFFSET = 697,
    IDAUDIOLEVEL = 700,
    IDFREQERROR = 800,
    IDTIMINGERROR = 900,
    IDLOCKFREQOUT = 1000,
    IDCLICKPHASE = 1100,
    IDCLICKLEVEL = 1200,
    IDCLICKPEAK = 1400,
    IDDEVICE = 1300,
    IDMAG1 = 1600,
    IDMAG10 = 1601,
    IDMAG100 = 1602,
    IDMAG1000 = 1603,
    IDINTTIME = 1700,
    IDSAVEIQ = 1900,
    IDCAPTURESCREEN = 1901,
    IDSAVESCREEN = 1902,
};

inline constexpr const char* kMainTitle = "GPS QuorVelle";
// The title the hover read-out puts back away from the click scope: lower-case v.
inline constexpr const char* kHoverTitle = "GPS Quorvelle";
inline constexpr const char* kDefaultCaption = "GPS QuorVelle";  // of every message box

constexpr int kClientWidth = 785;            // [pixels]
constexpr int kClientHeight = 540;           // [pixels] below the menu bar
constexpr int kDeviceListClosedHeight = 21;  // [pixels] the device list without its drop-down

enum class ControlKind { Panel, Label, Button, Entry, Check, GroupBox, Option, DeviceList };

struct ControlSpec {
    int Id;            // -1: never addressed
    const char* Name;  // "IDCAP", or "" for the unnamed labels and the group box
    ControlKind Kind;
    const char* Text;  // caption or initial text
    int X, Y, W, H;    // [pixels] in the client area
};

constexpr int kControlCount = 32;
extern const std::array<ControlSpec, kControlCount> kControls;

struct MenuItemSpec {
    int Id;
    const char* Name;
    const char* Text;
};
inline constexpr const char* kSetupMenuText = "&Setup";
extern const std::array<MenuItemSpec, 3> kSetupMenu;

// What a control does and its unit, shown when the pointer rests on it; "" for none.
const char* ControlTooltip(const ControlSpec& control);

// A read-out's text at its widest realistic value (the sign, the most digits it can show), by
// which the controls' font is chosen; nullptr for a control that is not a read-out.
const char* LongestReadout(int id);

// The control with this id, or nullptr.
const ControlSpec* FindControl(int id);
// The id name of a control or menu item ("IDCAP"), or the number as text.
std::string ControlName(int id);

// Buttons, entry fields, check boxes, options and the device list take the mouse themselves;
// panels, labels and the group box let it through to the window.
bool TakesMouse(ControlKind kind);
// The first control in creation order whose rectangle holds the client point, or nullptr.
const ControlSpec* ControlAtPoint(int x, int y);
// The control that takes the mouse at the client point, or nullptr when the window gets it.
// A group box lets the mouse through to the options inside it.
const ControlSpec* MouseTakerAt(int x, int y);

}  // namespace qv
