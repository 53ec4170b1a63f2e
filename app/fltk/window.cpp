// The main window in FLTK: the controls of the control table at their pixel positions below a
// menu bar, event translation into the portable handler, and capture blocks posted to the GUI
// thread with Fl::awake.
#include "app/window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tooltip.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

#include "app/fltk/control_font.h"
#include "app/window_icon.h"
#include "app/window_rules.h"
#include "capture/stop_signals.h"

namespace qv {

namespace {

App* gApp = nullptr;  // the one window's program state, for FLTK's plain callbacks

// Height of the menu bar above the client area [pixels, at the UI scale 1]; every control sits
// this much lower than its client-area position.
constexpr int kMenuBarHeight = 25;

// The UI scale: every control's geometry, the menu bar, the status line and the fonts are this
// many times their table sizes; the panels are drawn as at 96 dots per inch and each of their
// pixels shown as a square this wide.
int gScale = 1;
ControlFont gFont{FL_HELVETICA, 10};  // the controls' font, chosen to fit the table at gScale

// ---------------------------------------------------------------------------------------------
// Widgets

// A sunken panel that shows one of the display's panel surfaces inside a one-pixel edge.
class PanelView final : public Fl_Widget {
public:
    PanelView(int x, int y, int w, int h, const Surface* surface)
        : Fl_Widget(x, y, w, h), surface_(surface) {
        box(FL_THIN_DOWN_BOX);
        color(FL_WHITE);
    }
    // Taking the pointer's entry makes FLTK show the tooltip; the window still sees every move
    // and click first.
    int handle(int event) override {
        if (event == FL_ENTER || event == FL_LEAVE) return tooltip() != nullptr ? 1 : 0;
        return Fl_Widget::handle(event);
    }
    void draw() override {
        draw_box();
        const Surface& s = *surface_;
        if (!SurfaceFillsPanel(s, w(), h(), gScale)) return;
        // Colours are red + 256 green + 65536 blue: bytes R, G, B, 0 in memory.
        const uint32_t* pixels = s.Pixels.data();
        if (gScale > 1) {  // each pixel replicated into a gScale-wide square: crisp
            const int wide = s.Width * gScale;
            magnified_.resize(static_cast<size_t>(wide) * s.Height * gScale);
            for (int y = 0; y < s.Height * gScale; ++y) {
                const uint32_t* from = pixels + static_cast<size_t>(y / gScale) * s.Width;
                uint32_t* to = magnified_.data() + static_cast<size_t>(y) * wide;
                for (int x = 0; x < wide; ++x) to[x] = from[x / gScale];
            }
            pixels = magnified_.data();
        }
        fl_draw_image(reinterpret_cast<const uchar*>(pixels), x() + gScale, y() + gScale,
                      s.Width * gScale, s.Height * gScale, 4, s.Width * gScale * 4);
    }

private:
    const Surface* surface_;
    std::vector<uint32_t> magnified_;  // the surface at the UI scale
};

// Push button that Enter presses while it has the focus, as Space does.
class PushButton final : public Fl_Button {
public:
    using Fl_Button::Fl_Button;
    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::focus() == this &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
            simulate_key_action();
            do_callback();
            return 1;
        }
        return Fl_Button::handle(event);
    }
};

// Entry field that notifies on every change, on focus gain, on focus loss and on Enter; its
// callback reads why from Notification().
class EntryField final : public Fl_Input {
public:
    EntryField(int x, int y, int w, int h) : Fl_Input(x, y, w, h) {
        when(FL_WHEN_CHANGED);
        box(FL_DOWN_BOX);
    }
    EntryNotification Notification() const { return notification_; }
    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::focus() == this &&
            (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
            Notify(EntryNotification::Enter);
            return 1;
        }
        const int used = Fl_Input::handle(event);
        if (event == FL_FOCUS) Notify(EntryNotification::SetFocus);
        if (event == FL_UNFOCUS) Notify(EntryNotification::KillFocus);
        // Escape is the window's, which ignores it.
        return used;
    }

private:
    // FLTK's own callbacks on a change find Change.
    void Notify(EntryNotification notification) {
        notification_ = notification;
        do_callback();
        notification_ = EntryNotification::Change;
    }

    EntryNotification notification_ = EntryNotification::Change;
};

// The menu bar. Alt+S opens "Setup" with its first item chosen, so that Enter then picks it, as
// a dialog's menu does; FLTK alone opens it with nothing chosen.
class MenuBar final : public Fl_Menu_Bar {
public:
    using Fl_Menu_Bar::Fl_Menu_Bar;
    int handle(int event) override {
        if (event == FL_SHORTCUT && (Fl::event_state() & FL_ALT) != 0 && menu() != nullptr) {
            const Fl_Menu_Item* title = menu()->find_shortcut(nullptr, true);
            if (title != nullptr && title->submenu()) Fl::add_timeout(0.0, ChooseFirstItem);
        }
        return Fl_Menu_Bar::handle(event);
    }

private:
    // Runs in the open menu's own event loop: Down there chooses the first item.
    static void ChooseFirstItem(void*) {
        Fl_Window* open = Fl::grab();  // the menu's window while it is open
        if (open == nullptr) return;
        const int key = Fl::e_keysym;
        Fl::e_keysym = FL_Down;
        open->handle(FL_KEYBOARD);
        Fl::e_keysym = key;
    }
};

// The client area: its controls in table order. Tab and Shift+Tab move the focus along them
// and wrap around at the ends; FLTK's own navigation would also step by arrow keys between
// neighbours and leaves the focus inside the device list's group.
class ClientArea final : public Fl_Group {
public:
    using Fl_Group::Fl_Group;
    int handle(int event) override {
        if (event == FL_KEYBOARD && Fl::event_key() == FL_Tab &&
            (Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) == 0) {
            return MoveFocus((Fl::event_state() & FL_SHIFT) != 0 ? -1 : 1);
        }
        return Fl_Group::handle(event);
    }

private:
    // The next control after the focused one (or the first, when none has it) that takes the
    // focus: enabled and marked for keyboard focus.
    int MoveFocus(int step) {
        const int count = children();
        int at = -1;
        for (int i = 0; i < count; ++i) {
            if (child(i)->contains(Fl::focus())) at = i;
        }
        if (at < 0) at = step > 0 ? count - 1 : 0;
        for (int k = 1; k <= count; ++k) {
            Fl_Widget* next = child(((at + step * k) % count + count) % count);
            if (next->visible() && next->take_focus()) return 1;
        }
        return 0;
    }
};

// ---------------------------------------------------------------------------------------------
// Boxes that wait for the user

// A message box or the save dialog runs an event loop of its own until it is answered or until
// a stop signal closes it from the signal pipe's callback. FLTK's fl_message, fl_alert and
// fl_file_chooser cannot be closed from outside, hence our own.

constexpr int kBoxFontSize = 14;      // [pixels] as fl_message's
constexpr int kBoxMargin = 10;        // [pixels]
constexpr int kBoxIconSize = 50;      // [pixels]
constexpr int kBoxButtonWidth = 90;   // [pixels]
constexpr int kBoxButtonHeight = 25;  // [pixels]
constexpr int kBoxLongestLine = 600;  // [pixels] longer lines wrap at a word boundary
constexpr int kBoxScreenMargin = 20;  // [pixels] kept free around a box on the screen

// The boxes open now, innermost last, each with how to close it.
std::vector<std::function<void()>> gOpenBoxes;

// Shows `box` and waits until it is hidden: by its own buttons, or by CloseOpenBoxes.
template <typename Box>
void RunModal(Box& box) {
    gOpenBoxes.push_back([&box] { box.hide(); });
    box.show();
    while (box.shown()) Fl::wait();
    gOpenBoxes.pop_back();  // boxes nest, so this one is the last
}

void CloseOpenBoxes() {
    for (const std::function<void()>& close : gOpenBoxes) close();
}

void HideBoxOf(Fl_Widget* button, void*) { button->window()->hide(); }

void AnswerYes(Fl_Widget* button, void* answer) {
    *static_cast<bool*>(answer) = true;
    button->window()->hide();
}

// The message box: an icon, the text (wrapped, or cut at the box's edge when a word is longer
// than the screen), and OK, which Return presses; Escape and the close box close it too. As a
// question (`yes` given) its buttons are Yes and No, which Return presses, as do Escape, the
// close box and a stop signal: nothing is replaced unless Yes is clicked.
void RunMessageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                   bool* yes = nullptr) {
    std::string label;  // '@' starts a symbol in a label: doubled, it is the character
    for (char c : text) label += c == '@' ? "@@" : std::string(1, c);
    int screenX = 0, screenY = 0, screenW = 0, screenH = 0;
    Fl::screen_work_area(screenX, screenY, screenW, screenH);
    // The box's sizes at the UI scale, as the main window's.
    const int k = gScale, margin = kBoxMargin * k, iconSize = kBoxIconSize * k,
              buttonW = kBoxButtonWidth * k, buttonH = kBoxButtonHeight * k,
              fontSize = kBoxFontSize * k;
    const int widest = screenW - 2 * kBoxScreenMargin - 3 * margin - iconSize - 2 * kFltkLabelInset;
    fl_font(FL_HELVETICA, fontSize);
    int textW = std::min(kBoxLongestLine * k, widest), textH = 0;
    fl_measure(label.c_str(), textW, textH);
    const int leastW = yes != nullptr ? 2 * buttonW : buttonW;  // room for the buttons
    textW = std::clamp(textW, leastW, std::max(leastW, widest));
    textH = std::max(textH, iconSize);
    const int w = iconSize + textW + 2 * kFltkLabelInset + 3 * margin;
    const int h = std::min(textH + buttonH + 3 * margin, screenH - 2 * kBoxScreenMargin);

    Fl_Window box(w, h, caption.c_str());
    Fl_Box iconBox(margin, margin, iconSize, iconSize,
                   icon == MessageIcon::Exclamation ? "!" : "i");
    iconBox.box(FL_THIN_UP_BOX);
    iconBox.color(FL_WHITE);
    iconBox.labelfont(FL_TIMES_BOLD);
    iconBox.labelsize(34 * k);
    iconBox.labelcolor(FL_BLUE);
    Fl_Box message(iconSize + 2 * margin, margin, textW + 2 * kFltkLabelInset,
                   h - buttonH - 3 * margin, label.c_str());
    message.labelsize(fontSize);
    message.align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP);
    const int buttonY = h - margin - buttonH;
    Fl_Return_Button ok(w - margin - buttonW, buttonY, buttonW, buttonH,
                        yes != nullptr ? "No" : "OK");
    ok.labelsize(FL_NORMAL_SIZE * k);
    ok.callback(HideBoxOf);
    std::unique_ptr<Fl_Button> yesButton;
    if (yes != nullptr) {
        *yes = false;
        yesButton = std::make_unique<Fl_Button>(w - 2 * (margin + buttonW), buttonY, buttonW,
                                                buttonH, "Yes");
        yesButton->labelsize(FL_NORMAL_SIZE * k);
        yesButton->callback(AnswerYes, yes);
    }
    box.end();
    box.set_modal();
    box.position(screenX + std::max(0, (screenW - w) / 2),
                 screenY + std::max(0, (screenH - h) / 2));
    RunModal(box);
}

// The save dialog: FLTK's file chooser, run by our own loop so that it can be closed.
std::string RunSaveDialog(const std::string& prompt, const std::string& suggested) {
    Fl_File_Chooser chooser(suggested.c_str(), "*.TXT\t*", Fl_File_Chooser::CREATE, prompt.c_str());
    RunModal(chooser);
    // Closed by a stop signal, it still holds the suggested name: that is no answer.
    if (gApp->StopSignal != 0) return "";
    const char* chosen = chooser.value();
    return chosen != nullptr ? chosen : "";
}

// ---------------------------------------------------------------------------------------------
// The window

class MainWindow;

class FltkPort final : public WindowPort {
public:
    MainWindow* window = nullptr;
    Fl_Menu_Bar* menuBar = nullptr;
    Fl_Input_Choice* deviceList = nullptr;
    Fl_Box* statusLine = nullptr;
    std::map<int, Fl_Widget*> controls;
    std::map<PanelId, PanelView*> panels;
    std::string title = kMainTitle;

    void SetTitle(const std::string& text) override;
    void SetStatus(const std::string& text) override {
        std::string label;  // '@' starts a symbol in a label: doubled, it is the character
        for (char c : text) label += c == '@' ? "@@" : std::string(1, c);
        statusLine->copy_label(label.c_str());
        statusLine->copy_tooltip(text.c_str());  // the whole message when the line cuts it
        statusLine->redraw();
    }
    void SetCheck(int id, bool checked) override {
        if (auto* check = dynamic_cast<Fl_Check_Button*>(controls[id])) check->value(checked);
    }
    std::string ControlText(int id) override {
        auto* input = dynamic_cast<Fl_Input*>(controls[id]);
        return input != nullptr ? input->value() : "";
    }
    void SetControlText(int id, const std::string& text) override {
        Fl_Widget* w = controls[id];
        if (w == nullptr) return;
        if (auto* input = dynamic_cast<Fl_Input*>(w)) {
            input->value(text.c_str());
            input->position(input->size());  // typing goes on behind the new text
        } else {
            w->copy_label(text.c_str());
            w->redraw();
        }
    }
    void EnableControl(int id, bool enabled) override {
        if (Fl_Widget* w = controls[id]) enabled ? w->activate() : w->deactivate();
    }
    void SetMenuCheck(int id, bool checked) override {
        for (const MenuItemSpec& entry : kSetupMenu) {
            if (entry.Id != id) continue;
            const std::string path = std::string(kSetupMenuText) + "/" + entry.Text;
            auto* item = const_cast<Fl_Menu_Item*>(menuBar->find_item(path.c_str()));
            if (item != nullptr) checked ? item->set() : item->clear();
        }
    }
    void SetCursor(Cursor cursor) override;
    void ShowPanel(PanelId panel) override { panels[panel]->redraw(); }
    void ShowMessage(const std::string& caption, const std::string& text,
                     MessageIcon icon) override {
        RunMessageBox(caption, text, icon);
    }
    std::string AskSavePath(const std::string& prompt, const std::string& suggested) override {
        return RunSaveDialog(prompt, suggested);
    }
    bool AskYesNo(const std::string& caption, const std::string& text) override {
        bool yes = false;
        RunMessageBox(caption, text, MessageIcon::Exclamation, &yes);
        return yes && gApp->StopSignal == 0;
    }
    void CloseBoxes() override { CloseOpenBoxes(); }
    void FillDeviceList(const std::vector<std::string>& names, int selected) override {
        for (const std::string& name : names) {
            // The menu reads '/', '\\', '&' and '_' as markup: escape them.
            std::string escaped;
            for (char c : name) {
                if (c == '/' || c == '\\' || c == '&' || c == '_') escaped += '\\';
                escaped += c;
            }
            deviceList->menubutton()->add(escaped.c_str());
        }
        if (selected >= 0) deviceList->value(selected);
        deviceList->input()->position(0);
    }
    int DeviceListIndex() override { return deviceList->menubutton()->value(); }
    std::string DeviceListText() override { return deviceList->value(); }
    void DestroyWindow() override;
};

FltkPort gPort;

class MainWindow final : public Fl_Double_Window {
public:
    MainWindow(int w, int h, const char* title) : Fl_Double_Window(w, h, title) {}

    int handle(int event) override {
        // The handler works in the table's client-area coordinates.
        const int x = DivideDown(Fl::event_x(), gScale);
        const int y = DivideDown(Fl::event_y() - kMenuBarHeight * gScale, gScale);
        if (event == FL_MOVE || event == FL_ENTER || event == FL_DRAG) {
            DeliverMouseMove(*gApp, x, y);
        } else if (event == FL_PUSH && Fl::event_button() == FL_LEFT_MOUSE) {
            DeliverLeftButton(*gApp, x, y);
        }
        return Fl_Double_Window::handle(event);
    }

    // An exposed window (shown, uncovered, resized) repaints the panels from their surfaces;
    // a widget's own redraw does not.
    void flush() override {
        if ((damage() & (FL_DAMAGE_EXPOSE | FL_DAMAGE_ALL)) != 0 && !gApp->Ended) {
            MainDialogCallback(*gApp, WindowMessage::Paint, 0, 0);
            damage(FL_DAMAGE_ALL);
        }
        Fl_Double_Window::flush();
    }
};

void FltkPort::SetTitle(const std::string& text) {
    if (text == title) return;
    title = text;
    window->copy_label(text.c_str());
}

void FltkPort::SetCursor(Cursor cursor) {
    window->cursor(cursor == Cursor::CrossHair ? FL_CURSOR_CROSS : FL_CURSOR_DEFAULT);
}

void FltkPort::DestroyWindow() { window->hide(); }

// ---------------------------------------------------------------------------------------------
// Callbacks

void OnControl(Fl_Widget* widget, void* id) {
    const auto* entry = dynamic_cast<const EntryField*>(widget);
    SendCommand(*gApp, static_cast<int>(reinterpret_cast<intptr_t>(id)),
                entry != nullptr ? entry->Notification() : EntryNotification::Plain);
}

// The close box comes here; so would Escape, which FLTK turns into a close: ignored.
void OnWindowClose(Fl_Widget*, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    EndMainWindow(*gApp);
}

void OnCaptureBlock(void* block) {
    MainDialogCallback(*gApp, WindowMessage::CaptureBlock, 0, reinterpret_cast<LParam>(block));
}

void OnCaptureStopped(void*) { CaptureSourceStopped(*gApp); }

class FltkNotifier final : public CaptureNotifier {
public:
    void BlockFilled(CaptureBlock* block) override { Fl::awake(OnCaptureBlock, block); }
    void CaptureStopped() override { Fl::awake(OnCaptureStopped, nullptr); }
};

// SIGINT, SIGTERM and SIGHUP reach the event loop through the stop signals' wake pipe, also
// the loop of a box waiting for the user, and end the program there as the close box does.
void OnSignalPipe(int, void* signals) {
    auto* stop = static_cast<StopSignals*>(signals);
    stop->DrainWake();
    if (stop->Received() != 0) StopSignalArrived(*gApp, stop->Received());
}

void InstallStopSignals() {
    // Kept to the end of the process: a signal while the capture closes after the window has
    // gone changes nothing.
    static StopSignals signals({.WakePipe = true});
    if (signals.WakeFd() >= 0) Fl::add_fd(signals.WakeFd(), FL_READ, OnSignalPipe, &signals);
}

void OnStartupTimer(void*) { FinishStartup(*gApp); }

// ---------------------------------------------------------------------------------------------
// Building the window

Fl_Widget* MakeControl(const ControlSpec& c, const Display& screen) {
    const int s = gScale;
    const PixelRect r = ControlRect(c, s);
    const int x = r.X, y = r.Y + kMenuBarHeight * s, w = r.W, h = r.H;
    Fl_Widget* widget = nullptr;
    switch (c.Kind) {
        case ControlKind::Panel: {
            const PanelId id = PanelOf(c);
            widget = gPort.panels[id] = new PanelView(x, y, w, h, &PanelSurface(screen, id));
            break;
        }
        case ControlKind::Label: {
            auto* label = new Fl_Box(x, y, w, h);
            label->box(FL_FLAT_BOX);  // a new text paints over the old one
            const Fl_Align wrap = LabelWraps(c) ? FL_ALIGN_WRAP : 0;
            label->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_CLIP | wrap);
            widget = label;
            break;
        }
        case ControlKind::Button:
            widget = new PushButton(x, y, w, h);
            break;
        case ControlKind::Entry: {
            auto* entry = new EntryField(x, y, w, h);
            entry->textfont(gFont.Face);
            entry->textsize(gFont.Size);
            entry->value(c.Text);
            entry->position(0);  // the start of a long number shows
            widget = entry;
            break;
        }
        case ControlKind::Check: {
            auto* check = new Fl_Check_Button(x, y, w, h);
            widget = check;
            break;
        }
        case ControlKind::GroupBox: {
            auto* frame = new Fl_Box(x, y, w, h);
            frame->box(FL_ENGRAVED_FRAME);
            widget = frame;
            break;
        }
        case ControlKind::Option: {
            auto* option = new Fl_Round_Button(x, y, w, h);
            option->type(FL_RADIO_BUTTON);
            option->when(FL_WHEN_RELEASE_ALWAYS);  // choosing the current one clears too
            if (c.Id == IDMAG1) option->clear_visible_focus();  // the one option Tab skips
            widget = option;
            break;
        }
        case ControlKind::DeviceList: {
            auto* list = new Fl_Input_Choice(x, y, w, kDeviceListClosedHeight * s);
            list->textfont(gFont.Face);
            list->textsize(gFont.Size);
            list->menubutton()->textfont(gFont.Face);
            list->menubutton()->textsize(gFont.Size);
            // Tab stops at the list's text only; its arrow is for the mouse.
            list->menubutton()->clear_visible_focus();
            gPort.deviceList = list;
            widget = list;
            break;
        }
    }
    if (c.Kind != ControlKind::Entry && c.Kind != ControlKind::DeviceList)
        widget->copy_label(c.Text);
    widget->labelfont(gFont.Face);
    widget->labelsize(gFont.Size);
    const char* tip = ControlTooltip(c);
    if (*tip != '\0') {
        widget->tooltip(tip);
        if (auto* list = dynamic_cast<Fl_Input_Choice*>(widget)) {
            list->input()->tooltip(tip);
            list->menubutton()->tooltip(tip);
        }
    }
    if (c.Id >= 0) {
        gPort.controls[c.Id] = widget;
        const bool hasCommand = c.Kind == ControlKind::Button || c.Kind == ControlKind::Entry ||
                                c.Kind == ControlKind::Check || c.Kind == ControlKind::Option;
        if (hasCommand) widget->callback(OnControl, reinterpret_cast<void*>(intptr_t{c.Id}));
    }
    return widget;
}

void BuildMenu(Fl_Menu_Bar* bar) {
    for (const MenuItemSpec& item : kSetupMenu) {
        const std::string path = std::string(kSetupMenuText) + "/" + item.Text;
        const int flags = item.Id == IDINPUT ? 0 : FL_MENU_TOGGLE;
        bar->add(path.c_str(), 0, OnControl, reinterpret_cast<void*>(intptr_t{item.Id}), flags);
    }
}

MainWindow* BuildWindow(App& app) {
    const int s = gScale, menuH = kMenuBarHeight * s, clientW = kClientWidth * s,
              clientH = kClientHeight * s;
    auto* window = new MainWindow(clientW, menuH + clientH + kStatusLineHeight * s, kMainTitle);
    gPort.window = window;
    window->callback(OnWindowClose);
    auto* bar = new MenuBar(0, 0, clientW, menuH);
    bar->textfont(gFont.Face);
    bar->textsize(gFont.Size + s);
    gPort.menuBar = bar;
    BuildMenu(bar);

    // The controls keep their places when the window is resized or maximised: their group
    // grows with the window but moves none of them.
    auto* client = new ClientArea(0, menuH, clientW, clientH);
    for (const ControlSpec& c : kControls) MakeControl(c, app.M.Screen);
    client->resizable(nullptr);
    client->end();
    // The status line stays at the window's foot.
    auto* status = new Fl_Box(0, menuH + clientH, clientW, kStatusLineHeight * s);
    status->box(FL_THIN_DOWN_BOX);
    status->labelfont(gFont.Face);
    status->labelsize(gFont.Size + s);
    status->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    gPort.statusLine = status;
    window->resizable(client);
    window->size_range(100, 100);
    window->end();

    static_cast<Fl_Check_Button*>(gPort.controls[IDBLANKRF])->value(1);
    static_cast<Fl_Round_Button*>(gPort.controls[IDMAG1])->value(1);
    return window;
}

}  // namespace

CaptureNotifier& WindowNotifier() {
    static FltkNotifier notifier;
    return notifier;
}

// The layout dump is the Win32 window's; FLTK places its widgets exactly where it is told.
int RunMainWindow(App& app, const std::string&) {
    // FLTK would end the process with a bare "Can't open display"; say what to do instead.
    ::Display* connection = XOpenDisplay(nullptr);
    if (connection == nullptr) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr,
                     "quorvelle: cannot open the display \"%s\": the window needs an X server "
                     "(quorvelle-batch measures without one)\n",
                     name != nullptr ? name : "");
        return 1;
    }
    fl_open_display(connection);
    gApp = &app;
    app.Port = &gPort;
    Fl::lock();  // enables Fl::awake from the audio thread
    // The name task bars and desktop files know the windows by (WM_CLASS "quorvelle",
    // "Quorvelle": FLTK capitalises the class part).
    Fl_Window::default_xclass("quorvelle");
    Fl::visual(FL_RGB);
    float horizontalDpi = 96, verticalDpi = 96;
    Fl::screen_dpi(horizontalDpi, verticalDpi);
    const int screenDpi = verticalDpi >= 50 && verticalDpi <= 600
                              ? static_cast<int>(std::lround(verticalDpi))
                              : 0;  // not believed
    int workX = 0, workY = 0, workW = 0, workH = 0;
    Fl::screen_work_area(workX, workY, workW, workH);
    const UiScale scale =
        ChooseUiScale(app.Options.Scale, app.DotsPerInch, screenDpi, workW, workH, kMenuBarHeight);
    gScale = scale.Scale;
    app.DotsPerInch = scale.DotsPerInch;
    gFont = ChooseControlFont(gScale);
    Fl_Tooltip::size(static_cast<Fl_Fontsize>(FL_NORMAL_SIZE * gScale));

    // The task bar's and the window manager's icon, for every window the program opens.
    static const Fl_RGB_Image icon(kWindowIconRgba, kWindowIconSize, kWindowIconSize, 4);
    Fl_Window::default_icon(&icon);
    MainWindow* window = BuildWindow(app);
    // Before the initialisation, whose device-list warnings are boxes a stop signal must close.
    InstallStopSignals();
    if (!InitialiseMainWindow(app)) return app.ExitStatus;

    // Centred in the screen's work area.
    int wx = 0, wy = 0, ww = 0, wh = 0;
    Fl::screen_work_area(wx, wy, ww, wh);
    window->position(wx + (ww - window->w()) / 2, wy + (wh - window->h()) / 2);
    window->show();
    if (StartupPending(app)) Fl::add_timeout(0.2, OnStartupTimer);
    Fl::run();
    return app.ExitStatus;
}

}  // namespace qv
