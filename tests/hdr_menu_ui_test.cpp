// The HDR menu on an opened ".hdr" picture: exposure steps and tone changes
// reopen it with the new settings, other pictures are refused with the reason,
// and Save As ".hdr" writes the RGBE block itself.
#include <cstdio>

#include "tests/editor_fixture.h"

#include "editor/commands.h"
#include "editor/save.h"
#include "formats/hdr.h"
#include "toolkit/codecs.h"

namespace {

constexpr int kExposureUp = 8, kExposureDown = 9, kExposureReset = 10, kToneEditor = 11, kToneFilmic = 12,
              kSwitchTone = 13;
const std::string kMenuSentence = "\nThe settings in the HDR menu only apply to HDR textures; nothing was changed.";

class EditorHdrMenu : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        if (IsSkipped()) return;
        for (int i = 0; i < 4 * 2; ++i) EncodeRgbe(block_.bytes.data() + i * 4, 0.05 * (i + 1), 0.02 * i, 0.3);
        path_ = dir_ + "sky.hdr";
        ASSERT_EQ(WriteHdrFile(&block_, 4, 2, path_), 1);
    }
    void OpenSky() {
        OpenFile(path_, 0);
        ASSERT_TRUE(gCurrentImage);
        ASSERT_EQ(gTexInfo.isHdr, 1);
    }
    bool ToneTicks(int tone) const {
        return UiIsMenuItemChecked(gMainWindow, kToneEditor) == (tone == 0) &&
               UiIsMenuItemChecked(gMainWindow, kToneFilmic) == (tone == 1);
    }

    HdrBlock block_{4, 2, std::vector<uint8_t>(4 * 2 * 4)};
    std::string path_;
};

// Another exposure makes the picture anew from its file (its bytes, the
// block and the picture at once); when that cannot fit, nothing changes.
TEST_F(EditorHdrMenu, ReopeningThatDoesNotFitChangesNothing) {
    OpenSky();
    for (const bool fits : {false, true}) {
        SCOPED_TRACE(fits);
        const SharedImage shown = gCurrentImage;
        if (!fits) UiTestScriptMessageAnswer(1);
        SetFreeMemoryForTesting(kEditWorkingRoom + 3 * 4 * 2 * 4 - (fits ? 0 : 1));
        DispatchCommand(kExposureUp);
        SetFreeMemoryForTesting(0);
        EXPECT_EQ(gCurrentImage == shown, !fits);
        EXPECT_EQ(gHdrExposure, fits ? 1.0 : 0.0);
        EXPECT_EQ(Messages(), std::vector<std::string>{"Not enough memory for this operation."});
    }
}

// A reload that fails is reported and keeps the new exposure or tone: they
// are the user's settings, not the picture's. The next step goes on from them.
TEST_F(EditorHdrMenu, FailedReloadKeepsTheNewSetting) {
    OpenSky();
    const SharedImage shown = gCurrentImage;
    const std::string away = path_ + ".away";
    const HdrBlock grown{1024, 1024, std::vector<uint8_t>(1024 * 1024 * 4, 128)};
    for (const int command : {kExposureUp, kToneFilmic}) {
        // The file moved away, or grown past the room the reader finds.
        const bool moved = command == kExposureUp;
        ASSERT_TRUE(moved ? std::rename(path_.c_str(), away.c_str()) == 0 : WriteHdrFile(&grown, 1024, 1024, path_));
        UiTestClearRequests();
        UiTestScriptMessageAnswer(1);
        SetFreeMemoryForTesting(moved ? 0 : kMemoryReserveBytes + (uint64_t(3) << 20));
        DispatchCommand(command);
        SetFreeMemoryForTesting(0);
        EXPECT_EQ(Messages().at(0).rfind("sky.hdr could not be loaded:\n", 0), 0u) << command;
        EXPECT_TRUE(gCurrentImage == shown && gHdrExposure == 1.0 && ToneTicks(moved ? 0 : 1)) << command;
        ASSERT_TRUE(moved ? std::rename(away.c_str(), path_.c_str()) == 0 : WriteHdrFile(&block_, 4, 2, path_));
    }
    UiTestClearRequests();
    DispatchCommand(kExposureUp);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(gTexInfo.note, "HDR exposure: 2.0 EV, filmic");
}

TEST_F(EditorHdrMenu, ExposureAndToneReopenThePicture) {
    OpenSky();
    const uint32_t darkest = GetPixelColour(*gCurrentImage, 0, 0);
    struct Step {
        int command;
        const char* note;
    } steps[] = {
        {kExposureUp, "HDR exposure: 1.0 EV, editor (clip)"},   {kExposureUp, "HDR exposure: 2.0 EV, editor (clip)"},
        {kExposureUp, "HDR exposure: 3.0 EV, editor (clip)"},   {kExposureReset, "HDR exposure: 0.0 EV, editor (clip)"},
        {kExposureDown, "HDR exposure: -1.0 EV, editor (clip)"}, {kToneFilmic, "HDR exposure: -1.0 EV, filmic"},
        {kSwitchTone, "HDR exposure: -1.0 EV, editor (clip)"},  {kSwitchTone, "HDR exposure: -1.0 EV, filmic"},
        {kToneEditor, "HDR exposure: -1.0 EV, editor (clip)"},  {kExposureReset, "HDR exposure: 0.0 EV, editor (clip)"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.note);
        DispatchCommand(s.command);
        EXPECT_TRUE(Messages().empty());
        EXPECT_EQ(gTexInfo.note, s.note);
        EXPECT_TRUE(ToneTicks(int(gHdrTone)));
        EXPECT_EQ(gHistory.size(), 1u);
    }
    EXPECT_EQ(GetPixelColour(*gCurrentImage, 0, 0), darkest);

    // No lower limit: ten steps down give -10 EV, and the picture goes black.
    for (int i = 0; i < 10; ++i) StepExposure(-1.0, 0);
    EXPECT_EQ(gHdrExposure, -10.0);
    EXPECT_EQ(gTexInfo.note, "HDR exposure: -10.0 EV, editor (clip)");
    SetToneMode(1);
    StepExposure(1.0, 0);
    EXPECT_EQ(gTexInfo.note, "HDR exposure: -9.0 EV, filmic");
}

TEST_F(EditorHdrMenu, OtherPicturesAreRefusedWithTheReason) {
    ImagePtr png = CreateImage(3, 3, 32, MakeColour(1, 2, 3));
    ASSERT_TRUE(EncodePngFile(*png, dir_ + "flat.png", 24));
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string message;
    } cases[] = {
        {"nothing open", [] {}, "No texture is loaded."},
        {"a PNG", [&] { OpenFile(dir_ + "flat.png", 0); }, "flat.png is not an HDR texture."},
        {"an edited HDR picture",
         [&] {
             OpenSky();
             CommitEdit(CreateImage(4, 2), "Levels", "_levels");
         },
         "sky.hdr has been edited and is no longer an HDR image (Undo brings the HDR original back)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        gHdrTone = 1;
        const std::string note = gTexInfo.note;
        for (int command : {kExposureUp, kExposureDown, kExposureReset, kToneEditor, kToneFilmic, kSwitchTone}) {
            UiTestClearRequests();
            UiTestScriptMessageAnswer(1);
            DispatchCommand(command);
            ASSERT_EQ(Messages().size(), 1u) << command;
            EXPECT_EQ(Messages()[0], c.message + kMenuSentence);
            EXPECT_EQ(UiTestRequests()[0].icon, UiIcon::Information);
            EXPECT_EQ(gHdrExposure, 0.0);
            EXPECT_EQ(gHdrTone, 1);
            EXPECT_EQ(gTexInfo.note, note);
        }
        EXPECT_TRUE(ToneTicks(1));
    }

    // Undoing back to the original makes the commands work again.
    ApplyHistoryEntry(GoToOriginalStep());
    UiTestClearRequests();
    StepExposure(1.0, 0);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(gTexInfo.note, "HDR exposure: 1.0 EV, filmic");
}

TEST_F(EditorHdrMenu, SaveAsHdrWritesTheRgbeBlock) {
    OpenSky();
    SaveCurrentImageAs(dir_ + "copy.hdr", 0);
    std::vector<uint8_t> written;
    ASSERT_TRUE(ReadWholeFile(dir_ + "copy.hdr", written));
    TexInfo info;
    ASSERT_NE(ReadHdrFromMemory(written.data(), int64_t(written.size()), info), nullptr);
    EXPECT_EQ(info.hdrData->bytes, block_.bytes);

    // Once edited, the picture shown is no longer the block: refused.
    CommitEdit(CreateImage(4, 2), "Levels", "_levels");
    UiTestClearRequests();
    UiTestScriptMessageAnswer(1);
    SaveCurrentImageAs(dir_ + "edited.hdr", 0);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "Only HDR textures can be saved as .hdr.");
    EXPECT_EQ(GetFileKind(dir_ + "edited.hdr"), FileKind::Missing);
}

}  // namespace
