// Skybox sets: face-name recognizers, finding and loading a set on disk and
// in an archive, fitting the top and bottom faces, the shared exposure and
// the bottom fill. Face files are made in the test.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "formats/hdr.h"
#include "skybox/skybox.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

// Distinct colours so a test can tell which file went into which face.
uint32_t FaceColour(int i) { return MakeColour(10 + 40 * i, 200 - 30 * i, 7 * i, 255); }

void WriteFace(const std::string& path, uint32_t colour, int width = 4, int height = 4) {
    ImagePtr image = CreateImage(width, height, 32, colour);
    if (GetLowerExtension(path) == "tex")
        ASSERT_EQ(WriteTexFile(image.get(), path, 0, 0, 0), 1) << path;
    else
        ASSERT_NE(SaveImageByExtension(*image, path, 0), 0) << path;
}

// Puts an image (and optionally an RGBE block) straight into the table.
void SetFace(int i, ImagePtr image, HdrBlockPtr block = nullptr) {
    SkyFace& face = gSkyFaces[size_t(i)];
    face.loaded = 1;
    face.width = image->width;
    face.height = image->height;
    face.image = std::move(image);
    face.isHdr = block ? 1 : 0;
    face.hdrData = std::move(block);
}

HdrBlockPtr UniformBlock(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t e) {
    HdrBlockPtr block = std::make_unique<HdrBlock>();
    block->width = width;
    block->height = height;
    for (int i = 0; i < width * height; ++i) block->bytes.insert(block->bytes.end(), {r, g, b, e});
    return block;
}

class SkyboxTest : public testing::Test {
protected:
    void SetUp() override { ResetSkyboxGlobals(); }
    void TearDown() override { ResetSkyboxGlobals(); }
};

TEST(SkyboxNames, RecognizersReadTheBaseName) {
    struct Row {
        const char* name;
        int64_t letter, word, axis, digits;
    };
    const Row rows[] = {
        {"HDR_Cloudy04_N", 14, 0, 0, 0},
        {"/data/sky.v2/HDR_Cloudy04_N.tex", 14, 0, 0, 0},
        {"pack.gro::a\\b\\Sky_07_N.TEX", 8, 0, 0, 0},
        {"sky_e-hdr.tex", 5, 0, 0, 0},
        {"sky_N_2.tex", 0, 0, 0, 1},
        {"_N", 2, 0, 0, 0},
        {"Sky_C.tex", 5, 0, 0, 0},
        {"sky_n.", 0, 0, 0, 0},      // a last "." starts no extension
        {"my sky. v_N", 11, 0, 0, 0},  // nor does one followed by a blank
        {"1_3_nightFront.tex", 0, 5, 0, 0},
        {"sky_ft.png", 0, 2, 0, 0},
        {"skyleft", 0, 4, 0, 0},
        {"backup", 0, 2, 0, 0},
        {"top.tex", 0, 0, 0, 0},
        {"skybox_posx.hdr", 0, 0, 4, 0},
        {"posx", 0, 0, 4, 0},
        {"cubepz.tex", 0, 0, 2, 0},
        {"sunny", 0, 0, 2, 0},
        {"Storm1.tex", 0, 0, 0, 1},
        {"MDG01_Daylight_01.tex", 0, 0, 0, 2},
        {"2024", 0, 0, 0, 4},
        {"wall.tex", 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FindFaceLetterSuffix(row.name), row.letter);
        EXPECT_EQ(MatchFaceWordSuffix(row.name), row.word);
        EXPECT_EQ(MatchAxisFaceSuffix(row.name), row.axis);
        EXPECT_EQ(CountTrailingDigits(row.name), row.digits);
        EXPECT_EQ(IsSkyboxFaceName(row.name), row.letter + row.word + row.axis + row.digits > 0);
    }
}

TEST_F(SkyboxTest, FindFaceFileOnDiskAndInArchiveList) {
    const std::string folder = MakeTempFolder("sky");
    WriteFace(folder + "Sky_N.TEX", FaceColour(0));
    ASSERT_TRUE(CreateFolder(folder + "sky_e.tex"));
    EXPECT_EQ(FindFaceFile("", folder, "sky_n.tex"), folder + "Sky_N.TEX");
    EXPECT_EQ(FindFaceFile("", folder, "sky_e.tex"), "");  // folders do not count

    gGroEntries.clear();
    EXPECT_EQ(FindFaceFile("p.gro", "sky/", "hdr_n.tex"), "");
    gGroEntries = {{"Sky/HDR_E.TEX", 1}, {"Sky/HDR_N.TEX", 1}};
    EXPECT_EQ(FindFaceFile("p.gro", "sky/", "hdr_n.tex"), "p.gro::Sky/HDR_N.TEX");
    EXPECT_EQ(FindFaceFile("p.gro", "", "hdr_n.tex"), "");
    gGroEntries.clear();
}

TEST_F(SkyboxTest, LoadsSetsByEveryScheme) {
    struct Row {
        const char* label;
        std::vector<const char*> files;  // file i gets FaceColour(i)
        const char* picked;
        int64_t count;
        const char* loaded;      // "NESWUD" pattern, '.' = empty
        const char* name;
        std::vector<int> source;  // file index expected in each loaded face
    };
    const Row rows[] = {
        {"letter, C is the top",
         {"HDR_Cloudy04_N.tex", "HDR_Cloudy04_E.tex", "HDR_Cloudy04_S.tex", "HDR_Cloudy04_W.tex",
          "HDR_Cloudy04_C.tex", "HDR_Cloudy04_D.tex", "HDR_Cloudy04_U.tex"},
         "HDR_Cloudy04_N.tex", 6, "NESWUD", "HDR_Cloudy04", {0, 1, 2, 3, 4, 5}},
        {"letter, U when there is no C",
         {"a_N-x.png", "a_E-x.png", "a_S-x.png", "a_W-x.png", "a_U-x.png"},
         "a_W-x.png", 5, "NESWU.", "a", {0, 1, 2, 3, 4}},
        {"axis names",
         {"sky_posz.png", "sky_posx.png", "sky_negz.png", "sky_negx.png", "sky_posy.png", "sky_negy.png"},
         "sky_posx.png", 6, "NESWUD", "sky", {0, 1, 2, 3, 4, 5}},
        {"words in any letter case",
         {"1_3_nightFRONT.png", "1_3_nightEast.png", "1_3_night_bk.png", "1_3_nightleft.png",
          "1_3_nightCeiling.png", "1_3_nightdn.png"},
         "1_3_nightFront.png", 5, "NE.WUD", "1_3_night", {0, 1, 3, 4, 5}},
        {"numbers, lowest complete run",
         {"MDG01_Daylight_00.png", "MDG01_Daylight_01.png", "MDG01_Daylight_02.png", "MDG01_Daylight_03.png",
          "MDG01_Daylight_04.png", "MDG01_Daylight_05.png"},
         "MDG01_Daylight_01.png", 5, "NESWU.", "MDG01_Daylight", {0, 1, 2, 3, 4}},
        {"numbers with a gap", {"Storm1.png", "Storm2.png", "Storm3.png", "Storm5.png", "Storm6.png"},
         "Storm2.png", 0, "......", "Storm", {}},
        {"too many digits to count", {"s123456789012345678901.png"}, "s123456789012345678901.png", 0, "......",
         "s", {}},
        {"no extension", {"cubepz", "cubepx", "cubenz", "cubenx", "cubepy", "cubeny"}, "cubepx", 6, "NESWUD",
         "cube", {0, 1, 2, 3, 4, 5}},
        {"empty prefix takes the folder name",
         {"_N.png", "_E.png", "_S.png", "_W.png", "_C.png"}, "_S.png", 5, "NESWU.", "Alps", {0, 1, 2, 3, 4}},
        {"no scheme", {"wall.png"}, "wall.png", 0, "......", "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::string folder = MakeTempFolder("sky") + "Alps/";
        ASSERT_TRUE(CreateFolder(folder));
        for (size_t i = 0; i < row.files.size(); ++i) WriteFace(folder + row.files[i], FaceColour(int(i)));

        std::vector<std::string> texts;
        const int64_t count = LoadSkyboxSetFromFace(
            folder + row.picked, [&](const std::string& text, int64_t, int64_t) { texts.push_back(text); });
        EXPECT_EQ(count, row.count);
        EXPECT_EQ(gSkyboxName, row.name);
        size_t next = 0;
        for (size_t i = 0; i < 6; ++i) {
            const SkyFace& face = gSkyFaces[i];
            EXPECT_EQ(face.letter, std::string(1, "NESWUD"[i]));
            EXPECT_EQ(face.loaded != 0, row.loaded[i] != '.') << "face " << i;
            if (!face.loaded) continue;
            ASSERT_TRUE(face.image);
            EXPECT_EQ(face.width, face.image->width);
            ASSERT_LT(next, row.source.size());
            EXPECT_EQ(GetPixelColour(*face.image, 0, 0), FaceColour(row.source[next++]) | 0xFF000000u) << i;
        }
        if (row.count > 0) {
            ASSERT_EQ(texts.size(), 6u);
            EXPECT_EQ(texts[5], "Loading face D (6 of 6)...");
        }
    }
}

TEST_F(SkyboxTest, LoadsSetFromArchiveTexEntriesOnly) {
    const std::string folder = MakeTempFolder("sky");
    std::vector<ZipItem> items;
    const char* letters = "NESWC";
    for (int i = 0; i < 5; ++i)
        items.push_back({std::string("Sky/HDR_") + letters[i] + ".TEX", MakeTexBytes(folder, 4, 4, FaceColour(i))});
    items.push_back({"Sky/HDR_D.png", MakeTexBytes(folder, 4, 4, FaceColour(5))});
    ASSERT_TRUE(WriteTestZip(folder + "pack.gro", items));

    EXPECT_EQ(LoadSkyboxSetFromFace(folder + "pack.gro::Sky/HDR_N.TEX"), 5);
    EXPECT_EQ(gSkyboxName, "HDR");
    EXPECT_EQ(gSkyFaces[4].path, folder + "pack.gro::Sky/HDR_C.TEX");
    EXPECT_EQ(gSkyFaces[4].displayName, "HDR_C.TEX");
    EXPECT_EQ(GetPixelColour(*gSkyFaces[4].image, 1, 1), FaceColour(4));
    EXPECT_FALSE(gSkyFaces[5].loaded);
    EXPECT_FALSE(AreAllLoadedFacesHdr());
}

TEST_F(SkyboxTest, HdrFacesKeepTheirBlocks) {
    const std::string folder = MakeTempFolder("sky");
    HdrBlockPtr block = UniformBlock(3, 2, 128, 64, 32, 129);
    for (const char* name : {"h_N.hdr", "h_E.hdr", "h_S.hdr", "h_W.hdr", "h_U.hdr"})
        ASSERT_EQ(WriteHdrFile(block.get(), 3, 2, folder + name), 1);
    EXPECT_EQ(LoadSkyboxSetFromFace(folder + "h_E.hdr"), 5);
    EXPECT_TRUE(AreAllLoadedFacesHdr());
    ASSERT_TRUE(gSkyFaces[0].hdrData);
    EXPECT_EQ(gSkyFaces[0].hdrData->bytes, block->bytes);

    WriteFace(folder + "h_D.png", FaceColour(5));
    EXPECT_EQ(LoadSkyboxFace(5, folder + "h_D.png"), 1);
    EXPECT_FALSE(AreAllLoadedFacesHdr());
    ResetSkyboxFaces();
    EXPECT_FALSE(AreAllLoadedFacesHdr());
    EXPECT_EQ(LoadSkyboxFace(2, folder + "missing.tex"), 0);
    EXPECT_EQ(gSkyFaces[2].displayName, "missing.tex");
    EXPECT_TRUE(gSkyFaces[2].path.empty());
}

// A square cap face whose four edges carry one colour each (top, right,
// bottom, left), the colour of the nearest edge everywhere.
ImagePtr EdgeColouredFace(int size, const uint32_t colours[4]) {
    ImagePtr image = CreateImage(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int d[4] = {y, size - 1 - x, size - 1 - y, x};
            int best = 0;
            for (int e = 1; e < 4; ++e)
                if (d[e] < d[best]) best = e;
            SetPixelColour(*image, x, y, colours[best]);
        }
    return image;
}

const uint32_t kRed = MakeColour(255, 0, 0), kGreen = MakeColour(0, 255, 0), kBlue = MakeColour(0, 0, 255),
               kYellow = MakeColour(255, 255, 0), kGrey = MakeColour(128, 128, 128);

// Side faces whose top rows are red, green, blue, yellow (N, E, S, W), bottom
// rows the same, and whose left and right columns join in N E S W order.
void MakeSideFaces(int width, int height, bool reverseOrder) {
    const uint32_t tops[4] = {kRed, kGreen, kBlue, kYellow};
    const uint32_t joins[4] = {MakeColour(9, 9, 9), MakeColour(90, 9, 9), MakeColour(9, 90, 9), MakeColour(9, 9, 90)};
    for (int i = 0; i < 4; ++i) {
        ImagePtr image = CreateImage(width, height, 32, kGrey);
        FillRect(*image, 0, 0, width, 1, tops[i]);
        FillRect(*image, 0, height - 1, width, 1, tops[i]);
        FillRect(*image, 0, 1, 1, height - 2, joins[i]);
        FillRect(*image, width - 1, 1, 1, height - 2, joins[(i + 1) % 4]);
        const int slot = reverseOrder && (i == 1 || i == 3) ? 4 - i : i;
        SetFace(slot, std::move(image));
    }
}

TEST_F(SkyboxTest, QuarterTurnMovesPixelsAndBlock) {
    ImagePtr image = CreateImage(3, 2);
    HdrBlockPtr block = UniformBlock(3, 2, 0, 0, 0, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            SetPixelColour(*image, x, y, MakeColour(x, y, 7));
            block->bytes[size_t(y * 3 + x) * 4] = uint8_t(10 * y + x);
        }
    SetFace(4, std::move(image), std::move(block));
    RotateFaceQuarterTurn(4);
    const SkyFace& face = gSkyFaces[4];
    ASSERT_EQ(face.width, 2);
    ASSERT_EQ(face.height, 3);
    ASSERT_EQ(face.image->width, 2);
    // Clockwise: the old bottom-left corner is the new top-left.
    EXPECT_EQ(GetPixelColour(*face.image, 0, 0), MakeColour(0, 1, 7));
    EXPECT_EQ(GetPixelColour(*face.image, 1, 2), MakeColour(2, 0, 7));
    EXPECT_EQ(face.hdrData->bytes[0], 10);
    EXPECT_EQ(face.hdrData->bytes[(2 * 2 + 1) * 4], 2);
    for (int t = 0; t < 3; ++t) RotateFaceQuarterTurn(4);
    EXPECT_EQ(GetPixelColour(*face.image, 2, 1), MakeColour(2, 1, 7));
    EXPECT_EQ(face.hdrData->bytes[(1 * 3 + 2) * 4], 12);
}

TEST_F(SkyboxTest, FittingTurnsCapsAndChecksSideOrder) {
    // U as it should lie: bottom edge meets N (red), right E, top S, left W.
    const uint32_t upEdges[4] = {kBlue, kGreen, kRed, kYellow};
    // D: top edge meets N, right E, bottom S, left W.
    const uint32_t downEdges[4] = {kRed, kGreen, kBlue, kYellow};
    struct Row {
        const char* label;
        int upTurns, downTurns;  // how far too far the stored caps are turned
        bool reverse, halfHeight, withDown;
        const char* report;
    };
    const Row rows[] = {
        {"fitting set", 0, 0, false, false, true, ""},
        {"top turned a quarter too far", 1, 0, false, false, true, "Top face turned 270 degrees to fit."},
        {"bottom turned half", 0, 2, false, false, true, "Bottom face turned 180 degrees to fit."},
        {"no bottom face", 3, 0, false, false, false, "Top face turned 90 degrees to fit."},
        {"half-height sides never fit D", 0, 1, false, true, true, ""},
        {"reverse side order", 0, 0, true, false, true,
         "The side faces seem to be in reverse order (N W S E); please check the preview."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ResetSkyboxFaces();
        MakeSideFaces(32, row.halfHeight ? 16 : 32, row.reverse);
        SetFace(4, EdgeColouredFace(32, upEdges));
        for (int t = 0; t < row.upTurns; ++t) RotateFaceQuarterTurn(4);
        if (row.withDown) {
            SetFace(5, EdgeColouredFace(32, downEdges));
            for (int t = 0; t < row.downTurns; ++t) RotateFaceQuarterTurn(5);
        }
        ImagePtr before = row.withDown ? DuplicateImage(*gSkyFaces[5].image) : nullptr;
        const std::string report = FitSkyboxFaceOrientation();
        // Mirrored sides cannot be matched by turning a cap, so that row
        // may also carry a "does not clearly fit" sentence.
        if (row.reverse) {
            EXPECT_NE(report.find(row.report), std::string::npos) << report;
        } else {
            EXPECT_EQ(report, row.report);
        }
        // After the fit the caps match their unturned edges exactly.
        if (!row.reverse) {
            EXPECT_EQ(GetPixelColour(*gSkyFaces[4].image, 16, 31), kRed);
        }
        if (row.withDown && !row.halfHeight) {
            EXPECT_EQ(GetPixelColour(*gSkyFaces[5].image, 16, 0), kRed);
        }
        if (row.halfHeight) {
            EXPECT_EQ(std::memcmp(before->pixels.get(), gSkyFaces[5].image->pixels.get(), before->ByteCount()), 0);
        }
    }
}

TEST_F(SkyboxTest, FittingNeedsFiveFacesAndStaysQuietOnAUniformSky) {
    for (int i = 0; i < 6; ++i) SetFace(i, CreateImage(8, 8, 32, kGrey));
    EXPECT_EQ(FitSkyboxFaceOrientation(), "");
    ResetSkyboxFaces();
    for (int i = 0; i < 4; ++i) SetFace(i, CreateImage(8, 8, 32, kGrey));
    std::vector<std::string> texts;
    EXPECT_EQ(FitSkyboxFaceOrientation([&](const std::string& t, int64_t, int64_t) { texts.push_back(t); }), "");
    EXPECT_TRUE(texts.empty());
}

TEST_F(SkyboxTest, AutoExposureBringsGeometricMeanToMiddleGrey) {
    // (R + 0.5) / 256 * 2^(E - 128) with E = 128: luminance of a grey byte.
    struct Row {
        double grey;
        double ev;
    };
    const Row rows[] = {{0.18, 0.0}, {0.72, -2.0}, {0.045, 2.0}};
    for (const Row& row : rows) {
        ResetSkyboxFaces();
        const double byteValue = row.grey * 256.0 - 0.5;
        const uint8_t v = uint8_t(std::lround(byteValue));
        HdrBlockPtr block = UniformBlock(20, 20, v, v, v, 128);
        // Black pixels stay out of the mean.
        for (size_t i = 0; i < block->bytes.size(); i += 8) block->bytes[i + 3] = 0;
        SetFace(0, CreateImage(20, 20), std::move(block));
        SetFace(1, CreateImage(20, 20));  // 8-bit faces are not measured
        const double expected = std::log2(0.18 / ((v + 0.5) / 256.0));
        EXPECT_NEAR(ComputeSkyboxAutoExposure(), expected, 1e-9);
        EXPECT_NEAR(ComputeSkyboxAutoExposure(), row.ev, 0.02);
    }
    ResetSkyboxFaces();
    SetFace(0, CreateImage(4, 4));
    EXPECT_EQ(ComputeSkyboxAutoExposure(), 0.0);
}

TEST_F(SkyboxTest, ExposureRetonesHdrFacesOnly) {
    HdrDisplaySettings display;
    SetFace(0, CreateImage(2, 2, 32, MakeColour(1, 2, 3)), UniformBlock(2, 2, 128, 128, 128, 128));
    SetFace(2, CreateImage(2, 2, 32, MakeColour(1, 2, 3)));
    std::vector<std::string> texts;
    const auto record = [&](const std::string& t, int64_t, int64_t) { texts.push_back(t); };
    ApplyExposureToSkyboxFaces(display, record);
    const int dark = ColourRed(GetPixelColour(*gSkyFaces[0].image, 0, 0));
    display.exposure = 1.0;
    ApplyExposureToSkyboxFaces(display, record);
    EXPECT_GT(ColourRed(GetPixelColour(*gSkyFaces[0].image, 0, 0)), dark);
    EXPECT_EQ(GetPixelColour(*gSkyFaces[2].image, 0, 0), MakeColour(1, 2, 3));
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1], "Applying exposure to face S (3 of 6)...");
}

TEST_F(SkyboxTest, BottomFillAveragesSideFaceBottomRows) {
    EXPECT_EQ(AverageSideFacesBottomColor(), kOpaqueBlack);
    EXPECT_EQ(AverageSideFacesBottomHdr(), 0u);

    ImagePtr north = CreateImage(4, 3, 32, kBlue);
    FillRect(*north, 0, 2, 4, 1, MakeColour(10, 0, 0, 7));
    ImagePtr east = CreateImage(4, 3, 32, kBlue);
    FillRect(*east, 0, 2, 4, 1, MakeColour(21, 0, 0));
    // Half of N's bottom RGBE row is black, which pulls the average down.
    HdrBlockPtr block = UniformBlock(4, 3, 128, 128, 128, 130);
    for (int x = 0; x < 2; ++x) block->bytes[size_t(2 * 4 + x) * 4 + 3] = 0;
    SetFace(0, std::move(north), std::move(block));
    SetFace(1, std::move(east), UniformBlock(4, 3, 128, 128, 128, 130));
    SetFace(4, CreateImage(4, 3, 32, kGreen), UniformBlock(4, 3, 255, 255, 255, 140));  // not a side face
    EXPECT_EQ(AverageSideFacesBottomColor(), MakeColour(15, 0, 0, 255));

    const uint32_t fill = AverageSideFacesBottomHdr();
    uint8_t p[4];
    std::memcpy(p, &fill, 4);
    const double value = (p[0] + 0.5) * std::ldexp(1.0, p[3] - 128) / 256.0;
    const double full = 128.5 * 4.0 / 256.0;
    EXPECT_NEAR(value, full * 6.0 / 8.0, full * 0.01);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
}

TEST_F(SkyboxTest, BuildsStripCrossAndPanorama) {
    for (int i = 0; i < 6; ++i) {
        ImagePtr image = CreateImage(8, 8, 32, FaceColour(i));
        FillRect(*image, 0, 7, 8, 1, kRed);  // bottom rows give the panorama fill
        SetFace(i, std::move(image));
    }
    std::vector<std::string> texts;
    ImagePtr strip = BuildSkyboxImage(0, [&](const std::string& t, int64_t, int64_t) { texts.push_back(t); });
    ASSERT_TRUE(strip);
    EXPECT_EQ(strip->width, 32);
    EXPECT_EQ(strip->height, 8);
    EXPECT_EQ(texts, std::vector<std::string>{"Building strip... 0%"});
    const int stripFaces[4] = {3, 0, 1, 2};
    for (int c = 0; c < 4; ++c) EXPECT_EQ(GetPixelColour(*strip, 8 * c + 3, 2), FaceColour(stripFaces[c])) << c;

    gSkyFaces[5] = SkyFace{};
    ImagePtr cross = BuildSkyboxImage(1);
    ASSERT_TRUE(cross);
    ASSERT_EQ(cross->height, 16);
    EXPECT_EQ(GetPixelColour(*cross, 0, 0), 0x00FFFFFFu);
    EXPECT_EQ(GetPixelColour(*cross, 9, 2), FaceColour(4));
    EXPECT_EQ(GetPixelColour(*cross, 9, 10), FaceColour(0));

    ImagePtr panorama = BuildSkyboxImage(2);
    ASSERT_TRUE(panorama);
    EXPECT_EQ(panorama->height, 16);
    EXPECT_EQ(GetPixelColour(*panorama, 16, 8), FaceColour(0));  // longitude 0 looks north
    EXPECT_EQ(GetPixelColour(*panorama, 0, 8), FaceColour(2));   // the seam is the middle of S
    EXPECT_EQ(GetPixelColour(*panorama, 24, 7), FaceColour(1));  // east to the right
    EXPECT_EQ(GetPixelColour(*panorama, 16, 0), FaceColour(4));
    EXPECT_EQ(GetPixelColour(*panorama, 16, 15), kRed);          // no D: the fill

    // Sides wider than tall cover only the upper hemisphere.
    for (int i = 0; i < 4; ++i) {
        ImagePtr image = CreateImage(8, 4, 32, FaceColour(i));
        FillRect(*image, 0, 3, 8, 1, kRed);
        SetFace(i, std::move(image));
    }
    panorama = BuildSkyboxImage(2);
    ASSERT_TRUE(panorama);
    EXPECT_EQ(GetPixelColour(*panorama, 16, 6), FaceColour(0));
    for (int x = 0; x < 32; x += 5) EXPECT_EQ(GetPixelColour(*panorama, x, 9), kRed) << x;
}

TEST_F(SkyboxTest, LayoutsReadOddSizedFacesInsideTheirPixels) {
    for (int i = 0; i < 5; ++i) {
        const int side = i == 1 ? 3 : 8;  // E smaller than N
        SetFace(i, CreateImage(side, side, 32, FaceColour(i)), UniformBlock(side, side, 100, 90, 80, uint8_t(120 + i)));
    }
    for (int64_t layout = 0; layout < 3; ++layout) {
        ImagePtr image = BuildSkyboxImage(layout);
        ASSERT_TRUE(image);
        const int x[3] = {23, 23, 24}, y[3] = {7, 15, 7};
        EXPECT_EQ(GetPixelColour(*image, x[layout], y[layout]), FaceColour(1)) << layout;
        int64_t w = 0, h = 0;
        HdrBlockPtr block = BuildHdrSkyboxImage(layout, w, h);
        ASSERT_TRUE(block);
        EXPECT_EQ(int64_t(block->bytes.size()), w * h * 4);
    }
}

TEST_F(SkyboxTest, HdrLayoutsFillOrLeaveBlack) {
    for (int i = 0; i < 5; ++i) SetFace(i, CreateImage(8, 8), UniformBlock(8, 8, 200, 100, 50, uint8_t(130 + i)));
    SetFace(5, CreateImage(8, 8));  // an 8-bit D counts as missing
    int64_t w = 0, h = 0;
    HdrBlockPtr cross = BuildHdrSkyboxImage(1, w, h);
    ASSERT_TRUE(cross);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 24);
    const uint8_t* corner = cross->bytes.data();
    EXPECT_EQ(corner[3], 0);
    EXPECT_EQ(cross->bytes[size_t(2 * w + 9) * 4 + 3], 134);  // U above N

    HdrBlockPtr panorama = BuildHdrSkyboxImage(2, w, h);
    ASSERT_TRUE(panorama);
    const uint32_t fill = AverageSideFacesBottomHdr();
    uint32_t pole = 0;
    std::memcpy(&pole, &panorama->bytes[size_t((h - 1) * w + 16) * 4], 4);
    EXPECT_EQ(pole, fill);
    EXPECT_NE(fill, 0u);
}

}  // namespace
