// The Channels and Normal map commands on an open picture: one undo step and
// one suffix per command, questions and refusals that change nothing.
#include "tests/editor_fixture.h"

#include "editor/commands.h"
#include "formats/tex.h"
#include "toolkit/codecs.h"

namespace {

class EditorChannelTools : public EditorTest {
protected:
    // A 4 x 2 picture whose pixel (1, 0) is (200, 100, 50, alpha).
    void ShowTestPicture(int alpha) {
        ImagePtr image = CreateImage(4, 2, 32, MakeColour(10, 20, 30));
        SetPixelColour(*image, 1, 0, MakeColour(200, 100, 50, alpha));
        ShowPicture(std::move(image));
        gTexInfo.hasAlpha = HasTransparentPixels(gCurrentImage.get());
        gSaveNameSuffix = "";
        UiTestClearRequests();
    }
    static void Run(int64_t id) { id >= 24 ? HandleNormalMapCommand(id) : HandleChannelCommand(id); }
    static uint32_t Shown() { return GetPixelColour(*gCurrentImage, 1, 0); }
    // Either the one expected step, or nothing changed.
    static void ExpectStep(const std::string& label, const std::string& suffix, uint32_t unchanged) {
        if (label.empty()) {
            EXPECT_EQ(gHistory.size(), 1u);
            EXPECT_EQ(gSaveNameSuffix, "");
            EXPECT_EQ(Shown(), unchanged);
            return;
        }
        EXPECT_EQ(gHistory.size(), 2u);
        EXPECT_EQ(GetUndoLabel(), label);
        EXPECT_EQ(gTexInfo.note, label);
        EXPECT_EQ(gSaveNameSuffix, suffix);
    }
};

TEST_F(EditorChannelTools, EveryCommandAsksForAPicture) {
    for (int64_t id = 17; id <= 28; ++id) {
        UiTestClearRequests();
        UiTestScriptMessageAnswer(1);
        Run(id);
        EXPECT_EQ(Messages(), std::vector<std::string>{"Please open a .tex file first."}) << id;
    }
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
        ShowTestPicture(64);
        Run(c.id);
        EXPECT_TRUE(UiTestRequests().empty());
        ExpectStep(c.label, c.suffix, 0);
        EXPECT_EQ(Shown(), c.pixel) << c.label;
        EXPECT_EQ(gTexInfo.hasAlpha, ColourAlpha(c.pixel) < 255 ? 1 : 0) << c.label;
    }
    Run(17);  // a second time: a second step and suffix
    EXPECT_EQ(gSaveNameSuffix, "_norm_red");
    EXPECT_EQ(gHistory.size(), 3u);

    // Alpha of an opaque picture only after a Yes.
    for (int answer : {0, 1}) {
        ShowTestPicture(255);
        UiTestScriptMessageAnswer(answer);
        Run(20);
        EXPECT_EQ(Messages(), std::vector<std::string>{"This image has no transparency; the alpha channel is "
                                                       "completely white.\nExtract it anyway?"});
        ExpectStep(answer ? "Alpha channel as grayscale" : "", "_alpha", MakeColour(200, 100, 50));
    }
}

TEST_F(EditorChannelTools, AlphaLoadedFromAMaskFile) {
    ASSERT_TRUE(EncodePngFile(*CreateImage(4, 2, 32, MakeColour(128, 128, 128)), dir_ + "grey.png", 24));
    ImagePtr white = CreateImage(8, 4, 32, MakeColour(255, 255, 255));
    ASSERT_EQ(WriteTexFile(white.get(), dir_ + "white.tex", 0, 0, 0), 1);
    ASSERT_TRUE(WriteWholeFile(dir_ + "broken.png", "\x01\x02\x03", 3));
    gLastOpenFolder = dir_ + "pictures/";
    struct Case {
        std::string file;
        int alpha;  // -1: the picture stays as it was
        std::string message;
    } cases[] = {
        {"", -1, ""},
        {"grey.png", 128, ""},
        {"white.tex", 255, ""},
        {"broken.png", -1, "broken.png could not be loaded:\n"},
        {"missing.png", -1, "missing.png could not be loaded:\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ShowTestPicture(255);
        UiTestScriptPath(c.file.empty() ? "" : dir_ + c.file);
        if (!c.message.empty()) UiTestScriptMessageAnswer(1);
        Run(21);
        EXPECT_EQ(UiTestRequests()[0].title, "Choose a mask (white = opaque, black = transparent)");
        EXPECT_EQ(UiTestRequests()[0].startPath, dir_ + "pictures/");
        EXPECT_EQ(gLastOpenFolder, dir_ + "pictures/");
        ExpectStep(c.alpha < 0 ? "" : "Alpha loaded from " + c.file, "_withalpha", MakeColour(200, 100, 50));
        if (c.alpha >= 0) {
            EXPECT_EQ(Shown(), MakeColour(200, 100, 50, c.alpha));
            EXPECT_EQ(gTexInfo.hasAlpha, c.alpha < 255 ? 1 : 0);
        }
        if (c.message.empty()) {
            EXPECT_TRUE(Messages().empty());
        } else {  // the name, then the reader's reason
            ASSERT_EQ(Messages().size(), 1u);
            EXPECT_EQ(Messages()[0].rfind(c.message, 0), 0u);
            EXPECT_GT(Messages()[0].size(), c.message.size());
        }
    }
}

TEST_F(EditorChannelTools, HeightMapStrengthIsAskedAndChecked) {
    gPrefNormalStrength = 2.0;
    const std::string refusal = "Please enter a number larger than 0.";
    struct Case {
        std::optional<std::string> typed;
        std::string strength;  // empty: cancelled or refused
        std::string message;
    } cases[] = {
        {std::nullopt, "", ""}, {"", "", ""},          {"2,5", "2.5", ""},      {"80", "80.0", ""},
        {"0", "", refusal},    {"-1", "", refusal},    {"strong", "", refusal}, {"NaN", "", refusal},
        {"Infinity", "", refusal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.value_or("(cancel)"));
        ShowTestPicture(64);
        UiAnswer typed;
        typed.expect = UiRequestKind::Input;
        typed.text = c.typed;
        UiTestScriptAnswer(typed);
        if (!c.message.empty()) UiTestScriptMessageAnswer(1);
        Run(28);
        EXPECT_EQ(UiTestRequests()[0].startPath, "2.0");
        EXPECT_EQ(Messages(), c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
        ExpectStep(c.strength.empty() ? ""
                                      : "Normal map from height map (strength " + c.strength +
                                            ", OpenGL style: green up)",
                   "_NM", MakeColour(200, 100, 50, 64));
    }
}

}  // namespace
