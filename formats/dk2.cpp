// Second-generation textures: not read yet; the loader reports that plainly.
#include "formats/tex.h"

ImagePtr ReadDk2Texture(const uint8_t*, size_t, TexInfo& info) {
    info.errorText = "Second-generation textures are not supported yet.";
    return nullptr;
}
