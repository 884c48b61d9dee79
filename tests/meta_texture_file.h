// Builds second- and third-generation texture files for the reader tests:
// the meta header with its version text, a class name, the OBJS marker, the
// fields before STAR, the stored data and the optional wrap modes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/tex.h"

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void Put(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }
inline void Put(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

struct MetaTextureFields {
    std::string version, classTag, kind, objs;
    int32_t width, height, flags, code;
    const Bytes& data;
    bool wraps;
    int32_t wrapU, wrapV;
};

inline Bytes BuildMetaTexture(const MetaTextureFields& f) {
    Bytes b;
    Put(b, "CTSEMETA"), Put(b, "........"), Put(b, uint32_t(f.version.size())), Put(b, f.version);
    Put(b, f.classTag), Put(b, f.kind), Put(b, "xx" + f.objs + "xxxxxx");
    Put(b, uint32_t(f.width)), Put(b, uint32_t(f.height)), Put(b, uint32_t(f.flags)), Put(b, uint32_t(f.code));
    Put(b, "STAR"), Put(b, uint32_t(f.data.size())), Put(b, f.data);
    if (f.wraps) Put(b, uint32_t(f.wrapU)), Put(b, uint32_t(f.wrapV));
    return b;
}

inline Bytes Ramp(size_t n, int seed = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 37 + seed);
    return b;
}

inline ImagePtr Load(const Bytes& b, TexInfo& info) {
    return LoadTextureFromMemory(b.data(), b.size(), info, "", 0, 0);
}
