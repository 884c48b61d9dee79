// The skybox export command: requesters, file naming and messages around
// the layout builders.
#include "skybox/skybox_ui.h"

#include "formats/dispatch.h"
#include "formats/hdr.h"
#include "toolkit/files.h"
#include "toolkit/ui/ui.h"

namespace {

constexpr const char* kFormats[5] = {"tga", "png", "tif", "hdr", "tex"};
constexpr const char* kLayoutSuffixes[3] = {"_strip", "_cross", "_panorama"};

std::string WithoutExtension(const std::string& fileName) {
    const size_t dot = FindSkyExtensionDot(fileName);
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

}  // namespace

void ExportSkybox(int64_t layoutEntry, int64_t formatEntry, const SkyboxProgress& progress, int parent) {
    if (!gSkyFaces[0].loaded) return;
    if (layoutEntry < 0 || layoutEntry > 3 || formatEntry < 0 || formatEntry > 4) return;
    const std::string ext = kFormats[formatEntry];

    if (ext == "hdr" && !AreAllLoadedFacesHdr()) {
        UiMessageBox("Skybox", "Only HDR skyboxes can be saved as .hdr.", UiButtons::Ok, UiIcon::Warning, parent);
        return;
    }
    if (ext == "tex" && layoutEntry >= 1) {
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
            const int written = ext == "hdr" ? WriteHdrFile(face.hdrData.get(), int(face.width), int(face.height), file)
                                             : (face.image ? SaveImageByExtension(*face.image, file, 0) : 0);
            if (!written) ok = false;
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
        if (ext == "hdr") {
            int64_t width = 0, height = 0;
            HdrBlockPtr block = BuildHdrSkyboxImage(layout, width, height, progress);
            ok = block && WriteHdrFile(block.get(), int(width), int(height), path) != 0;
        } else {
            ImagePtr image = BuildSkyboxImage(layout, progress);
            // Only the cross has empty corners worth keeping transparent.
            ok = image && SaveImageByExtension(*image, path, layout == 1 ? 1 : 0) != 0;
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
