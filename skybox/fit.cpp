// Turning the top and bottom faces so that their edges match the side
// faces, judged by the colour difference along the shared edges.
#include <cmath>
#include <cstring>

#include "skybox/skybox.h"
#include "toolkit/parallel.h"

namespace {

constexpr int kSamplesPerEdge = 64;

// Per side face: the U edge it meets before any turn and whether that edge
// runs the other way; the same for D.
constexpr int64_t kUpEdge[4] = {2, 1, 0, 3};
constexpr int64_t kUpReversed[4] = {0, 1, 1, 0};
constexpr int64_t kDownEdge[4] = {0, 1, 2, 3};
constexpr int64_t kDownReversed[4] = {0, 0, 1, 1};

int RoundClamped(double value, int limit) {
    // nearbyint rounds halves to the even neighbour in the default mode.
    const int64_t rounded = int64_t(std::nearbyint(value));
    return int(rounded >= limit ? limit - 1 : rounded);
}

bool IsValidFace(int64_t face) { return face >= 0 && face < 6; }
bool IsValidEdge(int64_t edge) { return edge >= 0 && edge < 4; }

double ScoreRotation(int64_t turns, int64_t sideEdge, int64_t capFace, const int64_t* capEdges,
                     const int64_t* capReversed) {
    if (!gSkyFaces[size_t(capFace)].loaded) return 0.0;
    double sum = 0.0;
    for (int64_t i = 0; i < 4; ++i) {
        if (!gSkyFaces[size_t(i)].loaded) continue;
        int64_t edge = 0, reversed = 0;
        RotateEdgeMapping(turns, capEdges[i], capReversed[i], edge, reversed);
        sum += MeasureFaceEdgeDifference(i, sideEdge, capFace, edge, reversed);
    }
    return sum;
}

// Tries the four turns of a square cap face, turns it to the best one and
// appends the report sentences.
void FitCapFace(int64_t face, double (*score)(int64_t), const char* name, std::string& report) {
    double best = 1e30, second = 1e30;
    int64_t bestTurns = 0;
    for (int64_t turns = 0; turns < 4; ++turns) {
        const double s = score(turns);
        if (s < best) {
            second = best;
            best = s;
            bestTurns = turns;
        } else if (s < second) {
            second = s;
        }
    }
    if (bestTurns > 0) {
        for (int64_t t = 0; t < bestTurns; ++t) RotateFaceQuarterTurn(face);
        report += std::string(name) + " face turned " + std::to_string(bestTurns * 90) + " degrees to fit. ";
    }
    if (second * 0.7 < best) {
        std::string lower = name;
        lower[0] = char(lower[0] - 'A' + 'a');
        report += "The " + lower + " face does not clearly fit; please check the preview. ";
    }
}

}  // namespace

void SampleFaceEdges() {
    for (size_t f = 0; f < 6; ++f) {
        const SkyFace& face = gSkyFaces[f];
        if (!face.loaded || !face.image) continue;
        const Image& image = *face.image;
        const int w = image.width, h = image.height, bpp = image.BytesPerPixel();
        for (int e = 0; e < 4; ++e) {
            double* out = gEdgeSamples[f][e];
            for (int i = 0; i < kSamplesPerEdge; ++i) {
                const double t = (i + 0.5) / 64.0;
                int x = 0, y = 0;
                switch (e) {
                    case 0: x = RoundClamped(w * t, w); y = 0; break;
                    case 1: x = w - 1; y = RoundClamped(h * t, h); break;
                    case 2: x = RoundClamped(w * t, w); y = h - 1; break;
                    default: x = 0; y = RoundClamped(h * t, h); break;
                }
                const uint8_t* p = image.RowFromTop(y) + size_t(x) * size_t(bpp);
                out[3 * i] = p[2];
                out[3 * i + 1] = p[1];
                out[3 * i + 2] = p[0];
            }
        }
    }
}

double MeasureFaceEdgeDifference(int64_t faceA, int64_t edgeA, int64_t faceB, int64_t edgeB, int64_t reversed) {
    if (!IsValidFace(faceA) || !IsValidFace(faceB) || !IsValidEdge(edgeA) || !IsValidEdge(edgeB)) return 0.0;
    const double* a = gEdgeSamples[faceA][edgeA];
    const double* b = gEdgeSamples[faceB][edgeB];
    double sum = 0.0;
    for (int i = 0; i < kSamplesPerEdge; ++i) {
        const int j = reversed ? kSamplesPerEdge - 1 - i : i;
        for (int c = 0; c < 3; ++c) {
            const double d = a[3 * i + c] - b[3 * j + c];
            sum += d * d;
        }
    }
    return std::sqrt(sum / 192.0);
}

void RotateEdgeMapping(int64_t turns, int64_t edge, int64_t reversed, int64_t& outEdge, int64_t& outReversed) {
    for (int64_t t = 0; t < turns; ++t) {
        switch (edge) {
            case 0: edge = 3; reversed = !reversed; break;
            case 1: edge = 0; break;
            case 2: edge = 1; reversed = !reversed; break;
            default: edge = 2; break;
        }
    }
    outEdge = edge;
    outReversed = reversed ? 1 : 0;
}

double ScoreUpFaceRotation(int64_t turns) { return ScoreRotation(turns, 0, 4, kUpEdge, kUpReversed); }
double ScoreDownFaceRotation(int64_t turns) { return ScoreRotation(turns, 2, 5, kDownEdge, kDownReversed); }

void RotateFaceQuarterTurn(int64_t faceIndex) {
    if (!IsValidFace(faceIndex)) return;
    SkyFace& face = gSkyFaces[size_t(faceIndex)];
    if (!face.loaded || !face.image) return;
    const Image& old = *face.image;
    const int w = old.width, h = old.height, bpp = old.BytesPerPixel();
    ImagePtr turned = CreateImageUnfilled(h, w, 32);
    if (!turned) return;  // no memory: the face stays as it was, size and block included
    HdrBlockPtr turnedBlock;
    if (face.hdrData) {
        turnedBlock = NewHdrBlock(h, w);
        if (!turnedBlock) return;  // the same for the RGBE block: nothing is turned
    }
    Image& target = *turned;
    ParallelForBands(w, GrainForRows(h), [&](int64_t first, int64_t end) {
        for (int y = int(first); y < int(end); ++y) {
            uint8_t* out = target.RowFromTop(y);
            const uint8_t* column = old.pixels.get() + size_t(y) * size_t(bpp);
            // New pixel (x, y) is old pixel (y, h - 1 - x); stored rows run
            // bottom-up, so old row h - 1 - x is stored row x.
            for (int x = 0; x < h; ++x) {
                const uint8_t* p = column + size_t(x) * size_t(old.pitch);
                out[4 * x] = p[0];
                out[4 * x + 1] = p[1];
                out[4 * x + 2] = p[2];
                out[4 * x + 3] = bpp == 4 ? p[3] : 255;
            }
        }
    });
    if (turnedBlock) {
        const uint8_t* const from = face.hdrData->bytes.data();
        uint8_t* const to = turnedBlock->bytes.data();
        ParallelForBands(w, GrainForRows(h), [&](int64_t first, int64_t end) {
            for (int y = int(first); y < int(end); ++y) {
                uint8_t* out = to + size_t(y) * size_t(h) * 4;
                for (int x = 0; x < h; ++x)
                    std::memcpy(out + 4 * size_t(x), from + (size_t(h - 1 - x) * size_t(w) + size_t(y)) * 4, 4);
            }
        });
        face.hdrData = std::move(turnedBlock);
    }
    face.image = std::move(turned);
    face.width = h;
    face.height = w;
}

std::string FitSkyboxFaceOrientation(const SkyboxProgress& progress) {
    std::string report;
    for (size_t i = 0; i < 5; ++i)
        if (!gSkyFaces[i].loaded) return report;
    ShowSkyboxProgress(progress, "Checking how the faces fit together...", 0, 1);
    SampleFaceEdges();

    const SkyFace& up = gSkyFaces[4];
    if (up.width == up.height) FitCapFace(4, ScoreUpFaceRotation, "Top", report);
    const SkyFace& down = gSkyFaces[5];
    const SkyFace& north = gSkyFaces[0];
    if (down.loaded && down.width == down.height && north.width <= north.height)
        FitCapFace(5, ScoreDownFaceRotation, "Bottom", report);

    auto diff = [](int64_t a, int64_t b) { return MeasureFaceEdgeDifference(a, 1, b, 3, 0); };
    const double forward = diff(0, 1) + diff(1, 2) + diff(2, 3) + diff(3, 0);
    const double reverse = diff(0, 3) + diff(3, 2) + diff(2, 1) + diff(1, 0);
    if (reverse < forward * 0.7)
        report += "The side faces seem to be in reverse order (N W S E); please check the preview. ";

    const size_t first = report.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const size_t last = report.find_last_not_of(' ');
    return report.substr(first, last - first + 1);
}
