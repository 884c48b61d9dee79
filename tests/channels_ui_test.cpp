// The Channels and Normal map commands on an open picture: one undo step and
// one suffix per command, questions and refusals that change nothing.
#include "tests/editor_fixture.h"

#include "editor/commands.h"
#include "formats/tex.h"
#include "toolkit/codecs.h"

namespace {

class EditorChannelTools : public EditorTest {
protected:
    // A 4 x 2 picture whose one pixel (1, 0) is (200, 100, 50, alpha).
    void ShowTestPicture(int alpha) {
        ImagePtr image = CreateImage(4, 2, 32, MakeColour(10, 20, 30));
        SetPixelColour(*image, 1, 0, MakeColour(200, 100, 50, alpha));
        ShowPicture(std::move(image));
        gTexInfo.hasAlpha = HasTransparentPixels(gCurrentImage.get());
        gSaveNameSuffix = "";
    }
    void Run(int64_t id) {
        if (id >= 24) HandleNormalMapCommand(id);
        else HandleChannelCommand(id);
    }
    uint32_t Shown() const { return GetPixelColour(*gCurrentImage, 1, 0); }
    void ExpectUnchanged(uint32_t pixel) {
        EXPECT_EQ(gHistory.size(), 1u);
        EXPECT_EQ(gSaveNameSuffix, "");
        EXPECT_EQ(Shown(), pixel);
    }
    static UiAnswer Typed(std::optional<std::string> text) {
        UiAnswer a;
        a.expect = UiRequestKind::Input;
        a.text = std::move(text);
        return a;
    }
};

TEST_F(EditorChannelTools, EveryCommandAsksForAPicture) {
    for (int64_t id = 17; id <= 28; ++id) {
        UiTestClearRequests();
        UiTestScriptMessageAnswer(1);
        Run(id);
        EXPECT_EQ(Messages(), std::vector<std::string>{"Please open a .tex file first."}) << id;
        EXPECT_FALSE(gCurrentImage);
    }
    // Ids of other menus do nothing, not even complain.
    UiTestClearRequests();
    HandleChannelCommand(24);
    HandleNormalMapCommand(23);
    EXPECT_TRUE(UiTestRequests().empty());
}

TEST_F(EditorChannelTools, CommandsCommitOneStepWithLabelAndSuffix) {
    struct Case {
        int64_t id;
        const char* label;
        const char* suffix;
        uint32_t pixel;
    } cases[] = {
        {17, "Red channel as grayscale", "_red", MakeColour(200, 200, 200)},
        {18, "Green channel as grayscale", "_green", MakeColour(100, 100, 100)},
        {19, "Blue channel as grayscale", "_blue", MakeColour(50, 50, 50)},
        {20, "Alpha channel as grayscale", "_alpha", MakeColour(64, 64, 64)},
        {22, "Alpha removed (fully opaque)", "_opaque", MakeColour(200, 100, 50)},
        {23, "Alpha inverted", "_invalpha", MakeColour(200, 100, 50, 191)},
        {24, "Normal map: green flipped", "_flipg", MakeColour(200, 155, 50, 64)},
        {25, "Normal map: red flipped", "_flipr", MakeColour(55, 100, 50, 64)},
        {26, "Normal map: blue (Z) rebuilt from red and green", "_z", MakeColour(200, 100, 229, 64)},
        {27, "Normal map: normalized", "_norm", MakeColour(212, 96, 37, 64)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ShowTestPicture(64);
        Run(c.id);
        EXPECT_TRUE(UiTestRequests().empty());
        EXPECT_EQ(Shown(), c.pixel);
        EXPECT_EQ(gTexInfo.note, c.label);
        EXPECT_EQ(gSaveNameSuffix, c.suffix);
        EXPECT_EQ(gHistory.size(), 2u);
        EXPECT_EQ(GetUndoLabel(), c.label);
        EXPECT_EQ(gTexInfo.hasAlpha, ColourAlpha(c.pixel) < 255 ? 1 : 0);
    }
    // Repeating a command repeats its suffix.
    ShowTestPicture(64);
    Run(17);
    Run(17);
    EXPECT_EQ(gSaveNameSuffix, "_red_red");
    EXPECT_EQ(gHistory.size(), 3u);
}

TEST_F(EditorChannelTools, AlphaOfAnOpaquePictureIsExtractedOnlyWhenConfirmed) {
    ShowTestPicture(255);
    UiTestScriptMessageAnswer(0);
    Run(20);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "This image has no transparency; the alpha channel is completely white.\nExtract it anyway?");
    EXPECT_EQ(UiTestRequests()[0].buttons, UiButtons::YesNo);
    ExpectUnchanged(MakeColour(200, 100, 50));

    UiTestScriptMessageAnswer(1);
    Run(20);
    EXPECT_EQ(Shown(), MakeColour(255, 255, 255));
    EXPECT_EQ(gSaveNameSuffix, "_alpha");
}

TEST_F(EditorChannelTools, AlphaLoadedFromAMaskFile) {
    // Masks of the picture's size and of twice its size, as PNG and texture.
    ImagePtr grey = CreateImage(4, 2, 32, MakeColour(128, 128, 128));
    ImagePtr white = CreateImage(8, 4, 32, MakeColour(255, 255, 255));
    ASSERT_TRUE(EncodePngFile(*grey, dir_ + "grey.png", 24));
    ASSERT_EQ(WriteTexFile(white.get(), dir_ + "white.tex", 0, 0, 0), 1);
    ASSERT_TRUE(WriteWholeFile(dir_ + "broken.png", "\x01\x02\x03", 3));
    gLastOpenFolder = dir_ + "pictures/";

    struct Case {
        std::string file;
        uint32_t pixel;  // 0: the picture stays as it was
        int hasAlpha;
        std::string message;
    } cases[] = {
        {"", 0, 0, ""},
        {"grey.png", MakeColour(200, 100, 50, 128), 1, ""},
        {"white.tex", MakeColour(200, 100, 50, 255), 0, ""},
        {"broken.png", 0, 0, "broken.png could not be loaded:\n"},
        {"missing.png", 0, 0, "missing.png could not be loaded:\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ShowTestPicture(255);
        UiTestClearRequests();
        UiTestScriptPath(c.file.empty() ? "" : dir_ + c.file);
        if (!c.message.empty()) UiTestScriptMessageAnswer(1);
        Run(21);
        const UiRequest& asked = UiTestRequests()[0];
        EXPECT_EQ(asked.title, "Choose a mask (white = opaque, black = transparent)");
        EXPECT_EQ(asked.startPath, dir_ + "pictures/");
        EXPECT_EQ(asked.patterns,
                  "All supported images|*.tex;*.tga;*.png;*.pcx;*.bmp;*.tif;*.tiff;*.jpg;*.jpeg;*.dds|All files (*.*)|*.*");
        EXPECT_EQ(gLastOpenFolder, dir_ + "pictures/");
        if (c.pixel == 0) {
            ExpectUnchanged(MakeColour(200, 100, 50));
            if (c.message.empty()) {
                EXPECT_TRUE(Messages().empty());
            } else {
                ASSERT_EQ(Messages().size(), 1u);
                EXPECT_EQ(Messages()[0].rfind(c.message, 0), 0u) << Messages()[0];
                EXPECT_GT(Messages()[0].size(), c.message.size());  // the reader's reason follows
                EXPECT_EQ(UiTestRequests()[1].icon, UiIcon::Error);
            }
            continue;
        }
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(Shown(), c.pixel);
        EXPECT_EQ(gTexInfo.hasAlpha, c.hasAlpha);
        EXPECT_EQ(gTexInfo.note, "Alpha loaded from " + c.file);
        EXPECT_EQ(gSaveNameSuffix, "_withalpha");
        EXPECT_EQ(gHistory.size(), 2u);
    }
}

TEST_F(EditorChannelTools, HeightMapStrengthIsAskedAndChecked) {
    gPrefNormalStrength = 2.0;
    struct Case {
        std::optional<std::string> typed;
        const char* note;  // null: refused or cancelled
        bool refused;
    } cases[] = {
        {std::nullopt, nullptr, false},
        {"", nullptr, false},
        {"2,5", "Normal map from height map (strength 2.5, OpenGL style: green up)", false},
        {"80", "Normal map from height map (strength 80.0, OpenGL style: green up)", false},
        {"0", nullptr, true},
        {"-1", nullptr, true},
        {"strong", nullptr, true},
        {"NaN", nullptr, true},
        {"Infinity", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.value_or("(cancel)"));
        ShowTestPicture(64);
        UiTestClearRequests();
        UiTestScriptAnswer(Typed(c.typed));
        if (c.refused) UiTestScriptMessageAnswer(1);
        Run(28);
        const UiRequest& asked = UiTestRequests()[0];
        EXPECT_EQ(asked.title, gAppTitle);
        EXPECT_EQ(asked.text,
                  "Create a normal map from this image (light = high, dark = low).\n"
                  "Strength (1 = subtle, 2 = normal, 5 = strong):");
        EXPECT_EQ(asked.startPath, "2.0");
        EXPECT_EQ(gPrefNormalStrength, 2.0);
        if (!c.note) {
            ExpectUnchanged(MakeColour(200, 100, 50, 64));
            EXPECT_EQ(Messages(), c.refused ? std::vector<std::string>{"Please enter a number larger than 0."}
                                            : std::vector<std::string>{});
            continue;
        }
        EXPECT_EQ(gTexInfo.note, c.note);
        EXPECT_EQ(gSaveNameSuffix, "_NM");
        EXPECT_EQ(gTexInfo.hasAlpha, 0);
        EXPECT_EQ(gHistory.size(), 2u);
    }
}

TEST_F(EditorChannelTools, FailedCopyLeavesThePicture) {
    ShowTestPicture(64);
    SetHistoryImageCopierForTesting(FailingCopy);
    UiTestScriptMessageAnswer(1);
    Run(23);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Not enough memory for this operation."});
    ExpectUnchanged(MakeColour(200, 100, 50, 64));
}

}  // namespace
