#include "toolkit/rows.h"

#include <cstring>

void CopyColourRow(const uint8_t* src, int srcBytes, uint8_t* dst, int dstBytes, int count) {
    if (srcBytes == 3 && dstBytes == 3) {
        std::memcpy(dst, src, size_t(count) * 3);
        return;
    }
    for (int x = 0; x < count; ++x, src += srcBytes, dst += dstBytes) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

void AddOpaqueAlphaRow(const uint8_t* src, uint8_t* dst, int count) {
    for (int x = 0; x < count; ++x, src += 3, dst += 4) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = 255;
    }
}

void SwapRedBlueRow(const uint8_t* src, int srcBytes, uint8_t* dst, int dstBytes, int count) {
    if (srcBytes == 4 && dstBytes == 4) {
        // R, G, B, A and B, G, R, A differ by the outer colour bytes of each word.
        for (int x = 0; x < count; ++x, src += 4, dst += 4) {
            uint32_t v;
            std::memcpy(&v, src, 4);
            v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
            std::memcpy(dst, &v, 4);
        }
        return;
    }
    if (dstBytes == 3) {
        for (int x = 0; x < count; ++x, src += srcBytes, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        return;
    }
    for (int x = 0; x < count; ++x, src += 3, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = 255;
    }
}
