// Image codecs of the toolkit layer: decoding PNG, JPEG, BMP and TIFF by their
// content, and encoding PNG, JPEG and BMP.
//
// Decoders give a 24-bit image when the source has no alpha channel and a
// 32-bit image when it has one, so a caller can tell the source's depth from
// the result (bytesPerPixel = depth / 8). The "To32Bit" forms and the
// single-format decoders given a `sourceDepth` write straight into the
// program's 32-bit layout instead (alpha 255 where the source has none), so a
// picture is made once, and tell the source's depth, 24 or 32, in
// *sourceDepth. They take untrusted bytes: a damaged or truncated file gives a
// null image and a short English reason in *error (error may be null); they
// never crash, hang, print or exit.
//
// Encoders save through AtomicFile, so a failed save leaves any old file
// untouched: PNG as it is encoded, JPEG and BMP after encoding the whole file
// in memory. A 32-bit image written without alpha (JPEG, BMP, PNG at 24 bits)
// is flattened over white with FlattenOverWhite; a 24-bit image written with
// alpha gets alpha 255. PNG files are 8-bit RGB or RGBA, not interlaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/files.h"
#include "toolkit/image.h"

// Decodes a file or a memory block, recognised by its first bytes whatever
// the file's extension. Decoders added with RegisterImageDecoder are tried
// after the built-in formats, because their formats (TGA) have no magic.
ImagePtr DecodeImageFile(const std::string& path, std::string* error);
ImagePtr DecodeImageMemory(const uint8_t* data, size_t size, std::string* error);
// A PNG file is decoded as it is read, never held whole in memory; other
// files are read whole first. *failure (when not null) says why the file
// could not be opened or read, ReadFailure::None otherwise (decoded or not).
// A registered decoder's 24-bit result is widened afterwards.
ImagePtr DecodeImageFileTo32Bit(const std::string& path, int* sourceDepth, std::string* error,
                                ReadFailure* failure = nullptr);
ImagePtr DecodeImageMemoryTo32Bit(const uint8_t* data, size_t size, int* sourceDepth, std::string* error);

using ImageSniffFunction = bool (*)(const uint8_t* data, size_t size);
using ImageDecodeFunction = ImagePtr (*)(const uint8_t* data, size_t size, std::string* error);
// Adds a decoder behind the built-in ones; the first whose sniff accepts the
// bytes decodes them. Registering the same pair twice has no further effect.
void RegisterImageDecoder(ImageSniffFunction sniff, ImageDecodeFunction decode);
void UnregisterImageDecoder(ImageSniffFunction sniff, ImageDecodeFunction decode);

// bits is 24 or 32; any other value fails.
bool EncodePngFile(const Image& image, const std::string& path, int bits);
bool EncodePngMemory(const Image& image, int bits, std::vector<uint8_t>& out);
// quality 0..100 (the user picks it in steps of 10); values outside are clamped.
bool EncodeJpegFile(const Image& image, const std::string& path, int quality);
bool EncodeJpegMemory(const Image& image, int quality, std::vector<uint8_t>& out);
// Always 24 bits a pixel, uncompressed, bottom-up.
bool EncodeBmpFile(const Image& image, const std::string& path);
bool EncodeBmpMemory(const Image& image, std::vector<uint8_t>& out);

// The single-format decoders behind DecodeImageMemory, for callers that
// already know the format. Without sourceDepth they keep the 24-bit result
// for sources without alpha; with it they give 32 bits (see above).
bool IsPngData(const uint8_t* data, size_t size);
bool IsJpegData(const uint8_t* data, size_t size);
bool IsBmpData(const uint8_t* data, size_t size);
bool IsTiffData(const uint8_t* data, size_t size);
ImagePtr DecodePngData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth = nullptr);
ImagePtr DecodeJpegData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth = nullptr);
ImagePtr DecodeBmpData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth = nullptr);
ImagePtr DecodeTiffData(const uint8_t* data, size_t size, std::string* error, int* sourceDepth = nullptr);
// A PNG file read from its start as it decodes (a regular file from
// OpenRegularFileForReading).
ImagePtr DecodePngFile(const ReadOnlyFile& file, std::string* error, int* sourceDepth = nullptr);

// Shared by the encoders: row y (from the top) as B, G, R (withAlpha false,
// 32-bit sources flattened over white) or B, G, R, A (withAlpha true, 24-bit
// sources given alpha 255). out holds width * 3 or width * 4 bytes.
void CopyRowForEncoding(const Image& image, int y, bool withAlpha, uint8_t* out);
// The picture for a decoder that writes every pixel: 32-bit pictures are not
// filled first (their rows have no padding), 24-bit ones are, so the padding
// at the end of their rows holds defined bytes.
ImagePtr CreateDecodedImage(int width, int height, int depth);
// Sets *error when error is not null; returns null for the caller's convenience.
ImagePtr CodecFailure(std::string* error, const char* text);
