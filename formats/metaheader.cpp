#include "formats/metaheader.h"

#include <algorithm>
#include <cstring>

#include "formats/tex.h"
#include "toolkit/bytereader.h"

namespace {

std::string RemoveVersionTags(std::string text) {
    static const std::string tag = "$Version: ";
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at)) text.erase(at, tag.size());
    return text;
}

}  // namespace

std::string ReadStoredMetaVersionText(const uint8_t* data, size_t size) {
    ByteReader reader(data, size);
    reader.Seek(16);
    const int32_t versionLength = reader.I32();
    if (reader.Overrun() || versionLength < 1 || versionLength > 999) return {};
    const uint8_t* text = reader.Span(20, uint64_t(versionLength));
    if (!text) return {};
    const void* zero = std::memchr(text, 0, size_t(versionLength));
    const size_t n = zero ? size_t(static_cast<const uint8_t*>(zero) - text) : size_t(versionLength);
    return std::string(reinterpret_cast<const char*>(text), n);
}

std::string ReadMetaVersionText(const uint8_t* data, size_t size) {
    return RemoveVersionTags(ReadStoredMetaVersionText(data, size));
}

bool IsDk2MetaHeader(const uint8_t* data, size_t size) {
    return ReadStoredMetaVersionText(data, size).find("Dravik 2") != std::string::npos;
}

bool ReadMetaTextureHeader(const uint8_t* data, size_t size, const char* generation, MetaTextureHeader& header,
                           TexInfo& info) {
    const std::string layout = std::string("Unknown Dravik ") + generation + " layout: ";
    const int64_t objs = FindTextInBuffer(data, size, 0, "OBJS");
    if (objs < 0) {
        info.errorText = layout + "OBJS chunk missing.";
        return false;
    }
    ByteReader reader(data, size);
    const int64_t star = FindTextInBuffer(data, size, objs, "STAR");
    if (star < 16 || !reader.Fits(uint64_t(star), 8)) {
        info.errorText = layout + "STAR chunk missing.";
        return false;
    }
    reader.Seek(uint64_t(star) - 16);
    header.star = star;
    header.width = reader.I32();
    header.height = reader.I32();
    header.flags = reader.I32();
    header.code = reader.I32();
    reader.Skip(4);
    header.dataSize = reader.I32();
    const uint64_t dataEnd = uint64_t(star) + 8 + uint64_t(std::max(header.dataSize, 0));
    if (header.dataSize > 0 && reader.Fits(dataEnd, 8)) {
        reader.Seek(dataEnd);
        header.wrapU = reader.I32();
        header.wrapV = reader.I32();
    }
    info.width = header.width;
    info.height = header.height;
    info.flags = header.flags;
    info.frameCount = 1;
    return true;
}

std::string JoinFlagWords(int64_t flags, const FlagWord* words, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (!(flags & words[i].bit)) continue;
        if (!text.empty()) text += ", ";
        text += words[i].word;
    }
    return text.empty() ? "none" : text;
}

std::string GetWrapModeName(int64_t mode) {
    switch (mode) {
        case 80: return "repeat";
        case 81: return "clamp to edge";
        case 82: return "clamp to border";
        default: break;
    }
    // Widened before printing: a negative value shows its 64-bit two's complement,
    // so -1 reads as sixteen F digits.
    uint64_t bits = uint64_t(mode);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[bits & 15]);
        bits >>= 4;
    } while (bits != 0);
    return "unknown (" + hex + ")";
}
