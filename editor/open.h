// Opening a file as the current picture, and the question about unsaved edits
// that guards replacing it (also asked before quitting).
#pragma once

#include <string>

// The "Open" command: the open requester, then OpenFile.
void ShowOpenFileDialog();
// The "Open from .gro archive..." command: the archive, its chooser, then OpenFile.
void OpenGroArchiveDialog();
// Reads `path` (a file or an archive entry path) and makes it the current
// picture with a new history; a failure (no room for the picture among them)
// is reported and changes nothing. A reload (the same file again with other
// HDR settings) asks nothing and keeps the save path and save-name suffix.
// True when the picture was replaced.
bool OpenFile(const std::string& path, bool reload);
// Whether the open picture can be made anew from its file (another HDR
// exposure or tone): the reader holds the file's bytes, the HDR block and the
// new picture at once, beside the picture and history still open. When it
// cannot, says "Not enough memory for this operation." and gives false.
bool CheckRoomForReload();
// True when there are no unsaved edits or the user agrees to discard them.
bool ConfirmDiscardEdits();
