// The main window: menu bar, status bar (file name, status text, note) and
// the preview, a canvas inside a scroll area that shows the current picture
// on the chosen background.
#pragma once

#include <string>

#include "adjust/document_ui.h"

extern int gMainWindow;
extern int gPreviewScroll;
extern int gPreviewCanvas;

// Creates the window, its status bar, menus, preview and shortcuts.
void BuildMainWindow();
// Fits the scroll area to the window's client area.
void ResizePreviewToWindow();
// Redraws gCurrentImage (enlarged when small) over the background and sets
// status field 2. Nothing happens while no picture is open. With a view
// (adjust/document_ui.h) the picture is shown through it until the next
// redraw; when the part on screen cannot be made through it, the preview
// stays as it was.
void RefreshPreview(const PictureView& view = {});
// gStatusText = text, shown in status field 1.
void SetStatusText(const std::string& text);
// The title (with the file name and an unsaved mark) and the Undo, Redo and
// Revert items.
void UpdateTitleAndUndoMenu();
// The location column of the batch list: the folder of a path, or the
// archive's name and the entry's folder for an archive entry path.
std::string DescribeFileLocation(const std::string& path);

// The preview's display factor and size of the last redraw (1, 0, 0 before any).
int GetPreviewFactor();
int GetPreviewDisplayWidth();
int GetPreviewDisplayHeight();
// Forgets the picture the preview shows (start-up, tests, shutdown).
void ClearPreview();
