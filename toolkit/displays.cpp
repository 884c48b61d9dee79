#include "toolkit/displays.h"

#include <cmath>
#include <cstdint>

namespace {

std::vector<DisplayRect> gDisplaysOverride;
double gDpiScaleOverride = 0.0;
std::vector<DisplayRect> (*gDisplaysProvider)() = nullptr;
double (*gDpiScaleProvider)() = nullptr;

}  // namespace

std::vector<DisplayRect> GetDisplays() {
    if (!gDisplaysOverride.empty()) return gDisplaysOverride;
    if (gDisplaysProvider) {
        std::vector<DisplayRect> displays = gDisplaysProvider();
        if (!displays.empty()) return displays;
    }
    // Without a display system we still place windows somewhere sensible.
    return {DisplayRect{0, 0, 1920, 1080}};
}

DisplayRect GetLargestDisplay() {
    DisplayRect largest;
    for (const DisplayRect& d : GetDisplays())
        if (int64_t(d.width) * d.height > int64_t(largest.width) * largest.height) largest = d;
    return largest;
}

double GetDpiScale() {
    if (gDpiScaleOverride > 0.0) return gDpiScaleOverride;
    if (gDpiScaleProvider) {
        const double scale = gDpiScaleProvider();
        // A broken answer must not turn coordinates into NaN or divide by zero.
        if (std::isfinite(scale) && scale > 0.0) return scale;
    }
    return 1.0;
}

void SetDisplaysOverride(const std::vector<DisplayRect>& displays) { gDisplaysOverride = displays; }

void SetDpiScaleOverride(double scale) { gDpiScaleOverride = scale; }

DisplaysProvider SetDisplaysProvider(std::vector<DisplayRect> (*provider)(), double (*dpiScale)()) {
    const DisplaysProvider replaced{gDisplaysProvider, gDpiScaleProvider};
    gDisplaysProvider = provider;
    gDpiScaleProvider = dpiScale;
    return replaced;
}
