// The list of displays and the screen's DPI, for window placement.
// Implemented by the UI layer (toolkit/ui/); tests override it.
#pragma once

#include <vector>

struct DisplayRect {
    int x = 0, y = 0, width = 0, height = 0;  // device pixels
};

std::vector<DisplayRect> GetDisplays();
// The DPI scale factor: device pixels per 96-DPI unit (1.0 at 96 DPI).
double GetDpiScale();
// Test hooks: a non-empty list (or a scale above 0) replaces the real values.
void SetDisplaysOverride(const std::vector<DisplayRect>& displays);
void SetDpiScaleOverride(double scale);
