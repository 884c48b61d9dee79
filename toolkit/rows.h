// Converters for one row of 8-bit pixels between the byte orders that images
// and files use. The image stores B, G, R(, A); some files hold R, G, B(, A).
// Pixels are 3 or 4 bytes; each call converts `count` pixels of one row, the
// byte order chosen once per call, and the two rows must not overlap.
#pragma once

#include <cstdint>

// The three colour bytes of each pixel copied in the same order; a 4-byte
// destination keeps its fourth byte, a 4-byte source's fourth byte is dropped.
void CopyColourRow(const uint8_t* src, int srcBytes, uint8_t* dst, int dstBytes, int count);

// 3-byte pixels to 4-byte ones in the same colour order, alpha 255.
void AddOpaqueAlphaRow(const uint8_t* src, uint8_t* dst, int count);

// The first and third colour bytes swapped (B, G, R <-> R, G, B). A 4-byte
// destination takes the source's alpha, or 255 from a 3-byte source; a 3-byte
// destination drops the alpha.
void SwapRedBlueRow(const uint8_t* src, int srcBytes, uint8_t* dst, int dstBytes, int count);
