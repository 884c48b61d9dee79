// What the UI layer's files share: the object table and the event queue.
#pragma once

#include <wx/wx.h>

#include <map>
#include <string>
#include <vector>

#include "toolkit/ui/ui.h"

namespace uiimpl {

enum class Kind {
    Window, Button, Check, Option, Frame, TabPanel, TabPage, Combo, Spin, Text, Label,
    ListView, Progress, ImageGadget, Scroll, Canvas,
};

struct MenuEntry {
    std::string text;
    bool checked = false;
    bool enabled = true;
};

struct Object {
    Kind kind = Kind::Window;
    wxWindow* widget = nullptr;  // the frame for a window
    int window = 0;              // the top-level window the object lives in
    int parent = 0;              // parent object (0 for a top-level window)
    // Windows.
    wxPanel* client = nullptr;   // the container of the window's gadgets
    unsigned flags = 0;
    int parentWindow = 0;
    std::vector<std::string> statusTexts;
    std::map<int, MenuEntry> menuItems;
    std::vector<std::string> menuLayout;
    std::vector<std::string> menuTitles;
    std::map<std::pair<int, int>, int> shortcuts;  // (modifiers, key) -> id
    // Gadgets.
    bool editable = false;
    std::vector<int64_t> itemData;
    int columns = 0;
    // Canvases.
    ImagePtr buffer;
    UiCanvasPainter painter;
    int pixelWidth = 0, pixelHeight = 0;
    // Scroll areas (units).
    int innerWidth = 0, innerHeight = 0;
};

extern std::map<int, Object> gObjects;
extern int gQuiet;  // above 0 while code changes gadgets: no events

// Programmatic changes run inside one of these so no change event is queued.
struct Quiet {
    Quiet() { ++gQuiet; }
    ~Quiet() { --gQuiet; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
};

Object* Find(int number);
Object* FindKind(int number, Kind kind);
int NewNumber();
double Scale();
int ToPixels(int units);
int ToUnits(int pixels);
// The wx window gadgets of this parent object are created in; null when the
// number names no container.
wxWindow* ContainerOf(int parent);
// Position of a child given in units inside its parent (scroll areas shift it).
wxPoint ChildPosition(int parent, int x, int y);

// Queues a real event (ignored in test mode), running bound callbacks first.
void PostReal(const UiEvent& event);
void Post(const UiEvent& event);
void Fail(const std::string& what);
wxString ToWx(const std::string& text);
std::string FromWx(const wxString& text);

// Canvas internals (ui_gadgets.cpp).
wxWindow* CreateCanvasWidget(wxWindow* parent, int number, wxPoint pos, wxSize size);
void RenderCanvasRect(Object& canvas, Image& target, int left, int top);

}  // namespace uiimpl
