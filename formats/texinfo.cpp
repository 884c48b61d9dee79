#include "formats/texinfo.h"

#include <new>

HdrBlockPtr NewHdrBlock(int width, int height) {
    if (width < 1 || height < 1) return nullptr;
    HdrBlockPtr block(new (std::nothrow) HdrBlock);
    if (!block || !ResizeWithinRoom(block->bytes, size_t(width) * size_t(height) * 4)) return nullptr;
    block->width = width;
    block->height = height;
    return block;
}

void ClearTexInfo(TexInfo& info) { info = TexInfo(); }

void FreeTexHdrData(TexInfo& info) { info.hdrData.reset(); }
