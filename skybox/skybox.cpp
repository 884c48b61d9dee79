// The face table and loading a set of six faces whose names differ only in
// their face marker.
#include "skybox/skybox.h"

#include <cstring>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "toolkit/files.h"

std::array<SkyFace, 6> gSkyFaces;
std::string gSkyboxName;
std::string gSkyboxFolder;
double gEdgeSamples[6][4][192];

namespace {

constexpr const char* kFaceOrder = "NESWUD";

}  // namespace

void ShowSkyboxProgress(const SkyboxProgress& progress, const std::string& text, int64_t done, int64_t total) {
    if (progress) progress(text, done, total);
}

void ResetSkyboxFaces() {
    for (size_t i = 0; i < gSkyFaces.size(); ++i) {
        gSkyFaces[i] = SkyFace{};
        gSkyFaces[i].letter = std::string(1, kFaceOrder[i]);
    }
    gSkyboxName.clear();
}

void ResetSkyboxGlobals() {
    ResetSkyboxFaces();
    gSkyboxFolder.clear();
    std::memset(gEdgeSamples, 0, sizeof(gEdgeSamples));
}

int64_t LoadSkyboxFace(int64_t faceIndex, const std::string& path, const HdrDisplaySettings& display) {
    if (faceIndex < 0 || faceIndex >= int64_t(gSkyFaces.size())) return 0;
    SkyFace& face = gSkyFaces[size_t(faceIndex)];
    face.displayName = GetDisplayName(path);
    // Whatever an archive entry's extension, archives hold engine textures;
    // the reader's reason for a failure is not shown.
    TexInfo info;
    ImagePtr image = LoadImageAnySource(path, info, display);
    if (image) image = ConvertTo32Bit(std::move(image));
    if (!image) {
        FreeTexHdrData(info);
        return 0;
    }
    face.path = path;
    face.loaded = 1;
    face.width = image->width;
    face.height = image->height;
    // Later steps index the RGBE block with the image's size, so a block
    // that does not cover it is dropped rather than read past its end.
    const HdrBlock* block = info.hdrData.get();
    const bool blockFits = block && block->width == image->width && block->height == image->height &&
                           block->bytes.size() >= size_t(image->width) * size_t(image->height) * 4;
    face.isHdr = info.isHdr != 0 && blockFits ? 1 : 0;
    if (face.isHdr) face.hdrData = std::move(info.hdrData);
    FreeTexHdrData(info);
    face.image = std::move(image);
    return 1;
}

namespace {

std::string Field(const std::string& list, size_t index, char separator) {
    size_t start = 0;
    for (size_t i = 0; i < index; ++i) {
        start = list.find(separator, start);
        if (start == std::string::npos) return {};
        ++start;
    }
    const size_t end = list.find(separator, start);
    return list.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Number-scheme names longer than this cannot be counted through without
// overflow; such a name finds no run.
constexpr int64_t kMaxFaceNumberDigits = 18;

std::string PadNumber(int64_t value, int64_t width) {
    std::string text = std::to_string(value);
    if (int64_t(text.size()) < width) text.insert(0, size_t(width - int64_t(text.size())), '0');
    return text;
}

}  // namespace

int64_t LoadSkyboxSetFromFace(const std::string& facePath, const SkyboxProgress& progress,
                              const HdrDisplaySettings& display) {
    ResetSkyboxFaces();

    std::string archive, folder, fileName;
    if (IsArchivePath(facePath)) {
        archive = GetArchivePartOfPath(facePath);
        const std::string entry = GetEntryPartOfPath(facePath);
        fileName = GetTextAfterLastSeparator(entry);
        folder = entry.substr(0, entry.size() - fileName.size());
        ListGroTextures(archive);
    } else {
        const size_t slash = facePath.find_last_of("/\\");
        fileName = slash == std::string::npos ? facePath : facePath.substr(slash + 1);
        folder = slash == std::string::npos ? std::string() : facePath.substr(0, slash + 1);
    }

    const size_t dot = FindSkyExtensionDot(fileName);
    const std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    // A picked name without an extension has siblings without one too.
    const std::string dotExtension = extension.empty() ? std::string() : "." + extension;

    const int64_t letterPos = FindFaceLetterSuffix(fileName);
    const int64_t axisLen = MatchAxisFaceSuffix(fileName);
    const int64_t wordLen = MatchFaceWordSuffix(fileName);
    const int64_t digitCount = CountTrailingDigits(fileName);

    std::array<std::string, 6> paths;
    std::string prefix;
    auto find = [&](const std::string& candidate) { return FindFaceFile(archive, folder, candidate); };

    if (letterPos > 0) {
        prefix = fileName.substr(0, size_t(letterPos - 2));
        const std::string head = fileName.substr(0, size_t(letterPos - 1));
        const std::string tail = fileName.substr(size_t(letterPos));
        const char* letters = "NESWCD";
        for (size_t i = 0; i < 6; ++i) {
            paths[i] = find(head + letters[i] + tail);
            if (i == 4 && paths[i].empty()) paths[i] = find(head + "U" + tail);
        }
    } else if (axisLen > 0) {
        prefix = base.substr(0, base.size() - size_t(axisLen));
        const std::string fields = axisLen == 4 ? "posz,posx,negz,negx,posy,negy" : "pz,px,nz,nx,py,ny";
        for (size_t i = 0; i < 6; ++i) paths[i] = find(prefix + Field(fields, i, ',') + dotExtension);
    } else if (wordLen > 0) {
        prefix = base.substr(0, base.size() - size_t(wordLen));
        const std::string groups =
            "front|forward|north|ft,right|east|rt,back|south|bk,left|west|lf,up|top|ceiling,down|bottom|floor|dn";
        for (size_t i = 0; i < 6; ++i) {
            const std::string group = Field(groups, i, ',');
            for (size_t w = 0; paths[i].empty(); ++w) {
                const std::string word = Field(group, w, '|');
                if (word.empty()) break;
                paths[i] = find(prefix + word + dotExtension);
            }
        }
    } else if (digitCount > 0) {
        prefix = base.substr(0, base.size() - size_t(digitCount));
        if (digitCount <= kMaxFaceNumberDigits) {
            const int64_t n = std::stoll(base.substr(base.size() - size_t(digitCount)));
            bool complete = false;
            for (int64_t start = n - 4; start <= n && !complete; ++start) {
                if (start < 0) continue;
                complete = true;
                for (int64_t i = 0; i < 5; ++i) {
                    paths[size_t(i)] = find(prefix + PadNumber(start + i, digitCount) + dotExtension);
                    if (paths[size_t(i)].empty()) complete = false;
                }
            }
            if (!complete) paths = {};
        }
    } else {
        return 0;
    }

    gSkyboxName = prefix;
    while (!gSkyboxName.empty() && (gSkyboxName.back() == '_' || gSkyboxName.back() == '-')) gSkyboxName.pop_back();
    if (gSkyboxName.empty() && !folder.empty()) {
        std::string inner = folder.substr(0, folder.size() - 1);
        for (char& c : inner)
            if (c == '\\') c = '/';
        const size_t slash = inner.rfind('/');
        gSkyboxName = slash == std::string::npos ? inner : inner.substr(slash + 1);
    }
    if (gSkyboxName.empty()) gSkyboxName = "Skybox";

    int64_t count = 0;
    for (size_t i = 0; i < 6; ++i) {
        ShowSkyboxProgress(progress, std::string("Loading face ") + kFaceOrder[i] + " (" + std::to_string(i + 1) + " of 6)...",
                           int64_t(i), 6);
        if (!paths[i].empty() && LoadSkyboxFace(int64_t(i), paths[i], display)) ++count;
    }
    return count;
}

bool AreAllLoadedFacesHdr() {
    bool any = false;
    for (const SkyFace& face : gSkyFaces) {
        if (!face.loaded) continue;
        if (!face.isHdr) return false;
        any = true;
    }
    return any;
}
