// The skybox export command, driven through the requester test hooks.
#include <stdlib.h>

#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/hdr.h"
#include "skybox/skybox_ui.h"
#include "tests/test_support.h"
#include "tests/ui_fixture.h"
#include "toolkit/files.h"

namespace {

class SkyboxUiTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        ResetSkyboxGlobals();
    }
    void TearDown() override {
        ResetSkyboxGlobals();
        SetWriteFailureAfterBytes(-1);
        UiTest::TearDown();
    }
    // Faces "sky_N.tex" ... of 4 x 4 pixels; HDR ones carry an RGBE block.
    void LoadFaces(const char* letters, bool hdr) {
        for (size_t i = 0; i < 6; ++i) {
            if (!letters[i] || letters[i] == '.') continue;
            SkyFace& face = gSkyFaces[i];
            face.loaded = 1;
            face.width = face.height = 4;
            face.image = CreateImage(4, 4, 32, MakeColour(20 * int(i), 50, 90));
            face.displayName = std::string("sky_") + letters[i] + ".tex";
            if (hdr) {
                face.isHdr = 1;
                face.hdrData = std::make_unique<HdrBlock>();
                face.hdrData->width = face.hdrData->height = 4;
                face.hdrData->bytes.assign(64, 130);
            }
        }
        gSkyboxName = "sky";
    }
    std::string LastMessage() {
        const auto& requests = UiTestRequests();
        return requests.empty() ? std::string() : requests.back().text;
    }
};

TEST_F(SkyboxUiTest, RefusesFormatsTheSetCannotTake) {
    struct Row {
        const char* letters;
        bool hdr;
        int64_t layout, format;
        const char* message;
    };
    const Row rows[] = {
        {"NESWUD", false, 0, 3, "Only HDR skyboxes can be saved as .hdr."},
        {"NESWUD", true, 2, 4,
         "Combined images are larger than 1024 pixels; Dravik 1 .tex is only available for separate faces."},
        {".ESWUD", true, 0, 1, ""},  // no face N: nothing at all
    };
    for (const Row& row : rows) {
        ResetSkyboxFaces();
        UiTestClearRequests();
        LoadFaces(row.letters, row.hdr);
        if (row.message[0]) UiTestScriptMessageAnswer(1);
        ExportSkybox(row.layout, row.format);
        EXPECT_EQ(LastMessage(), row.message);
        EXPECT_EQ(UiTestRequests().size(), row.message[0] ? 1u : 0u);
    }
}

TEST_F(SkyboxUiTest, SeparateFacesAreNamedAfterTheirFilesAndListed) {
    const std::string folder = MakeTempFolder("skyui");
    LoadFaces("NESWU.", true);
    gSkyboxFolder = "/start/";
    UiTestScriptPath(folder);
    UiTestScriptMessageAnswer(1);
    std::vector<std::string> texts;
    ExportSkybox(0, 3, [&](const std::string& t, int64_t, int64_t) { texts.push_back(t); });
    ASSERT_EQ(UiTestRequests().size(), 2u);
    EXPECT_EQ(UiTestRequests()[0].title, "Choose a folder for the 6 faces");
    EXPECT_EQ(UiTestRequests()[0].startPath, "/start/");
    EXPECT_EQ(LastMessage(), "Saved:\nsky_N.hdr\nsky_E.hdr\nsky_S.hdr\nsky_W.hdr\nsky_U.hdr\n");
    TexInfo info;
    ImagePtr back = LoadImageFileByExtension(folder + "sky_W.hdr", info);
    ASSERT_TRUE(back);
    EXPECT_EQ(info.hdrData->bytes, gSkyFaces[3].hdrData->bytes);
    EXPECT_EQ(gSkyboxFolder, folder);
    EXPECT_EQ(texts.front(), "Saving sky_N.hdr...");
    EXPECT_EQ(texts.back(), "Done.");

    UiTestClearRequests();
    UiTestScriptPath("");
    ExportSkybox(0, 1);
    EXPECT_EQ(UiTestRequests().size(), 1u);  // cancelled: no message
}

TEST_F(SkyboxUiTest, CombinedLayoutsAppendTheExtensionAndKeepCrossAlpha) {
    const std::string folder = MakeTempFolder("skyui");
    LoadFaces("NESWU.", false);
    struct Row {
        int64_t layout;
        const char* chosen;
        const char* written;
        bool transparentCorner;
    };
    const Row rows[] = {
        {2, "cube", "cube.png", true},
        {1, "strip.jpg", "strip.jpg.png", false},
        {3, "pano.PNG", "pano.PNG", false},
    };
    for (const Row& row : rows) {
        UiTestClearRequests();
        UiTestScriptPath(folder + row.chosen);
        UiTestScriptMessageAnswer(1);
        ExportSkybox(row.layout, 1);
        ASSERT_EQ(UiTestRequests().size(), 2u);
        EXPECT_EQ(UiTestRequests()[0].patterns, "Image (*.png)|*.png");
        EXPECT_EQ(LastMessage(), std::string("Saved:\n") + row.written);
        TexInfo info;
        ImagePtr back = LoadImageFileByExtension(folder + row.written, info);
        ASSERT_TRUE(back) << row.written;
        EXPECT_EQ(ColourAlpha(GetPixelColour(*back, 0, 0)) == 0, row.transparentCorner) << row.written;
    }
    EXPECT_EQ(UiTestRequests()[0].startPath, folder + "sky_panorama");
}

TEST_F(SkyboxUiTest, FailedWriteIsReported) {
    const std::string folder = MakeTempFolder("skyui");
    LoadFaces("NESWUD", false);
    UiTestScriptPath(folder);
    UiTestScriptMessageAnswer(1);
    SetWriteFailureAfterBytes(10);
    ExportSkybox(0, 0);
    EXPECT_EQ(LastMessage(), "Saving failed.");
    EXPECT_EQ(UiTestRequests().back().icon, UiIcon::Error);
    EXPECT_TRUE(gSkyboxFolder.empty());
}

}  // namespace

namespace {

TEST_F(SkyboxUiTest, OpeningWarnsAboutNamesAndMissingFaces) {
    struct Row {
        std::vector<const char*> files;
        const char* picked;
        const char* message;  // "" = no message
    };
    const Row rows[] = {
        {{"wall.png"}, "wall.png",
         "wall.png does not look like a skybox face.\nExpected a name ending in _N/_E/_S/_W/_U or _C/_D "
         "(HDR_Cloudy04_N.tex), Front/Right/Back/Left/Up/Down (1_3_nightFront.tex), North/East/South/West/Top/Bottom, "
         "_ft/_rt/_bk/_lf/_up/_dn, posx/negx/..., px/nx/py/ny/pz/nz (cubemap) or a number (Storm1.tex, "
         "MDG01_Daylight_01.tex)."},
        {{"s_N.png", "s_E.png", "s_S.png", "s_W.png", "s_D.png"}, "s_N.png",
         "Only 5 faces were found (at least N, E, S, W and top are needed). Missing faces are left empty."},
        {{"s_N.png", "s_E.png", "s_S.png", "s_W.png", "s_U.png"}, "s_E.png", ""},
    };
    for (const Row& row : rows) {
        const std::string folder = MakeTempFolder("skyui");
        for (const char* name : row.files)
            ASSERT_NE(SaveImageByExtension(*CreateImage(4, 4, 32, MakeColour(90, 90, 90)), folder + name, 0), 0);
        UiTestClearRequests();
        if (row.message[0]) UiTestScriptMessageAnswer(1);
        int refreshed = 0;
        EXPECT_EQ(OpenSkyboxFromFace(folder + row.picked, HdrDisplaySettings{}, {}, [&] { ++refreshed; }), 0);
        EXPECT_EQ(refreshed, 1);
        EXPECT_EQ(LastMessage(), row.message);
    }
}

}  // namespace
