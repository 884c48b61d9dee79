// Opening files: which reader a name reaches, what the status bar and title
// show, the failure message, and the question about unsaved edits.
#include "tests/editor_fixture.h"

#include "editor/commands.h"
#include "editor/prefs.h"
#include "formats/tex.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

#include <sys/stat.h>
#include <zlib.h>

namespace {

class EditorOpen : public EditorTest {
protected:
    std::string WritePng(const std::string& name, bool transparent, uint32_t colour = MakeColour(9, 8, 7)) {
        ImagePtr image = CreateImage(6, 4, 32, colour);
        if (transparent) SetPixelColour(*image, 0, 0, MakeColour(1, 2, 3, 0));
        EXPECT_TRUE(EncodePngFile(*image, dir_ + name, transparent ? 32 : 24));
        return dir_ + name;
    }
};

TEST_F(EditorOpen, SuccessfulOpenShowsNameSizeAndFormat) {
    ImagePtr tex = CreateImage(8, 2, 32, MakeColour(1, 2, 3));
    ASSERT_EQ(WriteTexFile(tex.get(), dir_ + "wall.tex", 0, 0, 0), 1);
    // A second-generation texture: one zlib-packed DXT1 block of 4 x 4.
    const uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
    uint8_t packed[64];
    uLongf packedSize = sizeof packed;
    ASSERT_EQ(compress(packed, &packedSize, block, sizeof block), Z_OK);
    std::string dk2 = std::string("CTSEMETA........") + char(8) + std::string(3, '\0') + "Dravik 2CStaticTextureOBJS";
    for (uint32_t v : {4u, 4u, 0u, 7u, 0x52415453u, uint32_t(packedSize)}) dk2.append(reinterpret_cast<const char*>(&v), 4);
    dk2.append(reinterpret_cast<const char*>(packed), packedSize);
    ASSERT_TRUE(WriteWholeFile(dir_ + "stone.tex", dk2.data(), dk2.size()));
    struct Case {
        std::string path;
        std::string status;
    } cases[] = {
        {WritePng("a.png", false), "6 x 4  Portable Network Graphics"},
        {WritePng("b.PNG", true), "6 x 4  Portable Network Graphics, with transparency"},
        {WritePng("we::ird.png", false), "6 x 4  Portable Network Graphics"},  // a file, not an archive entry
        {dir_ + "wall.tex", "8 x 2  RGB, DK1 version 4"},
        {dir_ + "stone.tex", "4 x 4  DK2, compressed opaque (4-bit, DXT1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        gSavePath = "old";
        gSaveNameSuffix = "_old";
        OpenFile(c.path, 0);
        ASSERT_TRUE(gCurrentImage);
        EXPECT_EQ(UiGetStatusField(gMainWindow, 0), GetFilePart(c.path));
        EXPECT_EQ(gStatusText, c.status);
        EXPECT_EQ(UiGetWindowTitle(gMainWindow), "Dravik Orvanta - " + GetFilePart(c.path));
        EXPECT_TRUE(gSavePath.empty() && gSaveNameSuffix.empty());
        EXPECT_EQ(ReadPrefString("LastOpenFolder", ""), dir_);
        EXPECT_EQ(gHistory.size(), 1u);
        EXPECT_FALSE(UiIsMenuItemEnabled(gMainWindow, 30));
    }
    // A reload keeps where the picture was saved.
    gSavePath = dir_ + "out.png";
    gSaveNameSuffix = "_levels";
    OpenFile(gCurrentPath, 1);
    EXPECT_EQ(gSavePath, dir_ + "out.png");
    EXPECT_EQ(gSaveNameSuffix, "_levels");
}

TEST_F(EditorOpen, RequesterOffersTexturesThenEverySupportedImage) {
    UiTestScriptPath("");
    ShowOpenFileDialog();
    ASSERT_FALSE(UiTestRequests().empty());
    EXPECT_EQ(UiTestRequests().back().title, "Open file");
    EXPECT_EQ(UiTestRequests().back().patterns,
              "Dravik texture (*.tex)|*.tex|"
              "All supported images|*.tex;*.tga;*.png;*.pcx;*.bmp;*.tif;*.tiff;*.jpg;*.jpeg;*.dds;*.hdr|"
              "All files (*.*)|*.*");
    EXPECT_FALSE(gCurrentImage);
}

TEST_F(EditorOpen, FailureIsReportedAndKeepsThePicture) {
    const std::string shown = WritePng("shown.png", false);
    // A PNG under a name outside the picture list goes to the texture
    // loader, which refuses it; TGA in capitals still reaches the TGA reader.
    WritePng("picture.gif", false);
    WritePng("picture.TGA", false);
    // An archive entry that claims 4 GiB: refused by its size, not as damage.
    ASSERT_TRUE(WriteRawZip(dir_ + "bomb.gro", {{"e.tex", "", uint64_t(4) << 30, 0}}));
    // Named pipes are refused at once, whatever reader their name reaches.
    ASSERT_EQ(mkfifo((dir_ + "pipe.png").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir_ + "pipe.tex").c_str(), 0644), 0);
    const PipeWatchdog watchdog({dir_ + "pipe.png", dir_ + "pipe.tex"});
    OpenFile(shown, 0);
    CommitEdit(CreateImage(6, 4, 32, MakeColour(50, 0, 0)), "Levels", "_levels");
    gSavedPos = 1;  // nothing unsaved, so no question comes first
    struct Case {
        std::string path;
        std::string reasonStart;
    } cases[] = {
        {dir_ + "missing.png", "This image format is not supported, or the file is damaged."},
        {dir_ + "pipe.png", "The file cannot be opened."},
        {dir_ + "pipe.tex", "The file cannot be opened."},
        {dir_ + "picture.TGA", "This TGA type is not supported (type 78)."},
        {dir_ + "picture.gif", ""},
        {dir_ + "x.gro::tex/a.tex", "Could not extract it from the archive."},
        {dir_ + "bomb.gro::e.tex", "Could not extract it from the archive: it would unpack to 4294967296 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        UiTestClearRequests();
        UiTestScriptMessageAnswer(1);
        OpenFile(c.path, 0);
        ASSERT_EQ(Messages().size(), 1u);
        const std::string head = GetDisplayName(c.path) + " could not be loaded:\n";
        EXPECT_EQ(Messages()[0].substr(0, head.size()), head);
        EXPECT_GT(Messages()[0].size(), head.size());
        EXPECT_EQ(Messages()[0].substr(head.size(), c.reasonStart.size()), c.reasonStart);
        EXPECT_EQ(UiTestRequests()[0].icon, UiIcon::Error);
        EXPECT_EQ(ColourRed(GetPixelColour(*gCurrentImage, 0, 0)), 50);
        EXPECT_EQ(gCurrentPath, shown);
        EXPECT_EQ(gHistory.size(), 2u);
    }
    EXPECT_FALSE(watchdog.Released()) << "opening waited for a named pipe's writer";
}

TEST_F(EditorOpen, UnsavedEditsAreAskedAboutFirst) {
    const std::string first = WritePng("first.png", false, MakeColour(1, 0, 0));
    const std::string second = WritePng("second.png", false, MakeColour(2, 0, 0));
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        MarkSaved();
        OpenFile(first, 0);
        CommitEdit(CreateImage(6, 4, 32, MakeColour(3, 0, 0)), "Levels", "_levels");
        UiTestClearRequests();
        UiTestScriptMessageAnswer(answer);
        OpenFile(second, 0);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0], "first.png has edits that have not been saved (1 edit(s)).\nDiscard them?");
        EXPECT_EQ(UiTestRequests()[0].buttons, UiButtons::YesNo);
        EXPECT_EQ(UiTestRequests()[0].icon, UiIcon::Warning);
        EXPECT_EQ(ColourRed(GetPixelColour(*gCurrentImage, 0, 0)), answer ? 2 : 3);
        EXPECT_EQ(UiGetWindowTitle(gMainWindow), answer ? "Dravik Orvanta - second.png" : "Dravik Orvanta - first.png *");
    }
    // Nothing unsaved: no question.
    UiTestClearRequests();
    EXPECT_TRUE(ConfirmDiscardEdits());
    EXPECT_TRUE(UiTestRequests().empty());
}

}  // namespace
