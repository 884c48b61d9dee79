#include "adjust/levels_ui.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "adjust/document_ui.h"
#include "toolkit/numbers.h"
#include "toolkit/ui/ui.h"

LevelsSet gLevelsRecords;
ChannelHistogram gLevelsCounts;
int64_t gLevelsValueCount = 1;
LevelsLut gLevelsLut;
LevelsClipMarks gLevelsClipMask;
int64_t gLevelsClippedCount = 0;
const Image* gLevelsSourceImage = nullptr;
LevelsPreviewProc gLevelsPreviewCallback = nullptr;
int gLevelsWindow = 0;
int gLevelsChannelCombo = 0, gLevelsCanvas = 0, gLevelsInBlackField = 0, gLevelsGammaField = 0,
    gLevelsInWhiteField = 0, gLevelsOutBlackField = 0, gLevelsOutWhiteField = 0, gLevelsShowClipCheck = 0,
    gLevelsClipText = 0;

namespace {

LevelsDialogHook gDialogHook;

// Each input value owns two canvas pixels of the plot.
constexpr int kPlotWidth = 512;
constexpr int kPlotHeight = 150;
// How often a drag may rebuild the picture preview.
constexpr int64_t kPreviewIntervalMs = 120;

enum Handle { kNoHandle = -1, kBlackHandle = 0, kGammaHandle = 1, kWhiteHandle = 2 };

int SelectedChannel() { return std::clamp(UiGetGadgetState(gLevelsChannelCombo), 0, 3); }
LevelsRecord& CurrentRecord() { return gLevelsRecords[size_t(SelectedChannel())]; }

int PlotLeft() { return (UiCanvasPixelWidth(gLevelsCanvas) - kPlotWidth) / 2; }

void ClearGadgetNumbers() {
    gLevelsWindow = 0;
    gLevelsChannelCombo = gLevelsCanvas = gLevelsInBlackField = gLevelsGammaField = gLevelsInWhiteField = 0;
    gLevelsOutBlackField = gLevelsOutWhiteField = gLevelsShowClipCheck = gLevelsClipText = 0;
}

void DrawHandle(Image& canvas, int x, uint32_t outline, uint32_t fill) {
    UiDrawLine(canvas, x, 152, x - 6, 164, outline);
    UiDrawLine(canvas, x - 6, 164, x + 6, 164, outline);
    UiDrawLine(canvas, x + 6, 164, x, 152, outline);
    UiFloodFill(canvas, x, 160, fill);
}

// True when the five fields show exactly what the current record holds, so
// the program's own writes into them are not taken as typing.
bool FieldsMatchRecord() {
    const LevelsRecord& r = CurrentRecord();
    return UiGetGadgetText(gLevelsInBlackField) == std::to_string(r.inBlack) &&
           UiGetGadgetText(gLevelsGammaField) == FormatFixed(r.gamma, 2) &&
           UiGetGadgetText(gLevelsInWhiteField) == std::to_string(r.inWhite) &&
           UiGetGadgetText(gLevelsOutBlackField) == std::to_string(r.outBlack) &&
           UiGetGadgetText(gLevelsOutWhiteField) == std::to_string(r.outWhite);
}

void ReadFieldsIntoRecord() {
    LevelsRecord& r = CurrentRecord();
    r.inBlack = ReadClampedField(gLevelsInBlackField, 0, 253);
    r.inWhite = ReadClampedField(gLevelsInWhiteField, r.inBlack + 2, 255);
    r.outBlack = ReadClampedField(gLevelsOutBlackField, 0, 255);
    r.outWhite = ReadClampedField(gLevelsOutWhiteField, 0, 255);
    // Out-of-range or unreadable gamma (NaN fails both tests) keeps the old one.
    const double gamma = ParseFloatText(UiGetGadgetText(gLevelsGammaField), true);
    if (gamma >= 0.1 && gamma <= 9.99) r.gamma = gamma;
}

int PickHandle(int v) {
    const LevelsRecord& r = CurrentRecord();
    const double distances[3] = {std::fabs(double(v - r.inBlack)), std::fabs(v - GetGammaHandlePosition(r)),
                                 std::fabs(double(v - r.inWhite))};
    int best = kBlackHandle;
    for (int h = kGammaHandle; h <= kWhiteHandle; ++h)
        if (distances[h] < distances[best]) best = h;
    return best;
}

void MoveHandle(int handle, int v) {
    LevelsRecord& r = CurrentRecord();
    if (handle == kBlackHandle) {
        r.inBlack = std::min<int64_t>(v, r.inWhite - 2);
    } else if (handle == kWhiteHandle) {
        r.inWhite = std::max<int64_t>(v, r.inBlack + 2);
    } else {
        double t = double(v - r.inBlack) / double(r.inWhite - r.inBlack);
        t = std::clamp(t, 0.01, 0.99);
        r.gamma = std::clamp(std::log(t) / std::log(0.5), 0.1, 9.99);
    }
}

}  // namespace

void ResetLevelsGlobals() {
    ResetAllLevelsRecords(gLevelsRecords);
    for (auto& c : gLevelsCounts) c.fill(0);
    gLevelsValueCount = 1;
    for (auto& c : gLevelsLut) c.fill(0);
    for (auto& c : gLevelsClipMask) c.fill(0);
    gLevelsClippedCount = 0;
    gLevelsSourceImage = nullptr;
    gLevelsPreviewCallback = nullptr;
    ClearGadgetNumbers();
}

void SetLevelsDialogHookForTesting(LevelsDialogHook hook) { gDialogHook = std::move(hook); }

int64_t ReadClampedField(int field, int64_t low, int64_t high) {
    const std::string text = UiGetGadgetText(field);
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Long digit runs saturate instead of overflowing; the clamp follows anyway.
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), 1000000000);
    if (negative) value = -value;
    return std::clamp(value, low, std::max(low, high));
}

void ShowLevelsChannelValues() {
    const LevelsRecord& r = CurrentRecord();
    UiSetGadgetText(gLevelsInBlackField, std::to_string(r.inBlack));
    UiSetGadgetText(gLevelsGammaField, FormatFixed(r.gamma, 2));
    UiSetGadgetText(gLevelsInWhiteField, std::to_string(r.inWhite));
    UiSetGadgetText(gLevelsOutBlackField, std::to_string(r.outBlack));
    UiSetGadgetText(gLevelsOutWhiteField, std::to_string(r.outWhite));
}

void DrawLevelsHistogram() {
    Image* canvas = UiCanvasImage(gLevelsCanvas);
    if (!canvas) return;
    const int channel = SelectedChannel();
    const LevelsRecord& r = CurrentRecord();
    const int left = PlotLeft();

    std::array<int64_t, 256> values{};
    for (size_t v = 0; v < 256; ++v) {
        values[v] = channel == 0 ? (gLevelsCounts[0][v] + gLevelsCounts[1][v] + gLevelsCounts[2][v]) / 3
                                 : gLevelsCounts[size_t(channel) - 1][v];
    }
    const int64_t max = std::max<int64_t>(*std::max_element(values.begin(), values.end()), 1);

    FillRect(*canvas, 0, 0, canvas->width, canvas->height, MakeColour(240, 240, 240));
    FillRect(*canvas, left, 0, kPlotWidth, kPlotHeight, MakeColour(30, 30, 30));
    const uint32_t shade = MakeColour(70, 30, 30);
    FillRect(*canvas, left, 0, int(2 * r.inBlack), kPlotHeight, shade);
    FillRect(*canvas, left + int(2 * r.inWhite) + 2, 0, int(510 - 2 * r.inWhite), kPlotHeight, shade);

    static const uint32_t kBarColours[4] = {MakeColour(220, 220, 220), MakeColour(230, 70, 70),
                                            MakeColour(70, 200, 70), MakeColour(90, 120, 240)};
    for (int v = 0; v < 256; ++v) {
        const int h = int(std::lrint(std::sqrt(double(values[size_t(v)]) / double(max)) * 146.0));
        if (h > 0) FillRect(*canvas, left + 2 * v, kPlotHeight - h, 2, h, kBarColours[channel]);
    }

    DrawHandle(*canvas, left + int(2 * r.inBlack), MakeColour(0, 0, 0), MakeColour(0, 0, 0));
    DrawHandle(*canvas, left + int(std::lrint(2.0 * GetGammaHandlePosition(r))), MakeColour(90, 90, 90),
               MakeColour(128, 128, 128));
    DrawHandle(*canvas, left + int(2 * r.inWhite), MakeColour(0, 0, 0), MakeColour(255, 255, 255));
    UiShowCanvas(gLevelsCanvas);
}

void UpdateLevelsPreview(bool live) {
    BuildLevelsLut(gLevelsRecords, gLevelsLut);
    BuildLevelsClipMask(gLevelsRecords, gLevelsClipMask);
    gLevelsClippedCount = CountMarkedHistogramValues(gLevelsCounts, gLevelsClipMask);
    const int64_t merged = CountMergedTones(gLevelsCounts, gLevelsLut);

    std::string text;
    if (gLevelsClippedCount < 1) {
        text = "Clipping: none";
        UiSetGadgetTextColour(gLevelsClipText, MakeColour(0, 120, 0));
    } else {
        const double percent = double(gLevelsClippedCount) * 100.0 / double(gLevelsValueCount);
        text = "Clipping: " + std::to_string(gLevelsClippedCount) + " values (" + FormatFixed(percent, 2) +
               "%) become pure black or white";
        UiSetGadgetTextColour(gLevelsClipText, MakeColour(200, 0, 0));
    }
    if (merged > 0) text += "    Merged tones: " + std::to_string(merged);
    UiSetGadgetText(gLevelsClipText, text);

    DrawLevelsHistogram();

    if (live && gLevelsSourceImage && gLevelsPreviewCallback) {
        // Only the part on screen is mapped: the dialog holds no copy of the
        // picture, so it opens and follows a drag whatever the picture's size
        // and the memory left; OK alone makes the result, checked as every
        // edit is. A part without room leaves the preview as it was.
        gLevelsPreviewCallback([lut = gLevelsLut, marks = gLevelsClipMask,
                                clip = UiGetGadgetState(gLevelsShowClipCheck)](const Image& part) {
            return ApplyLevelsToCopy(part, lut, clip, marks);
        });
    }
}

void PreviewThroughView(const PictureView& view) { PreviewPictureOnce(view); }

bool RunLevelsDialog(int parentWindow, const Image& source, LevelsSet& destination, LevelsPreviewProc preview,
                     int64_t& clippedCount) {
    gLevelsSourceImage = &source;
    gLevelsPreviewCallback = preview;
    ResetAllLevelsRecords(gLevelsRecords);
    ComputeChannelHistograms(source, gLevelsCounts);
    gLevelsValueCount = 0;
    for (const auto& channel : gLevelsCounts)
        for (int64_t c : channel) gLevelsValueCount += c;
    if (gLevelsValueCount == 0) gLevelsValueCount = 1;

    const int window = UiOpenWindow(0, 0, 560, 380, "Levels", kUiDialogFlags, parentWindow);
    if (!window) {
        gLevelsSourceImage = nullptr;
        gLevelsPreviewCallback = nullptr;
        return false;
    }
    gLevelsWindow = window;
    UiCreateLabel(window, 14, 14, 60, 20, "Channel:");
    gLevelsChannelCombo = UiCreateCombo(window, 76, 10, 120, 24);
    for (const char* item : {"RGB", "Red", "Green", "Blue"}) UiAddItem(gLevelsChannelCombo, item);
    const int autoButton = UiCreateButton(window, 378, 9, 80, 26, "Auto");
    const int resetButton = UiCreateButton(window, 466, 9, 80, 26, "Reset");
    gLevelsCanvas = UiCreateCanvas(window, 14, 42, 532, 168);
    UiCreateLabel(window, 14, 224, 54, 20, "Input:");
    UiCreateLabel(window, 70, 224, 40, 20, "Black");
    gLevelsInBlackField = UiCreateTextField(window, 112, 220, 60, 24, "0");
    UiCreateLabel(window, 190, 224, 50, 20, "Gamma");
    gLevelsGammaField = UiCreateTextField(window, 242, 220, 60, 24, "1.00");
    UiCreateLabel(window, 320, 224, 44, 20, "White");
    gLevelsInWhiteField = UiCreateTextField(window, 366, 220, 60, 24, "255");
    UiCreateLabel(window, 14, 256, 54, 20, "Output:");
    UiCreateLabel(window, 70, 256, 40, 20, "Black");
    gLevelsOutBlackField = UiCreateTextField(window, 112, 252, 60, 24, "0");
    UiCreateLabel(window, 320, 256, 44, 20, "White");
    gLevelsOutWhiteField = UiCreateTextField(window, 366, 252, 60, 24, "255");
    gLevelsShowClipCheck =
        UiCreateCheckBox(window, 14, 286, 532, 22, "Show clipping (red = to white, blue = to black)");
    gLevelsClipText = UiCreateLabel(window, 14, 314, 532, 20, "");
    const int ok = UiCreateButton(window, 378, 344, 80, 28, "OK", true);
    const int cancel = UiCreateButton(window, 466, 344, 80, 28, "Cancel");
    UiSetGadgetState(gLevelsChannelCombo, 0);

    const int fields[5] = {gLevelsInBlackField, gLevelsGammaField, gLevelsInWhiteField, gLevelsOutBlackField,
                           gLevelsOutWhiteField};
    int held = kNoHandle;
    int64_t lastFullPreview = 0;
    UiDialogLoop loop;
    loop.ok = ok;
    loop.cancel = cancel;
    loop.escapeCancels = true;
    loop.onStart = [&] {
        UpdateLevelsPreview(true);
        if (gDialogHook) gDialogHook(ok, cancel, autoButton, resetButton);
    };
    loop.onConfirm = [&](const UiEvent&) {
        if (AreLevelsNeutral(gLevelsRecords)) return UiDialogStep::Cancel;  // a neutral setting makes no edit
        if (gLevelsClippedCount > 0 && ShouldWarnBeforeClipping()) {
            const std::string question = "This adjustment clips " + std::to_string(gLevelsClippedCount) +
                                         " values to pure black or white.\nThat information is lost when you "
                                         "save.\n\nApply anyway?";
            if (UiMessageBox("Levels", question, UiButtons::YesNo, UiIcon::Warning, window) != 1)
                return UiDialogStep::Stay;
        }
        destination = gLevelsRecords;
        clippedCount = gLevelsClippedCount;
        return UiDialogStep::Confirm;
    };
    loop.onEvent = [&](const UiEvent& event) {
        if (event.kind != UiEventKind::Gadget) return UiDialogStep::Stay;
        const int g = event.gadget;
        if (g == gLevelsChannelCombo) {
            ShowLevelsChannelValues();
            UpdateLevelsPreview(false);
        } else if (g == gLevelsShowClipCheck) {
            UpdateLevelsPreview(true);
        } else if (g == autoButton && event.type == UiEventType::Click) {
            FindUsedRange(gLevelsCounts, gLevelsRecords);
            UiSetGadgetState(gLevelsChannelCombo, 0);
            ShowLevelsChannelValues();
            UpdateLevelsPreview(true);
        } else if (g == resetButton && event.type == UiEventType::Click) {
            ResetAllLevelsRecords(gLevelsRecords);
            ShowLevelsChannelValues();
            UpdateLevelsPreview(true);
        } else if (event.type == UiEventType::Change && std::find(fields, fields + 5, g) != fields + 5) {
            if (FieldsMatchRecord()) return UiDialogStep::Stay;
            ReadFieldsIntoRecord();
            UpdateLevelsPreview(true);
        } else if (g == gLevelsCanvas) {
            const int v = std::clamp((event.x - PlotLeft()) / 2, 0, 255);
            if (event.type == UiEventType::LeftDown) held = PickHandle(v);
            if (event.type == UiEventType::LeftUp) {
                if (held != kNoHandle) {
                    held = kNoHandle;
                    UpdateLevelsPreview(true);
                }
            } else if (held != kNoHandle &&
                       (event.type == UiEventType::MouseMove || event.type == UiEventType::LeftDown)) {
                MoveHandle(held, v);
                ShowLevelsChannelValues();
                const int64_t now = UiMilliseconds();
                if (now - lastFullPreview > kPreviewIntervalMs) {
                    UpdateLevelsPreview(true);
                    lastFullPreview = now;
                } else {
                    UpdateLevelsPreview(false);
                }
            }
        }
        return UiDialogStep::Stay;
    };
    loop.onEnd = [](bool) {
        if (gLevelsPreviewCallback) gLevelsPreviewCallback({});
    };
    const bool applied = UiRunModalDialog(window, parentWindow, loop);
    ClearGadgetNumbers();
    gLevelsSourceImage = nullptr;
    gLevelsPreviewCallback = nullptr;
    return applied;
}

void HandleLevelsCommand() {
    if (!RequireOpenPicture()) return;
    const Image& picture = *GetCurrentPicture();
    LevelsSet set;
    int64_t clipped = 0;
    if (!RunLevelsDialog(GetMainWindow(), picture, set, PreviewThroughView, clipped)) return;
    if (!MakeRoomForEdit(picture.width, picture.height)) return;
    LevelsLut lut;
    LevelsClipMarks marks{};
    BuildLevelsLut(set, lut);
    CommitEditWithClipCount(ApplyLevelsToCopy(picture, lut, 0, marks), "Levels", "_levels", clipped);
}

void ApplyAutoLevels() {
    if (!RequireOpenPicture()) return;
    const Image& picture = *GetCurrentPicture();
    ChannelHistogram histogram;
    LevelsSet set;
    ComputeChannelHistograms(picture, histogram);
    FindUsedRange(histogram, set);
    if (AreLevelsNeutral(set)) {
        UiMessageBox(GetAppTitle(),
                     "This image already uses the full range from black to white.\nAuto levels has nothing to change.",
                     UiButtons::Ok, UiIcon::None, GetMainWindow());
        return;
    }
    if (!MakeRoomForEdit(picture.width, picture.height)) return;
    LevelsLut lut;
    LevelsClipMarks marks{};
    BuildLevelsLut(set, lut);
    const std::string label = "Auto levels (" + std::to_string(set[0].inBlack) + " - " +
                              std::to_string(set[0].inWhite) + " stretched to 0 - 255)";
    CommitEdit(ApplyLevelsToCopy(picture, lut, 0, marks), label, "_autolevels");
}
