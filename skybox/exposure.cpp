// One exposure for the whole HDR set, so the seams between faces stay
// invisible, and the colour the panorama puts where no face is.
#include <cmath>
#include <cstring>

#include "formats/hdr.h"
#include "skybox/skybox.h"

namespace {

bool HasUsableBlock(const SkyFace& face) {
    return face.loaded && face.isHdr && face.hdrData && face.width > 0 && face.height > 0 &&
           face.hdrData->bytes.size() >= size_t(face.width) * size_t(face.height) * 4;
}

}  // namespace

double ComputeSkyboxAutoExposure() {
    double sum = 0.0;
    int64_t count = 0;
    for (const SkyFace& face : gSkyFaces) {
        if (!HasUsableBlock(face)) continue;
        const uint8_t* bytes = face.hdrData->bytes.data();
        const int64_t pixels = face.width * face.height;
        // Every 7th pixel is enough for a mean over a large set.
        for (int64_t i = 0; i < pixels; i += 7) {
            const uint8_t* p = bytes + i * 4;
            if (p[3] == 0) continue;
            const double l = ((p[0] + 0.5) * 0.2126 + (p[1] + 0.5) * 0.7152 + (p[2] + 0.5) * 0.0722) / 256.0 *
                             std::ldexp(1.0, int(p[3]) - 128);
            sum += std::log(l);
            ++count;
        }
    }
    if (count == 0) return 0.0;
    const double mean = std::exp(sum / double(count));
    return std::log(0.18 / mean) / std::log(2.0);
}

void ToneMapSkyFace(int64_t faceIndex, const HdrDisplaySettings& display) {
    if (faceIndex < 0 || faceIndex >= 6) return;
    SkyFace& face = gSkyFaces[size_t(faceIndex)];
    if (!HasUsableBlock(face)) return;
    ImagePtr image =
        ToneMapHdrBlock(*face.hdrData, int(face.width), int(face.height), display.exposure, display.tone);
    // Without memory for the new picture the face keeps its old one.
    if (image) face.image = std::move(image);
}

void ApplyExposureToSkyboxFaces(const HdrDisplaySettings& display, const SkyboxProgress& progress) {
    for (size_t i = 0; i < gSkyFaces.size(); ++i) {
        if (!gSkyFaces[i].loaded) continue;
        ShowSkyboxProgress(progress,
                           "Applying exposure to face " + gSkyFaces[i].letter + " (" + std::to_string(i + 1) + " of 6)...",
                           int64_t(i), 6);
        ToneMapSkyFace(int64_t(i), display);
    }
}

uint32_t AverageSideFacesBottomColor() {
    uint64_t sumR = 0, sumG = 0, sumB = 0, count = 0;
    for (size_t f = 0; f < 4; ++f) {
        const SkyFace& face = gSkyFaces[f];
        if (!face.loaded || !face.image) continue;
        const Image& image = *face.image;
        const int bpp = image.BytesPerPixel();
        const uint8_t* row = image.RowFromTop(image.height - 1);
        for (int x = 0; x < image.width; ++x) {
            sumB += row[size_t(x) * size_t(bpp)];
            sumG += row[size_t(x) * size_t(bpp) + 1];
            sumR += row[size_t(x) * size_t(bpp) + 2];
        }
        count += uint64_t(image.width);
    }
    if (count == 0) return kOpaqueBlack;
    return MakeColour(int(sumR / count), int(sumG / count), int(sumB / count), 255);
}

uint32_t AverageSideFacesBottomHdr() {
    double sumR = 0.0, sumG = 0.0, sumB = 0.0;
    int64_t count = 0;
    for (size_t f = 0; f < 4; ++f) {
        const SkyFace& face = gSkyFaces[f];
        if (!HasUsableBlock(face)) continue;
        const uint8_t* row = face.hdrData->bytes.data() + size_t(face.height - 1) * size_t(face.width) * 4;
        for (int64_t x = 0; x < face.width; ++x) {
            const uint8_t* p = row + x * 4;
            ++count;
            // Black pixels count but add nothing.
            if (p[3] == 0) continue;
            const double f = std::ldexp(1.0, int(p[3]) - 128) / 256.0;
            sumR += (p[0] + 0.5) * f;
            sumG += (p[1] + 0.5) * f;
            sumB += (p[2] + 0.5) * f;
        }
    }
    if (count == 0) return 0;
    uint8_t pixel[4];
    EncodeRgbe(pixel, sumR / double(count), sumG / double(count), sumB / double(count));
    uint32_t packed = 0;
    std::memcpy(&packed, pixel, 4);
    return packed;
}
