// The skybox tool's face table and the GUI-free steps that work on it:
// recognising face names, loading a set of six cube faces from disk or a
// ".gro" archive, turning the top and bottom faces to fit the side faces,
// the shared HDR exposure, and the fill value of the panorama layout.
//
// Face order everywhere: 0 N, 1 E, 2 S, 3 W (the side faces around the
// horizon), 4 U (top), 5 D (bottom). Long steps report progress through an
// optional callback so that the window can keep repainting; nothing here
// shows a message.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "formats/hdr.h"
#include "formats/texinfo.h"
#include "toolkit/image.h"

// ---- Face names --------------------------------------------------------
// Every recognizer works on the base name (the text after the last "/" or
// "\" without its extension), so full paths, archive entry paths and bare
// names are all accepted.

bool IsSkyboxFaceName(const std::string& name);
// The file name's text before its extension; a "." that is first or last in
// the name, or followed by a blank, starts no extension.
std::string GetSkyBaseName(const std::string& path);
// Index of the extension's "." in a file name (no folder), or npos.
size_t FindSkyExtensionDot(const std::string& fileName);
// 1-based position of the letter of a "_N"/"_E"/"_S"/"_W"/"_C"/"_D"/"_U"
// marker (the letter ends the base name or is followed by "-"); 0 for none.
int64_t FindFaceLetterSuffix(const std::string& name);
// Length of the face word ("front", "rt", "top", ...) ending the base name.
int64_t MatchFaceWordSuffix(const std::string& name);
// 4 for a trailing "posx"-style axis name, 2 for "px"-style, else 0.
int64_t MatchAxisFaceSuffix(const std::string& name);
int64_t CountTrailingDigits(const std::string& name);
// The path of the file `fileName` (letter case ignored) in `folder` on disk
// when archivePath is empty; otherwise the archive entry path of the entry
// folder + fileName among gGroEntries, which the caller has filled for that
// archive. Empty when there is none.
std::string FindFaceFile(const std::string& archivePath, const std::string& folder, const std::string& fileName);

// ---- The face table ----------------------------------------------------

struct SkyFace {
    std::string letter;       // "N", "E", "S", "W", "U" or "D"
    std::string path;         // set only when the face loaded
    std::string displayName;  // set at every load attempt
    int64_t loaded = 0;
    int64_t width = 0;        // always the size of `image`
    int64_t height = 0;
    int64_t isHdr = 0;
    HdrBlockPtr hdrData;      // RGBE, width x height, rows top-down
    ImagePtr image;           // 32-bit; for HDR faces the tone-mapped picture
};

extern std::array<SkyFace, 6> gSkyFaces;
extern std::string gSkyboxName;
// Start folder of the skybox requesters; a successful export sets it to the
// folder written to.
extern std::string gSkyboxFolder;
// [face][edge 0 top, 1 right, 2 bottom, 3 left][64 samples x R, G, B]
extern double gEdgeSamples[6][4][192];

// Progress of a long step: text, done out of total.
using SkyboxProgress = std::function<void(const std::string& text, int64_t done, int64_t total)>;
// Calls the callback when there is one.
void ShowSkyboxProgress(const SkyboxProgress& progress, const std::string& text, int64_t done, int64_t total);

// Start-up state: empty table, no set name, zero edge samples.
void ResetSkyboxGlobals();
void ResetSkyboxFaces();
// Loads one face from a file or an archive entry path, an HDR face shown
// under `display`; 1 on success. A face that fails keeps only its letter and
// displayName.
int64_t LoadSkyboxFace(int64_t faceIndex, const std::string& path, const HdrDisplaySettings& display = {});
// Resets the table, derives the other five names from the picked one, finds
// and loads them; the number of faces loaded (0 when no scheme applies).
int64_t LoadSkyboxSetFromFace(const std::string& facePath, const SkyboxProgress& progress = {},
                              const HdrDisplaySettings& display = {});
// At least one face loaded and every loaded face HDR.
bool AreAllLoadedFacesHdr();

// ---- Fitting the top and bottom faces ----------------------------------

void SampleFaceEdges();
double MeasureFaceEdgeDifference(int64_t faceA, int64_t edgeA, int64_t faceB, int64_t edgeB, int64_t reversed);
// The edge of the unturned face that lies at `edge` after `turns` clockwise
// quarter turns, and whether it then runs the other way.
void RotateEdgeMapping(int64_t turns, int64_t edge, int64_t reversed, int64_t& outEdge, int64_t& outReversed);
double ScoreUpFaceRotation(int64_t turns);
double ScoreDownFaceRotation(int64_t turns);
// Turns a face (image and RGBE block) clockwise by a quarter turn.
void RotateFaceQuarterTurn(int64_t faceIndex);
// Turns U and D to fit and checks the side order; the report for the user,
// empty when there is nothing to say or a needed face is missing.
std::string FitSkyboxFaceOrientation(const SkyboxProgress& progress = {});

// ---- Exposure and bottom fill ------------------------------------------

// EV that brings the geometric mean luminance of the HDR faces (every 7th
// pixel) to middle grey; 0.0 when there is no HDR pixel to measure.
double ComputeSkyboxAutoExposure();
// Rebuilds an HDR face's image from its RGBE block under `display`; other
// faces keep their image.
void ToneMapSkyFace(int64_t faceIndex, const HdrDisplaySettings& display);
void ApplyExposureToSkyboxFaces(const HdrDisplaySettings& display, const SkyboxProgress& progress = {});
// Average of the side faces' bottom image rows, opaque, as 0xAABBGGRR.
uint32_t AverageSideFacesBottomColor();
// Average of the side faces' bottom RGBE rows as one RGBE pixel (bytes R, G,
// B, E in memory order); four zero bytes when there is nothing to average.
uint32_t AverageSideFacesBottomHdr();

// ---- Combined layouts --------------------------------------------------
// Layout codes: 0 strip (W N E S), 1 cross (U above and D below N), 2
// equirectangular panorama. Side faces are addressed with face N's size;
// a side face of another size is read clamped to its own pixels.

// Sizes of a combined layout; any other code leaves both as they are.
void GetSkyboxLayoutSize(int64_t layout, int64_t& width, int64_t& height);
// 1 when output pixel (x, y) shows a face, with the face and its pixel.
int64_t MapLayoutPixelToFace(int64_t layout, int64_t x, int64_t y, int64_t outWidth, int64_t outHeight, int64_t& face,
                             int64_t& u, int64_t& v);
// The 8-bit picture of a layout; pixels of no face are white with alpha 0,
// except in the panorama, which takes the side faces' bottom colour. Null
// when the image cannot be made.
ImagePtr BuildSkyboxImage(int64_t layout, const SkyboxProgress& progress = {});
// The cross as the skybox window shows it, width x height: the whole cross
// (BuildSkyboxImage(1)) resized smoothly. When the whole cross finds no room,
// the cross of the faces halved (2 x 2 averages), halved again while it
// still does not fit, resized the same way. Null when not even that can be
// made.
ImagePtr BuildSkyboxPreview(int width, int height, const SkyboxProgress& progress = {});
// The RGBE picture of a layout (faces without a block count as missing);
// null when the memory cannot be had.
HdrBlockPtr BuildHdrSkyboxImage(int64_t layout, int64_t& width, int64_t& height, const SkyboxProgress& progress = {});
