// The UI layer: numbered windows and gadgets, menus, shortcuts, status bars,
// canvases drawn in software, one event queue, requesters and test hooks.
//
// Everything is procedural. Windows and gadgets share one number space: every
// create call returns a new number above 0 (0 means failure), and a window
// number or a container gadget (scroll area, tab page) can be the parent of a
// gadget. Positions and sizes of windows and gadgets are in 96-DPI units and
// scaled by GetDpiScale() (toolkit/displays.h); canvas pixels, mouse positions
// on canvases and frame rectangles are device pixels.
//
// All calls run on the one UI thread. Nothing here throws: what wxWidgets
// throws is caught and turned into a message box or a failed result.
//
// Events: one queue. A wait blocks until an event is queued; a poll returns at
// once (kind None when empty) after letting the windows repaint. Setting a
// gadget's text or state from code never queues an event. Callbacks bound to
// a gadget or a close box run when the event is queued; the event still goes
// into the queue afterwards.
//
// Modal dialogs: UiRunModalBegin disables the parent only (other windows, such
// as a tool window beside the main window, keep working); the dialog then
// waits with UiWaitWindowEvent, which drops events of other windows, and
// UiRunModalEnd enables and activates the parent again. UiRunModalDialog
// runs all of it; the dialogs use that.
//
// Command ids 0..34 belong to the main window's menu; dialogs give their own
// shortcuts ids of kUiFirstDialogId and above.
//
// Test mode (UiSetTestMode): requesters never open; each pops the next
// scripted answer and records what it was asked. Waits pop queued events. A
// wait with an empty queue or a requester with nothing scripted calls the
// failure handler and returns at once (a close-box event for the main
// window / Cancel), so no test can hang.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/displays.h"
#include "toolkit/image.h"

constexpr int kUiFirstDialogId = 1000;

// ---------------------------------------------------------------------------
// Start and end

// Starts wxWidgets (GTK), registers the displays provider. false when there
// is no display to open windows on.
bool UiInit();
// Closes every window and ends the layer. Safe to call twice; UiInit starts
// the layer again (wxWidgets itself starts once and lives until the process
// ends, because it cannot be started a second time).
void UiShutdown();
bool UiIsInitialised();

// ---------------------------------------------------------------------------
// Windows

enum UiWindowFlags : unsigned {
    kUiCaption = 1u << 0,       // title bar
    kUiCloseBox = 1u << 1,      // close box (and system menu)
    kUiSizeBorder = 1u << 2,    // resizable
    kUiMinimizeBox = 1u << 3,
    kUiMaximizeBox = 1u << 4,
    kUiCentreScreen = 1u << 5,  // x, y ignored
    kUiCentreParent = 1u << 6,  // x, y ignored; the screen when there is no parent
    kUiHidden = 1u << 7,        // created invisible (UiShowWindow shows it)
};
// A tool window or dialog without kUiSizeBorder cannot be resized.
constexpr unsigned kUiMainWindowFlags =
    kUiCaption | kUiCloseBox | kUiSizeBorder | kUiMinimizeBox | kUiMaximizeBox;
constexpr unsigned kUiDialogFlags = kUiCaption | kUiCloseBox | kUiCentreParent;

// Opens a window at (x, y) with the given inner (client) size, all in 96-DPI
// units. parent 0 for a top-level window. Returns its number, 0 on failure.
int UiOpenWindow(int x, int y, int innerWidth, int innerHeight, const std::string& title,
                 unsigned flags, int parent = 0);
void UiCloseWindow(int window);
bool UiIsWindow(int window);
void UiShowWindow(int window, bool show);
void UiSetWindowTitle(int window, const std::string& title);
std::string UiGetWindowTitle(int window);
void UiEnableWindow(int window, bool enable);
bool UiIsWindowEnabled(int window);
void UiActivateWindow(int window);  // brings it to the front
void UiMaximizeWindow(int window);
void UiMinimizeWindow(int window);
void UiRestoreWindow(int window);

enum class UiWindowState { Normal, Minimized, Maximized };
UiWindowState UiGetWindowState(int window);

struct UiRect {
    int x = 0, y = 0, width = 0, height = 0;
};
// The outer frame in device pixels.
UiRect UiGetWindowFrame(int window);
// The client area's size in 96-DPI units (menu bar and status bar are not
// part of it).
int UiGetWindowInnerWidth(int window);
int UiGetWindowInnerHeight(int window);
// Sets the client size in 96-DPI units.
void UiSetWindowInnerSize(int window, int innerWidth, int innerHeight);
// Shrinks the client area so that the outer frame (menu and status bars
// included) fits the work area of the largest display; a window that fits
// already is left alone. Centred windows are centred again.
void UiFitWindowToDisplay(int window);

// Modal run of a dialog: disable the parent (only the parent) / enable and
// activate it again. The dialog's own loop waits with UiWaitWindowEvent.
void UiRunModalBegin(int dialog, int parent);
void UiRunModalEnd(int dialog, int parent);

struct UiEvent;
// What a dialog makes of one of its events.
enum class UiDialogStep { Stay, Confirm, Cancel };
// The parts of a modal dialog's run that differ between dialogs. Every
// callback may be empty.
struct UiDialogLoop {
    int ok = 0;                   // the button that confirms (0: none)
    int cancel = 0;               // the button that cancels (0: none)
    bool returnConfirms = false;  // Return acts as the OK button
    bool escapeCancels = false;   // Escape acts as the Cancel button
    // Once the parent is disabled, before the first wait: first drawing, test hooks.
    std::function<void()> onStart;
    // Before each wait, with the number of waits before it (test hooks).
    std::function<void(int waits)> beforeWait;
    // OK or Return (the event says which): Stay keeps the dialog open, for a
    // value it refuses. Empty: Confirm.
    std::function<UiDialogStep(const UiEvent& event)> onConfirm;
    // Every other event of the window. Empty: Stay.
    std::function<UiDialogStep(const UiEvent& event)> onEvent;
    // After the last event, while the window is still open (reading gadgets).
    std::function<void(bool confirmed)> onEnd;
};
// Runs `window` as a modal dialog over `parent` until it ends: the close box,
// Escape and the Cancel button end it unconfirmed, OK and Return as onConfirm
// says. Then the parent is enabled and activated and the window closed. True
// when confirmed. Registers the Return and Escape shortcuts it is asked for
// (ids kUiFirstDialogId and kUiFirstDialogId + 1).
bool UiRunModalDialog(int window, int parent, const UiDialogLoop& loop);

// ---------------------------------------------------------------------------
// Menus (one menu bar per window) and shortcuts

// Menu building: UiMenuBegin, then titles, items, separators and submenus in
// order, then UiMenuEnd attaches the bar to the window. Item texts may hold a
// tab and a shortcut name ("Open\tCtrl+O"); the shortcut itself is registered
// with UiAddShortcut, so the menu text is only shown.
void UiMenuBegin(int window);
void UiMenuTitle(const std::string& title);
// checkable: the item can carry a tick (UiSetMenuItemChecked).
void UiMenuItem(int id, const std::string& text, bool checkable = false);
void UiMenuSeparator();
void UiMenuSubmenuBegin(const std::string& title);
void UiMenuSubmenuEnd();
void UiMenuEnd();

void UiSetMenuItemText(int window, int id, const std::string& text);
std::string UiGetMenuItemText(int window, int id);
void UiSetMenuItemChecked(int window, int id, bool checked);
bool UiIsMenuItemChecked(int window, int id);
void UiEnableMenuItem(int window, int id, bool enable);
bool UiIsMenuItemEnabled(int window, int id);
bool UiHasMenuItem(int window, int id);
// Titles of the menu bar, left to right; a submenu's title is listed by
// UiGetMenuLayout as "> title".
std::vector<std::string> UiGetMenuTitles(int window);
// The whole bar flattened for checks: one line per entry, "[title]" for a
// title, "id text" for an item, "-" for a separator, "> title" / "<" around a
// submenu.
std::vector<std::string> UiGetMenuLayout(int window);

enum UiKeyModifier : int { kUiCtrl = 1, kUiShift = 2, kUiAlt = 4 };
// Keys: 'A'..'Z', '0'..'9' as characters, and these:
enum UiKey : int {
    kUiKeyUp = 0x100,
    kUiKeyDown,
    kUiKeyLeft,
    kUiKeyRight,
    kUiKeyReturn,
    kUiKeyEscape,
    kUiKeyDelete,
    kUiKeyTab,
};
// A shortcut of the window: pressing it queues a Menu event with the id, the
// same event as choosing the menu item with that id. Ctrl+Shift+S and Ctrl+S
// are distinct shortcuts. Registering the same keys again replaces the id.
void UiAddShortcut(int window, int modifiers, int key, int id);
void UiRemoveShortcut(int window, int modifiers, int key);
// The id the window's shortcut sends, or -1 when none is registered.
int UiGetShortcutId(int window, int modifiers, int key);
int UiCountShortcuts(int window);

// ---------------------------------------------------------------------------
// Status bar

// widths in 96-DPI units; -1 (allowed only last) takes the rest.
void UiCreateStatusBar(int window, const std::vector<int>& widths);
void UiSetStatusField(int window, int field, const std::string& text);
std::string UiGetStatusField(int window, int field);

// ---------------------------------------------------------------------------
// Gadgets. parent: a window, a scroll area or a tab page. Geometry in units.

int UiCreateButton(int parent, int x, int y, int w, int h, const std::string& text,
                   bool isDefault = false);
int UiCreateCheckBox(int parent, int x, int y, int w, int h, const std::string& text);
// Option buttons: firstOfGroup starts a new group of mutually exclusive ones.
int UiCreateOption(int parent, int x, int y, int w, int h, const std::string& text,
                   bool firstOfGroup = false);
int UiCreateFrame(int parent, int x, int y, int w, int h, const std::string& text);
int UiCreateTabPanel(int parent, int x, int y, int w, int h);
// A page of a tab panel; the returned number is a parent for gadgets.
int UiAddTabPage(int tabPanel, const std::string& text);
// editable false: drop-down list; true: combo with an editable text.
int UiCreateCombo(int parent, int x, int y, int w, int h, bool editable = false);
int UiCreateSpin(int parent, int x, int y, int w, int h, int minimum, int maximum);
enum UiTextFlags : unsigned { kUiReadOnly = 1, kUiNumbersOnly = 2 };
int UiCreateTextField(int parent, int x, int y, int w, int h, const std::string& text,
                      unsigned flags = 0);
enum UiLabelFlags : unsigned { kUiSunken = 1, kUiAlignRight = 2, kUiAlignCentre = 4 };
int UiCreateLabel(int parent, int x, int y, int w, int h, const std::string& text,
                  unsigned flags = 0);
enum UiListFlags : unsigned { kUiMultiSelect = 1, kUiFullRowSelect = 2, kUiGridLines = 4 };
int UiCreateListView(int parent, int x, int y, int w, int h, unsigned flags = kUiFullRowSelect);
void UiAddListColumn(int listView, const std::string& title, int width);
int UiCreateProgressBar(int parent, int x, int y, int w, int h, int maximum);
// Shows a copy of the image (null: empty).
int UiCreateImageGadget(int parent, int x, int y, int w, int h, const Image* image);
void UiSetGadgetImage(int gadget, const Image* image);
// A scroll area with an inner (virtual) area; a parent for gadgets.
int UiCreateScrollArea(int parent, int x, int y, int w, int h, int innerWidth, int innerHeight,
                       int step = 1, bool sunkenBorder = true);
void UiSetScrollInnerSize(int scrollArea, int innerWidth, int innerHeight);
void UiGetScrollInnerSize(int scrollArea, int* innerWidth, int* innerHeight);
void UiSetScrollPosition(int scrollArea, int x, int y);  // units
void UiGetScrollPosition(int scrollArea, int* x, int* y);
// A canvas: a software RGBA back buffer of the gadget's size in device pixels.
int UiCreateCanvas(int parent, int x, int y, int w, int h);

bool UiIsGadget(int gadget);
void UiFreeGadget(int gadget);
int UiGetGadgetWindow(int gadget);
// -1 keeps a value. A canvas gets a new back buffer (filled black) on a size change.
void UiResizeGadget(int gadget, int x, int y, int w, int h);
UiRect UiGetGadgetRect(int gadget);  // units, relative to the parent
void UiEnableGadget(int gadget, bool enable);
bool UiIsGadgetEnabled(int gadget);
void UiHideGadget(int gadget, bool hide);
void UiFocusGadget(int gadget);
// Text: button/label/check/option/frame caption, text field, editable combo's
// text, a drop-down's selected item text, a spin's value as text.
void UiSetGadgetText(int gadget, const std::string& text);
std::string UiGetGadgetText(int gadget);
// State: check box/option 0 or 1; combo: selected index (-1 none); spin:
// value; progress bar: value; tab panel: page; list view: the first selected
// row (-1 none; setting it selects only that row).
void UiSetGadgetState(int gadget, int state);
int UiGetGadgetState(int gadget);
// Colours 0xAABBGGRR; alpha ignored.
void UiSetGadgetColours(int gadget, uint32_t textColour, uint32_t backColour);
void UiSetGadgetTextColour(int gadget, uint32_t textColour);
// false when the font cannot be made (the gadget keeps its font).
bool UiSetGadgetFont(int gadget, const std::string& face, int points, bool bold);

// Items of combos and list views. A list view row's columns are separated by
// '\n' in text. index -1 appends. Returns the new item's index.
int UiAddItem(int gadget, const std::string& text, int index = -1);
void UiRemoveItem(int gadget, int index);
void UiClearItems(int gadget);
int UiCountItems(int gadget);
std::string UiGetItemText(int gadget, int index, int column = 0);
void UiSetItemText(int gadget, int index, const std::string& text, int column = 0);
void UiSetItemData(int gadget, int index, int64_t data);
int64_t UiGetItemData(int gadget, int index);
void UiSetItemSelected(int gadget, int index, bool selected);
bool UiIsItemSelected(int gadget, int index);
// The list view takes files dropped onto it: a Gadget event of type
// FilesDropped; UiGetDroppedFiles gives the paths of the last drop.
void UiEnableFileDrop(int gadget, bool enable);
std::vector<std::string> UiGetDroppedFiles();

// ---------------------------------------------------------------------------
// Canvases

// The back buffer (device pixels, 32-bit; null for a painted canvas). Draw on it with the image layer
// (FillRect, DrawImage) and the helpers below, then UiShowCanvas.
Image* UiCanvasImage(int canvas);
void UiShowCanvas(int canvas);
// A painted canvas keeps no back buffer of its own: on each paint the layer
// allocates a buffer of the visible rectangle only and asks the painter to
// fill it; the painter gets the target and the target's top-left position on
// the canvas (device pixels). For canvases too big to keep as a bitmap.
using UiCanvasPainter = std::function<void(Image& target, int left, int top)>;
void UiSetCanvasPainter(int canvas, UiCanvasPainter painter);  // empty: back buffer again
// The canvas size in device pixels.
int UiCanvasPixelWidth(int canvas);
int UiCanvasPixelHeight(int canvas);
// Reads pixels as shown: from the back buffer, or through the painter.
uint32_t UiGetCanvasPixel(int canvas, int x, int y);
// The part of the canvas a paint would draw now (device pixels; empty when
// hidden or scrolled out).
UiRect UiGetCanvasVisibleRect(int canvas);
// Paints the visible part once (what a repaint does), for benchmarks and tests.
void UiPaintCanvasNow(int canvas);

// Drawing helpers on images (clipped; colours 0xAABBGGRR; alpha below 255
// blends over the target).
void UiDrawLine(Image& image, int x1, int y1, int x2, int y2, uint32_t colour);
void UiDrawBox(Image& image, int x, int y, int w, int h, uint32_t colour, bool filled);
// Text with a transparent background, top-left at (x, y), the layer's normal
// font (or the given size in points).
void UiDrawText(Image& image, int x, int y, const std::string& text, uint32_t colour,
                int points = 0, bool bold = false);
int UiTextWidth(const std::string& text, int points = 0, bool bold = false);
// Flood fill of the 4-connected area of (x, y)'s colour.
void UiFloodFill(Image& image, int x, int y, uint32_t colour);

// ---------------------------------------------------------------------------
// Events

enum class UiEventKind {
    None,       // nothing (poll with an empty queue)
    Menu,       // menu item or shortcut: id
    Gadget,     // gadget: gadget, type
    CloseBox,   // window's close box
    Size,       // window resized
    Move,       // window moved
    Activate,   // window activated
};
enum class UiEventType {
    None,
    Click,         // button, check box, option
    Change,        // text, combo, spin, tab panel, scroll
    Select,        // list view selection
    DoubleClick,   // list view row
    LeftDown,      // canvas mouse (x, y)
    LeftUp,
    RightDown,
    MouseMove,
    FilesDropped,  // list view: UiGetDroppedFiles
    LostFocus,     // text field: the keyboard focus moved elsewhere
};
struct UiEvent {
    UiEventKind kind = UiEventKind::None;
    int window = 0;
    int gadget = 0;  // gadget number for Gadget events
    int id = -1;     // command id for Menu events
    UiEventType type = UiEventType::None;
    int x = 0, y = 0;  // canvas mouse position in device pixels
    int item = -1;     // list row for Select / DoubleClick
};

// Blocks until an event is queued.
UiEvent UiWaitEvent();
// Blocks until an event of this window is queued; other windows' events are
// dropped (their callbacks have already run).
UiEvent UiWaitWindowEvent(int window);
// Returns at once (kind None when the queue is empty), after letting windows
// repaint and handle their input.
UiEvent UiPollEvent();
// Lets pending window messages run (paint, layout) without taking events.
void UiProcessPending();
// Lays the window out and paints what has changed in it before returning,
// dispatching no events: for a window whose state was just set and that long
// work on this thread is about to keep from the event loop.
void UiPaintWindowNow(int window);

using UiCallback = std::function<void()>;
// Runs for the gadget's events of the given type (None: every type).
void UiBindGadget(int gadget, UiEventType type, UiCallback callback);
void UiUnbindGadget(int gadget);
void UiBindCloseBox(int window, UiCallback callback);
void UiUnbindCloseBox(int window);

// ---------------------------------------------------------------------------
// Requesters. parent 0: centred on the screen.

enum class UiButtons { Ok, YesNo, YesNoCancel };
enum class UiIcon { None, Error, Warning, Information };
// 1 OK or Yes, 0 No, -1 Cancel (or the close box).
int UiMessageBox(const std::string& title, const std::string& text, UiButtons buttons = UiButtons::Ok,
                 UiIcon icon = UiIcon::None, int parent = 0);

// patterns: "label|pattern;pattern|label|pattern..."; patternIndex: the pair
// first selected. startPath: a folder (ending in a separator) or a file.
// Returns the chosen path, empty on cancel.
std::string UiOpenFileRequester(const std::string& title, const std::string& startPath,
                                const std::string& patterns, int patternIndex = 0, int parent = 0);
// Several files; empty on cancel.
std::vector<std::string> UiOpenFilesRequester(const std::string& title, const std::string& startPath,
                                              const std::string& patterns, int patternIndex = 0,
                                              int parent = 0);
// No overwrite prompt: the caller asks its own question. chosenPattern gets
// the index of the pattern pair selected when the user confirmed (the
// requested index on cancel). Patterns match regardless of letter case.
std::string UiSaveFileRequester(const std::string& title, const std::string& startPath,
                                const std::string& patterns, int patternIndex, int* chosenPattern,
                                int parent = 0);
// The chosen folder ending in "/", empty on cancel.
std::string UiFolderRequester(const std::string& title, const std::string& startPath, int parent = 0);
// The typed text, or nullopt on cancel.
std::optional<std::string> UiInputRequester(const std::string& title, const std::string& prompt,
                                            const std::string& defaultText, int parent = 0);

// ---------------------------------------------------------------------------
// Shell and clock

// Opens the file with the desktop's default program (xdg-open), started in
// the file's folder, not waiting for it. false when it could not be started.
bool UiShellOpen(const std::string& path);
// Milliseconds from an arbitrary start, monotonic.
int64_t UiMilliseconds();

// ---------------------------------------------------------------------------
// Test hooks

void UiSetTestMode(bool on);
bool UiIsTestMode();
// Called with a description when a wait or a requester finds nothing scripted.
void UiSetTestFailureHandler(std::function<void(const std::string&)> handler);

// Queued events run the bound callbacks as real ones do.
void UiTestQueueEvent(const UiEvent& event);
void UiTestQueueMenu(int window, int id);
void UiTestQueueGadget(int gadget, UiEventType type, int item = -1);
void UiTestQueueCanvasMouse(int canvas, UiEventType type, int x, int y);
void UiTestQueueCloseBox(int window);
// Sets the client size (units) and queues a Size event.
void UiTestQueueResize(int window, int innerWidth, int innerHeight);
void UiTestQueueFilesDropped(int gadget, const std::vector<std::string>& paths);
// Sends the key as the window's shortcut would (queues its Menu event, if any).
bool UiTestPressShortcut(int window, int modifiers, int key);
size_t UiTestPendingEvents();
void UiTestClearEvents();

enum class UiRequestKind { Message, OpenFile, OpenFiles, SaveFile, Folder, Input };
// What a requester was asked.
struct UiRequest {
    UiRequestKind kind = UiRequestKind::Message;
    std::string title;
    std::string text;         // message text or input prompt
    std::string startPath;    // or the input's default text
    std::string patterns;
    int patternIndex = 0;
    UiButtons buttons = UiButtons::Ok;
    UiIcon icon = UiIcon::None;
    int parent = 0;
};
// A scripted answer, popped by the next requester (whatever its kind; a kind
// given other than the requester's own fails the test).
struct UiAnswer {
    std::optional<UiRequestKind> expect;
    int result = 1;                   // message boxes: 1, 0, -1
    std::vector<std::string> paths;   // file/folder requesters: empty = cancel
    int patternIndex = -1;            // save requester: -1 keeps the requested index
    std::optional<std::string> text;  // input requester: nullopt = cancel
};
void UiTestScriptAnswer(const UiAnswer& answer);
void UiTestScriptMessageAnswer(int result);
void UiTestScriptPath(const std::string& path, int patternIndex = -1);  // "" = cancel
size_t UiTestPendingAnswers();
const std::vector<UiRequest>& UiTestRequests();
void UiTestClearRequests();

// Shell open replaced (null restores xdg-open).
void UiTestSetShellOpen(std::function<bool(const std::string&)> opener);

// What a watched gadget showed (its text and state) when it was last drawn on
// screen: tells a change that reached the screen from one that was only set.
struct UiPaintRecord {
    std::string text;
    int state = 0;
};
void UiTestWatchPaints(int gadget);
// nullopt while the gadget has not been drawn since the watch began.
std::optional<UiPaintRecord> UiTestLastPaint(int gadget);

// Closes every window, clears events, answers, requests and bindings: the
// state between two tests.
void UiTestReset();
