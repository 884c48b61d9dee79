// The skybox commands that talk to the user: opening a set from one picked
// face, and writing the set as six separate faces or one combined layout.
#pragma once

#include <cstdint>

#include <functional>
#include <string>

#include "skybox/skybox.h"

// Loads the set that the picked face (a file or an archive entry path)
// belongs to, warns about a name that fits no scheme or about missing side or
// top faces, fits the top and bottom faces, shows the HDR faces under
// `display`, then calls `refresh` (the window shows the exposure and the
// preview) and shows the fitting report, if any. Always 0.
int64_t OpenSkyboxFromFace(const std::string& facePath, const HdrDisplaySettings& display,
                           const SkyboxProgress& progress = {}, const std::function<void()>& refresh = {},
                           int parent = 0);

// The "Export..." command. layoutEntry: 0 separate faces, 1 strip, 2 cross,
// 3 panorama; formatEntry indexes the skybox export list (FormatList::SkyboxExport:
// tga, png, tif, hdr, tex). Asks for the folder
// or file, writes, and tells the user the outcome. Nothing happens without
// face N.
void ExportSkybox(int64_t layoutEntry, int64_t formatEntry, const SkyboxProgress& progress = {}, int parent = 0);
