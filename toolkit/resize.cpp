// Resizing an image: raw (nearest pixel) and smooth (Mitchell-Netravali).
//
// Raw: target pixel (tx, ty) takes the source pixel under its centre,
// ((2 tx + 1) * sw / (2 tw), (2 ty + 1) * sh / (2 th)), both divisions
// rounding down in integer arithmetic: the nearest source pixel. Whole-number
// enlargements therefore repeat every source pixel exactly factor times.
//
// Smooth sampling rules:
// - Filter: Mitchell-Netravali cubic with B = C = 1/3, support 2. When a side
//   shrinks (scale = target / source < 1) the support is widened to 2 / scale
//   source pixels and the kernel is evaluated at distance * scale, so that the
//   filter also removes the detail the smaller picture cannot hold.
// - Pixel centres: the centre of target pixel t lies at source coordinate
//   (t + 0.5) * source / target - 0.5, so both pictures cover the same area
//   and a pure enlargement does not drift towards one corner.
// - Edges: source indexes outside 0..side-1 are clamped to the nearest edge
//   pixel; their weights are added to that edge pixel.
// - Normalisation: the weights of each target pixel are computed in double,
//   summed and divided by the sum, then kept as float. The sum differs from 1
//   by far less than one part in a million, so a constant picture stays
//   exactly constant after rounding.
// - Each of the four channels is filtered on its own, alpha included and
//   without premultiplication. A 24-bit source is worked on as if it had a
//   fourth channel of zeroes, which is dropped again on output.
// - The intermediate result between the two passes is float and is neither
//   rounded nor clamped, so the negative lobes of the filter are not lost
//   halfway. The final value is clamped to 0..255 (the lobes can over- and
//   undershoot near sharp edges) and rounded to nearest, halves upwards.
//
// The two passes run in whichever order does fewer multiply-adds: either
// source rows are filtered horizontally and then combined vertically, or
// source rows are combined vertically and the result filtered horizontally.
// The rows the vertical pass needs are kept in a small ring so that each
// source row is converted (and, horizontal first, filtered) once per band of
// target rows; bands run on all cores and each computes its rows exactly as
// a single band would.
#include "toolkit/image.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include "toolkit/parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Buffers a band makes for itself, which the caller has checked for all
// bands at once.
template <class T>
std::unique_ptr<T[]> NewArray(size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// ---------------------------------------------------------------------------
// Raw

ImagePtr ResizeRaw(const Image& src, int tw, int th) {
    ImagePtr dst = CreateImageUnfilled(tw, th, src.depth);
    auto columns = NewPictureArray<int>(size_t(tw));
    if (!dst || !columns) return nullptr;
    const int bpp = src.BytesPerPixel();
    for (int tx = 0; tx < tw; ++tx) columns[tx] = int((2 * int64_t(tx) + 1) * src.width / (2 * int64_t(tw))) * bpp;
    const size_t rowBytes = size_t(tw) * size_t(bpp);
    Image& target = *dst;
    ParallelForBands(th, GrainForRows(tw), [&](int64_t first, int64_t end) {
        int previousSy = -1;
        for (int ty = int(first); ty < int(end); ++ty) {
            const int sy = int((2 * int64_t(ty) + 1) * src.height / (2 * int64_t(th)));
            uint8_t* out = target.RowFromTop(ty);
            if (sy == previousSy) {
                std::memcpy(out, target.RowFromTop(ty - 1), rowBytes);
                continue;
            }
            previousSy = sy;
            const uint8_t* in = src.RowFromTop(sy);
            if (bpp == 4) {
                for (int tx = 0; tx < tw; ++tx) std::memcpy(out + size_t(tx) * 4, in + columns[tx], 4);
            } else {
                for (int tx = 0; tx < tw; ++tx) {
                    const uint8_t* p = in + columns[tx];
                    out[tx * 3] = p[0];
                    out[tx * 3 + 1] = p[1];
                    out[tx * 3 + 2] = p[2];
                }
            }
        }
    });
    return dst;
}

// ---------------------------------------------------------------------------
// Smooth: weight tables

double Mitchell(double x) {
    constexpr double B = 1.0 / 3.0, C = 1.0 / 3.0;
    x = std::fabs(x);
    if (x < 1.0) return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
    if (x < 2.0)
        return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x + (8 * B + 24 * C)) / 6;
    return 0.0;
}

// For each target index along one axis: the first source index used, how many
// consecutive source indexes follow, and where their weights start.
struct WeightTable {
    PictureArray<int> start, count, offset;
    PictureArray<float> weights;
    int maxCount = 0;
    int64_t total = 0;  // sum of the counts: the multiply-adds of one line
};

bool BuildWeightTable(int sourceSide, int targetSide, WeightTable& table) {
    table.start = NewPictureArray<int>(size_t(targetSide));
    table.count = NewPictureArray<int>(size_t(targetSide));
    table.offset = NewPictureArray<int>(size_t(targetSide));
    auto scratch = NewPictureArray<double>(size_t(sourceSide));
    if (!table.start || !table.count || !table.offset || !scratch) return false;

    const double scale = double(targetSide) / sourceSide;
    const double shrink = std::min(scale, 1.0);
    const double radius = 2.0 / shrink;
    auto centreOf = [&](int t) { return (t + 0.5) * sourceSide / targetSide - 0.5; };
    auto clampIndex = [&](int64_t i) { return int(std::clamp<int64_t>(i, 0, sourceSide - 1)); };

    // First pass: ranges only, so the weight array is allocated once.
    int64_t total = 0;
    for (int t = 0; t < targetSide; ++t) {
        const double c = centreOf(t);
        const int first = clampIndex(int64_t(std::floor(c - radius)) + 1);
        const int last = clampIndex(int64_t(std::ceil(c + radius)) - 1);
        table.start[t] = first;
        table.count[t] = last - first + 1;
        table.offset[t] = int(total);
        total += table.count[t];
    }
    table.weights = NewPictureArray<float>(size_t(total));
    if (!table.weights) return false;

    table.maxCount = 0;
    table.total = 0;
    int64_t written = 0;
    for (int t = 0; t < targetSide; ++t) {
        const double c = centreOf(t);
        const int64_t lo = int64_t(std::floor(c - radius)) + 1;
        const int64_t hi = int64_t(std::ceil(c + radius)) - 1;
        const int first = table.start[t];
        const int n = table.count[t];
        std::fill(scratch.get(), scratch.get() + n, 0.0);
        for (int64_t i = lo; i <= hi; ++i) scratch[clampIndex(i) - first] += Mitchell((double(i) - c) * shrink);
        // Zero weights at the ends (exactly on the support's border) cost
        // time and add nothing.
        int begin = 0, end = n;
        while (end - begin > 1 && scratch[begin] == 0.0) ++begin;
        while (end - begin > 1 && scratch[end - 1] == 0.0) --end;
        double sum = 0.0;
        for (int k = begin; k < end; ++k) sum += scratch[k];
        if (sum == 0.0) sum = 1.0;  // cannot happen for this kernel; keeps the division safe
        float* w = table.weights.get() + written;
        for (int k = begin; k < end; ++k) w[k - begin] = float(scratch[k] / sum);
        table.start[t] = first + begin;
        table.count[t] = end - begin;
        table.offset[t] = int(written);
        written += end - begin;
        table.maxCount = std::max(table.maxCount, end - begin);
    }
    table.total = written;
    return true;
}

// ---------------------------------------------------------------------------
// Smooth: row kernels. Working rows hold 4 floats per pixel whatever the
// source depth, so the filters never branch on the pixel format.

void LoadRow(const uint8_t* in, int width, int bpp, float* out) {
    int x = 0;
    if (bpp == 4) {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        for (; x + 4 <= width; x += 4) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t(x) * 4));
            const __m128i lo16 = _mm_unpacklo_epi8(bytes, zero);
            const __m128i hi16 = _mm_unpackhi_epi8(bytes, zero);
            float* o = out + size_t(x) * 4;
            _mm_storeu_ps(o, _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo16, zero)));
            _mm_storeu_ps(o + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo16, zero)));
            _mm_storeu_ps(o + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi16, zero)));
            _mm_storeu_ps(o + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi16, zero)));
        }
#endif
        for (; x < width; ++x)
            for (int c = 0; c < 4; ++c) out[x * 4 + c] = in[x * 4 + c];
    } else {
        for (; x < width; ++x) {
            out[x * 4] = in[x * 3];
            out[x * 4 + 1] = in[x * 3 + 1];
            out[x * 4 + 2] = in[x * 3 + 2];
            out[x * 4 + 3] = 0.0f;
        }
    }
}

void StoreRow(const float* in, int width, int bpp, uint8_t* out) {
    int x = 0;
    if (bpp == 4) {
#if defined(__SSE2__)
        const __m128 lo = _mm_setzero_ps(), hi = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
        auto toInt = [&](const float* p) {
            return _mm_cvttps_epi32(_mm_add_ps(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(p), lo), hi), half));
        };
        for (; x + 4 <= width; x += 4) {
            const float* p = in + size_t(x) * 4;
            const __m128i a = _mm_packs_epi32(toInt(p), toInt(p + 4));
            const __m128i b = _mm_packs_epi32(toInt(p + 8), toInt(p + 12));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(x) * 4), _mm_packus_epi16(a, b));
        }
#endif
    }
    for (; x < width; ++x)
        for (int c = 0; c < bpp; ++c) {
            const float v = std::min(std::max(in[x * 4 + c], 0.0f), 255.0f);
            out[x * bpp + c] = uint8_t(int(v + 0.5f));
        }
}

// `spread` holds every weight of the table four times over, so each tap is
// one multiply with a plain load instead of a load and a broadcast.
void FilterRowHorizontally(const float* in, const WeightTable& table, const float* spread, int targetWidth,
                           float* out) {
    for (int tx = 0; tx < targetWidth; ++tx) {
        const float* p = in + size_t(table.start[tx]) * 4;
        const float* w = spread + size_t(table.offset[tx]) * 4;
        const int n = table.count[tx];
#if defined(__SSE2__)
        __m128 acc0 = _mm_setzero_ps(), acc1 = _mm_setzero_ps(), acc2 = _mm_setzero_ps(), acc3 = _mm_setzero_ps();
        int k = 0;
        for (; k + 4 <= n; k += 4) {
            acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_loadu_ps(w + k * 4), _mm_loadu_ps(p + k * 4)));
            acc1 = _mm_add_ps(acc1, _mm_mul_ps(_mm_loadu_ps(w + k * 4 + 4), _mm_loadu_ps(p + k * 4 + 4)));
            acc2 = _mm_add_ps(acc2, _mm_mul_ps(_mm_loadu_ps(w + k * 4 + 8), _mm_loadu_ps(p + k * 4 + 8)));
            acc3 = _mm_add_ps(acc3, _mm_mul_ps(_mm_loadu_ps(w + k * 4 + 12), _mm_loadu_ps(p + k * 4 + 12)));
        }
        for (; k < n; ++k) acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_loadu_ps(w + k * 4), _mm_loadu_ps(p + k * 4)));
        _mm_storeu_ps(out + size_t(tx) * 4, _mm_add_ps(_mm_add_ps(acc0, acc1), _mm_add_ps(acc2, acc3)));
#else
        float acc[4] = {0, 0, 0, 0};
        for (int k = 0; k < n; ++k)
            for (int c = 0; c < 4; ++c) acc[c] += w[k * 4] * p[k * 4 + c];
        for (int c = 0; c < 4; ++c) out[size_t(tx) * 4 + c] = acc[c];
#endif
    }
}

// out[i] (+)= sum of weights[k] * rows[k][i] for i < count (a multiple of 4).
void CombineRowsVertically(const float* const* rows, const float* weights, int n, size_t count, bool add,
                           float* out) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= count; i += 16) {
        __m128 a0, a1, a2, a3;
        if (add) {
            a0 = _mm_loadu_ps(out + i);
            a1 = _mm_loadu_ps(out + i + 4);
            a2 = _mm_loadu_ps(out + i + 8);
            a3 = _mm_loadu_ps(out + i + 12);
        } else {
            a0 = a1 = a2 = a3 = _mm_setzero_ps();
        }
        for (int k = 0; k < n; ++k) {
            const __m128 w = _mm_set1_ps(weights[k]);
            const float* r = rows[k] + i;
            a0 = _mm_add_ps(a0, _mm_mul_ps(w, _mm_loadu_ps(r)));
            a1 = _mm_add_ps(a1, _mm_mul_ps(w, _mm_loadu_ps(r + 4)));
            a2 = _mm_add_ps(a2, _mm_mul_ps(w, _mm_loadu_ps(r + 8)));
            a3 = _mm_add_ps(a3, _mm_mul_ps(w, _mm_loadu_ps(r + 12)));
        }
        _mm_storeu_ps(out + i, a0);
        _mm_storeu_ps(out + i + 4, a1);
        _mm_storeu_ps(out + i + 8, a2);
        _mm_storeu_ps(out + i + 12, a3);
    }
#endif
    for (; i < count; ++i) {
        float acc = add ? out[i] : 0.0f;
        for (int k = 0; k < n; ++k) acc += weights[k] * rows[k][i];
        out[i] = acc;
    }
}

// ---------------------------------------------------------------------------
// Smooth: driver

// Rows the vertical pass needs are cached here, this much for all bands
// together; beyond it the ring is capped and rows are recomputed instead
// (only for extreme squashes). The ring's size never changes a result: a
// chunked vertical sum adds the same terms in the same order.
constexpr size_t kRingByteLimit = size_t(64) << 20;

ImagePtr ResizeSmooth(const Image& src, int tw, int th) {
    const int sw = src.width, sh = src.height, bpp = src.BytesPerPixel();
    WeightTable across, down;
    if (!BuildWeightTable(sw, tw, across) || !BuildWeightTable(sh, th, down)) return nullptr;
    auto spread = NewPictureArray<float>(size_t(across.total) * 4);
    if (!spread) return nullptr;
    for (int64_t i = 0; i < across.total; ++i) std::fill_n(spread.get() + i * 4, 4, across.weights[i]);

    // A horizontal tap costs about twice a vertical one (the vertical pass
    // streams whole rows with one weight per row; the horizontal one needs a
    // weight per tap), so horizontal work counts double.
    const int64_t costHorizontalFirst = 2 * int64_t(sh) * across.total + int64_t(tw) * down.total;
    const int64_t costVerticalFirst = int64_t(sw) * down.total + 2 * int64_t(th) * across.total;
    const bool horizontalFirst = costHorizontalFirst <= costVerticalFirst;

    // Ring rows: horizontally filtered source rows (tw wide) or converted
    // source rows (sw wide).
    const int threads = ParallelThreadCount();
    const size_t ringRowFloats = size_t(horizontalFirst ? tw : sw) * 4;
    const size_t ringRowBytes = ringRowFloats * sizeof(float);
    const int ringSize =
        int(std::clamp<size_t>(kRingByteLimit / size_t(threads) / ringRowBytes, 1, size_t(down.maxCount)));

    ImagePtr dst = CreateImageUnfilled(tw, th, src.depth);
    if (!dst) return nullptr;
    Image& target = *dst;
    // The rings of the bands that run at once are asked for here, once: the
    // bands all start at the same moment, and each look at the memory left
    // costs a few kernel files.
    const uint64_t rings = uint64_t(ringRowBytes) * uint64_t(ringSize) * uint64_t(threads);
    if (rings >= kPictureMemoryCheckedFrom && !HasRoomFor(rings)) return nullptr;

    // Each band fills its own ring from scratch, so the rows where bands meet
    // are filtered twice; one band per thread keeps that overlap small.
    const int64_t rowWork = std::min(costHorizontalFirst, costVerticalFirst) / th;
    const int64_t grain = std::max<int64_t>(GrainForRows(rowWork), (th + threads - 1) / threads);
    std::atomic<bool> failed{false};
    ParallelForBands(th, grain, [&](int64_t first, int64_t end) {
        auto ring = NewArray<float>(ringRowFloats * size_t(ringSize));
        auto ringTags = NewArray<int>(size_t(ringSize));
        auto ringRows = NewArray<const float*>(size_t(ringSize));
        auto loaded = NewArray<float>(size_t(sw) * 4);   // one converted source row
        auto combined = NewArray<float>(ringRowFloats);  // vertical pass output
        auto filtered = NewArray<float>(size_t(tw) * 4); // final horizontal output
        if (!ring || !ringTags || !ringRows || !loaded || !combined || !filtered) {
            failed.store(true, std::memory_order_relaxed);
            return;
        }
        std::fill(ringTags.get(), ringTags.get() + ringSize, -1);

        for (int ty = int(first); ty < int(end); ++ty) {
            const int start = down.start[ty], n = down.count[ty];
            const float* w = down.weights.get() + down.offset[ty];
            for (int done = 0; done < n; done += ringSize) {
                const int m = std::min(ringSize, n - done);
                for (int k = 0; k < m; ++k) {
                    const int sy = start + done + k;
                    const int slot = sy % ringSize;
                    float* row = ring.get() + size_t(slot) * ringRowFloats;
                    if (ringTags[slot] != sy) {
                        if (horizontalFirst) {
                            LoadRow(src.RowFromTop(sy), sw, bpp, loaded.get());
                            FilterRowHorizontally(loaded.get(), across, spread.get(), tw, row);
                        } else {
                            LoadRow(src.RowFromTop(sy), sw, bpp, row);
                        }
                        ringTags[slot] = sy;
                    }
                    ringRows[k] = row;
                }
                CombineRowsVertically(ringRows.get(), w + done, m, ringRowFloats, done > 0, combined.get());
            }
            if (horizontalFirst) {
                StoreRow(combined.get(), tw, bpp, target.RowFromTop(ty));
            } else {
                FilterRowHorizontally(combined.get(), across, spread.get(), tw, filtered.get());
                StoreRow(filtered.get(), tw, bpp, target.RowFromTop(ty));
            }
        }
    });
    if (failed.load(std::memory_order_relaxed)) return nullptr;
    return dst;
}

}  // namespace

ImagePtr ResizeImage(const Image& src, int width, int height, ResizeMode mode) {
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    if (src.width < 1 || src.height < 1 || src.width > kMaxImageSide || src.height > kMaxImageSide) return nullptr;
    if ((src.depth != 32 && src.depth != 24) || !src.pixels) return nullptr;
    return mode == ResizeMode::Raw ? ResizeRaw(src, width, height) : ResizeSmooth(src, width, height);
}
