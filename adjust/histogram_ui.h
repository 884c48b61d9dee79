// The histogram window: a modeless tool window beside the main window. Its
// gadgets work through bound callbacks, so it keeps answering while a modal
// dialog holds the main window.
#pragma once

#include <cstdint>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// Opens the window beside `ownerWindow` (or brings it to the front) showing
// `image`; the white point of an HDR picture follows `exposure`.
void ShowHistogramWindow(const Image* image, const TexInfo& info, double exposure, int ownerWindow);
// Shows `image` in the open window; nothing while it is closed or without an image.
void UpdateHistogram(const Image* image, const TexInfo& info, double exposure);
void FillHistogramChannelList();
void DrawHistogram();
void DrawHistogramChannel(int row, uint32_t colour, int64_t largest, int x, int y, int width, int height);
void HandleLogScaleToggle();
void HandleHistogramChannelChange();
void CloseHistogramWindow();
