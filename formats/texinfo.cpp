#include "formats/texinfo.h"

#include <algorithm>

#include "formats/gro.h"
#include "toolkit/files.h"

void ClearTexInfo(TexInfo& info) { info = TexInfo(); }

ImagePtr ConvertTo32Bit(ImagePtr image) {
    if (!image || image->depth == 32) return image;
    ImagePtr result = CreateImage(image->width, image->height, 32, kOpaqueBlack);
    if (!result) return nullptr;
    DrawImage(*result, *image, 0, 0, DrawMode::Copy);
    return result;
}

int HasTransparentPixels(const Image* image) {
    if (!image || image->depth != 32 || !image->pixels) return 0;
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = image->RowFromTop(y);
        for (int x = 0; x < image->width; ++x)
            if (row[x * 4 + 3] != 255) return 1;
    }
    return 0;
}

void FreeTexHdrData(TexInfo& info) { info.hdrData.reset(); }

std::string GetTextAfterLastSeparator(const std::string& text) {
    std::string t = text;
    std::replace(t.begin(), t.end(), '\\', '/');
    const size_t cut = t.rfind('/');
    return cut == std::string::npos ? t : t.substr(cut + 1);
}

std::string GetDisplayName(const std::string& path) {
    if (IsArchivePath(path)) return GetTextAfterLastSeparator(GetEntryPartOfPath(path));
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool ReadFileForDecoding(const std::string& path, std::vector<uint8_t>& data, TexInfo& info) {
    // A short read is a failure, never a picture of zeros. Once the file
    // opens, what failed was holding or reading its bytes: a file too large
    // for memory says so instead of claiming it cannot be opened.
    ReadFailure failure = ReadFailure::None;
    if (!ReadWholeFile(path, data, &failure)) {
        info.errorText =
            failure == ReadFailure::CannotRead ? "The file is empty or too large." : "The file cannot be opened.";
        return false;
    }
    if (data.empty()) {
        info.errorText = "The file is empty or too large.";
        return false;
    }
    return true;
}
