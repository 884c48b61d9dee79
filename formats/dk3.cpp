// Third-generation textures: not read yet; the loader reports that plainly.
#include "formats/tex.h"

ImagePtr ReadDk3Texture(const uint8_t*, size_t, TexInfo& info) {
    info.errorText = "Third-generation textures are not supported yet.";
    return nullptr;
}
