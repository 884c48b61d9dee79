// TexInfo: the record every reader fills to describe what it loaded, and the
// HDR block it may own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/image.h"

// An HDR picture in Radiance RGBE form: width x height pixels of 4 bytes
// (R, G, B mantissas and the shared exponent E), rows top-down.
struct HdrBlock {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;  // width * height * 4, zero-filled when made
};
using HdrBlockPtr = std::unique_ptr<HdrBlock>;
// A new zero-filled block of width x height, made only when the process has
// room for it (toolkit/memory.h); null otherwise or for a side below 1.
HdrBlockPtr NewHdrBlock(int width, int height);

struct TexInfo {
    int32_t kind = 0;            // 0 image file, 1/2/3 texture generation
    std::string versionText;
    std::string formatText;
    int32_t texVersion = 0;
    int32_t flags = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t mipCount = 0;
    int32_t firstMip = 0;
    int32_t frameCount = 0;
    int32_t bytesPerPixel = 0;
    int32_t hasAlpha = 0;
    int32_t dataOffset = 0;
    int32_t frameSize = 0;
    int32_t isEffect = 0;
    int32_t effectValue = 0;
    int32_t effectWidth = 0;
    int32_t effectHeight = 0;
    std::string effectBaseName;
    std::string baseTextureShown;
    int32_t isHdr = 0;
    HdrBlockPtr hdrData;         // owned; freed only through FreeTexHdrData
    std::string note;
    std::string errorText;

    TexInfo() = default;
    TexInfo(TexInfo&&) = default;
    TexInfo& operator=(TexInfo&&) = default;
    // Copies would duplicate the HDR block silently; moves are the only transfer.
    TexInfo(const TexInfo&) = delete;
    TexInfo& operator=(const TexInfo&) = delete;
};

// Resets every field (numbers 0, strings empty, HDR block freed).
void ClearTexInfo(TexInfo& info);

// The refusal of a file no reader can make sense of, for readers whose own
// messages have no sharper word for it (data that cannot be what the header
// claims) and for the load dispatch.
constexpr char kDamagedFileText[] = "This image format is not supported, or the file is damaged.";

// A reader's refusal: the message goes into errorText and no image comes back.
inline ImagePtr FailTexture(TexInfo& info, std::string message) {
    info.errorText = std::move(message);
    return nullptr;
}

void FreeTexHdrData(TexInfo& info);
