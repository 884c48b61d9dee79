// Saving the current picture: the format follows the file's extension. Save
// As proposes a name, warns about what the chosen format loses and asks
// before overwriting; Save writes again to the last saved path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "adjust/document_ui.h"

// The "Save" command: writes again to the last saved path, or asks as Save As.
void HandleSaveCommand();
// The "Save As..." command: the save requester, the overwrite question, then
// SaveCurrentImageAs.
void ShowSaveAsDialog();

// Writes the current picture to `path`. asked when the path comes from Save
// As: then the loss warnings run and the DDS window always opens. Every
// outcome is reported to the user; a failed save changes nothing.
void SaveCurrentImageAs(const std::string& path, bool asked);

// The "Save as DDS" window. True for OK (format and mips stored through the
// outputs), false for Cancel (nothing stored).
bool ShowSaveDdsDialog(int parentWindow, bool hasAlpha, bool isNormalMap, int64_t& format, int64_t& mips);
// Test hook: called once the DDS window is built, before it waits for the
// user, with the window and its gadgets (list, mip-map box, OK, Cancel).
using SaveDdsDialogHook = std::function<void(int window, int list, int mipsBox, int ok, int cancel)>;
void SetSaveDdsDialogHookForTesting(SaveDdsDialogHook hook);

// Lists what saving as `ext` (lower case) loses and asks; true to go on.
bool ConfirmLossySave(const std::string& ext);

// Before a first-generation ".tex" save: offers to shrink a picture larger
// than 1024 pixels. True to go on with the save.
bool OfferResizeFor1024Limit();

// ResizeCurrentImage, which the Resize dialog calls too, is declared in
// adjust/document_ui.h.

// The name Save As proposes: start folder + the source's name without its
// extension + the save-name suffix.
std::string ProposeSaveName();
// The Save As pattern text (the HDR pattern only for an HDR source).
std::string GetSaveAsPatterns(bool withHdr);
// `name` with the pattern's extension appended when its own is missing or
// not one we save.
std::string AddPatternExtension(const std::string& name, int patternIndex);
