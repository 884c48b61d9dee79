// One bounds-checked cursor over an untrusted byte buffer, used by every parser.
//
// Reads past the end never touch memory outside the buffer: they return 0 (or
// copy nothing) and set `overrun`, so a parser can read a whole header and test
// once. Offsets and lengths are 64-bit; Fits() and Span() are the only way a
// parser gets a raw pointer, and they check the whole range first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class ByteReader {
public:
    ByteReader(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}

    uint64_t Size() const { return size_; }
    uint64_t Pos() const { return pos_; }
    uint64_t Remaining() const { return pos_ <= size_ ? size_ - pos_ : 0; }
    bool Overrun() const { return overrun_; }
    const uint8_t* Data() const { return data_; }

    // True when [offset, offset + length) lies inside the buffer (no wrap).
    bool Fits(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    // Pointer to [offset, offset + length) or null when it does not fit.
    const uint8_t* Span(uint64_t offset, uint64_t length) const {
        return Fits(offset, length) ? data_ + offset : nullptr;
    }

    // Moves the cursor; a position past the end is an overrun.
    bool Seek(uint64_t offset) {
        if (offset > size_) {
            overrun_ = true;
            pos_ = size_;
            return false;
        }
        pos_ = offset;
        return true;
    }
    bool Skip(uint64_t count) {
        if (count > Remaining()) return Seek(size_ + 1);
        pos_ += count;
        return true;
    }

    uint8_t U8() { return uint8_t(ReadLE(1)); }
    uint16_t U16() { return uint16_t(ReadLE(2)); }
    uint32_t U32() { return uint32_t(ReadLE(4)); }
    int16_t I16() { return int16_t(U16()); }
    int32_t I32() { return int32_t(U32()); }
    uint16_t U16BE() { return uint16_t(ReadBE(2)); }
    uint32_t U32BE() { return uint32_t(ReadBE(4)); }
    float F32() {
        const uint32_t bits = U32();
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }

    // Copies count bytes out; on overrun copies nothing and zero-fills out.
    bool Read(void* out, uint64_t count) {
        if (!Fits(pos_, count)) {
            std::memset(out, 0, size_t(count));
            overrun_ = true;
            pos_ = size_;
            return false;
        }
        std::memcpy(out, data_ + pos_, size_t(count));
        pos_ += count;
        return true;
    }
    // The pointer to the next count bytes (advancing), or null on overrun.
    const uint8_t* Take(uint64_t count) {
        if (!Fits(pos_, count)) {
            overrun_ = true;
            pos_ = size_;
            return nullptr;
        }
        const uint8_t* p = data_ + pos_;
        pos_ += count;
        return p;
    }
    // True when the bytes at the cursor equal the 8-bit text tag (cursor unchanged).
    bool TagAt(uint64_t offset, const char* tag) const {
        const size_t n = std::strlen(tag);
        return Fits(offset, n) && std::memcmp(data_ + offset, tag, n) == 0;
    }
    // count bytes as 8-bit text (stops early at the buffer's end).
    std::string Text(uint64_t count) {
        const uint64_t n = count <= Remaining() ? count : Remaining();
        std::string s(reinterpret_cast<const char*>(data_ + pos_), size_t(n));
        if (n < count) overrun_ = true;
        pos_ += n;
        return s;
    }

private:
    uint64_t ReadLE(int n) {
        if (!Fits(pos_, uint64_t(n))) {
            overrun_ = true;
            pos_ = size_;
            return 0;
        }
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | data_[pos_ + i];
        pos_ += uint64_t(n);
        return v;
    }
    uint64_t ReadBE(int n) {
        if (!Fits(pos_, uint64_t(n))) {
            overrun_ = true;
            pos_ = size_;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | data_[pos_ + i];
        pos_ += uint64_t(n);
        return v;
    }

    const uint8_t* data_;
    uint64_t size_;
    uint64_t pos_ = 0;
    bool overrun_ = false;
};

// Widen, then check: width * height * bytesPerPixel in 64 bits, or -1 when any
// factor is negative or the product exceeds `limit`.
inline int64_t CheckedPixelBytes(int64_t width, int64_t height, int64_t bytesPerPixel,
                                 int64_t limit = INT64_C(1) << 40) {
    if (width < 0 || height < 0 || bytesPerPixel < 0) return -1;
    if (width > (INT64_C(1) << 20) || height > (INT64_C(1) << 20) || bytesPerPixel > 64) return -1;
    const int64_t bytes = width * height * bytesPerPixel;
    return bytes > limit ? -1 : bytes;
}

// Widen, then check against the bytes present: true when `claimed` decoded
// units (pixels, or decoded bytes) can come out of `bytesLeft` bytes of an
// encoding whose best case turns `bytesPerPacket` bytes into `unitsPerPacket`
// units (a TGA run of 1 + bytes-per-pixel bytes gives at most 128 pixels).
// Readers of run-length and other packed data ask this before allocating, so
// a file of a few bytes cannot make them allocate and fill gigabytes.
inline bool ClaimFitsBytes(uint64_t claimed, uint64_t bytesLeft, uint64_t unitsPerPacket, uint64_t bytesPerPacket = 1) {
    using Wide = unsigned __int128;
    return Wide(claimed) * bytesPerPacket <= Wide(bytesLeft) * unitsPerPacket;
}

// Deflate's best case: a 258-byte match in two bits, about 1032 bytes out of
// one byte in.
constexpr uint64_t kDeflateBestRatio = 1032;
