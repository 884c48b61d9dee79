// Drawing helpers on images: lines, boxes, text and flood fill. Alpha below
// 255 blends "source over" with the image layer's rounding.
#include <wx/dcmemory.h>

#include <algorithm>
#include <cstdlib>

#include "toolkit/ui/ui_internal.h"

using namespace uiimpl;

namespace {

inline void BlendPixel(uint8_t* d, int dbpp, const uint8_t colour[4]) {
    const int sa = colour[3];
    if (sa == 255) {
        d[0] = colour[0];
        d[1] = colour[1];
        d[2] = colour[2];
        if (dbpp == 4) d[3] = 255;
        return;
    }
    if (sa == 0) return;
    const int da = dbpp == 4 ? d[3] : 255;
    const int ws = sa * 255, wd = da * (255 - sa), total = ws + wd;
    for (int c = 0; c < 3; ++c) d[c] = uint8_t((colour[c] * ws + d[c] * wd + total / 2) / total);
    if (dbpp == 4) d[3] = uint8_t((total + 127) / 255);
}

// B, G, R, A bytes of a 0xAABBGGRR colour.
void ColourBytes(uint32_t colour, uint8_t out[4]) {
    out[0] = uint8_t(ColourBlue(colour));
    out[1] = uint8_t(ColourGreen(colour));
    out[2] = uint8_t(ColourRed(colour));
    out[3] = uint8_t(ColourAlpha(colour));
}

void BlendSpan(Image& image, int x, int y, int w, const uint8_t colour[4]) {
    if (y < 0 || y >= image.height) return;
    const int x0 = std::max(x, 0), x1 = std::min(x + w, image.width);
    const int bpp = image.BytesPerPixel();
    uint8_t* d = image.RowFromTop(y) + size_t(x0) * bpp;
    for (int i = x0; i < x1; ++i, d += bpp) BlendPixel(d, bpp, colour);
}

wxFont TextFont(int points, bool bold) {
    wxFont font = *wxNORMAL_FONT;
    if (points > 0) font.SetPointSize(points);
    if (bold) font.SetWeight(wxFONTWEIGHT_BOLD);
    return font;
}

}  // namespace

void UiDrawLine(Image& image, int x1, int y1, int x2, int y2, uint32_t colour) {
    uint8_t c[4];
    ColourBytes(colour, c);
    const int bpp = image.BytesPerPixel();
    const int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        if (x1 >= 0 && y1 >= 0 && x1 < image.width && y1 < image.height)
            BlendPixel(image.RowFromTop(y1) + size_t(x1) * bpp, bpp, c);
        if (x1 == x2 && y1 == y2) break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y1 += sy;
        }
    }
}

void UiDrawBox(Image& image, int x, int y, int w, int h, uint32_t colour, bool filled) {
    if (w <= 0 || h <= 0) return;
    uint8_t c[4];
    ColourBytes(colour, c);
    if (filled) {
        const int y0 = std::max(y, 0), y1 = std::min(y + h, image.height);
        for (int row = y0; row < y1; ++row) BlendSpan(image, x, row, w, c);
        return;
    }
    BlendSpan(image, x, y, w, c);
    if (h > 1) BlendSpan(image, x, y + h - 1, w, c);
    for (int row = y + 1; row < y + h - 1; ++row) {
        BlendSpan(image, x, row, 1, c);
        if (w > 1) BlendSpan(image, x + w - 1, row, 1, c);
    }
}

int UiTextWidth(const std::string& text, int points, bool bold) {
    if (!UiIsInitialised() || text.empty()) return 0;
    wxMemoryDC dc;
    dc.SetFont(TextFont(points, bold));
    return dc.GetTextExtent(ToWx(text)).GetWidth();
}

void UiDrawText(Image& image, int x, int y, const std::string& text, uint32_t colour, int points, bool bold) {
    if (!UiIsInitialised() || text.empty()) return;
    // The text is rendered white on black; its brightness is the coverage
    // that blends the colour onto the image.
    wxMemoryDC dc;
    dc.SetFont(TextFont(points, bold));
    const wxSize size = dc.GetTextExtent(ToWx(text));
    if (size.x <= 0 || size.y <= 0) return;
    wxBitmap bitmap(size.x, size.y, 24);
    dc.SelectObject(bitmap);
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText(ToWx(text), 0, 0);
    dc.SelectObject(wxNullBitmap);
    const wxImage mask = bitmap.ConvertToImage();
    const unsigned char* m = mask.GetData();
    uint8_t c[4];
    ColourBytes(colour, c);
    const int alpha = c[3];
    const int bpp = image.BytesPerPixel();
    for (int row = 0; row < size.y; ++row) {
        const int ty = y + row;
        if (ty < 0 || ty >= image.height) continue;
        uint8_t* d = image.RowFromTop(ty);
        for (int col = 0; col < size.x; ++col) {
            const int tx = x + col;
            if (tx < 0 || tx >= image.width) continue;
            const int coverage = m[(size_t(row) * size.x + col) * 3 + 1];
            if (coverage == 0) continue;
            uint8_t px[4] = {c[0], c[1], c[2], uint8_t((coverage * alpha + 127) / 255)};
            BlendPixel(d + size_t(tx) * bpp, bpp, px);
        }
    }
}

void UiFloodFill(Image& image, int x, int y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    const int bpp = image.BytesPerPixel();
    uint8_t c[4];
    ColourBytes(colour, c);
    auto at = [&](int px, int py) { return image.RowFromTop(py) + size_t(px) * bpp; };
    uint8_t target[4] = {0, 0, 0, 255};
    std::copy(at(x, y), at(x, y) + bpp, target);
    auto matches = [&](int px, int py) {
        const uint8_t* p = at(px, py);
        for (int i = 0; i < bpp; ++i)
            if (p[i] != target[i]) return false;
        return true;
    };
    auto paint = [&](int px, int py) {
        uint8_t* p = at(px, py);
        p[0] = c[0];
        p[1] = c[1];
        p[2] = c[2];
        if (bpp == 4) p[3] = c[3];
    };
    bool same = true;
    for (int i = 0; i < bpp; ++i)
        if (target[i] != (i < 3 ? c[i] : c[3])) same = false;
    if (same) return;
    // Scanline fill with an explicit stack: no recursion depth on big areas.
    std::vector<std::pair<int, int>> stack{{x, y}};
    while (!stack.empty()) {
        auto [sx, sy] = stack.back();
        stack.pop_back();
        if (!matches(sx, sy)) continue;
        int left = sx, right = sx;
        while (left > 0 && matches(left - 1, sy)) --left;
        while (right + 1 < image.width && matches(right + 1, sy)) ++right;
        for (int i = left; i <= right; ++i) paint(i, sy);
        for (int ny : {sy - 1, sy + 1}) {
            if (ny < 0 || ny >= image.height) continue;
            for (int i = left; i <= right; ++i)
                if (matches(i, ny) && (i == left || !matches(i - 1, ny))) stack.emplace_back(i, ny);
        }
    }
}
