// The row converters every codec shares: each pair of pixel sizes, checked
// byte by byte against the rule written out per pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "toolkit/rows.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Two pixels of each size: B, G, R(, A) = 1, 2, 3(, 4) and 5, 6, 7(, 8).
const Bytes kThree = {1, 2, 3, 5, 6, 7};
const Bytes kFour = {1, 2, 3, 4, 5, 6, 7, 8};

TEST(ToolkitRows, EveryPixelSizePair) {
    struct Case {
        const char* name;
        int srcBytes, dstBytes;
        void (*convert)(const uint8_t*, int, uint8_t*, int, int);
        Bytes expected;  // the destination starts as 0xEE bytes
    } cases[] = {
        {"copy 3 to 3", 3, 3, CopyColourRow, {1, 2, 3, 5, 6, 7}},
        {"copy 4 to 3", 4, 3, CopyColourRow, {1, 2, 3, 5, 6, 7}},
        {"copy 3 to 4", 3, 4, CopyColourRow, {1, 2, 3, 0xEE, 5, 6, 7, 0xEE}},
        {"copy 4 to 4", 4, 4, CopyColourRow, {1, 2, 3, 0xEE, 5, 6, 7, 0xEE}},
        {"swap 3 to 3", 3, 3, SwapRedBlueRow, {3, 2, 1, 7, 6, 5}},
        {"swap 4 to 3", 4, 3, SwapRedBlueRow, {3, 2, 1, 7, 6, 5}},
        {"swap 3 to 4", 3, 4, SwapRedBlueRow, {3, 2, 1, 255, 7, 6, 5, 255}},
        {"swap 4 to 4", 4, 4, SwapRedBlueRow, {3, 2, 1, 4, 7, 6, 5, 8}},
    };
    for (const Case& c : cases) {
        const Bytes& src = c.srcBytes == 3 ? kThree : kFour;
        Bytes dst(size_t(c.dstBytes) * 2 + 1, 0xEE);  // one byte more: nothing past the row is touched
        c.convert(src.data(), c.srcBytes, dst.data(), c.dstBytes, 2);
        Bytes want = c.expected;
        want.push_back(0xEE);
        EXPECT_EQ(dst, want) << c.name;
    }
    Bytes dst(9, 0xEE);
    AddOpaqueAlphaRow(kThree.data(), dst.data(), 2);
    EXPECT_EQ(dst, (Bytes{1, 2, 3, 255, 5, 6, 7, 255, 0xEE}));
}

}  // namespace
