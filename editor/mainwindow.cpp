// The main window and its preview.
//
// The preview canvas is painted on demand: each paint draws only the visible
// rectangle (grey surround, background, picture blended by its alpha), so a
// 16384 x 16384 picture never needs a canvas bitmap of its own. Pictures up to
// kMaxPreviewCopyBytes are copied (enlarged when small) at each redraw, as a
// picture shown for one redraw must stay on screen after the caller puts the
// real one back. Bigger ones, and any whose copy finds no room, are drawn
// straight from the current picture; what a redraw showed of a different
// picture, or of this one through a view (the levels preview), is kept for
// the visible rectangle of that redraw. So only a small picture is ever
// copied whole, and a view never makes more than what is on screen.
#include "editor/mainwindow.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "editor/commands.h"
#include "editor/globals.h"
#include "formats/gro.h"
#include "formats/texinfo.h"
#include "toolkit/displays.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

int gMainWindow = 0;
int gPreviewScroll = 0;
int gPreviewCanvas = 0;

namespace {

constexpr uint32_t kSurround = MakeColour(160, 160, 160);
constexpr size_t kMaxPreviewCopyBytes = size_t(4) << 20;

struct Preview {
    ImagePtr copy;                // the display picture when it was copied
    const Image* live = nullptr;  // else the current picture it was drawn from, null when through a view
    ImagePtr snapshot;            // the visible part at a redraw that did not copy
    UiRect snapshotRect;
    int factor = 1, dw = 0, dh = 0;
    int64_t background = 0;
};
Preview gPreview;

// Rounded up, so that at a fractional DPI scale the canvas never ends one
// pixel short of the picture.
int ToUnits(int pixels) { return int(std::ceil(pixels / GetDpiScale() - 1e-9)); }

// Pixel repetition by a whole factor, row by row.
ImagePtr EnlargeByRepetition(const Image& src, int factor) {
    ImagePtr out = CreateImage(src.width * factor, src.height * factor, 32, 0);
    if (!out) return nullptr;
    const int sbpp = src.BytesPerPixel();
    for (int y = 0; y < src.height; ++y) {
        const uint8_t* s = src.RowFromTop(y);
        uint8_t* first = out->RowFromTop(y * factor);
        uint8_t* d = first;
        for (int x = 0; x < src.width; ++x, s += sbpp) {
            const uint8_t a = sbpp == 4 ? s[3] : 255;
            for (int k = 0; k < factor; ++k, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = a;
            }
        }
        for (int k = 1; k < factor; ++k) std::copy(first, first + size_t(out->width) * 4, out->RowFromTop(y * factor + k));
    }
    return out;
}

void DrawBackground(Image& target, int left, int top, int dw, int dh, int64_t background) {
    const int w = std::min(dw - left, target.width), h = std::min(dh - top, target.height);
    if (w <= 0 || h <= 0) return;
    switch (background) {
    case 1: FillRect(target, 0, 0, w, h, MakeColour(0, 0, 0)); return;
    case 2: FillRect(target, 0, 0, w, h, MakeColour(128, 128, 128)); return;
    case 3: FillRect(target, 0, 0, w, h, MakeColour(255, 255, 255)); return;
    default: break;
    }
    // Checkerboard of 8 x 8 cells from the canvas origin, built once per row.
    const uint8_t light[4] = {255, 255, 255, 255}, dark[4] = {204, 204, 204, 255};
    for (int row = 0; row < h; ++row) {
        const int cy = (top + row) / 8;
        uint8_t* d = target.RowFromTop(row);
        for (int col = 0; col < w; ++col, d += 4) {
            const uint8_t* c = (((left + col) / 8 + cy) % 2 == 0) ? light : dark;
            d[0] = c[0];
            d[1] = c[1];
            d[2] = c[2];
            d[3] = 255;
        }
    }
}

// Draws the part of `picture` under a target at (left, top) through `view`.
// False when that part cannot be made.
bool DrawPartThroughView(Image& target, const Image& picture, int left, int top, const PictureView& view) {
    const int w = std::min(target.width, picture.width - left), h = std::min(target.height, picture.height - top);
    if (w <= 0 || h <= 0) return true;
    ImagePtr part = CreateImageUnfilled(w, h, picture.depth);
    if (!part) return false;
    const size_t offset = size_t(left) * size_t(picture.BytesPerPixel()), bytes = size_t(w) * part->BytesPerPixel();
    for (int y = 0; y < h; ++y) std::memcpy(part->RowFromTop(y), picture.RowFromTop(top + y) + offset, bytes);
    ImagePtr shown = view(*part);
    if (!shown) return false;
    DrawImage(target, *shown, 0, 0, DrawMode::AlphaBlend);
    return true;
}

// Paints what `preview` shows under a target at (left, top). False when the
// part through `view` cannot be made.
bool PaintPicture(Image& target, int left, int top, const Preview& preview, const PictureView& view) {
    FillRect(target, 0, 0, target.width, target.height, kSurround);
    if (preview.dw <= 0) return true;
    DrawBackground(target, left, top, preview.dw, preview.dh, preview.background);
    if (preview.copy) {
        DrawImage(target, *preview.copy, -left, -top, DrawMode::AlphaBlend);
        return true;
    }
    // Drawn from the current picture only while it is the one the redraw
    // showed, or one of the same size (never a picture that may be gone).
    const Image* current = gCurrentImage.get();
    if (current && current->width == preview.dw && current->height == preview.dh) {
        if (view) {
            if (!DrawPartThroughView(target, *current, left, top, view)) return false;
        } else {
            DrawImage(target, *current, -left, -top, DrawMode::AlphaBlend);
        }
    }
    if (current != preview.live && preview.snapshot)
        DrawImage(target, *preview.snapshot, preview.snapshotRect.x - left, preview.snapshotRect.y - top,
                  DrawMode::Copy);
    return true;
}

void PaintPreview(Image& target, int left, int top) { PaintPicture(target, left, top, gPreview, {}); }

}  // namespace

int GetPreviewFactor() { return gPreview.factor; }
int GetPreviewDisplayWidth() { return gPreview.dw; }
int GetPreviewDisplayHeight() { return gPreview.dh; }

void ClearPreview() { gPreview = Preview{}; }

void BuildMainWindow() {
    const unsigned flags = kUiMainWindowFlags | (gWindowCentre == 1 ? kUiCentreScreen : 0u);
    gMainWindow = UiOpenWindow(gWindowX, gWindowY, gWindowWidth, gWindowHeight, gAppTitle, flags);
    if (!gMainWindow) return;
    UiCreateStatusBar(gMainWindow, {220, 380, -1});

    using enum CommandId;
    auto item = [](CommandId id, const char* text, bool checkable = false) {
        UiMenuItem(CommandNumber(id), text, checkable);
    };
    UiMenuBegin(gMainWindow);
    UiMenuTitle("File");
    item(Open, "Open\tCtrl+O");
    item(OpenFromGro, "Open from .gro archive...\tCtrl+G");
    item(Save, "Save\tCtrl+S");
    item(SaveAs, "Save As...\tShift+Ctrl+S");
    UiMenuSeparator();
    item(Quit, "Quit\tCtrl+Q");
    UiMenuTitle("Edit");
    item(Undo, "Undo\tCtrl+Z");
    item(Redo, "Redo\tCtrl+Y");
    UiMenuSeparator();
    item(Revert, "Revert to original");
    UiMenuTitle("Adjust");
    item(Levels, "Levels...\tCtrl+L");
    item(AutoLevels, "Auto levels");
    UiMenuTitle("HDR");
    item(ExposureUp, "Exposure +1 EV\tCtrl+Up");
    item(ExposureDown, "Exposure -1 EV\tCtrl+Down");
    item(ExposureReset, "Reset exposure\tCtrl+0");
    UiMenuSeparator();
    item(ToneEditor, "Tone: Editor (clip)", true);
    item(ToneFilmic, "Tone: Filmic", true);
    item(ToneSwitch, "Switch tone\tCtrl+T");
    UiMenuTitle("Tools");
    item(Histogram, "Histogram\tCtrl+I");
    UiMenuSubmenuBegin("Channels");
    item(ExtractRed, "Extract red as grayscale");
    item(ExtractGreen, "Extract green as grayscale");
    item(ExtractBlue, "Extract blue as grayscale");
    item(ExtractAlpha, "Extract alpha as grayscale");
    UiMenuSeparator();
    item(LoadAlpha, "Load alpha from image...");
    item(InvertAlpha, "Invert alpha");
    item(RemoveAlpha, "Remove alpha (make opaque)");
    UiMenuSubmenuEnd();
    UiMenuSubmenuBegin("Normal map");
    item(FlipGreen, "Flip green (DirectX <-> OpenGL)");
    item(FlipRed, "Flip red");
    item(RebuildBlue, "Rebuild blue (Z) from red and green");
    item(Normalize, "Normalize");
    UiMenuSeparator();
    item(NormalFromHeight, "Create from height map...");
    UiMenuSubmenuEnd();
    UiMenuSeparator();
    item(Resize, "Resize...\tCtrl+R");
    item(Skybox, "Skybox...\tCtrl+K");
    item(BatchConversion, "Batch conversion\tCtrl+B");
    UiMenuSeparator();
    item(Preferences, "Preferences...\tCtrl+P");
    UiMenuTitle("Help");
    item(Help, "Help\tCtrl+H");
    item(About, "About");
    UiMenuEnd();
    // The stored size is the client area's; with the bars around it the
    // frame may still run past the screen.
    UiFitWindowToDisplay(gMainWindow);
    UiSetMenuItemChecked(gMainWindow, CommandNumber(ToneEditor), true);

    gPreviewScroll = UiCreateScrollArea(gMainWindow, 4, 4, 819, 400, 1034, 1034, 1, true);
    gPreviewCanvas = UiCreateCanvas(gPreviewScroll, 4, 4, 1024, 1024);

    for (const CommandShortcut& s : GetCommandShortcuts()) UiAddShortcut(gMainWindow, s.modifiers, s.key, s.id);

    if (Image* canvas = UiCanvasImage(gPreviewCanvas)) FillRect(*canvas, 0, 0, canvas->width, canvas->height, kSurround);
    UiShowCanvas(gPreviewCanvas);
    UiSetStatusField(gMainWindow, 0, "No file opened");
}

void ResizePreviewToWindow() {
    if (!gMainWindow) return;
    // The client area holds neither the menu bar nor the status bar here, so
    // only the 4-unit margins come off it.
    const int w = std::max(UiGetWindowInnerWidth(gMainWindow) - 10, 1);
    const int h = std::max(UiGetWindowInnerHeight(gMainWindow) - 8, 1);
    UiResizeGadget(gPreviewScroll, 4, 4, w, h);
}

void RefreshPreview(const PictureView& view) {
    if (!gCurrentImage) return;
    const Image& picture = *gCurrentImage;
    const int w = picture.width, h = picture.height;
    int factor = 1;
    if (w < 256 && h < 256) factor = h < w ? 256 / w : 256 / h;
    const int dw = w * factor, dh = h * factor;

    Preview next;
    next.factor = factor;
    next.dw = dw;
    next.dh = dh;
    next.background = gPrefBackground;
    if (factor > 1) {
        // Below 256 pixels a side: the whole picture goes through the view.
        ImagePtr viewed = view ? view(picture) : nullptr;
        if (view && !viewed) return;
        next.copy = EnlargeByRepetition(viewed ? *viewed : picture, factor);
        if (!next.copy) return;
    } else if (!view && picture.ByteCount() <= kMaxPreviewCopyBytes) {
        next.copy = DuplicateImage(picture);
    }
    if (!next.copy) next.live = view ? nullptr : &picture;

    // The painter goes in first, so the resize makes no canvas-sized buffer.
    // Until gPreview is replaced below, it paints the last preview.
    UiSetCanvasPainter(gPreviewCanvas, PaintPreview);
    UiResizeGadget(gPreviewCanvas, -1, -1, ToUnits(dw), ToUnits(dh));
    UiSetScrollInnerSize(gPreviewScroll, ToUnits(dw) + 8, ToUnits(dh) + 8);
    if (!next.copy) {
        // Keep what this redraw shows, in case the caller swaps the picture
        // back or drew it through a view. It is painted before it joins the
        // preview, so the preview's own snapshot never paints into it.
        const UiRect v = UiGetCanvasVisibleRect(gPreviewCanvas);
        ImagePtr snapshot = v.width > 0 && v.height > 0 ? CreateImage(v.width, v.height, 32, kOpaqueBlack) : nullptr;
        if (snapshot && PaintPicture(*snapshot, v.x, v.y, next, view)) {
            next.snapshot = std::move(snapshot);
            next.snapshotRect = v;
        } else if (view) {
            // No part on screen could be made through the view (no room, or
            // nothing on screen): the last preview stays as it was.
            return;
        }
    }
    gPreview = std::move(next);
    if (!gPreview.copy) UiPaintCanvasNow(gPreviewCanvas);
    UiShowCanvas(gPreviewCanvas);

    std::string note = gTexInfo.note;
    if (note.empty() && factor > 1) note = "Enlarged " + std::to_string(factor) + "x for visibility";
    UiSetStatusField(gMainWindow, 2, note);
}

void SetStatusText(const std::string& text) {
    gStatusText = text;
    UiSetStatusField(gMainWindow, 1, text);
}

void UpdateTitleAndUndoMenu() {
    std::string title = gAppTitle;
    if (gCurrentImage) {
        title += " - " + GetDisplayName(gCurrentPath);
        if (HasUnsavedEdits()) title += " *";
    }
    UiSetWindowTitle(gMainWindow, title);
    const bool undo = CanUndo(), redo = CanRedo();
    const int undoItem = CommandNumber(CommandId::Undo), redoItem = CommandNumber(CommandId::Redo);
    UiSetMenuItemText(gMainWindow, undoItem, undo ? "Undo " + GetUndoLabel() + "\tCtrl+Z" : "Undo\tCtrl+Z");
    UiSetMenuItemText(gMainWindow, redoItem, redo ? "Redo " + GetRedoLabel() + "\tCtrl+Y" : "Redo\tCtrl+Y");
    UiEnableMenuItem(gMainWindow, undoItem, undo);
    UiEnableMenuItem(gMainWindow, CommandNumber(CommandId::Revert), undo);
    UiEnableMenuItem(gMainWindow, redoItem, redo);
}

std::string DescribeFileLocation(const std::string& path) {
    auto folderOf = [](const std::string& text) {
        const size_t cut = text.find_last_of("/\\");
        return cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
    };
    if (IsArchivePath(path))
        return GetTextAfterLastSeparator(GetArchivePartOfPath(path)) + " : " + folderOf(GetEntryPartOfPath(path));
    return folderOf(path);
}
