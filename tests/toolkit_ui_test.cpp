// The UI layer: events and callbacks, quiet programmatic changes, modal runs,
// requester scripting, items, canvases and drawing.
#include <algorithm>

#include "tests/ui_fixture.h"

namespace {

class ToolkitUiTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        if (IsSkipped()) return;
        window_ = UiOpenWindow(10, 10, 400, 300, "Tool", kUiCaption | kUiCloseBox);
        ASSERT_GT(window_, 0);
    }
    int window_ = 0;
};

TEST_F(ToolkitUiTest, CallbacksRunByTypeAndMayUnbindThemselves) {
    const int list = UiCreateCombo(window_, 0, 0, 100, 24);
    const int check = UiCreateCheckBox(window_, 0, 30, 100, 20, "Logarithmic scale");
    int changes = 0, any = 0, closes = 0;
    UiBindGadget(list, UiEventType::Change, [&] { ++changes; });
    UiBindGadget(check, UiEventType::None, [&] { ++any; });
    UiBindCloseBox(window_, [&] {
        ++closes;
        UiUnbindCloseBox(window_);
        UiCloseWindow(window_);
    });
    UiTestQueueGadget(list, UiEventType::Click);
    UiTestQueueGadget(list, UiEventType::Change);
    UiTestQueueGadget(check, UiEventType::Click);
    UiTestQueueGadget(check, UiEventType::Change);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(any, 2);
    UiTestQueueCloseBox(window_);
    UiTestQueueCloseBox(window_);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(UiIsWindow(window_));
}

TEST_F(ToolkitUiTest, WindowWaitTakesOnlyItsOwnEvents) {
    const int other = UiOpenWindow(0, 0, 100, 100, "Other", kUiCaption);
    UiTestQueueMenu(other, 5);
    UiTestQueueMenu(window_, 1000);
    UiTestQueueMenu(other, 6);
    const UiEvent e = UiWaitWindowEvent(window_);
    EXPECT_EQ(e.kind, UiEventKind::Menu);
    EXPECT_EQ(e.id, 1000);
    // The other window's earlier event was dropped; the later one is still there.
    const UiEvent next = UiPollEvent();
    EXPECT_EQ(next.window, other);
    EXPECT_EQ(next.id, 6);
    EXPECT_EQ(UiPollEvent().kind, UiEventKind::None);
}

TEST_F(ToolkitUiTest, WaitsWithNothingQueuedFailAtOnce) {
    CollectFailures();
    const UiEvent any = UiWaitEvent();
    EXPECT_EQ(any.kind, UiEventKind::CloseBox);
    const UiEvent own = UiWaitWindowEvent(window_);
    EXPECT_EQ(own.kind, UiEventKind::CloseBox);
    EXPECT_EQ(own.window, window_);
    EXPECT_EQ(failures_.size(), 2u);
}

TEST_F(ToolkitUiTest, SettingGadgetsFromCodeRaisesNoEvent) {
    const int text = UiCreateTextField(window_, 0, 0, 100, 24, "");
    const int combo = UiCreateCombo(window_, 0, 30, 100, 24);
    const int editable = UiCreateCombo(window_, 0, 60, 100, 24, true);
    const int check = UiCreateCheckBox(window_, 0, 90, 100, 20, "x");
    const int spin = UiCreateSpin(window_, 0, 120, 100, 24, 2, 200);
    const int list = UiCreateListView(window_, 110, 0, 200, 200, kUiMultiSelect);
    const int tabs = UiCreateTabPanel(window_, 110, 210, 200, 80);
    UiAddTabPage(tabs, "One");
    UiAddTabPage(tabs, "Two");
    UiAddListColumn(list, "File", 100);
    for (int g : {combo, editable}) {
        UiAddItem(g, "RGB");
        UiAddItem(g, "Red");
    }
    UiAddItem(list, "a.tex");
    UiAddItem(list, "b.tex");
    int callbacks = 0;
    for (int g : {text, combo, editable, check, spin, list, tabs}) UiBindGadget(g, UiEventType::None, [&] { ++callbacks; });
    // Real window-system events count here, not only queued ones.
    UiSetTestMode(false);
    UiSetGadgetText(text, "12.5");
    UiSetGadgetState(combo, 1);
    UiSetGadgetText(editable, "typed");
    UiSetGadgetState(editable, 0);
    UiSetGadgetState(check, 1);
    UiSetGadgetState(spin, 30);
    UiSetGadgetText(spin, "40");
    UiSetGadgetState(list, 1);
    UiSetItemSelected(list, 0, true);
    UiSetGadgetState(tabs, 1);
    UiProcessPending();
    UiEvent e;
    int gadgetEvents = 0;
    while ((e = UiPollEvent()).kind != UiEventKind::None)
        if (e.kind == UiEventKind::Gadget) ++gadgetEvents;
    UiSetTestMode(true);
    EXPECT_EQ(gadgetEvents, 0);
    EXPECT_EQ(callbacks, 0);
    EXPECT_EQ(UiGetGadgetText(text), "12.5");
    EXPECT_EQ(UiGetGadgetState(combo), 1);
    EXPECT_EQ(UiGetGadgetText(combo), "Red");
    EXPECT_EQ(UiGetGadgetText(editable), "RGB");
    EXPECT_EQ(UiGetGadgetState(check), 1);
    EXPECT_EQ(UiGetGadgetState(spin), 40);
    EXPECT_TRUE(UiIsItemSelected(list, 0));
    EXPECT_TRUE(UiIsItemSelected(list, 1));
    EXPECT_EQ(UiGetGadgetState(tabs), 1);
}

// The program ends the layer at exit, and tests start it again in the same
// process: list headers must still draw after that (they once drew through a
// renderer that the first end had freed).
TEST_F(ToolkitUiTest, LayerStartedAgainStillDrawsListHeaders) {
    for (int restart = 0; restart < 3; ++restart) {
        const int list = UiCreateListView(UiOpenWindow(10, 10, 300, 200, "List", kUiCaption), 0, 0, 300, 200);
        UiAddListColumn(list, "File", 100);
        UiAddListColumn(list, "Location", 150);
        UiAddItem(list, "a.tex\n/data/");
        LetWindowsPaint();
        EXPECT_EQ(UiGetItemText(list, 0, 1), "/data/");
        UiShutdown();
        EXPECT_FALSE(UiIsInitialised());
        EXPECT_FALSE(UiIsWindow(window_));
        ASSERT_TRUE(UiInit());
        UiSetTestMode(true);
    }
}

TEST_F(ToolkitUiTest, ModalRunDisablesOnlyTheParent) {
    const int tool = UiOpenWindow(0, 0, 200, 200, "Histogram", kUiCaption | kUiCloseBox, window_);
    const int dialog = UiOpenWindow(0, 0, 200, 100, "Levels", kUiDialogFlags, window_);
    UiRunModalBegin(dialog, window_);
    EXPECT_FALSE(UiIsWindowEnabled(window_));
    EXPECT_TRUE(UiIsWindowEnabled(tool));
    EXPECT_TRUE(UiIsWindowEnabled(dialog));
    UiRunModalEnd(dialog, window_);
    EXPECT_TRUE(UiIsWindowEnabled(window_));
    // Closing a parent takes its tool windows and their gadgets along.
    const int button = UiCreateButton(tool, 0, 0, 50, 20, "OK", true);
    UiCloseWindow(window_);
    EXPECT_FALSE(UiIsWindow(tool));
    EXPECT_FALSE(UiIsGadget(button));
}

// Acts: C close box, E Escape, R Return, O OK, X Cancel, A a button of the
// dialog's own, which ends it at the second press.
TEST_F(ToolkitUiTest, ModalDialogEndsAsItsEventsSay) {
    const struct {
        const char* acts;
        bool keys;     // Return and Escape asked for
        int refusals;  // OK presses the dialog refuses first
        bool confirmed;
        int confirms, others, waits;
    } rows[] = {
        {"C", true, 0, false, 0, 0, 1},  {"E", true, 0, false, 0, 0, 1},   {"X", true, 0, false, 0, 0, 1},
        {"R", true, 0, true, 1, 0, 1},   {"OO", true, 1, true, 2, 0, 2},   {"ERX", false, 0, false, 0, 0, 1},
        {"AA", true, 0, true, 0, 2, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.acts);
        const int dialog = UiOpenWindow(0, 0, 200, 100, "Dialog", kUiDialogFlags, window_);
        const int ok = UiCreateButton(dialog, 0, 0, 50, 20, "OK", true);
        const int cancel = UiCreateButton(dialog, 60, 0, 50, 20, "Cancel");
        const int other = UiCreateButton(dialog, 120, 0, 50, 20, "Auto");
        int confirms = 0, others = 0, waits = 0, ends = 0;
        UiDialogLoop loop;
        loop.ok = ok;
        loop.cancel = cancel;
        loop.returnConfirms = loop.escapeCancels = row.keys;
        loop.onStart = [&] {
            EXPECT_FALSE(UiIsWindowEnabled(window_));
            for (const char* act = row.acts; *act; ++act) {
                if (*act == 'C') UiTestQueueCloseBox(dialog);
                if (*act == 'E' || *act == 'R') {
                    EXPECT_EQ(UiTestPressShortcut(dialog, 0, *act == 'E' ? kUiKeyEscape : kUiKeyReturn), row.keys);
                }
                if (*act == 'O' || *act == 'X' || *act == 'A')
                    UiTestQueueGadget(*act == 'O' ? ok : *act == 'X' ? cancel : other, UiEventType::Click);
            }
        };
        loop.beforeWait = [&](int before) { EXPECT_EQ(before, waits++); };
        loop.onConfirm = [&](const UiEvent&) {
            return ++confirms > row.refusals ? UiDialogStep::Confirm : UiDialogStep::Stay;
        };
        loop.onEvent = [&](const UiEvent& event) {
            EXPECT_EQ(event.gadget, other);
            return ++others == 2 ? UiDialogStep::Confirm : UiDialogStep::Stay;
        };
        loop.onEnd = [&](bool confirmed) {
            ++ends;
            EXPECT_EQ(confirmed, row.confirmed);
            EXPECT_TRUE(UiIsWindow(dialog));
        };
        EXPECT_EQ(UiRunModalDialog(dialog, window_, loop), row.confirmed);
        EXPECT_EQ(confirms, row.confirms);
        EXPECT_EQ(others, row.others);
        EXPECT_EQ(waits, row.waits);
        EXPECT_EQ(ends, 1);
        EXPECT_FALSE(UiIsWindow(dialog));
        EXPECT_TRUE(UiIsWindowEnabled(window_));
        EXPECT_EQ(UiTestPendingEvents(), 0u);
    }
}

TEST_F(ToolkitUiTest, ShortcutsAreKeptPerModifierSet) {
    UiAddShortcut(window_, kUiCtrl, 'S', 1);
    UiAddShortcut(window_, kUiCtrl | kUiShift, 'S', 2);
    UiAddShortcut(window_, 0, kUiKeyEscape, kUiFirstDialogId);
    EXPECT_EQ(UiCountShortcuts(window_), 3);
    UiAddShortcut(window_, kUiCtrl, 'S', 7);  // replaces
    EXPECT_EQ(UiGetShortcutId(window_, kUiCtrl, 'S'), 7);
    EXPECT_EQ(UiGetShortcutId(window_, kUiShift, 'S'), -1);
    EXPECT_TRUE(UiTestPressShortcut(window_, kUiCtrl | kUiShift, 'S'));
    EXPECT_FALSE(UiTestPressShortcut(window_, kUiAlt, 'S'));
    const UiEvent e = UiPollEvent();
    EXPECT_EQ(e.kind, UiEventKind::Menu);
    EXPECT_EQ(e.id, 2);
    UiRemoveShortcut(window_, kUiCtrl, 'S');
    EXPECT_EQ(UiCountShortcuts(window_), 2);
}

TEST_F(ToolkitUiTest, RequestersTakeScriptedAnswersAndRecordTheQuestion) {
    UiTestScriptMessageAnswer(0);
    UiTestScriptPath("/tmp/out.PNG", 2);
    UiTestScriptPath("");  // cancel
    UiAnswer files;
    files.paths = {"/a/1.tga", "/a/2.tga"};
    UiTestScriptAnswer(files);
    UiAnswer typed;
    typed.text = "2,5";
    UiTestScriptAnswer(typed);
    UiTestScriptPath("/data/out");

    EXPECT_EQ(UiMessageBox("Dravik Orvanta", "Discard?", UiButtons::YesNo, UiIcon::Warning, window_), 0);
    int chosen = -1;
    EXPECT_EQ(UiSaveFileRequester("Save As", "/tmp/wall.tex", "PNG|*.png|TGA|*.tga|BMP|*.bmp", 0, &chosen), "/tmp/out.PNG");
    EXPECT_EQ(chosen, 2);
    EXPECT_EQ(UiOpenFileRequester("Open file", "/tmp/", "All files (*.*)|*.*"), "");
    EXPECT_EQ(UiOpenFilesRequester("Add files", "/a/", "Source format (*.tga)|*.tga"), files.paths);
    EXPECT_EQ(UiInputRequester("Normal map", "Strength:", "2.0"), std::optional<std::string>("2,5"));
    EXPECT_EQ(UiFolderRequester("Choose the output folder", ""), "/data/out/");

    const std::vector<UiRequest>& asked = UiTestRequests();
    ASSERT_EQ(asked.size(), 6u);
    EXPECT_EQ(asked[0].kind, UiRequestKind::Message);
    EXPECT_EQ(asked[0].text, "Discard?");
    EXPECT_EQ(asked[0].buttons, UiButtons::YesNo);
    EXPECT_EQ(asked[0].icon, UiIcon::Warning);
    EXPECT_EQ(asked[0].parent, window_);
    EXPECT_EQ(asked[1].kind, UiRequestKind::SaveFile);
    EXPECT_EQ(asked[1].startPath, "/tmp/wall.tex");
    EXPECT_EQ(asked[1].patterns, "PNG|*.png|TGA|*.tga|BMP|*.bmp");
    EXPECT_EQ(asked[2].title, "Open file");
    EXPECT_EQ(asked[4].text, "Strength:");
    EXPECT_EQ(asked[4].startPath, "2.0");
    EXPECT_EQ(UiTestPendingAnswers(), 0u);
}

TEST_F(ToolkitUiTest, UnscriptedOrMismatchedRequestersFailAndCancel) {
    CollectFailures();
    EXPECT_EQ(UiMessageBox("t", "x", UiButtons::YesNoCancel), -1);
    EXPECT_EQ(UiOpenFileRequester("Open", "", "*|*"), "");
    int chosen = 5;
    EXPECT_EQ(UiSaveFileRequester("Save", "", "A|*.a|B|*.b", 1, &chosen), "");
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(UiInputRequester("t", "p", "d"), std::nullopt);
    UiTestScriptMessageAnswer(1);  // meant for a message box, reaches a folder requester
    EXPECT_EQ(UiFolderRequester("Folder", "/"), "");
    EXPECT_EQ(failures_.size(), 5u);
}

TEST_F(ToolkitUiTest, ItemDataStaysWithItsRow) {
    const int list = UiCreateListView(window_, 0, 0, 300, 200, kUiMultiSelect | kUiFullRowSelect);
    UiAddListColumn(list, "File", 100);
    UiAddListColumn(list, "Location", 180);
    for (int i = 0; i < 4; ++i) {
        const int row = UiAddItem(list, "f" + std::to_string(i) + ".tex\n/data/" + std::to_string(i) + "/");
        UiSetItemData(list, row, 100 + i);
    }
    EXPECT_EQ(UiAddItem(list, "first.tex\n/top/", 0), 0);
    UiSetItemData(list, 0, 99);
    UiRemoveItem(list, 2);  // was f1
    ASSERT_EQ(UiCountItems(list), 4);
    const int64_t data[] = {99, 100, 102, 103};
    const char* names[] = {"first.tex", "f0.tex", "f2.tex", "f3.tex"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(UiGetItemData(list, i), data[i]);
        EXPECT_EQ(UiGetItemText(list, i), names[i]);
    }
    EXPECT_EQ(UiGetItemText(list, 0, 1), "/top/");
    UiRemoveItem(list, 9);
    UiRemoveItem(list, -1);
    EXPECT_EQ(UiCountItems(list), 4);
    EXPECT_EQ(UiGetItemData(list, 9), 0);
    UiClearItems(list);
    EXPECT_EQ(UiCountItems(list), 0);

    const int combo = UiCreateCombo(window_, 0, 210, 200, 24);
    for (int i = 0; i < 3; ++i) UiSetItemData(combo, UiAddItem(combo, "item"), i * 10);
    UiSetGadgetState(combo, 7);  // out of range: ignored
    EXPECT_EQ(UiGetGadgetState(combo), -1);
    UiSetGadgetState(combo, 2);
    EXPECT_EQ(UiGetItemData(combo, UiGetGadgetState(combo)), 20);
}

TEST_F(ToolkitUiTest, DroppedFilesArriveAsOneGadgetEvent) {
    const int list = UiCreateListView(window_, 0, 0, 300, 200);
    UiEnableFileDrop(list, true);
    UiTestQueueFilesDropped(list, {"/a/x.tex", "/b/y.dds"});
    const UiEvent e = UiWaitWindowEvent(window_);
    EXPECT_EQ(e.gadget, list);
    EXPECT_EQ(e.type, UiEventType::FilesDropped);
    EXPECT_EQ(UiGetDroppedFiles(), (std::vector<std::string>{"/a/x.tex", "/b/y.dds"}));
}

TEST_F(ToolkitUiTest, CanvasBufferAndPainterGiveThePixelsShown) {
    const int canvas = UiCreateCanvas(window_, 0, 0, 64, 32);
    Image* buffer = UiCanvasImage(canvas);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->width, 64);
    FillRect(*buffer, 10, 10, 5, 5, MakeColour(1, 2, 3));
    UiShowCanvas(canvas);
    EXPECT_EQ(UiGetCanvasPixel(canvas, 12, 12), MakeColour(1, 2, 3));
    EXPECT_EQ(UiGetCanvasPixel(canvas, 64, 0), 0u);  // outside
    // A painter is asked for exactly the pixels read, at their canvas position.
    UiSetCanvasPainter(canvas, [](Image& target, int left, int top) {
        for (int y = 0; y < target.height; ++y)
            for (int x = 0; x < target.width; ++x) SetPixelColour(target, x, y, MakeColour(left + x, top + y, 0));
    });
    EXPECT_EQ(UiCanvasImage(canvas), nullptr);
    EXPECT_EQ(UiGetCanvasPixel(canvas, 40, 20), MakeColour(40, 20, 0));
    UiResizeGadget(canvas, -1, -1, 3000, 3000);
    EXPECT_EQ(UiCanvasImage(canvas), nullptr);  // no buffer of the new size
    EXPECT_EQ(UiCanvasPixelWidth(canvas), 3000);
    UiPaintCanvasNow(canvas);
    UiSetCanvasPainter(canvas, nullptr);
    ASSERT_NE(UiCanvasImage(canvas), nullptr);
    EXPECT_EQ(UiCanvasImage(canvas)->height, 3000);
}

TEST_F(ToolkitUiTest, ScrollAreaPlacesChildrenInItsInnerArea) {
    const int scroll = UiCreateScrollArea(window_, 4, 4, 200, 100, 1034, 1034, 1, true);
    const int canvas = UiCreateCanvas(scroll, 4, 4, 1024, 1024);
    UiSetScrollPosition(scroll, 300, 500);
    int x = 0, y = 0;
    UiGetScrollPosition(scroll, &x, &y);
    EXPECT_GT(x + y, 0);
    // Geometry is given and read back in the inner area's coordinates.
    UiResizeGadget(canvas, -1, -1, 512, 256);
    EXPECT_EQ(UiGetGadgetRect(canvas).x, 4);
    EXPECT_EQ(UiGetGadgetRect(canvas).y, 4);
    EXPECT_EQ(UiGetGadgetRect(canvas).width, 512);
    UiSetScrollInnerSize(scroll, 520, 264);
    int w = 0, h = 0;
    UiGetScrollInnerSize(scroll, &w, &h);
    EXPECT_EQ(w, 520);
    EXPECT_EQ(h, 264);
    // Shrinking pulls the scroll position back, and the canvas with it, also
    // when the area no longer scrolls at all.
    for (const int side : {256, 50}) {
        UiSetScrollPosition(scroll, 300, 500);
        UiResizeGadget(canvas, -1, -1, side, side);
        UiSetScrollInnerSize(scroll, side + 8, side + 8);
        EXPECT_EQ(UiGetGadgetRect(canvas).y, 4) << side;
        EXPECT_GT(UiGetCanvasVisibleRect(canvas).height, 0) << side;
    }
}

TEST(ToolkitUiDraw, LinesBoxesAndFillsStayInsideAndBlend) {
    ImagePtr image = CreateImage(20, 10, 32, MakeColour(0, 0, 0));
    UiDrawLine(*image, -5, 2, 30, 2, MakeColour(255, 255, 255));
    for (int x = 0; x < 20; ++x) EXPECT_EQ(GetPixelColour(*image, x, 2), MakeColour(255, 255, 255));
    UiDrawLine(*image, 0, 0, 3, 3, MakeColour(9, 9, 9));
    EXPECT_EQ(GetPixelColour(*image, 3, 3), MakeColour(9, 9, 9));
    // A half-transparent box blends exactly as the image layer does.
    ImagePtr blended = CreateImage(20, 10, 32, MakeColour(0, 0, 0));
    ImagePtr red = CreateImage(1, 1, 32, MakeColour(255, 60, 60, 140));
    DrawImage(*blended, *red, 0, 0, DrawMode::AlphaBlend);
    UiDrawBox(*image, 0, 5, 1, 1, MakeColour(255, 60, 60, 140), true);
    EXPECT_EQ(GetPixelColour(*image, 0, 5), GetPixelColour(*blended, 0, 0));
    // An outline leaves the inside alone.
    UiDrawBox(*image, 10, 4, 5, 5, MakeColour(1, 1, 1), false);
    EXPECT_EQ(GetPixelColour(*image, 10, 4), MakeColour(1, 1, 1));
    EXPECT_EQ(GetPixelColour(*image, 14, 8), MakeColour(1, 1, 1));
    EXPECT_EQ(GetPixelColour(*image, 12, 6), MakeColour(0, 0, 0));
    // The flood fill stops at the outline.
    UiFloodFill(*image, 12, 6, MakeColour(7, 7, 7));
    EXPECT_EQ(GetPixelColour(*image, 13, 7), MakeColour(7, 7, 7));
    EXPECT_EQ(GetPixelColour(*image, 16, 6), MakeColour(0, 0, 0));
    UiFloodFill(*image, 40, 40, MakeColour(7, 7, 7));  // outside: nothing
    UiDrawBox(*image, 0, 0, 0, 5, MakeColour(3, 3, 3), true);
}

TEST_F(ToolkitUiTest, TextIsDrawnInItsColourOnly) {
    ImagePtr image = CreateImage(120, 30, 32, MakeColour(40, 40, 40));
    UiDrawText(*image, 2, 2, "255", MakeColour(180, 180, 180));
    // Smoothed glyph edges mix the two colours; nothing else may appear.
    int lit = 0, touched = 0, other = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x) {
            const uint32_t c = GetPixelColour(*image, x, y);
            if (c == MakeColour(180, 180, 180)) ++lit;
            if (c != MakeColour(40, 40, 40)) ++touched;
            if (ColourRed(c) != ColourGreen(c) || ColourRed(c) < 40 || ColourRed(c) > 180) ++other;
        }
    EXPECT_GT(lit, 0);
    EXPECT_GT(touched, 10);
    EXPECT_EQ(other, 0);
    EXPECT_GT(UiTextWidth("255"), 5);
    UiDrawText(*image, -50, -50, "clipped", MakeColour(1, 1, 1));
}

}  // namespace
