// The meta header and the texture record that second- and third-generation
// files share: the version text after "CTSEMETA", the fields around the
// first "STAR" chunk after "OBJS", and the names both generations show for
// wrap modes and flag words. Only what both readers use is here; each
// generation's pixel formats and flags stay with its reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/texinfo.h"

// The version text of a meta header at data[0] (length at byte 16, text at
// 20, ending early at a zero byte) exactly as stored; empty when the length is
// outside 1..999 or the text is cut off.
std::string ReadStoredMetaVersionText(const uint8_t* data, size_t size);
// The same with every "$Version: " removed in one pass: the text the user sees.
std::string ReadMetaVersionText(const uint8_t* data, size_t size);
// True when the stored version text names the second generation ("Dravik 2");
// every other meta-header file is read as the third generation.
bool IsDk2MetaHeader(const uint8_t* data, size_t size);

// The fields before a second- or third-generation file's "STAR" chunk (found
// after its "OBJS" chunk), and the two wrap modes that some streams carry
// right after the data (0 when absent). The size and flags also go into
// info, with frameCount 1 (both generations show one picture). False with
// "Unknown Dravik <generation> layout: ..." in info.errorText when either
// chunk is missing.
struct MetaTextureHeader {
    int64_t star = 0;  // offset of "STAR"; the data size sits at star + 4
    int32_t width = 0, height = 0, flags = 0, code = 0, dataSize = 0;
    int32_t wrapU = 0, wrapV = 0;
};
bool ReadMetaTextureHeader(const uint8_t* data, size_t size, const char* generation, MetaTextureHeader& header,
                           TexInfo& info);

// The name of a texture wrap mode (80 repeat, 81 clamp to edge, 82 clamp to
// border), else "unknown (" + the value in upper-case hexadecimal + ")".
std::string GetWrapModeName(int64_t mode);

// The words of the set flag bits, joined by ", " in table order; "none" when
// no listed bit is set.
struct FlagWord {
    int64_t bit;
    const char* word;
};
std::string JoinFlagWords(int64_t flags, const FlagWord* words, size_t count);
