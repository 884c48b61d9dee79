// The main window's preview: a full redraw (RefreshPreview) for a small
// enlarged picture, a 4096 x 4096 and a 16384 x 16384 one, and one paint of
// the visible part of the preview. Needs a display (run under xvfb-run).
#include <benchmark/benchmark.h>

#include "editor/globals.h"
#include "editor/mainwindow.h"
#include "toolkit/ui/ui.h"

namespace {

bool EnsureMainWindow() {
    if (!UiInit()) return false;
    if (!UiIsWindow(gMainWindow)) {
        ResetEditorGlobals();
        BuildMainWindow();
        ResizePreviewToWindow();
        UiProcessPending();
    }
    return gMainWindow != 0;
}

// A picture with a transparent half, so blending has work to do.
ImagePtr MakePicture(int side) {
    ImagePtr image = CreateImage(side, side, 32, MakeColour(40, 120, 200, 255));
    if (image) FillRect(*image, 0, 0, side / 2, side, MakeColour(200, 40, 40, 96));
    return image;
}

void BM_RefreshPreview(benchmark::State& state) {
    if (!EnsureMainWindow()) {
        state.SkipWithError("no display");
        return;
    }
    const int side = int(state.range(0));
    gCurrentImage = MakePicture(side);
    if (!gCurrentImage) {
        state.SkipWithError("not enough memory for the picture");
        return;
    }
    gPrefBackground = 0;
    for (auto _ : state) {
        RefreshPreview();
        benchmark::ClobberMemory();
    }
    state.counters["display_px"] = double(GetPreviewDisplayWidth()) * GetPreviewDisplayHeight();
    ClearPreview();
    gCurrentImage.reset();
}
BENCHMARK(BM_RefreshPreview)->Arg(64)->Arg(4096)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PaintVisiblePreview(benchmark::State& state) {
    if (!EnsureMainWindow()) {
        state.SkipWithError("no display");
        return;
    }
    gCurrentImage = MakePicture(int(state.range(0)));
    if (!gCurrentImage) {
        state.SkipWithError("not enough memory for the picture");
        return;
    }
    RefreshPreview();
    UiProcessPending();
    const UiRect visible = UiGetCanvasVisibleRect(gPreviewCanvas);
    for (auto _ : state) UiPaintCanvasNow(gPreviewCanvas);
    state.counters["visible_px"] = double(visible.width) * visible.height;
    ClearPreview();
    gCurrentImage.reset();
}
BENCHMARK(BM_PaintVisiblePreview)->Arg(256)->Arg(16384)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
