// The front of the codecs: recognises a picture by its first bytes and hands
// it to the matching decoder, then to decoders registered by the program.
#include "toolkit/codecs.h"

#include <unistd.h>

#include <cstring>
#include <utility>

#include "toolkit/files.h"
#include "toolkit/rows.h"

namespace {

std::vector<std::pair<ImageSniffFunction, ImageDecodeFunction>>& RegisteredDecoders() {
    static std::vector<std::pair<ImageSniffFunction, ImageDecodeFunction>> decoders;
    return decoders;
}

struct BuiltInDecoder {
    ImageSniffFunction sniff;
    ImagePtr (*decode)(const uint8_t* data, size_t size, std::string* error, int* sourceDepth);
};

constexpr BuiltInDecoder kBuiltInDecoders[] = {
    {IsPngData, DecodePngData},
    {IsJpegData, DecodeJpegData},
    {IsBmpData, DecodeBmpData},
    {IsTiffData, DecodeTiffData},
};

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t length) {
    return data && size >= length && std::memcmp(data, magic, length) == 0;
}

}  // namespace

bool IsPngData(const uint8_t* data, size_t size) {
    return StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8);
}

bool IsJpegData(const uint8_t* data, size_t size) {
    return StartsWith(data, size, "\xff\xd8\xff", 3);
}

bool IsBmpData(const uint8_t* data, size_t size) {
    return StartsWith(data, size, "BM", 2);
}

bool IsTiffData(const uint8_t* data, size_t size) {
    // Classic TIFF (42) and BigTIFF (43), both byte orders.
    return StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
           StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4);
}

ImagePtr CreateDecodedImage(int width, int height, int depth) {
    return depth == 32 ? CreateImageUnfilled(width, height, 32) : CreateImage(width, height, depth);
}

ImagePtr CodecFailure(std::string* error, const char* text) {
    if (error) *error = text;
    return nullptr;
}

namespace {

// sourceDepth null: the toolkit's own contract (24 bits without alpha);
// otherwise 32 bits and the source's depth in *sourceDepth.
ImagePtr DecodeMemory(const uint8_t* data, size_t size, std::string* error, int* sourceDepth) {
    if (error) error->clear();
    if (!data || size == 0) return CodecFailure(error, "The file is empty.");
    for (const BuiltInDecoder& d : kBuiltInDecoders) {
        if (d.sniff(data, size)) return d.decode(data, size, error, sourceDepth);
    }
    for (const auto& [sniff, decode] : RegisteredDecoders()) {
        if (!sniff(data, size)) continue;
        ImagePtr image = decode(data, size, error);
        if (!image || !sourceDepth) return image;
        *sourceDepth = image->depth;
        image = ConvertTo32Bit(std::move(image));
        return image ? std::move(image) : CodecFailure(error, "Not enough memory for the image.");
    }
    return CodecFailure(error, "The image format is not recognised.");
}

ImagePtr DecodeFile(const std::string& path, std::string* error, int* sourceDepth, ReadFailure* failure) {
    if (error) error->clear();
    const ReadOnlyFile file = OpenRegularFileForReading(path, failure);
    if (!file.Ok()) return CodecFailure(error, "The file cannot be opened.");
    uint8_t magic[8];
    if (pread(file.Descriptor(), magic, sizeof magic, 0) == ssize_t(sizeof magic) && IsPngData(magic, sizeof magic))
        return DecodePngFile(file, error, sourceDepth);
    std::vector<uint8_t> data;
    ReadFailure why = ReadFailure::None;
    const bool read = ReadWholeOpenFile(file, data, &why);
    if (failure) *failure = why;
    if (why == ReadFailure::NoMemory) return CodecFailure(error, "Not enough memory for the image.");
    if (!read) return CodecFailure(error, "The file cannot be opened.");
    return DecodeMemory(data.data(), data.size(), error, sourceDepth);
}

}  // namespace

ImagePtr DecodeImageMemory(const uint8_t* data, size_t size, std::string* error) {
    return DecodeMemory(data, size, error, nullptr);
}

ImagePtr DecodeImageFile(const std::string& path, std::string* error) {
    return DecodeFile(path, error, nullptr, nullptr);
}

ImagePtr DecodeImageMemoryTo32Bit(const uint8_t* data, size_t size, int* sourceDepth, std::string* error) {
    int depth = 0;
    return DecodeMemory(data, size, error, sourceDepth ? sourceDepth : &depth);
}

ImagePtr DecodeImageFileTo32Bit(const std::string& path, int* sourceDepth, std::string* error, ReadFailure* failure) {
    int depth = 0;
    return DecodeFile(path, error, sourceDepth ? sourceDepth : &depth, failure);
}

void RegisterImageDecoder(ImageSniffFunction sniff, ImageDecodeFunction decode) {
    if (!sniff || !decode) return;
    auto& decoders = RegisteredDecoders();
    for (const auto& entry : decoders) {
        if (entry.first == sniff && entry.second == decode) return;
    }
    decoders.emplace_back(sniff, decode);
}

void UnregisterImageDecoder(ImageSniffFunction sniff, ImageDecodeFunction decode) {
    auto& decoders = RegisteredDecoders();
    std::erase(decoders, std::make_pair(sniff, decode));
}

void CopyRowForEncoding(const Image& image, int y, bool withAlpha, uint8_t* out) {
    const uint8_t* row = image.RowFromTop(y);
    const int w = image.width;
    if (image.depth == 32) {
        if (withAlpha) {
            std::memcpy(out, row, size_t(w) * 4);
            return;
        }
        for (int x = 0; x < w; ++x, row += 4, out += 3) {
            const int a = row[3];
            out[0] = uint8_t(FlattenOverWhite(row[0], a));
            out[1] = uint8_t(FlattenOverWhite(row[1], a));
            out[2] = uint8_t(FlattenOverWhite(row[2], a));
        }
        return;
    }
    if (!withAlpha)
        std::memcpy(out, row, size_t(w) * 3);
    else
        AddOpaqueAlphaRow(row, out, w);
}
