// The main window in Win32: a dialog-class window built in memory, the controls of the control
// table as real child controls at their pixel positions, the "&Setup" menu, the status line,
// and capture blocks posted to the window's thread as window messages.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <commdlg.h>
// wingdi's printer query: in this program DeviceCapabilities is the capture's device record.
#undef DeviceCapabilities

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "app/win32/control_font.h"
#include "app/window.h"
#include "app/window_icon.h"
#include "app/window_rules.h"
#include "capture/stop_signals.h"
#include "common/wide_text_win32.h"

namespace qv {

namespace {

App* gApp = nullptr;  // the one window's program state, for the window procedures

// The window's scaling: the controls, the status line and their font at the screen's factor,
// each panel pixel a square of the nearest whole factor (see ChooseWindowScaling).
WindowScaling gScaling;
int gDotsPerInch = 96;  // the screen's, where the window is

// The window messages that carry the capture to the window's thread.
constexpr UINT kCaptureBlockMessage = WM_APP + 1;    // lParam: the filled CaptureBlock
constexpr UINT kCaptureStoppedMessage = WM_APP + 2;  // the source ended or failed

// The stop requests of a session's end, numbered as StopSignals numbers the console's events
// of the same name.
constexpr int kLogOffStop = 100 + CTRL_LOGOFF_EVENT;
constexpr int kShutDownStop = 100 + CTRL_SHUTDOWN_EVENT;

constexpr UINT_PTR kStopTimer = 1;              // polls for a stop request
constexpr UINT kStopPollMilliseconds = 50;      // [ms]
constexpr UINT_PTR kNoticeTimer = 2;            // the start-up work (FinishStartup), once
constexpr UINT kNoticeDelayMilliseconds = 200;  // [ms] after the window is shown
constexpr wchar_t kPanelClass[] = L"QuorVellePanel";

std::string WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return Narrow(text);
}

// ---------------------------------------------------------------------------------------------
// The window's parts

struct Win32Window {
    HWND Window = nullptr;
    HWND Status = nullptr;
    HWND Tooltips = nullptr;
    HMENU SetupMenu = nullptr;
    HFONT Font = nullptr;
    HCURSOR CurrentCursor = nullptr;
    std::map<int, HWND> Controls;
    std::map<PanelId, HWND> Panels;
    std::vector<HWND> Ordered;  // every control, in table order
    std::string Title = kMainTitle;
    std::string StatusText;
    bool Ready = false;        // built and initialised: commands go to the handler
    bool SettingText = false;  // the program sets an entry's text: its notifications are not
                               // the user's
    const StopSignals* Stop = nullptr;
    bool StopSeen = false;
    SIZE Full{};         // [pixels] the window's size for the whole table at its scaling
    int LineHeight = 0;  // [pixels] a line of the controls' font
};
Win32Window gWin;

const ControlSpec* SpecOf(HWND child) {
    for (const auto& [id, hwnd] : gWin.Controls) {
        if (hwnd == child) return FindControl(id);
    }
    return nullptr;
}

// The status line's rectangle in the window's client area: across the foot of the window.
RECT StatusRect() {
    RECT client{};
    GetClientRect(gWin.Window, &client);
    const int h = ClientSize(gScaling).StatusHeight;
    return {0, client.bottom - h, client.right, client.bottom};
}

// ---------------------------------------------------------------------------------------------
// Panels

// A panel shows one of the display's panel surfaces inside a one-pixel sunken edge (magnified
// by the UI scale). It lets the mouse through to the window, as a plain static control does.
LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r{};
            GetClientRect(hwnd, &r);
            const int s = gScaling.Panels;
            // The sunken edge: shadow above and left, highlight below and right.
            const RECT top{0, 0, r.right, s}, left{0, 0, s, r.bottom};
            const RECT bottom{0, r.bottom - s, r.right, r.bottom},
                right{r.right - s, 0, r.right, r.bottom};
            FillRect(dc, &top, GetSysColorBrush(COLOR_BTNSHADOW));
            FillRect(dc, &left, GetSysColorBrush(COLOR_BTNSHADOW));
            FillRect(dc, &bottom, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
            FillRect(dc, &right, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
            const auto* surface = reinterpret_cast<const Surface*>(GetWindowLongPtrW(hwnd, 0));
            const RECT inside{s, s, r.right - s, r.bottom - s};
            if (surface == nullptr || !SurfaceFillsPanel(*surface, r.right, r.bottom, s)) {
                FillRect(dc, &inside, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            } else {
                // Our colours are red + 256 green + 65536 blue; a 32-bit DIB wants blue lowest.
                std::vector<uint32_t> bgr(surface->Pixels.size());
                for (size_t i = 0; i < bgr.size(); ++i) {
                    const uint32_t c = surface->Pixels[i];
                    bgr[i] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
                }
                BITMAPINFO info{};
                info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
                info.bmiHeader.biWidth = surface->Width;
                info.bmiHeader.biHeight = -surface->Height;  // rows from the top
                info.bmiHeader.biPlanes = 1;
                info.bmiHeader.biBitCount = 32;
                info.bmiHeader.biCompression = BI_RGB;
                // Whole-number magnification by pixel replication: crisp squares.
                SetStretchBltMode(dc, COLORONCOLOR);
                StretchDIBits(dc, s, s, surface->Width * s, surface->Height * s, 0, 0,
                              surface->Width, surface->Height, bgr.data(), &info, DIB_RGB_COLORS,
                              SRCCOPY);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterPanelClass(HINSTANCE instance) {
    WNDCLASSW panel{};
    panel.lpfnWndProc = PanelProc;
    panel.cbWndExtra = sizeof(LONG_PTR);  // the surface it shows
    panel.hInstance = instance;
    panel.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    panel.lpszClassName = kPanelClass;
    RegisterClassW(&panel);
}

// ---------------------------------------------------------------------------------------------
// Boxes that wait for the user

// A message box or the save dialog runs the system's own modal loop, which also dispatches the
// window's capture blocks and timer; a stop request closes it from the timer through CloseBoxes.

HWND BoxOwner() { return IsWindowVisible(gWin.Window) ? gWin.Window : nullptr; }

// A message box with `buttons` and icon, in front; modal for the whole program while the
// window is not shown. Returns the button chosen.
int RunMessageBox(const std::string& caption, const std::string& text, UINT buttons) {
    UINT style = buttons | MB_SETFOREGROUND;
    HWND owner = BoxOwner();
    if (owner == nullptr) style |= MB_TASKMODAL;
    return MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), style);
}

// The handler asks before a file is replaced, so the dialog does not.
std::string RunSaveDialog(const std::string& prompt, const std::string& suggested) {
    std::wstring file = Wide(suggested, CP_ACP);
    file.resize(std::max<size_t>(file.size() + 1, MAX_PATH * 4), L'\0');
    const std::wstring title = Wide(prompt);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = BoxOwner();
    dialog.lpstrFilter = L"Text files (*.TXT)\0*.TXT\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    const BOOL chosen = GetSaveFileNameW(&dialog);
    // Closed by a stop request: no answer.
    if (!chosen || gApp->StopSignal != 0) return "";
    file.resize(wcslen(file.c_str()));
    return Narrow(file, CP_ACP);
}

// Every dialog of this thread but the main window answers as OK (a message box), No (a
// question) or Cancel (the save dialog) would.
BOOL CALLBACK CloseBox(HWND hwnd, LPARAM) {
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    if (hwnd == gWin.Window || wcscmp(name, L"#32770") != 0) return TRUE;
    const WPARAM answer = GetDlgItem(hwnd, IDCANCEL) != nullptr ? IDCANCEL
                          : GetDlgItem(hwnd, IDNO) != nullptr   ? IDNO
                                                                : IDOK;
    PostMessageW(hwnd, WM_COMMAND, answer, 0);
    return TRUE;
}

void CloseOpenBoxes() { EnumThreadWindows(GetCurrentThreadId(), CloseBox, 0); }

// ---------------------------------------------------------------------------------------------
// The port

class Win32Port final : public WindowPort {
public:
    void SetTitle(const std::string& text) override {
        if (text == gWin.Title) return;
        gWin.Title = text;
        SetWindowTextW(gWin.Window, Wide(text).c_str());
    }
    void SetStatus(const std::string& text) override {
        gWin.StatusText = text;
        SetWindowTextW(gWin.Status, Wide(text).c_str());
        // The whole message as the line's hover title, for when the line cuts it.
        const std::wstring tip = Wide(text);
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = gWin.Window;
        tool.uId = 0;
        tool.lpszText = const_cast<wchar_t*>(tip.c_str());
        SendMessageW(gWin.Tooltips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    std::string ControlText(int id) override {
        const ControlSpec* c = FindControl(id);
        if (c == nullptr || c->Kind != ControlKind::Entry) return "";
        return WindowText(gWin.Controls[id]);
    }
    void SetControlText(int id, const std::string& text) override {
        const auto found = gWin.Controls.find(id);
        if (found == gWin.Controls.end()) return;
        const ControlSpec* c = FindControl(id);
        gWin.SettingText = true;
        SetWindowTextW(found->second, Wide(text).c_str());
        gWin.SettingText = false;
        if (c != nullptr && c->Kind == ControlKind::Entry) {
            // Typing goes on behind the new text.
            const LPARAM end = GetWindowTextLengthW(found->second);
            SendMessageW(found->second, EM_SETSEL, static_cast<WPARAM>(end), end);
        }
    }
    void EnableControl(int id, bool enabled) override {
        const auto found = gWin.Controls.find(id);
        if (found == gWin.Controls.end()) return;
        HWND control = found->second;
        // A disabled control keeps no focus: it goes on to the next, so the keys still work.
        HWND focus = GetFocus();
        if (!enabled && focus != nullptr && (focus == control || IsChild(control, focus))) {
            SendMessageW(gWin.Window, WM_NEXTDLGCTL, 0, FALSE);
        }
        EnableWindow(control, enabled ? TRUE : FALSE);
    }
    void SetMenuCheck(int id, bool checked) override {
        CheckMenuItem(gWin.SetupMenu, static_cast<UINT>(id),
                      MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    }
    void SetCheck(int id, bool checked) override {
        const auto found = gWin.Controls.find(id);
        if (found == gWin.Controls.end()) return;
        SendMessageW(found->second, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    void SetCursor(Cursor cursor) override {
        gWin.CurrentCursor =
            LoadCursorA(nullptr, cursor == Cursor::CrossHair ? IDC_CROSS : IDC_ARROW);
        ::SetCursor(gWin.CurrentCursor);
    }
    void ShowPanel(PanelId panel) override {
        const auto found = gWin.Panels.find(panel);
        if (found != gWin.Panels.end()) InvalidateRect(found->second, nullptr, FALSE);
    }
    void ShowMessage(const std::string& caption, const std::string& text,
                     MessageIcon icon) override {
        const UINT mark = icon == MessageIcon::Exclamation ? MB_ICONEXCLAMATION : 0;
        RunMessageBox(caption, text, MB_OK | mark);
    }
    std::string AskSavePath(const std::string& prompt, const std::string& suggested) override {
        return RunSaveDialog(prompt, suggested);
    }
    // Yes or No, No the default button: nothing is replaced unless Yes is chosen.
    bool AskYesNo(const std::string& caption, const std::string& text) override {
        const UINT question = MB_YESNO | MB_DEFBUTTON2 | MB_ICONEXCLAMATION;
        return RunMessageBox(caption, text, question) == IDYES && gApp->StopSignal == 0;
    }
    void CloseBoxes() override { CloseOpenBoxes(); }
    void FillDeviceList(const std::vector<std::string>& names, int selected) override {
        HWND list = gWin.Controls[IDDEVICE];
        for (const std::string& name : names) {
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
        }
        if (selected >= 0) SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    }
    int DeviceListIndex() override {
        const LRESULT index = SendMessageW(gWin.Controls[IDDEVICE], CB_GETCURSEL, 0, 0);
        return index == CB_ERR ? -1 : static_cast<int>(index);
    }
    std::string DeviceListText() override { return WindowText(gWin.Controls[IDDEVICE]); }
    void DestroyWindow() override {
        KillTimer(gWin.Window, kStopTimer);
        ::DestroyWindow(gWin.Window);
    }
};

Win32Port gPort;

// ---------------------------------------------------------------------------------------------
// Messages

// The edit control's notification as the handler names it; Plain for the others it sends.
EntryNotification EntryNotificationOf(int code) {
    switch (code) {
        case EN_SETFOCUS:
            return EntryNotification::SetFocus;
        case EN_KILLFOCUS:
            return EntryNotification::KillFocus;
        case EN_CHANGE:
            return EntryNotification::Change;
        default:
            return EntryNotification::Plain;
    }
}

// A control's command as the handler sees it: buttons, check boxes and options on a click,
// entry fields on a change and on taking or losing the focus, menu items when chosen.
void OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (lParam == 0) {
        if (code != 0) return;  // no accelerators
        for (const MenuItemSpec& item : kSetupMenu) {
            if (item.Id == id) SendCommand(*gApp, id);
        }
        // Enter and Escape as the dialog keyboard handling makes them (IDOK, IDCANCEL) reach the
        // handler, which ignores them: the window stays.
        if (id == IDOK || id == IDCANCEL) MainDialogCallback(*gApp, WindowMessage::Command, id, 0);
        return;
    }
    // From a control: one of the table's (the status line and unnamed labels send none).
    const ControlSpec* c = FindControl(id);
    if (c == nullptr || SpecOf(reinterpret_cast<HWND>(lParam)) != c) return;
    switch (c->Kind) {
        case ControlKind::Button:
        case ControlKind::Check:
        case ControlKind::Option:
            if (code == BN_CLICKED) SendCommand(*gApp, id);
            break;
        case ControlKind::Entry: {
            if (gWin.SettingText) break;
            const EntryNotification notification = EntryNotificationOf(code);
            if (notification != EntryNotification::Plain) SendCommand(*gApp, id, notification);
            break;
        }
        default:
            break;
    }
}

void OnStopPoll() {
    if (gWin.Stop == nullptr || gWin.StopSeen) return;
    const int signal = gWin.Stop->Received();
    if (signal == 0) return;
    gWin.StopSeen = true;
    StopSignalArrived(*gApp, signal);
}

void MoveToDotsPerInch(UINT dpi, const RECT* suggested);
void WriteLayout(const std::string& path);
std::string gLayoutPath;  // where the layout goes once the window is up and after each move to
                          // another scaling ("": nowhere)

INT_PTR CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return FALSE;  // the focus is set once the controls exist
        case WM_COMMAND:
            if (gWin.Ready && !gApp->Ended) OnCommand(wParam, lParam);
            return TRUE;
        case WM_MOUSEMOVE:
            if (gWin.Ready) {
                const TablePoint p = TablePointAt(static_cast<int16_t>(LOWORD(lParam)),
                                                  static_cast<int16_t>(HIWORD(lParam)), gScaling);
                DeliverMouseMove(*gApp, p.X, p.Y);
            }
            return TRUE;
        case WM_LBUTTONDOWN:
            if (gWin.Ready) {
                const TablePoint p = TablePointAt(static_cast<int16_t>(LOWORD(lParam)),
                                                  static_cast<int16_t>(HIWORD(lParam)), gScaling);
                DeliverLeftButton(*gApp, p.X, p.Y);
            }
            return TRUE;
        case WM_DPICHANGED:
            // Moved to a screen of another scaling: laid out again at its dots per inch, in the
            // rectangle the system suggests.
            MoveToDotsPerInch(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        case WM_SETCURSOR:
            // The window's own area (also over the panels and labels, which let the mouse
            // through) shows the cursor the handler chose.
            if (reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT &&
                gWin.CurrentCursor != nullptr) {
                ::SetCursor(gWin.CurrentCursor);
                SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            // An exposed window repaints the panels from their surfaces; the default processing
            // then validates the area.
            if (gWin.Ready && !gApp->Ended) MainDialogCallback(*gApp, WindowMessage::Paint, 0, 0);
            return FALSE;
        case kCaptureBlockMessage:
            MainDialogCallback(*gApp, WindowMessage::CaptureBlock, 0, lParam);
            return TRUE;
        case kCaptureStoppedMessage:
            CaptureSourceStopped(*gApp);
            return TRUE;
        case WM_CLOSE:  // the close box, Alt+F4, the system menu
            EndMainWindow(*gApp);
            return TRUE;
        case WM_QUERYENDSESSION:
            SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // Log-off or shut-down: as a stop request, the close-time work without questions,
            // done before the system ends the process.
            if (wParam) {
                StopSignalArrived(*gApp,
                                  (lParam & ENDSESSION_LOGOFF) != 0 ? kLogOffStop : kShutDownStop);
            }
            return TRUE;
        case WM_TIMER:
            if (wParam == kStopTimer) OnStopPoll();
            if (wParam == kNoticeTimer) {
                KillTimer(hwnd, kNoticeTimer);
                FinishStartup(*gApp);
            }
            return TRUE;
        case WM_GETMINMAXINFO: {
            // A given UI scale stays also where the window is larger than the screen.
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMaxTrackSize.x = std::max(limits->ptMaxTrackSize.x, gWin.Full.cx);
            limits->ptMaxTrackSize.y = std::max(limits->ptMaxTrackSize.y, gWin.Full.cy);
            return TRUE;
        }
        case WM_SIZE: {
            // The controls keep their places; the status line stays at the window's foot.
            if (gWin.Status == nullptr) return FALSE;
            const RECT r = StatusRect();
            MoveWindow(gWin.Status, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
            TTTOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.hwnd = hwnd;
            tool.uId = 0;
            tool.rect = r;
            SendMessageW(gWin.Tooltips, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
            return FALSE;
        }
    }
    return FALSE;
}

class PostingNotifier final : public CaptureNotifier {
public:
    void BlockFilled(CaptureBlock* block) override {
        PostMessageW(gWin.Window, kCaptureBlockMessage, 0, reinterpret_cast<LPARAM>(block));
    }
    void CaptureStopped() override { PostMessageW(gWin.Window, kCaptureStoppedMessage, 0, 0); }
};

// ---------------------------------------------------------------------------------------------
// The screen's dots per inch
//
// The manifest makes the program aware of each screen's own dots per inch (per monitor, version
// 2) where the system knows that, else of the system's. The calls of later systems are looked
// up, so that the program still starts where they are missing.

template <typename Function>
Function User32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The dots per inch of the screen the window is on.
int WindowDotsPerInch(HWND hwnd) {
    static const auto forWindow = User32<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (forWindow != nullptr) {
        if (const UINT dpi = forWindow(hwnd)) return static_cast<int>(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

// A system measure at `dpi`.
int SystemMetric(int index, int dpi) {
    static const auto forDpi = User32<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return forDpi != nullptr ? forDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

// The window's frame around `client` at `dpi`, the menu bar included.
RECT FrameAround(RECT client, DWORD style, int dpi) {
    static const auto forDpi =
        User32<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (forDpi == nullptr || !forDpi(&client, style, TRUE, 0, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&client, style, TRUE, 0);
    }
    return client;
}

// The work area of the screen the window is on.
RECT WorkArea(HWND hwnd) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &info)) {
        return info.rcWork;
    }
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

// The scaling at `dpi` on the window's screen, the controls' font made for it, and the sizes
// the controls are fitted to.
void ChooseScaling(App& app, int dpi) {
    const RECT work = WorkArea(gWin.Window);
    gScaling = ChooseWindowScaling(app.Options.Scale, app.DotsPerInch, dpi, work.right - work.left,
                                   work.bottom - work.top, SystemMetric(SM_CYMENU, dpi));
    gDotsPerInch = dpi;
    if (gWin.Font != nullptr) DeleteObject(gWin.Font);
    gWin.Font = CreateControlFont(ChooseControlFont(gScaling));
    gWin.LineHeight = ControlFontLineHeight(gWin.Font);
}

// ---------------------------------------------------------------------------------------------
// Building the window

// The window style of the control table's main window.
constexpr DWORD kWindowStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

// An empty dialog template: the dialog class's keyboard handling (Tab order, the default push
// button, Enter and Escape as commands) with no controls; they are made in pixels below.
HWND CreateDialogWindow(HINSTANCE instance) {
    // DLGTEMPLATE, then no menu, the default class and the title, each a WORD-aligned array.
    alignas(DWORD) WORD buffer[64] = {};
    auto* t = reinterpret_cast<DLGTEMPLATE*>(buffer);
    t->style = kWindowStyle;
    t->dwExtendedStyle = 0;
    t->cdit = 0;
    t->x = t->y = 0;
    t->cx = 100;  // [dialog units] the real size, in pixels, is set later
    t->cy = 100;
    WORD* after = reinterpret_cast<WORD*>(t + 1);
    *after++ = 0;  // no menu
    *after++ = 0;  // the dialog class
    for (const wchar_t* c = L"GPS QuorVelle";; ++c) {
        *after++ = static_cast<WORD>(*c);
        if (*c == L'\0') break;
    }
    return CreateDialogIndirectParamW(instance, t, nullptr, MainWindowProc, 0);
}

// The control's rectangle in the client area: the table's at the window's scaling; a check box,
// option or entry field at least as tall as the system draws its font's line and its mark or
// edges at the screen's dots per inch, grown about its middle.
PixelRect PlacedRect(const ControlSpec& c) {
    PixelRect r = ControlRect(c, gScaling);
    int needed = 0;
    if (c.Kind == ControlKind::Check || c.Kind == ControlKind::Option) {
        needed = std::max(gWin.LineHeight, MulDiv(kCheckMarkSize, gDotsPerInch, 96));
    }
    if (c.Kind == ControlKind::Entry) {
        needed = gWin.LineHeight + 2 * SystemMetric(SM_CYEDGE, gDotsPerInch) + 2;
    }
    if (r.H < needed) {
        r.Y -= (needed - r.H) / 2;
        r.H = needed;
    }
    return r;
}

HWND MakeControl(const ControlSpec& c, const Display& screen, HINSTANCE instance) {
    const auto [x, y, w, h] = PlacedRect(c);
    const std::wstring text = Wide(c.Text);
    const HMENU id = reinterpret_cast<HMENU>(static_cast<intptr_t>(c.Id >= 0 ? c.Id : 0xFFFF));
    const DWORD child = WS_CHILD | WS_VISIBLE;
    HWND hwnd = nullptr;
    switch (c.Kind) {
        case ControlKind::Panel: {
            const PanelId panel = PanelOf(c);
            hwnd = CreateWindowExW(0, kPanelClass, L"", child, x, y, w, h, gWin.Window, id,
                                   instance, nullptr);
            SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(&PanelSurface(screen, panel)));
            gWin.Panels[panel] = hwnd;
            break;
        }
        case ControlKind::Label: {
            const bool wraps = LabelWraps(c);
            hwnd = CreateWindowExW(0, L"STATIC", text.c_str(),
                                   child | SS_NOPREFIX | (wraps ? SS_LEFT : SS_LEFTNOWORDWRAP), x,
                                   y, w, h, gWin.Window, id, instance, nullptr);
            break;
        }
        case ControlKind::Button:
            hwnd = CreateWindowExW(0, L"BUTTON", text.c_str(), child | WS_TABSTOP | BS_PUSHBUTTON,
                                   x, y, w, h, gWin.Window, id, instance, nullptr);
            break;
        case ControlKind::Entry:
            hwnd = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(),
                                   child | WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, x, y, w, h,
                                   gWin.Window, id, instance, nullptr);
            break;
        case ControlKind::Check:
            hwnd = CreateWindowExW(0, L"BUTTON", text.c_str(), child | WS_TABSTOP | BS_AUTOCHECKBOX,
                                   x, y, w, h, gWin.Window, id, instance, nullptr);
            break;
        case ControlKind::GroupBox:
            hwnd = CreateWindowExW(0, L"BUTTON", text.c_str(), child | BS_GROUPBOX, x, y, w, h,
                                   gWin.Window, id, instance, nullptr);
            break;
        case ControlKind::Option: {
            // "/1" starts the group and is the one option Tab skips.
            const DWORD group = c.Id == IDMAG1 ? WS_GROUP : WS_TABSTOP;
            hwnd = CreateWindowExW(0, L"BUTTON", text.c_str(), child | group | BS_AUTORADIOBUTTON,
                                   x, y, w, h, gWin.Window, id, instance, nullptr);
            break;
        }
        case ControlKind::DeviceList:
            // The height includes the drop-down list; closed, the list is one entry high.
            hwnd = CreateWindowExW(0, L"COMBOBOX", L"",
                                   child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL,
                                   x, y, w, h, gWin.Window, id, instance, nullptr);
            break;
    }
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(gWin.Font), FALSE);
    if (c.Id >= 0) gWin.Controls[c.Id] = hwnd;
    gWin.Ordered.push_back(hwnd);
    return hwnd;
}

// The closed device list one table entry high: its selection field's height is corrected by
// what the window's height still differs (the field's height as set and as read back need not
// agree, so only the window's height is trusted).
void FitDeviceList() {
    HWND list = gWin.Controls[IDDEVICE];
    const ControlSpec& c = *FindControl(IDDEVICE);
    ControlSpec closed = c;
    closed.H = kDeviceListClosedHeight;
    const int wanted = ControlRect(closed, gScaling).H;
    LRESULT field = SendMessageW(list, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    for (int attempt = 0; attempt < 4 && field != CB_ERR; ++attempt) {
        RECT r{};
        GetWindowRect(list, &r);
        const int difference = wanted - (r.bottom - r.top);
        if (difference == 0 || field + difference < 1) break;
        field += difference;
        SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
    // The table's height again, which the list takes as the extent of its drop-down.
    const PixelRect r = ControlRect(c, gScaling);
    SetWindowPos(list, nullptr, 0, 0, r.W, r.H, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Hover titles: controls that take the mouse carry their own; the panels, labels and the
// status line let the mouse through, so theirs are areas of the window.
void AddTooltips(HINSTANCE instance) {
    gWin.Tooltips =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, gWin.Window, nullptr, instance, nullptr);
    SendMessageW(gWin.Tooltips, TTM_SETMAXTIPWIDTH, 0, MulDiv(400, gDotsPerInch, 96));
    auto add = [](UINT flags, UINT_PTR toolId, RECT rect, const std::wstring& text) {
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = flags | TTF_SUBCLASS;
        tool.hwnd = gWin.Window;
        tool.uId = toolId;
        tool.rect = rect;
        tool.lpszText = const_cast<wchar_t*>(text.c_str());
        SendMessageW(gWin.Tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    };
    add(0, 0, StatusRect(), L"");  // the status line: its whole message, set with each one
    int area = 1;
    for (const ControlSpec& c : kControls) {
        const std::wstring tip = Wide(ControlTooltip(c));
        if (tip.empty()) continue;
        if (!TakesMouse(c.Kind)) {
            const PixelRect r = ControlRect(c, gScaling);
            add(0, static_cast<UINT_PTR>(area++), RECT{r.X, r.Y, r.X + r.W, r.Y + r.H}, tip);
            continue;
        }
        HWND control = gWin.Controls[c.Id];
        add(TTF_IDISHWND, reinterpret_cast<UINT_PTR>(control), RECT{}, tip);
        // The device list's text field is a window of its own inside it.
        if (HWND inner = GetWindow(control, GW_CHILD)) {
            add(TTF_IDISHWND, reinterpret_cast<UINT_PTR>(inner), RECT{}, tip);
        }
    }
}

void BuildMenu() {
    HMENU bar = CreateMenu();
    gWin.SetupMenu = CreatePopupMenu();
    for (const MenuItemSpec& item : kSetupMenu) {
        AppendMenuW(gWin.SetupMenu, MF_STRING, static_cast<UINT_PTR>(item.Id),
                    Wide(item.Text).c_str());
    }
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(gWin.SetupMenu),
                Wide(kSetupMenuText).c_str());
    SetMenu(gWin.Window, bar);
}

// The window's icon from the installed icon's pixels: a 32-bit colour bitmap with its alpha.
HICON MakeWindowIcon() {
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = kWindowIconSize;
    header.bV5Height = -kWindowIconSize;  // rows from the top
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (colour == nullptr) return nullptr;
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int i = 0; i < kWindowIconSize * kWindowIconSize; ++i) {
        const unsigned char* p = kWindowIconRgba + 4 * i;
        pixels[i] = (uint32_t{p[3]} << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
    HBITMAP mask = CreateBitmap(kWindowIconSize, kWindowIconSize, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon;
}

// The window sized for the client area its scaling lays out (the control table's, with the
// status line below it), its top-left corner at `left`, `top` unless `flags` say SWP_NOMOVE:
// the frame as estimated at the screen's dots per inch, then put right by what the client area
// still differs (a menu bar the estimate got wrong).
void SizeWindow(int left, int top, UINT flags) {
    const ClientLayout layout = ClientSize(gScaling);
    const int width = layout.Width, height = layout.TableHeight + layout.StatusHeight;
    const RECT frame = FrameAround(RECT{0, 0, width, height}, kWindowStyle, gDotsPerInch);
    flags |= SWP_NOZORDER | SWP_NOACTIVATE;
    gWin.Full = {frame.right - frame.left, frame.bottom - frame.top};
    SetWindowPos(gWin.Window, nullptr, left, top, gWin.Full.cx, gWin.Full.cy, flags);
    RECT client{};
    GetClientRect(gWin.Window, &client);
    const int dw = width - client.right, dh = height - client.bottom;
    if (dw != 0 || dh != 0) {
        gWin.Full = {gWin.Full.cx + dw, gWin.Full.cy + dh};
        SetWindowPos(gWin.Window, nullptr, left, top, gWin.Full.cx, gWin.Full.cy, flags);
    }
}

void BuildWindow(App& app, HINSTANCE instance) {
    RegisterPanelClass(instance);
    gWin.Window = CreateDialogWindow(instance);
    // The scaling of the screen the window is on: the dialog manager's own scaling of dialogs
    // when the window moves to another screen is off, the window lays itself out again.
    using DialogDpiChange =
        BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
    if (const auto dialogDpi = User32<DialogDpiChange>("SetDialogDpiChangeBehavior")) {
        dialogDpi(gWin.Window, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
    }
    ChooseScaling(app, WindowDotsPerInch(gWin.Window));
    // The panels are drawn once, as at these dots per inch; another screen magnifies them.
    app.DotsPerInch = gScaling.DotsPerInch;
    gWin.CurrentCursor = LoadCursorA(nullptr, IDC_ARROW);
    BuildMenu();
    SizeWindow(0, 0, SWP_NOMOVE);

    for (const ControlSpec& c : kControls) MakeControl(c, app.M.Screen, instance);
    FitDeviceList();
    const RECT status = StatusRect();
    gWin.Status = CreateWindowExW(
        WS_EX_STATICEDGE, L"STATIC", L"",
        WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_CENTERIMAGE, status.left,
        status.top, status.right - status.left, status.bottom - status.top, gWin.Window,
        reinterpret_cast<HMENU>(intptr_t{0xFFFF}), instance, nullptr);
    SendMessageW(gWin.Status, WM_SETFONT, reinterpret_cast<WPARAM>(gWin.Font), FALSE);
    AddTooltips(instance);

    gPort.SetCheck(IDBLANKRF, true);
    gPort.SetCheck(IDMAG1, true);
    // Checking an option makes it a tab stop; "/1" starts as created, the one option Tab skips
    // (until a click on the options lets the system move the tab stop as it does).
    HWND first = gWin.Controls[IDMAG1];
    SetWindowLongW(first, GWL_STYLE, GetWindowLongW(first, GWL_STYLE) & ~WS_TABSTOP);
    if (HICON icon = MakeWindowIcon()) {
        SendMessageW(gWin.Window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(gWin.Window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
}

// Centred in the work area of the screen.
void CentreWindow() {
    RECT work{}, r{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(gWin.Window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(gWin.Window, nullptr, work.left + std::max(0L, (work.right - work.left - w) / 2),
                 work.top + std::max(0L, (work.bottom - work.top - h) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MoveToDotsPerInch(UINT dpi, const RECT* suggested) {
    if (gWin.Font == nullptr || static_cast<int>(dpi) == gDotsPerInch) return;
    SetWindowPos(gWin.Window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ChooseScaling(*gApp, static_cast<int>(dpi));
    // Its own size at its new scaling (whole-factor panels need not grow as the system's
    // estimate does), from the suggested corner.
    SizeWindow(suggested->left, suggested->top, 0);
    for (size_t i = 0; i < gWin.Ordered.size(); ++i) {
        const PixelRect r = PlacedRect(kControls[i]);
        SetWindowPos(gWin.Ordered[i], nullptr, r.X, r.Y, r.W, r.H, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(gWin.Ordered[i], WM_SETFONT, reinterpret_cast<WPARAM>(gWin.Font), TRUE);
    }
    FitDeviceList();
    SendMessageW(gWin.Status, WM_SETFONT, reinterpret_cast<WPARAM>(gWin.Font), TRUE);
    const RECT status = StatusRect();
    MoveWindow(gWin.Status, status.left, status.top, status.right - status.left,
               status.bottom - status.top, TRUE);
    // The hover titles' areas anew, the status line's with its message.
    ::DestroyWindow(gWin.Tooltips);
    AddTooltips(GetModuleHandleW(nullptr));
    gPort.SetStatus(gWin.StatusText);
    InvalidateRect(gWin.Window, nullptr, TRUE);
    if (!gLayoutPath.empty()) WriteLayout(gLayoutPath);
}

// The entry field with this window, or nullptr.
const ControlSpec* EntryOf(HWND hwnd) {
    const ControlSpec* c = SpecOf(hwnd);
    return c != nullptr && c->Kind == ControlKind::Entry ? c : nullptr;
}

// ---------------------------------------------------------------------------------------------
// The layout dump

// The panel scale; the control scale with the screen's dots per inch; the work area's size; the
// client area's size; every control in the order of the window's children
// (which is the Tab order) with its number in the table, id, name, class, rectangle in the
// client area as the system reports it [pixels], style, check mark and text; the device list's
// rectangle with its drop-down; the status line's; the menu with its check marks. One item a
// line, fields tab-separated.
void WriteLayout(const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "quorvelle: %s: cannot write the layout\n", path.c_str());
        return;
    }
    auto clientRect = [](HWND hwnd) {
        RECT r{};
        GetWindowRect(hwnd, &r);
        MapWindowPoints(nullptr, gWin.Window, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    RECT client{};
    GetClientRect(gWin.Window, &client);
    const RECT work = WorkArea(gWin.Window);
    std::fprintf(out, "scale\t%d\ncontrols\t%.4f\t%d\nwork\t%ld\t%ld\nclient\t%ld\t%ld\n",
                 gScaling.Panels, gScaling.Controls, gDotsPerInch, work.right - work.left,
                 work.bottom - work.top, client.right, client.bottom);
    for (HWND child = GetWindow(gWin.Window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const auto at = std::find(gWin.Ordered.begin(), gWin.Ordered.end(), child);
        if (at == gWin.Ordered.end()) continue;
        const int number = static_cast<int>(at - gWin.Ordered.begin()) + 1;
        const ControlSpec& c = kControls[static_cast<size_t>(number - 1)];
        const RECT r = clientRect(child);
        wchar_t className[32] = {};
        GetClassNameW(child, className, 32);
        const bool checkable = c.Kind == ControlKind::Check || c.Kind == ControlKind::Option;
        const bool checked = checkable && SendMessageW(child, BM_GETCHECK, 0, 0) ==
                                              static_cast<LRESULT>(BST_CHECKED);
        std::fprintf(out, "control\t%d\t%d\t%s\t%s\t%ld\t%ld\t%ld\t%ld\t%08lx\t%s\t%s\n", number,
                     GetDlgCtrlID(child) == 0xFFFF ? -1 : GetDlgCtrlID(child), c.Name,
                     Narrow(className).c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top,
                     static_cast<unsigned long>(GetWindowLongW(child, GWL_STYLE)),
                     checked ? "checked" : "-", WindowText(child).c_str());
    }
    // The device list's rectangle with its drop-down, as the list reports it.
    RECT dropped{};
    SendMessageW(gWin.Controls[IDDEVICE], CB_GETDROPPEDCONTROLRECT, 0,
                 reinterpret_cast<LPARAM>(&dropped));
    MapWindowPoints(nullptr, gWin.Window, reinterpret_cast<POINT*>(&dropped), 2);
    std::fprintf(out, "dropped\t%ld\t%ld\t%ld\t%ld\n", dropped.left, dropped.top,
                 dropped.right - dropped.left, dropped.bottom - dropped.top);
    const RECT status = clientRect(gWin.Status);
    std::fprintf(out, "status\t%ld\t%ld\t%ld\t%ld\n", status.left, status.top,
                 status.right - status.left, status.bottom - status.top);
    HMENU bar = GetMenu(gWin.Window);
    wchar_t text[64] = {};
    GetMenuStringW(bar, 0, text, 64, MF_BYPOSITION);
    std::fprintf(out, "menu\t%s\n", Narrow(text).c_str());
    for (int i = 0; i < GetMenuItemCount(gWin.SetupMenu); ++i) {
        GetMenuStringW(gWin.SetupMenu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        const UINT state = GetMenuState(gWin.SetupMenu, static_cast<UINT>(i), MF_BYPOSITION);
        std::fprintf(out, "item\t%u\t%s\t%s\n", GetMenuItemID(gWin.SetupMenu, i),
                     Narrow(text).c_str(), (state & MF_CHECKED) != 0 ? "checked" : "unchecked");
    }
    std::fclose(out);
}

}  // namespace

CaptureNotifier& WindowNotifier() {
    static PostingNotifier notifier;
    return notifier;
}

int RunMainWindow(App& app, const std::string& layoutPath) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    gApp = &app;
    app.Port = &gPort;

    // The screen's dots per inch as they are: the manifest says so, else (a copy without it)
    // the program says so itself, per screen where the system knows how.
    using AwarenessContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto perScreen = User32<AwarenessContext>("SetProcessDpiAwarenessContext");
    if (perScreen == nullptr || !perScreen(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        SetProcessDPIAware();
    }

    BuildWindow(app, instance);
    // Kept to the end of the process: a stop request while the capture closes after the window
    // has gone changes nothing. Before the initialisation, whose device-list warnings are boxes
    // a stop request must close: the timer runs in their loops too.
    static StopSignals signals;
    gWin.Stop = &signals;
    SetTimer(gWin.Window, kStopTimer, kStopPollMilliseconds, nullptr);
    if (!InitialiseMainWindow(app)) return app.ExitStatus;
    gWin.Ready = true;

    CentreWindow();
    ShowWindow(gWin.Window, SW_SHOW);
    SetForegroundWindow(gWin.Window);
    // The focus on the first control Tab reaches: Start.
    SendMessageW(gWin.Window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(gWin.Controls[IDCAP]), TRUE);
    UpdateWindow(gWin.Window);
    if (StartupPending(app)) SetTimer(gWin.Window, kNoticeTimer, kNoticeDelayMilliseconds, nullptr);
    gLayoutPath = layoutPath;
    if (!layoutPath.empty()) WriteLayout(layoutPath);

    // The modal loop: each message first to the dialog keyboard handling, which leaves Enter
    // in an entry field to us (the field's own Enter notification), until the window is gone.
    MSG msg;
    while (IsWindow(gWin.Window) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && !app.Ended) {
            if (const ControlSpec* entry = EntryOf(msg.hwnd)) {
                SendCommand(app, entry->Id, EntryNotification::Enter);
                continue;
            }
        }
        if (IsWindow(gWin.Window) && IsDialogMessageW(gWin.Window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return app.ExitStatus;
}

}  // namespace qv
