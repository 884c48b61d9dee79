// The list of displays and the screen's DPI, for window placement.
// The core library answers from a provider that the UI layer registers at
// start; tests override it. With neither, one 1920 x 1080 display at scale 1.0.
#pragma once

#include <vector>

struct DisplayRect {
    int x = 0, y = 0, width = 0, height = 0;  // device pixels
    // The size of the part that panels and task bars leave free; 0 when
    // unknown, which counts as the whole display.
    int workWidth = 0, workHeight = 0;

    int UsableWidth() const { return workWidth > 0 ? workWidth : width; }
    int UsableHeight() const { return workHeight > 0 ? workHeight : height; }
};

std::vector<DisplayRect> GetDisplays();
// The display with the largest area (the first of equal ones).
DisplayRect GetLargestDisplay();
// The DPI scale factor: device pixels per 96-DPI unit (1.0 at 96 DPI).
double GetDpiScale();
// Test hooks: a non-empty list (or a scale above 0) replaces the real values.
void SetDisplaysOverride(const std::vector<DisplayRect>& displays);
void SetDpiScaleOverride(double scale);
// The UI layer registers where the real values come from; either pointer may
// be null (null falls back to the built-in answer). Returns the pair it
// replaces, for a test to put back.
struct DisplaysProvider {
    std::vector<DisplayRect> (*displays)() = nullptr;
    double (*dpiScale)() = nullptr;
};
DisplaysProvider SetDisplaysProvider(std::vector<DisplayRect> (*provider)(), double (*dpiScale)());
