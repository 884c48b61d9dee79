// Writing the loaded skybox set: six separate faces or one combined layout.
#pragma once

#include <cstdint>

#include "skybox/skybox.h"

// The "Export..." command. layoutEntry: 0 separate faces, 1 strip, 2 cross,
// 3 panorama; formatEntry indexes "tga,png,tif,hdr,tex". Asks for the folder
// or file, writes, and tells the user the outcome. Nothing happens without
// face N.
void ExportSkybox(int64_t layoutEntry, int64_t formatEntry, const SkyboxProgress& progress = {}, int parent = 0);
