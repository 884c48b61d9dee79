// The skybox export command: requesters, file naming and messages around
// the layout builders.
#include "skybox/skybox_ui.h"

#include "formats/dispatch.h"
#include "formats/formats.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr const char* kLayoutSuffixes[3] = {"_strip", "_cross", "_panorama"};

std::string WithoutExtension(const std::string& fileName) {
    const size_t dot = FindSkyExtensionDot(fileName);
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

}  // namespace

void ExportSkybox(int64_t layoutEntry, int64_t formatEntry, const SkyboxProgress& progress, int parent) {
    if (!gSkyFaces[0].loaded) return;
    const FormatInfo* format = FormatAt(FormatList::SkyboxExport, formatEntry);
    if (layoutEntry < 0 || layoutEntry > 3 || !format) return;
    const std::string ext = format->extension;
    SaveRequest request;
    request.format = format->format;

    if (format->holdsHdr && !AreAllLoadedFacesHdr()) {
        UiMessageBox("Skybox", "Only HDR skyboxes can be saved as .hdr.", UiButtons::Ok, UiIcon::Warning, parent);
        return;
    }
    if (format->format == ImageFormat::Tex && layoutEntry >= 1) {
        UiMessageBox("Skybox",
                     "Combined images are larger than 1024 pixels; Dravik 1 .tex is only available for separate faces.",
                     UiButtons::Ok, UiIcon::Warning, parent);
        return;
    }

    bool ok = true;
    std::string list, lastPath;
    if (layoutEntry == 0) {
        const std::string folder = UiFolderRequester("Choose a folder for the 6 faces", gSkyboxFolder, parent);
        if (folder.empty()) return;
        for (size_t i = 0; i < gSkyFaces.size(); ++i) {
            const SkyFace& face = gSkyFaces[i];
            if (!face.loaded) continue;
            const std::string fileName = WithoutExtension(face.displayName) + "." + ext;
            const std::string file = folder + fileName;
            ShowSkyboxProgress(progress, "Saving " + fileName + "...", int64_t(i), 6);
            // One failed face does not stop the others.
            request.hdrData = face.hdrData.get();
            request.hdrWidth = int(face.width);
            request.hdrHeight = int(face.height);
            if (!SaveImage(face.image.get(), file, request)) ok = false;
            list += fileName + "\n";
            lastPath = file;
        }
    } else {
        const int64_t layout = layoutEntry - 1;
        int chosen = 0;
        std::string path = UiSaveFileRequester("Save skybox as", gSkyboxFolder + gSkyboxName + kLayoutSuffixes[layout],
                                                "Image (*." + ext + ")|*." + ext, 0, &chosen, parent);
        if (path.empty()) return;
        if (GetLowerExtension(path) != ext) path += "." + ext;
        const std::string fileName = GetFilePart(path);
        ShowSkyboxProgress(progress, "Saving " + fileName + "...", 0, 1);
        if (format->holdsHdr) {
            int64_t width = 0, height = 0;
            HdrBlockPtr block = BuildHdrSkyboxImage(layout, width, height, progress);
            request.hdrData = block.get();
            request.hdrWidth = int(width);
            request.hdrHeight = int(height);
            ok = block && SaveImage(nullptr, path, request) != 0;
        } else {
            ImagePtr image = BuildSkyboxImage(layout, progress);
            // Only the cross has empty corners worth keeping transparent.
            request.withAlpha = layout == 1;
            ok = image && SaveImage(image.get(), path, request) != 0;
        }
        list = fileName;
        lastPath = path;
    }
    ShowSkyboxProgress(progress, "Done.", 1, 1);

    if (!ok) {
        UiMessageBox("Skybox", "Saving failed.", UiButtons::Ok, UiIcon::Error, parent);
        return;
    }
    gSkyboxFolder = GetFolderPart(lastPath);
    UiMessageBox("Skybox", "Saved:\n" + list, UiButtons::Ok, UiIcon::None, parent);
}
