// The "HDR" menu: exposure steps and the tone mode. An HDR picture is never
// edited by them; its RGBE block stays the source and the display image is
// made anew by reopening the file with the new settings.
#pragma once

#include <cstdint>

// Exposure +step EV, or back to 0 EV with reset; only for an HDR picture.
void StepExposure(double step, bool reset);
// Tone 0 (editor clip) or 1 (filmic); only for an HDR picture.
void SetToneMode(int64_t mode);
// The menu's tone items ticked as gHdrTone says.
void ShowToneMenuTicks();
