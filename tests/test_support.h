// Helpers the file-format tests share: a fresh temporary folder, whether a
// peer tool is installed, and a picture's pixels in reading order.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/image.h"

// AddressSanitizer reserves its shadow memory up front, so a child process
// under a memory limit cannot allocate at all; such tests skip.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// A new empty folder below the test temporary folder, ending in "/".
inline std::string MakeTempFolder(const std::string& prefix) {
    std::string templ = testing::TempDir() + prefix + "XXXXXX";
    if (!mkdtemp(templ.data())) {
        ADD_FAILURE() << "cannot make a temporary folder from " << templ;
        return testing::TempDir();
    }
    return templ + "/";
}

inline bool HaveTool(const std::string& name) {
    return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveImageMagick() {
    static const bool have = HaveTool("convert-im6.q16");
    return have;
}

// Every pixel as 0xAABBGGRR, top row first.
inline std::vector<uint32_t> PixelsOf(const Image& image) {
    std::vector<uint32_t> out;
    out.reserve(size_t(image.width) * size_t(image.height));
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) out.push_back(GetPixelColour(image, x, y));
    return out;
}
