// The histogram window: opening from the menu, the channel list, the log
// scale, the HDR item and its white point, the close box, and its callbacks
// while a modal dialog holds the main window.
#include "tests/editor_fixture.h"

#include "adjust/histogram.h"
#include "adjust/histogram_ui.h"
#include "adjust/resize_ui.h"
#include "editor/commands.h"

namespace {

class EditorHistogram : public EditorTest {
protected:
    // Picture: `lit` pixels of pure red, the rest black, all opaque.
    void ShowRed(int w, int h, int lit) {
        ImagePtr image = CreateImage(w, h, 32, MakeColour(0, 0, 0));
        for (int i = 0; i < lit; ++i) SetPixelColour(*image, i % w, i / w, MakeColour(255, 0, 0));
        gTexInfo.formatText = "RGBA 8888";
        ShowPicture(std::move(image));
    }
    void Open() { DispatchCommand(14); }
    std::vector<std::string> Items() const {
        std::vector<std::string> items;
        for (int i = 0; i < UiCountItems(gHistogramChannelGadget); ++i)
            items.push_back(UiGetItemText(gHistogramChannelGadget, i));
        return items;
    }
    void Choose(int item) {
        UiSetGadgetState(gHistogramChannelGadget, item);
        UiTestQueueGadget(gHistogramChannelGadget, UiEventType::Change);
        UiTestClearEvents();
    }
    uint32_t Pixel(int x, int y) const { return UiGetCanvasPixel(gHistogramCanvas, x, y) & 0xFFFFFFu; }
    int PlotWidth() const { return UiCanvasPixelWidth(gHistogramCanvas) - 16; }
    int PlotBase() const { return 8 + UiCanvasPixelHeight(gHistogramCanvas) - 30; }  // y0 + ph
    static constexpr uint32_t kPlotBack = MakeColour(25, 25, 25) & 0xFFFFFFu;
};

TEST_F(EditorHistogram, OpensFromTheMenuAndFollowsEdits) {
    ShowRed(10, 10, 30);
    Open();
    ASSERT_TRUE(UiIsWindow(gHistogramWindow));
    EXPECT_EQ(UiGetWindowTitle(gHistogramWindow), "Histogram - RGBA 8888");
    EXPECT_EQ(Items(), (std::vector<std::string>{"RGB", "Red", "Green", "Blue", "Luminance", "Alpha"}));
    EXPECT_EQ(UiGetGadgetState(gHistogramChannelGadget), 0);
    EXPECT_EQ(UiGetGadgetText(gHistogramStats), "(luminance) Mean: 16.2   Min: 0   Max: 54   Pixels: 100");

    Choose(1);
    EXPECT_EQ(UiGetGadgetText(gHistogramStats), "Mean: 76.5   Min: 0   Max: 255   Pixels: 100");
    // The red bar at 255 stands the full plot height; the background shows
    // above the short one.
    const int x255 = 8 + 255 * PlotWidth() / 256 + 1;
    EXPECT_EQ(Pixel(x255, PlotBase() - 1), MakeColour(255, 60, 60) & 0xFFFFFFu);

    // A second command only refreshes the same window; an edit recounts.
    const int window = gHistogramWindow;
    Open();
    EXPECT_EQ(gHistogramWindow, window);
    ImagePtr edited = CreateImage(10, 10, 32, MakeColour(255, 0, 0));
    CommitEdit(std::move(edited), "Test edit", "");
    EXPECT_EQ(UiGetGadgetState(gHistogramChannelGadget), 1) << "the chosen channel is kept";
    EXPECT_EQ(UiGetGadgetText(gHistogramStats), "Mean: 255.0   Min: 255   Max: 255   Pixels: 100");
}

TEST_F(EditorHistogram, LogScaleRedrawsAndOutlivesTheWindow) {
    ShowRed(10, 10, 1);  // counts 99 and 1: the single pixel's bar is tiny unless logarithmic
    Open();
    Choose(1);
    const int x255 = 8 + 255 * PlotWidth() / 256 + 1, y = PlotBase() - 20;
    EXPECT_EQ(Pixel(x255, y), kPlotBack);
    UiSetGadgetState(gHistogramLogCheck, 1);
    UiTestQueueGadget(gHistogramLogCheck, UiEventType::Click);
    EXPECT_EQ(gHistogramLog, 1);
    EXPECT_NE(Pixel(x255, y), kPlotBack);

    UiTestQueueCloseBox(gHistogramWindow);
    UiTestClearEvents();
    EXPECT_EQ(gHistogramWindow, 0);
    Open();
    ASSERT_TRUE(UiIsWindow(gHistogramWindow));
    EXPECT_EQ(UiGetGadgetState(gHistogramLogCheck), 1);
    EXPECT_EQ(UiGetGadgetState(gHistogramChannelGadget), 0) << "a new window starts at RGB";
}

TEST_F(EditorHistogram, HdrItemWhitePointAndFallback) {
    ShowRed(4, 4, 0);
    gTexInfo.isHdr = 1;
    gTexInfo.hdrData = std::make_unique<HdrBlock>();
    gTexInfo.hdrData->width = gTexInfo.hdrData->height = 4;
    gTexInfo.hdrData->bytes.assign(64, 128);
    for (size_t i = 3; i < 64; i += 4) gTexInfo.hdrData->bytes[i] = 129;  // every pixel just above 0 stops
    Open();
    ASSERT_EQ(UiCountItems(gHistogramChannelGadget), 7);
    EXPECT_EQ(UiGetItemText(gHistogramChannelGadget, 6), "HDR brightness (stops)");
    Choose(6);
    EXPECT_EQ(UiGetGadgetText(gHistogramStats),
              "Range: 0 to 4 stops   median: 0.0   white point: 0.0 (exposure 0.0 EV)");
    const uint32_t marker = MakeColour(255, 200, 0) & 0xFFFFFFu;
    EXPECT_EQ(Pixel(8, 20), marker);

    // A new exposure moves the marker: white point -2 is left of the axis.
    UpdateHistogram(gCurrentImage.get(), gTexInfo, -2.0);
    EXPECT_EQ(UiGetGadgetText(gHistogramStats),
              "Range: 0 to 4 stops   median: 0.0   white point: 2.0 (exposure -2.0 EV)");
    EXPECT_NE(Pixel(8, 20), marker);
    EXPECT_EQ(Pixel(8 + PlotWidth() / 2, 20), marker);
    UpdateHistogram(gCurrentImage.get(), gTexInfo, 2.0);
    EXPECT_NE(Pixel(8, 20), marker);
    EXPECT_NE(Pixel(8 + PlotWidth() / 2, 20), marker);

    // The same window on a plain picture: the HDR item goes, RGB is chosen.
    FreeTexHdrData(gTexInfo);
    gTexInfo.isHdr = 0;
    UpdateHistogram(gCurrentImage.get(), gTexInfo, 0.0);
    EXPECT_EQ(UiCountItems(gHistogramChannelGadget), 6);
    EXPECT_EQ(UiGetGadgetState(gHistogramChannelGadget), 0);
    // No picture: the window keeps what it shows.
    const std::string before = UiGetGadgetText(gHistogramStats);
    UpdateHistogram(nullptr, gTexInfo, 0.0);
    EXPECT_EQ(UiGetGadgetText(gHistogramStats), before);
}

TEST_F(EditorHistogram, AnswersWhileTheResizeDialogIsOpen) {
    ShowRed(10, 10, 30);
    Open();
    std::string seen;
    SetResizeDialogHookForTesting([&](const ResizeDialogGadgets& g, int wait) {
        if (wait != 0) return;
        EXPECT_FALSE(UiIsWindowEnabled(gMainWindow));
        Choose(5);
        seen = UiGetGadgetText(gHistogramStats);
        UiTestQueueGadget(g.cancel, UiEventType::Click);
    });
    DispatchCommand(16);
    SetResizeDialogHookForTesting(nullptr);
    EXPECT_EQ(seen, "Mean: 255.0   Min: 255   Max: 255   Pixels: 100");
    EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
}

}  // namespace
