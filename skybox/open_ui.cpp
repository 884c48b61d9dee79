// Opening a skybox set from one picked face, with the messages the user
// needs when the set is incomplete.
#include "skybox/skybox_ui.h"
#include "toolkit/ui/ui.h"

int64_t OpenSkyboxFromFace(const std::string& facePath, const HdrDisplaySettings& display,
                           const SkyboxProgress& progress, const std::function<void()>& refresh, int parent) {
    const int64_t count = LoadSkyboxSetFromFace(facePath, progress, display);
    if (count == 0) {
        const size_t slash = facePath.find_last_of("/\\");
        const std::string fileName = slash == std::string::npos ? facePath : facePath.substr(slash + 1);
        UiMessageBox("Skybox",
                     fileName +
                         " does not look like a skybox face.\nExpected a name ending in _N/_E/_S/_W/_U or _C/_D "
                         "(HDR_Cloudy04_N.tex), Front/Right/Back/Left/Up/Down (1_3_nightFront.tex), "
                         "North/East/South/West/Top/Bottom, _ft/_rt/_bk/_lf/_up/_dn, posx/negx/..., "
                         "px/nx/py/ny/pz/nz (cubemap) or a number (Storm1.tex, MDG01_Daylight_01.tex).",
                     UiButtons::Ok, UiIcon::Warning, parent);
    } else {
        bool complete = true;
        for (size_t i = 0; i < 5; ++i)
            if (!gSkyFaces[i].loaded) complete = false;
        // The bottom face is often absent from a set and needs no warning.
        if (!complete)
            UiMessageBox("Skybox",
                         "Only " + std::to_string(count) +
                             " faces were found (at least N, E, S, W and top are needed). Missing faces are left empty.",
                         UiButtons::Ok, UiIcon::Warning, parent);
    }
    const std::string report = FitSkyboxFaceOrientation(progress);
    ApplyExposureToSkyboxFaces(display, progress);
    if (refresh) refresh();
    if (!report.empty()) UiMessageBox("Skybox", report, UiButtons::Ok, UiIcon::Information, parent);
    return 0;
}
