// The UI layer's core over wxWidgets: start and end, the object table,
// windows, menus, shortcuts, status bars, the event queue and the test hooks.
#include <gtk/gtk.h>
#include "toolkit/ui/ui.h"

#include <wx/display.h>
#include <wx/evtloop.h>
#include <wx/log.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <new>
#include <sys/wait.h>
#include <unistd.h>

#include "toolkit/files.h"
#include "toolkit/ui/ui_internal.h"

namespace uiimpl {

std::map<int, Object> gObjects;
int gQuiet = 0;

namespace {

constexpr int kWxIdBase = 10000;  // wx ids of menu items and shortcuts: base + command id

bool gInitialised = false;
bool gTestMode = false;
wxGUIEventLoop* gLoop = nullptr;
int gNextNumber = 1;
std::deque<UiEvent> gQueue;
std::function<void(const std::string&)> gFailureHandler;
std::map<int, std::vector<std::pair<UiEventType, UiCallback>>> gGadgetCallbacks;
std::map<int, UiCallback> gCloseCallbacks;
std::function<bool(const std::string&)> gShellOpener;

// Menu building state between UiMenuBegin and UiMenuEnd.
struct MenuBuilder {
    int window = 0;
    wxMenuBar* bar = nullptr;
    std::vector<wxMenu*> stack;   // [0] the current title's menu, then submenus
    std::vector<std::string> submenuTitles;
    std::string title;
} gBuilder;

std::vector<DisplayRect> RealDisplays() {
    std::vector<DisplayRect> list;
    if (!gInitialised) return list;
    for (unsigned i = 0; i < wxDisplay::GetCount(); ++i) {
        const wxDisplay display(i);
        const wxRect r = display.GetGeometry();
        const wxRect work = display.GetClientArea();
        list.push_back(DisplayRect{r.x, r.y, r.width, r.height, work.width, work.height});
    }
    return list;
}

double RealDpiScale() {
#ifdef wxHAS_DPI_INDEPENDENT_PIXELS
    // GTK already counts window coordinates in scaled units; scaling them
    // again would double every size on a high-DPI screen.
    return 1.0;
#else
    if (!gInitialised || wxDisplay::GetCount() == 0) return 1.0;
    return wxDisplay(0u).GetScaleFactor();
#endif
}

class FrameWindow : public wxFrame {
public:
    FrameWindow(wxWindow* parent, int number, const wxString& title, long style)
        : wxFrame(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, style), number_(number) {
        Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
            // The program decides when a window closes; the close box only asks.
            if (event.CanVeto()) event.Veto();
            UiEvent e;
            e.kind = UiEventKind::CloseBox;
            e.window = number_;
            PostReal(e);
        });
        Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
            event.Skip();
            UiEvent e;
            e.kind = UiEventKind::Size;
            e.window = number_;
            PostReal(e);
        });
        Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
            const int id = event.GetId() - kWxIdBase;
            if (id < 0) {
                event.Skip();
                return;
            }
            UiEvent e;
            e.kind = UiEventKind::Menu;
            e.window = number_;
            e.id = id;
            PostReal(e);
        });
    }

private:
    int number_;
};

Object* FindWindowObject(int window) { return FindKind(window, Kind::Window); }

wxMenuItem* FindMenuItem(int window, int id) {
    Object* w = FindWindowObject(window);
    if (!w) return nullptr;
    wxMenuBar* bar = static_cast<wxFrame*>(w->widget)->GetMenuBar();
    return bar ? bar->FindItem(kWxIdBase + id) : nullptr;
}

int WxKeyCode(int key) {
    switch (key) {
    case kUiKeyUp: return WXK_UP;
    case kUiKeyDown: return WXK_DOWN;
    case kUiKeyLeft: return WXK_LEFT;
    case kUiKeyRight: return WXK_RIGHT;
    case kUiKeyReturn: return WXK_RETURN;
    case kUiKeyEscape: return WXK_ESCAPE;
    case kUiKeyDelete: return WXK_DELETE;
    case kUiKeyTab: return WXK_TAB;
    default: return key;
    }
}

void ApplyShortcuts(Object& w) {
    std::vector<wxAcceleratorEntry> entries;
    for (const auto& [keys, id] : w.shortcuts) {
        int flags = 0;
        if (keys.first & kUiCtrl) flags |= wxACCEL_CTRL;
        if (keys.first & kUiShift) flags |= wxACCEL_SHIFT;
        if (keys.first & kUiAlt) flags |= wxACCEL_ALT;
        entries.emplace_back(flags, WxKeyCode(keys.second), kWxIdBase + id);
    }
    w.widget->SetAcceleratorTable(
        entries.empty() ? wxNullAcceleratorTable : wxAcceleratorTable(int(entries.size()), entries.data()));
}

// Adding a menu or status bar takes room from the client area on GTK; the
// window keeps the inner size it was opened with.
void KeepInnerSize(Object& w, wxSize inner) {
    static_cast<wxFrame*>(w.widget)->SetClientSize(inner);
    if (w.flags & kUiCentreScreen) static_cast<wxFrame*>(w.widget)->CentreOnScreen();
    else if (w.flags & kUiCentreParent) w.widget->CentreOnParent();
}

void DropObjectsOf(int window) {
    for (auto it = gObjects.begin(); it != gObjects.end();) {
        if (it->second.window == window && it->first != window) {
            gGadgetCallbacks.erase(it->first);
            it = gObjects.erase(it);
        } else {
            ++it;
        }
    }
}

void DispatchWindowMessages(bool block) {
    while (gLoop->Pending()) gLoop->Dispatch();
    wxTheApp->ProcessPendingEvents();
    if (!block || !gQueue.empty()) return;
    wxTheApp->ProcessIdle();
    if (gQueue.empty()) gLoop->Dispatch();
}

// What escapes a window message (a callback out of memory, something wx
// throws) is told to the user, and the program goes on.
template <typename Work>
void HandleWindowMessages(Work work) {
    std::string problem;
    try {
        work();
        return;
    } catch (const std::bad_alloc&) {
        problem = "Not enough memory for this operation.";
    } catch (const std::exception& e) {
        problem = e.what();
    } catch (...) {
        problem = "An unexpected error occurred.";
    }
    std::string title;
    for (const auto& [number, object] : gObjects)
        if (object.kind == Kind::Window && object.parentWindow == 0) {
            title = FromWx(object.widget->GetLabel());
            break;
        }
    UiMessageBox(title, problem, UiButtons::Ok, UiIcon::Error);
}

void RunLoopOnce(bool block) {
    if (gLoop) HandleWindowMessages([block] { DispatchWindowMessages(block); });
}

UiEvent FirstCloseBoxEvent() {
    UiEvent e;
    e.kind = UiEventKind::CloseBox;
    for (const auto& [number, object] : gObjects) {
        if (object.kind == Kind::Window) {
            e.window = number;
            break;
        }
    }
    return e;
}

}  // namespace

Object* Find(int number) {
    auto it = gObjects.find(number);
    return it == gObjects.end() ? nullptr : &it->second;
}

Object* FindKind(int number, Kind kind) {
    Object* o = Find(number);
    return o && o->kind == kind ? o : nullptr;
}

int NewNumber() { return gNextNumber++; }

double Scale() { return GetDpiScale(); }
int ToPixels(int units) { return int(std::lround(units * Scale())); }
int ToUnits(int pixels) { return int(std::lround(pixels / Scale())); }

wxWindow* ContainerOf(int parent) {
    Object* o = Find(parent);
    if (!o) return nullptr;
    switch (o->kind) {
    case Kind::Window: return o->client;
    case Kind::Scroll:
    case Kind::TabPage: return o->widget;
    default: return nullptr;
    }
}

wxPoint ChildPosition(int parent, int x, int y) {
    wxPoint p(ToPixels(x), ToPixels(y));
    Object* o = Find(parent);
    if (o && o->kind == Kind::Scroll) p = static_cast<wxScrolledWindow*>(o->widget)->CalcScrolledPosition(p);
    return p;
}

void Post(const UiEvent& event) {
    // Copies, because a callback may unbind itself or close its window.
    if (event.kind == UiEventKind::CloseBox) {
        auto it = gCloseCallbacks.find(event.window);
        if (it != gCloseCallbacks.end()) {
            UiCallback callback = it->second;
            callback();
        }
    } else if (event.kind == UiEventKind::Gadget) {
        auto it = gGadgetCallbacks.find(event.gadget);
        if (it != gGadgetCallbacks.end()) {
            auto bindings = it->second;
            for (auto& [type, callback] : bindings)
                if (type == UiEventType::None || type == event.type) callback();
        }
    }
    gQueue.push_back(event);
}

void PostReal(const UiEvent& event) {
    // Tests drive the program through queued events only, so what the window
    // system does on its own (sizes at creation, focus) never disturbs them.
    if (gTestMode || gQuiet > 0) return;
    Post(event);
}

void Fail(const std::string& what) {
    if (gFailureHandler) gFailureHandler(what);
    else std::fprintf(stderr, "UI test failure: %s\n", what.c_str());
}

wxString ToWx(const std::string& text) { return wxString::FromUTF8(text.data(), text.size()); }
std::string FromWx(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.ToUTF8();
    return std::string(utf8.data(), utf8.length());
}

}  // namespace uiimpl

using namespace uiimpl;

// ---------------------------------------------------------------------------

namespace {

// The program's windows are laid out in fixed 96-DPI units sized for a
// compact desktop font and 24-unit controls. GTK's default theme pads its
// controls far beyond that (a drop-down is about 34 pixels high) and uses a
// larger font, which clips texts and controls; this style brings GTK's
// metrics down to what the layouts assume.
void ApplyCompactStyle() {
    static const char kCss[] =
        "* { font-family: \"Liberation Sans\", \"Nimbus Sans\", \"DejaVu Sans Condensed\", sans-serif; font-size: 9pt; }"
        "button { min-height: 0; min-width: 0; padding: 2px 8px; }"
        "combobox button, combobox box { min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "combobox entry { min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "entry { min-height: 0; padding-top: 1px; padding-bottom: 1px; }"
        "spinbutton button { min-height: 0; min-width: 0; padding: 0 4px; }"
        "spinbutton entry { min-height: 0; }"
        "checkbutton, radiobutton { min-height: 0; padding-top: 0; padding-bottom: 0; }"
        "notebook tab { min-height: 0; padding: 2px 8px; }"
        "progressbar trough, progressbar progress { min-height: 12px; }";
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen) return;
    GtkCssProvider* provider = gtk_css_provider_new();
    if (gtk_css_provider_load_from_data(provider, kCss, -1, nullptr))
        gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// wxWidgets starts once per process and is never cleaned up: its native
// renderer is a static that keeps a reference to the generic renderer, which
// wxEntryCleanup frees, so list headers drawn after a restart read freed
// memory. Ending the layer therefore leaves wx itself running until the
// process ends, and starting the layer again reuses it.
bool StartWxOnce() {
    static bool started = false;
    if (started) return true;
    static int argc = 1;
    static char name[] = "orvanta";
    static char* argv[] = {name, nullptr};
    wxApp::SetInstance(new wxApp());
    // Until a display is open, wx must not report through message boxes: a
    // box without a display ends the process with a GTK trap instead of the
    // clean failure the caller reports. Its text goes to standard error.
    delete wxLog::SetActiveTarget(new wxLogStderr());
    if (!wxEntryStart(argc, argv)) {
        wxEntryCleanup();
        return false;
    }
    // With the display open, wx's own target (message boxes) comes back.
    delete wxLog::SetActiveTarget(nullptr);
    // The user's locale for texts, but numbers always use the point.
    std::setlocale(LC_NUMERIC, "C");
    wxTheApp->SetExitOnFrameDelete(false);
    ApplyCompactStyle();
    started = true;
    return true;
}

}  // namespace

bool UiInit() {
    if (gInitialised) return true;
    if (!StartWxOnce()) return false;
    gLoop = new wxGUIEventLoop();
    wxEventLoopBase::SetActive(gLoop);
    gInitialised = true;
    SetDisplaysProvider(RealDisplays, RealDpiScale);
    return true;
}

bool UiIsInitialised() { return gInitialised; }

void UiShutdown() {
    if (!gInitialised) return;
    std::vector<int> windows;
    for (const auto& [number, object] : gObjects)
        if (object.kind == Kind::Window && object.parentWindow == 0) windows.push_back(number);
    for (int w : windows) UiCloseWindow(w);
    wxTheApp->ProcessIdle();
    gQueue.clear();
    gGadgetCallbacks.clear();
    gCloseCallbacks.clear();
    SetDisplaysProvider(nullptr, nullptr);
    wxEventLoopBase::SetActive(nullptr);
    delete gLoop;
    gLoop = nullptr;
    gInitialised = false;
}

// ---------------------------------------------------------------------------
// Windows

int UiOpenWindow(int x, int y, int innerWidth, int innerHeight, const std::string& title,
                 unsigned flags, int parent) {
    if (!gInitialised) return 0;
    try {
        Object* parentObject = FindKind(parent, Kind::Window);
        long style = wxCLIP_CHILDREN;
        if (flags & kUiCaption) style |= wxCAPTION;
        if (flags & kUiCloseBox) style |= wxCLOSE_BOX | wxSYSTEM_MENU;
        if (flags & kUiSizeBorder) style |= wxRESIZE_BORDER;
        if (flags & kUiMinimizeBox) style |= wxMINIMIZE_BOX;
        if (flags & kUiMaximizeBox) style |= wxMAXIMIZE_BOX;
        if (parentObject) style |= wxFRAME_FLOAT_ON_PARENT | wxFRAME_NO_TASKBAR;
        const int number = NewNumber();
        auto* frame = new FrameWindow(parentObject ? parentObject->widget : nullptr, number, ToWx(title), style);
        Object& w = gObjects[number];
        w.kind = Kind::Window;
        w.widget = frame;
        w.window = number;
        w.flags = flags;
        w.parentWindow = parentObject ? parent : 0;
        w.client = new wxPanel(frame, wxID_ANY);
        frame->Move(ToPixels(x), ToPixels(y));
        KeepInnerSize(w, wxSize(ToPixels(innerWidth), ToPixels(innerHeight)));
        if (!(flags & kUiHidden)) frame->Show();
        return number;
    } catch (...) {
        return 0;
    }
}

void UiCloseWindow(int window) {
    Object* w = FindWindowObject(window);
    if (!w) return;
    // Tool windows go with their parent in wx; forget them first.
    std::vector<int> children;
    for (const auto& [number, object] : gObjects)
        if (object.kind == Kind::Window && object.parentWindow == window) children.push_back(number);
    for (int child : children) UiCloseWindow(child);
    w = FindWindowObject(window);
    if (!w) return;
    wxWindow* frame = w->widget;
    DropObjectsOf(window);
    gCloseCallbacks.erase(window);
    gObjects.erase(window);
    std::erase_if(gQueue, [window](const UiEvent& e) { return e.window == window; });
    frame->Hide();
    frame->Destroy();
}

bool UiIsWindow(int window) { return FindWindowObject(window) != nullptr; }

void UiShowWindow(int window, bool show) {
    if (Object* w = FindWindowObject(window)) w->widget->Show(show);
}

void UiSetWindowTitle(int window, const std::string& title) {
    if (Object* w = FindWindowObject(window)) w->widget->SetLabel(ToWx(title));
}

std::string UiGetWindowTitle(int window) {
    Object* w = FindWindowObject(window);
    return w ? FromWx(w->widget->GetLabel()) : std::string();
}

void UiEnableWindow(int window, bool enable) {
    if (Object* w = FindWindowObject(window)) w->widget->Enable(enable);
}

bool UiIsWindowEnabled(int window) {
    Object* w = FindWindowObject(window);
    return w && w->widget->IsEnabled();
}

void UiActivateWindow(int window) {
    if (Object* w = FindWindowObject(window)) {
        w->widget->Raise();
        w->widget->SetFocus();
    }
}

void UiMaximizeWindow(int window) {
    if (Object* w = FindWindowObject(window)) static_cast<wxFrame*>(w->widget)->Maximize(true);
}

void UiMinimizeWindow(int window) {
    if (Object* w = FindWindowObject(window)) static_cast<wxFrame*>(w->widget)->Iconize(true);
}

void UiRestoreWindow(int window) {
    if (Object* w = FindWindowObject(window)) {
        auto* frame = static_cast<wxFrame*>(w->widget);
        if (frame->IsIconized()) frame->Iconize(false);
        if (frame->IsMaximized()) frame->Maximize(false);
    }
}

void UiFitWindowToDisplay(int window) {
    Object* w = FindWindowObject(window);
    if (!w) return;
    const DisplayRect display = GetLargestDisplay();
    const wxSize frame = w->widget->GetSize();
    const int excessX = std::max(frame.x - display.UsableWidth(), 0);
    const int excessY = std::max(frame.y - display.UsableHeight(), 0);
    if (excessX == 0 && excessY == 0) return;
    const wxSize inner = w->widget->GetClientSize();
    Quiet quiet;
    KeepInnerSize(*w, wxSize(std::max(inner.x - excessX, 1), std::max(inner.y - excessY, 1)));
}

UiWindowState UiGetWindowState(int window) {
    Object* w = FindWindowObject(window);
    if (!w) return UiWindowState::Normal;
    auto* frame = static_cast<wxFrame*>(w->widget);
    if (frame->IsIconized()) return UiWindowState::Minimized;
    if (frame->IsMaximized()) return UiWindowState::Maximized;
    return UiWindowState::Normal;
}

UiRect UiGetWindowFrame(int window) {
    Object* w = FindWindowObject(window);
    if (!w) return {};
    const wxRect r = w->widget->GetRect();
    return UiRect{r.x, r.y, r.width, r.height};
}

int UiGetWindowInnerWidth(int window) {
    Object* w = FindWindowObject(window);
    return w ? ToUnits(w->widget->GetClientSize().GetWidth()) : 0;
}

int UiGetWindowInnerHeight(int window) {
    Object* w = FindWindowObject(window);
    return w ? ToUnits(w->widget->GetClientSize().GetHeight()) : 0;
}

void UiSetWindowInnerSize(int window, int innerWidth, int innerHeight) {
    if (Object* w = FindWindowObject(window)) {
        Quiet quiet;
        w->widget->SetClientSize(ToPixels(innerWidth), ToPixels(innerHeight));
    }
}

void UiRunModalBegin(int dialog, int parent) {
    if (parent != dialog) UiEnableWindow(parent, false);
    UiActivateWindow(dialog);
}

void UiRunModalEnd(int dialog, int parent) {
    (void)dialog;
    UiEnableWindow(parent, true);
    UiActivateWindow(parent);
}

bool UiRunModalDialog(int window, int parent, const UiDialogLoop& loop) {
    constexpr int kReturnId = kUiFirstDialogId, kEscapeId = kUiFirstDialogId + 1;
    if (loop.returnConfirms) UiAddShortcut(window, 0, kUiKeyReturn, kReturnId);
    if (loop.escapeCancels) UiAddShortcut(window, 0, kUiKeyEscape, kEscapeId);
    UiRunModalBegin(window, parent);
    if (loop.onStart) loop.onStart();

    auto isClickOn = [](const UiEvent& event, int button) {
        return button != 0 && event.kind == UiEventKind::Gadget && event.type == UiEventType::Click &&
               event.gadget == button;
    };
    auto isMenu = [](const UiEvent& event, bool registered, int id) {
        return registered && event.kind == UiEventKind::Menu && event.id == id;
    };
    UiDialogStep step = UiDialogStep::Stay;
    for (int waits = 0; step == UiDialogStep::Stay; ++waits) {
        if (loop.beforeWait) loop.beforeWait(waits);
        const UiEvent event = UiWaitWindowEvent(window);
        if (event.kind == UiEventKind::CloseBox || isMenu(event, loop.escapeCancels, kEscapeId) ||
            isClickOn(event, loop.cancel))
            step = UiDialogStep::Cancel;
        else if (isMenu(event, loop.returnConfirms, kReturnId) || isClickOn(event, loop.ok))
            step = loop.onConfirm ? loop.onConfirm(event) : UiDialogStep::Confirm;
        else if (loop.onEvent)
            step = loop.onEvent(event);
    }

    const bool confirmed = step == UiDialogStep::Confirm;
    if (loop.onEnd) loop.onEnd(confirmed);
    UiRunModalEnd(window, parent);
    UiCloseWindow(window);
    return confirmed;
}

// ---------------------------------------------------------------------------
// Menus

void UiMenuBegin(int window) {
    gBuilder = MenuBuilder{};
    if (!FindWindowObject(window)) return;
    gBuilder.window = window;
    gBuilder.bar = new wxMenuBar();
}

static void CloseBuilderTitle() {
    if (gBuilder.bar && !gBuilder.stack.empty()) {
        gBuilder.bar->Append(gBuilder.stack[0], ToWx(gBuilder.title));
        gBuilder.stack.clear();
    }
}

void UiMenuTitle(const std::string& title) {
    if (!gBuilder.bar) return;
    CloseBuilderTitle();
    gBuilder.stack.push_back(new wxMenu());
    gBuilder.title = title;
    Object* w = FindWindowObject(gBuilder.window);
    w->menuTitles.push_back(title);
    w->menuLayout.push_back("[" + title + "]");
}

void UiMenuItem(int id, const std::string& text, bool checkable) {
    if (!gBuilder.bar || gBuilder.stack.empty()) return;
    gBuilder.stack.back()->Append(kWxIdBase + id, ToWx(text), wxEmptyString,
                                  checkable ? wxITEM_CHECK : wxITEM_NORMAL);
    Object* w = FindWindowObject(gBuilder.window);
    w->menuItems[id] = MenuEntry{text, false, true};
    w->menuLayout.push_back(std::to_string(id) + " " + text);
}

void UiMenuSeparator() {
    if (!gBuilder.bar || gBuilder.stack.empty()) return;
    gBuilder.stack.back()->AppendSeparator();
    FindWindowObject(gBuilder.window)->menuLayout.push_back("-");
}

void UiMenuSubmenuBegin(const std::string& title) {
    if (!gBuilder.bar || gBuilder.stack.empty()) return;
    gBuilder.stack.push_back(new wxMenu());
    gBuilder.submenuTitles.push_back(title);
    FindWindowObject(gBuilder.window)->menuLayout.push_back("> " + title);
}

void UiMenuSubmenuEnd() {
    if (!gBuilder.bar || gBuilder.stack.size() < 2) return;
    wxMenu* sub = gBuilder.stack.back();
    gBuilder.stack.pop_back();
    gBuilder.stack.back()->AppendSubMenu(sub, ToWx(gBuilder.submenuTitles.back()));
    gBuilder.submenuTitles.pop_back();
    FindWindowObject(gBuilder.window)->menuLayout.push_back("<");
}

void UiMenuEnd() {
    if (!gBuilder.bar) return;
    while (gBuilder.stack.size() > 1) UiMenuSubmenuEnd();
    CloseBuilderTitle();
    Object* w = FindWindowObject(gBuilder.window);
    auto* frame = static_cast<wxFrame*>(w->widget);
    const wxSize inner = frame->GetClientSize();
    frame->SetMenuBar(gBuilder.bar);
    KeepInnerSize(*w, inner);
    gBuilder = MenuBuilder{};
}

void UiSetMenuItemText(int window, int id, const std::string& text) {
    Object* w = FindWindowObject(window);
    wxMenuItem* item = FindMenuItem(window, id);
    if (!w || !item) return;
    w->menuItems[id].text = text;
    item->SetItemLabel(ToWx(text));
}

std::string UiGetMenuItemText(int window, int id) {
    Object* w = FindWindowObject(window);
    if (!w) return {};
    auto it = w->menuItems.find(id);
    return it == w->menuItems.end() ? std::string() : it->second.text;
}

void UiSetMenuItemChecked(int window, int id, bool checked) {
    Object* w = FindWindowObject(window);
    wxMenuItem* item = FindMenuItem(window, id);
    if (!w || !item || !item->IsCheckable()) return;
    w->menuItems[id].checked = checked;
    item->Check(checked);
}

bool UiIsMenuItemChecked(int window, int id) {
    Object* w = FindWindowObject(window);
    if (!w) return false;
    auto it = w->menuItems.find(id);
    return it != w->menuItems.end() && it->second.checked;
}

void UiEnableMenuItem(int window, int id, bool enable) {
    Object* w = FindWindowObject(window);
    wxMenuItem* item = FindMenuItem(window, id);
    if (!w || !item) return;
    w->menuItems[id].enabled = enable;
    item->Enable(enable);
}

bool UiIsMenuItemEnabled(int window, int id) {
    Object* w = FindWindowObject(window);
    if (!w) return false;
    auto it = w->menuItems.find(id);
    return it != w->menuItems.end() && it->second.enabled;
}

bool UiHasMenuItem(int window, int id) {
    Object* w = FindWindowObject(window);
    return w && w->menuItems.count(id) > 0;
}

std::vector<std::string> UiGetMenuTitles(int window) {
    Object* w = FindWindowObject(window);
    return w ? w->menuTitles : std::vector<std::string>{};
}

std::vector<std::string> UiGetMenuLayout(int window) {
    Object* w = FindWindowObject(window);
    return w ? w->menuLayout : std::vector<std::string>{};
}

void UiAddShortcut(int window, int modifiers, int key, int id) {
    Object* w = FindWindowObject(window);
    if (!w) return;
    w->shortcuts[{modifiers, key}] = id;
    ApplyShortcuts(*w);
}

void UiRemoveShortcut(int window, int modifiers, int key) {
    Object* w = FindWindowObject(window);
    if (!w) return;
    w->shortcuts.erase({modifiers, key});
    ApplyShortcuts(*w);
}

int UiGetShortcutId(int window, int modifiers, int key) {
    Object* w = FindWindowObject(window);
    if (!w) return -1;
    auto it = w->shortcuts.find({modifiers, key});
    return it == w->shortcuts.end() ? -1 : it->second;
}

int UiCountShortcuts(int window) {
    Object* w = FindWindowObject(window);
    return w ? int(w->shortcuts.size()) : 0;
}

// ---------------------------------------------------------------------------
// Status bar

void UiCreateStatusBar(int window, const std::vector<int>& widths) {
    Object* w = FindWindowObject(window);
    if (!w || widths.empty()) return;
    auto* frame = static_cast<wxFrame*>(w->widget);
    const wxSize inner = frame->GetClientSize();
    wxStatusBar* bar = frame->CreateStatusBar(int(widths.size()));
    std::vector<int> pixels;
    for (size_t i = 0; i < widths.size(); ++i)
        pixels.push_back(widths[i] < 0 && i + 1 == widths.size() ? -1 : ToPixels(std::max(widths[i], 0)));
    bar->SetStatusWidths(int(pixels.size()), pixels.data());
    w->statusTexts.assign(widths.size(), std::string());
    KeepInnerSize(*w, inner);
}

void UiSetStatusField(int window, int field, const std::string& text) {
    Object* w = FindWindowObject(window);
    if (!w || field < 0 || field >= int(w->statusTexts.size())) return;
    w->statusTexts[field] = text;
    static_cast<wxFrame*>(w->widget)->SetStatusText(ToWx(text), field);
}

std::string UiGetStatusField(int window, int field) {
    Object* w = FindWindowObject(window);
    if (!w || field < 0 || field >= int(w->statusTexts.size())) return {};
    return w->statusTexts[field];
}

// ---------------------------------------------------------------------------
// Events

UiEvent UiWaitEvent() {
    for (;;) {
        if (!gQueue.empty()) {
            UiEvent e = gQueue.front();
            gQueue.pop_front();
            return e;
        }
        if (gTestMode || !gInitialised) {
            Fail("a wait found no queued event");
            return FirstCloseBoxEvent();
        }
        RunLoopOnce(true);
    }
}

UiEvent UiWaitWindowEvent(int window) {
    for (;;) {
        while (!gQueue.empty()) {
            UiEvent e = gQueue.front();
            gQueue.pop_front();
            if (e.window == window) return e;
        }
        if (gTestMode || !gInitialised) {
            Fail("a wait for window " + std::to_string(window) + " found no queued event");
            UiEvent e;
            e.kind = UiEventKind::CloseBox;
            e.window = window;
            return e;
        }
        RunLoopOnce(true);
    }
}

UiEvent UiPollEvent() {
    if (gQueue.empty() && gInitialised) RunLoopOnce(false);
    if (gQueue.empty()) return UiEvent{};
    UiEvent e = gQueue.front();
    gQueue.pop_front();
    return e;
}

void UiProcessPending() {
    if (!gInitialised) return;
    // Keep what the window system queues; the caller takes it later.
    RunLoopOnce(false);
}

void UiPaintWindowNow(int window) {
    Object* w = FindWindowObject(window);
    if (!w) return;
    GtkWidget* top = w->widget->GetHandle();
    if (!top || !gtk_widget_get_mapped(top)) return;
    // GTK lays out and paints on its frame clock, whose next frame is often not
    // due yet when a poll runs; work that follows on this thread would then keep
    // the old picture on screen until the next poll. Lay out and paint now.
    // Nothing is dispatched here, so no input handler can run.
    HandleWindowMessages([w, top] {
        gtk_container_check_resize(GTK_CONTAINER(top));
        w->widget->Update();
    });
}

void UiBindGadget(int gadget, UiEventType type, UiCallback callback) {
    gGadgetCallbacks[gadget].emplace_back(type, std::move(callback));
}

void UiUnbindGadget(int gadget) { gGadgetCallbacks.erase(gadget); }

void UiBindCloseBox(int window, UiCallback callback) { gCloseCallbacks[window] = std::move(callback); }

void UiUnbindCloseBox(int window) { gCloseCallbacks.erase(window); }

// ---------------------------------------------------------------------------
// Shell and clock

bool UiShellOpen(const std::string& path) {
    if (gShellOpener) return gShellOpener(path);
    // The viewer starts in the file's folder, so relative links and viewers that
    // resolve names against their working folder find the page's neighbours.
    // Everything the child needs is built here: after fork only async-signal-safe
    // calls are allowed.
    std::error_code error;
    const std::string file = std::filesystem::absolute(path, error).string();  // still valid after the chdir
    if (error) return false;
    const std::string folder = GetFolderPart(file);
    // Double fork, so the opener is never left as a zombie and we never wait for it.
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            // A folder that cannot be entered still leaves the page itself to open.
            [[maybe_unused]] const int entered = chdir(folder.c_str());
            execlp("xdg-open", "xdg-open", file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int64_t UiMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---------------------------------------------------------------------------
// Test hooks

void UiSetTestMode(bool on) { gTestMode = on; }
bool UiIsTestMode() { return gTestMode; }
void UiSetTestFailureHandler(std::function<void(const std::string&)> handler) {
    gFailureHandler = std::move(handler);
}

void UiTestQueueEvent(const UiEvent& event) { Post(event); }

void UiTestQueueMenu(int window, int id) {
    UiEvent e;
    e.kind = UiEventKind::Menu;
    e.window = window;
    e.id = id;
    Post(e);
}

void UiTestQueueGadget(int gadget, UiEventType type, int item) {
    UiEvent e;
    e.kind = UiEventKind::Gadget;
    e.gadget = gadget;
    Object* o = Find(gadget);
    e.window = o ? o->window : 0;
    e.type = type;
    e.item = item;
    Post(e);
}

void UiTestQueueCanvasMouse(int canvas, UiEventType type, int x, int y) {
    UiEvent e;
    e.kind = UiEventKind::Gadget;
    e.gadget = canvas;
    Object* o = Find(canvas);
    e.window = o ? o->window : 0;
    e.type = type;
    e.x = x;
    e.y = y;
    Post(e);
}

void UiTestQueueCloseBox(int window) {
    UiEvent e;
    e.kind = UiEventKind::CloseBox;
    e.window = window;
    Post(e);
}

void UiTestQueueResize(int window, int innerWidth, int innerHeight) {
    UiSetWindowInnerSize(window, innerWidth, innerHeight);
    UiEvent e;
    e.kind = UiEventKind::Size;
    e.window = window;
    Post(e);
}

bool UiTestPressShortcut(int window, int modifiers, int key) {
    const int id = UiGetShortcutId(window, modifiers, key);
    if (id < 0) return false;
    UiTestQueueMenu(window, id);
    return true;
}

size_t UiTestPendingEvents() { return gQueue.size(); }
void UiTestClearEvents() { gQueue.clear(); }

void UiTestSetShellOpen(std::function<bool(const std::string&)> opener) { gShellOpener = std::move(opener); }

namespace {

std::map<int, UiPaintRecord> gLastPaints;

gboolean RecordWatchedPaint(GtkWidget*, cairo_t*, gpointer gadget) {
    const int number = GPOINTER_TO_INT(gadget);
    if (Find(number)) gLastPaints[number] = {UiGetGadgetText(number), UiGetGadgetState(number)};
    return FALSE;
}

}  // namespace

void UiTestWatchPaints(int gadget) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return;
    // The handler goes with the widget; the records are cleared by UiTestReset.
    g_signal_connect_after(o->widget->GetHandle(), "draw", G_CALLBACK(RecordWatchedPaint), GINT_TO_POINTER(gadget));
}

std::optional<UiPaintRecord> UiTestLastPaint(int gadget) {
    auto it = gLastPaints.find(gadget);
    if (it == gLastPaints.end()) return std::nullopt;
    return it->second;
}

void UiTestResetRequesters();  // ui_requesters.cpp

void UiTestReset() {
    std::vector<int> windows;
    for (const auto& [number, object] : gObjects)
        if (object.kind == Kind::Window && object.parentWindow == 0) windows.push_back(number);
    for (int w : windows) UiCloseWindow(w);
    gObjects.clear();
    gQueue.clear();
    gGadgetCallbacks.clear();
    gCloseCallbacks.clear();
    gShellOpener = nullptr;
    gLastPaints.clear();
    UiTestResetRequesters();
    if (gInitialised) wxTheApp->ProcessIdle();
}
