// The histogram window: a modeless tool window beside the main window. Its
// gadgets work through bound callbacks, so it keeps answering while a modal
// dialog holds the main window.
#pragma once

#include <cstdint>

#include "formats/texinfo.h"
#include "toolkit/image.h"

// ShowHistogramWindow and UpdateHistogram are declared in editor/commands.h.
void FillHistogramChannelList();
void DrawHistogram();
void DrawHistogramChannel(int row, uint32_t colour, int64_t largest, int x, int y, int width, int height);
void HandleLogScaleToggle();
void HandleHistogramChannelChange();
void CloseHistogramWindow();
