// What the tool windows and commands (adjust/*_ui, skybox/*_ui) may know of
// the program they run in: the main window's command ids, and the open
// picture with the few editor services that change or show it.
//
// It lives here, below the tools, rather than in editor/: the editor's
// command table includes the tools' headers to call their handlers, so a
// tool that included an editor header would close a loop between the parts.
// The editor implements them: editor/document.cpp, with CommitEdit and
// MakeRoomForEdit in editor/history.cpp and ResizeCurrentImage in
// editor/save.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/hdr.h"
#include "formats/texinfo.h"
#include "toolkit/image.h"

// ---- The main window's commands -----------------------------------------
// Every menu item and keyboard shortcut carries one of these ids; the values
// are fixed (a shortcut sends the id of its menu item). The channel and
// normal-map handlers are called with the id that chose them.
enum class CommandId : int {
    Open = 0,
    Save = 1,
    SaveAs = 2,
    Quit = 3,
    BatchConversion = 4,
    Preferences = 5,
    Help = 6,
    About = 7,
    ExposureUp = 8,
    ExposureDown = 9,
    ExposureReset = 10,
    ToneEditor = 11,
    ToneFilmic = 12,
    ToneSwitch = 13,
    Histogram = 14,
    OpenFromGro = 15,
    Resize = 16,
    ExtractRed = 17,
    ExtractGreen = 18,
    ExtractBlue = 19,
    ExtractAlpha = 20,
    LoadAlpha = 21,
    RemoveAlpha = 22,
    InvertAlpha = 23,
    FlipGreen = 24,
    FlipRed = 25,
    RebuildBlue = 26,
    Normalize = 27,
    NormalFromHeight = 28,
    Skybox = 29,
    Undo = 30,
    Redo = 31,
    Revert = 32,
    Levels = 33,
    AutoLevels = 34,
};
constexpr int kCommandCount = 35;
// The number menus, shortcuts and events carry.
constexpr int CommandNumber(CommandId id) { return static_cast<int>(id); }

// ---- The open picture --------------------------------------------------

// The open picture, or null while none is open. Tools build their result
// as a new picture and hand it to CommitEdit; they never change it in place
// (the edit history shares it).
const Image* GetCurrentPicture();
// Its description and the path it was opened from (a file or an archive
// entry path).
const TexInfo& GetCurrentPictureInfo();
const std::string& GetCurrentPicturePath();
// True when a picture is open; otherwise tells the user "Please open a .tex
// file first." and gives false.
bool RequireOpenPicture();

// ---- Changing and showing it -------------------------------------------

// Called by an adjustment just before it makes its result, a `width` x
// `height` picture, after every question to the user; `workBytes` is what it
// holds at once besides the result while it works. Checks that the edit fits
// in the memory the program can still take, and makes room: the history
// steps the new one would push out go before the result is made, not after.
// False when it does not fit: the user has been told "Not enough memory for
// this operation.", nothing has changed, and the adjustment must stop.
bool MakeRoomForEdit(int width, int height, uint64_t workBytes = 0);
// Makes `image` current and records it as a step labelled `label`; the
// save-name suffix grows by `suffix`. The picture becomes the step's own, not
// a copy. Null `image` (the adjustment ran out of memory) is reported and
// leaves the old picture in place.
void CommitEdit(ImagePtr image, const std::string& label, const std::string& suffix);
// The same for an adjustment that clipped `clippedCount` values to pure black
// or white: the step is charged with them (Save As warns about them).
void CommitEditWithClipCount(ImagePtr image, const std::string& label, const std::string& suffix,
                             int64_t clippedCount);
// Shrinks or resizes the open picture and records a "Resize" step. True when
// the picture now has that size (also when it already had it).
bool ResizeCurrentImage(int width, int height);
// What a preview shows for a part of the open picture: a new picture of the
// part's size, or null when it cannot be made.
using PictureView = std::function<ImagePtr(const Image& part)>;
// The main preview shows the open picture through `view` for one redraw
// while the open picture stays what it is; an empty view redraws it as it
// is. Only the part on screen goes through the view (all of a picture small
// enough to be enlarged), so a preview needs no buffer the picture's size.
void PreviewPictureOnce(const PictureView& view);

// ---- HDR display settings ----------------------------------------------

// The exposure and tone HDR pictures are shown with, as every HDR reader and
// the skybox take them. The skybox window shares and changes them.
HdrDisplaySettings CurrentHdrDisplaySettings();
void SetHdrExposure(double exposure);
void SetHdrTone(HdrTone tone);
// After a tool changed them: the HDR menu's tone ticks follow, and an open
// HDR picture is made anew from its file with them.
void ApplyHdrDisplaySettings();

// ---- The program around the tools --------------------------------------

// The main window: parent of the tools' dialogs and message boxes.
int GetMainWindow();
// The program's title, the title of its message boxes.
const std::string& GetAppTitle();
// The folder files were last opened from, where the tools' requesters start.
const std::string& GetLastOpenFolder();
// Preferences the tools follow.
double GetNormalMapStrength();
bool ShouldWarnBeforeClipping();
