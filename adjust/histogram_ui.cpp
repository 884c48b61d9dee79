#include "adjust/histogram_ui.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "adjust/histogram.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr uint32_t kAxisTick = MakeColour(150, 150, 150);
constexpr uint32_t kAxisText = MakeColour(180, 180, 180);
constexpr uint32_t kWhitePointColour = MakeColour(255, 200, 0);

bool HistogramWindowOpen() { return gHistogramWindow != 0 && UiIsWindow(gHistogramWindow); }

// Bar height for a count: linear, or logarithmic so small counts stay visible.
int BarHeight(int64_t count, int64_t largest, int height) {
    if (count <= 0) return 0;
    if (gHistogramLog == 1)
        return int(std::nearbyint(height * std::log(double(count) + 1.0) / std::log(double(largest) + 1.0)));
    return int(count * int64_t(height) / largest);
}

int SelectedItem() {
    const int index = UiGetGadgetState(gHistogramChannelGadget);
    if (index < 0 || index >= UiCountItems(gHistogramChannelGadget)) return kHistItemRgb;
    return int(UiGetItemData(gHistogramChannelGadget, index));
}

void DrawEightBitItem(Image& canvas, int item, int x0, int y0, int pw, int ph) {
    struct Plot {
        int row;
        uint32_t colour;
    };
    Plot plots[3];
    int count = 0;
    switch (item) {
        case kHistItemRgb:
            plots[count++] = {kHistRed, MakeColour(255, 60, 60, 140)};
            plots[count++] = {kHistGreen, MakeColour(60, 255, 60, 140)};
            plots[count++] = {kHistBlue, MakeColour(80, 120, 255, 140)};
            break;
        case kHistItemRed: plots[count++] = {kHistRed, MakeColour(255, 60, 60)}; break;
        case kHistItemGreen: plots[count++] = {kHistGreen, MakeColour(60, 255, 60)}; break;
        case kHistItemBlue: plots[count++] = {kHistBlue, MakeColour(80, 120, 255)}; break;
        case kHistItemLuminance: plots[count++] = {kHistLuminance, MakeColour(230, 230, 230)}; break;
        default: plots[count++] = {kHistAlpha, MakeColour(200, 200, 200)}; break;
    }
    int64_t largest = 1;
    for (int i = 0; i < count; ++i)
        for (int64_t n : gHistogramCounts[plots[i].row]) largest = std::max(largest, n);
    for (int i = 0; i < count; ++i) DrawHistogramChannel(plots[i].row, plots[i].colour, largest, x0, y0, pw, ph);

    for (int i = 0; i <= 4; ++i) {
        const int x = x0 + (i * 64 * pw) / 256;
        UiDrawBox(canvas, x, y0 + ph, 1, 4, kAxisTick, true);
        const int value = i == 4 ? 255 : i * 64;
        UiDrawText(canvas, x - (i == 4 ? 22 : 8), y0 + ph + 6, std::to_string(value), kAxisText);
    }
}

void DrawHdrItem(Image& canvas, int x0, int y0, int pw, int ph) {
    int64_t largest = 1;
    for (int64_t n : gHdrHistogramBins) largest = std::max(largest, n);
    const int barWidth = pw / kHdrHistogramBinCount + 1;
    for (int i = 0; i < kHdrHistogramBinCount; ++i) {
        const int h = BarHeight(gHdrHistogramBins[i], largest, ph);
        if (h > 0)
            UiDrawBox(canvas, x0 + (i * pw) / kHdrHistogramBinCount, y0 + ph - h, barWidth, h,
                      MakeColour(230, 230, 230), true);
    }
    const double lo = gHdrHistogramMin, hi = gHdrHistogramMax, span = hi - lo;
    if (span <= 0.0) return;
    for (double s = std::ceil(lo); s <= hi; s += 1.0) {
        const int x = x0 + int(std::nearbyint(pw * (s - lo) / span));
        UiDrawBox(canvas, x, y0 + ph, 1, 4, kAxisTick, true);
        UiDrawText(canvas, x - 6, y0 + ph + 6, FormatFixed(s, 0), kAxisText);
    }
    const double wx = x0 + pw * (gHistogramWhitePoint - lo) / span;
    if (wx >= x0 - 0.5 && wx <= x0 + pw + 0.5) {
        const int x = int(std::nearbyint(wx));
        if (x >= x0 && x <= x0 + pw) {
            UiDrawBox(canvas, x - 1, y0, 2, ph, kWhitePointColour, true);
            UiDrawText(canvas, x + 3, y0 + 2, "white point", kWhitePointColour);
        }
    }
}

}  // namespace

void DrawHistogramChannel(int row, uint32_t colour, int64_t largest, int x, int y, int width, int height) {
    Image* canvas = gHistogramCanvas ? UiCanvasImage(gHistogramCanvas) : nullptr;
    if (!canvas || row < 0 || row > 4) return;
    largest = std::max<int64_t>(largest, 1);
    const int64_t* const counts = gHistogramCounts[row];
    for (int v = 0; v < 256; ++v) {
        const int x1 = x + (v * width) / 256;
        const int x2 = x + ((v + 1) * width) / 256;
        const int h = BarHeight(counts[v], largest, height);
        if (h > 0) UiDrawBox(*canvas, x1, y + height - h, x2 - x1, h, colour, true);
    }
}

void DrawHistogram() {
    if (!HistogramWindowOpen()) return;
    const int item = SelectedItem();
    std::string line;
    if (Image* canvas = UiCanvasImage(gHistogramCanvas)) {
        const int w = UiCanvasPixelWidth(gHistogramCanvas), h = UiCanvasPixelHeight(gHistogramCanvas);
        const int x0 = 8, y0 = 8, pw = std::max(w - 16, 1), ph = std::max(h - 30, 1);
        FillRect(*canvas, 0, 0, w, h, MakeColour(40, 40, 40));
        FillRect(*canvas, x0, y0, pw, ph, MakeColour(25, 25, 25));
        if (item == kHistItemHdr)
            DrawHdrItem(*canvas, x0, y0, pw, ph);
        else
            DrawEightBitItem(*canvas, item, x0, y0, pw, ph);
        line = FormatHistogramStats(item);
        UiShowCanvas(gHistogramCanvas);
    }
    UiSetGadgetText(gHistogramStats, line);
}

void FillHistogramChannelList() {
    const int selected = UiGetGadgetState(gHistogramChannelGadget);
    const int64_t remembered =
        selected >= 0 && selected < UiCountItems(gHistogramChannelGadget) ? UiGetItemData(gHistogramChannelGadget, selected)
                                                                          : -1;
    UiClearItems(gHistogramChannelGadget);
    const char* const names[] = {"RGB", "Red", "Green", "Blue", "Luminance", "Alpha", "HDR brightness (stops)"};
    const int count = gIsHdrImage == 1 ? 7 : 6;
    for (int i = 0; i < count; ++i) {
        const int index = UiAddItem(gHistogramChannelGadget, names[i]);
        UiSetItemData(gHistogramChannelGadget, index, i);
    }
    UiSetGadgetState(gHistogramChannelGadget, remembered >= 0 && remembered < count ? int(remembered) : 0);
}

void HandleLogScaleToggle() {
    gHistogramLog = UiGetGadgetState(gHistogramLogCheck) == 1 ? 1 : 0;
    DrawHistogram();
}

void HandleHistogramChannelChange() { DrawHistogram(); }

void CloseHistogramWindow() {
    const int window = gHistogramWindow;
    UiUnbindCloseBox(window);
    UiCloseWindow(window);
    gHistogramWindow = gHistogramChannelGadget = gHistogramLogCheck = gHistogramCanvas = gHistogramStats = 0;
}

void UpdateHistogram(const Image* image, const TexInfo& info, double exposure) {
    if (!HistogramWindowOpen() || !image) return;
    gHistogramWhitePoint = 0.0 - exposure;  // never -0, which would print as "-0.0"
    ComputeHistogram(image, info);
    FillHistogramChannelList();
    UiSetWindowTitle(gHistogramWindow, "Histogram - " + info.formatText);
    DrawHistogram();
}

void ShowHistogramWindow(const Image* image, const TexInfo& info, double exposure, int ownerWindow) {
    if (!HistogramWindowOpen()) {
        const int window = UiOpenWindow(0, 0, 680, 330, "Histogram", kUiDialogFlags, ownerWindow);
        if (!window) return;
        gHistogramWindow = window;
        gHistogramChannelGadget = UiCreateCombo(window, 8, 8, 220, 24);
        gHistogramLogCheck = UiCreateCheckBox(window, 240, 8, 200, 24, "Logarithmic scale");
        UiSetGadgetState(gHistogramLogCheck, gHistogramLog == 1 ? 1 : 0);
        gHistogramCanvas = UiCreateCanvas(window, 8, 40, 664, 250);
        gHistogramStats = UiCreateLabel(window, 8, 300, 664, 20, "");
        UiBindGadget(gHistogramLogCheck, UiEventType::None, HandleLogScaleToggle);
        UiBindGadget(gHistogramChannelGadget, UiEventType::Change, HandleHistogramChannelChange);
        UiBindCloseBox(window, CloseHistogramWindow);
    }
    UpdateHistogram(image, info, exposure);
    UiActivateWindow(gHistogramWindow);
}
