// Paths that are not what they seem: named pipes, sockets, devices and
// folders under picture names are refused at once by every loader (waiting
// for a pipe's writer would hang the program), links to real files open, and
// a real file with "::" in its path opens as a file.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "formats/tex.h"
#include "skybox/skybox.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

bool WritePng(const std::string& path, uint32_t colour) {
    ImagePtr image = CreateImage(3, 2, 32, colour);
    return image && EncodePngFile(*image, path, 24);
}

class SpecialPaths : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempFolder("special");
        ResetSkyboxGlobals();
    }
    void TearDown() override {
        if (socket_ >= 0) close(socket_);
        ResetSkyboxGlobals();
    }
    std::string dir_;
    int socket_ = -1;
};

TEST_F(SpecialPaths, OnlyRegularFilesAreRead) {
    std::vector<std::string> pipes, refused;
    for (const char* ext :
         {".png", ".bmp", ".jpg", ".xyz", "", ".tga", ".tex", ".tif", ".pcx", ".hdr", ".dds", ".gro"}) {
        pipes.push_back(dir_ + "pipe" + ext);
        ASSERT_EQ(mkfifo(pipes.back().c_str(), 0644), 0) << ext;
    }
    sockaddr_un address{AF_UNIX, {}};  // a socket bound, never listening, while the test runs
    std::snprintf(address.sun_path, sizeof address.sun_path, "%ssocket.png", dir_.c_str());
    socket_ = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << address.sun_path;
    ASSERT_EQ(symlink("/dev/zero", (dir_ + "zero.png").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (dir_ + "null.tga").c_str()), 0);
    ASSERT_EQ(mkdir((dir_ + "folder.jpg").c_str(), 0755), 0);
    refused = pipes;
    for (const char* name : {"socket.png", "zero.png", "null.tga", "folder.jpg"}) refused.push_back(dir_ + name);

    const PipeWatchdog watchdog(pipes);
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        TexInfo info, byExtension, texture;
        std::string error;
        EXPECT_EQ(LoadImageAnySource(path, info), nullptr);               // batch, alpha mask
        EXPECT_EQ(LoadImageFileByExtension(path, byExtension), nullptr);  // open, skybox
        EXPECT_EQ(LoadTexFile(path, texture), nullptr);                   // open, skybox
        EXPECT_EQ(DecodeImageFile(path, &error), nullptr);
        for (const std::string& text : {info.errorText, byExtension.errorText, texture.errorText, error})
            EXPECT_EQ(text, "The file cannot be opened.");
        EXPECT_EQ(LoadSkyboxFace(0, path), 0);
        std::vector<uint8_t> data{1};
        ReadFailure failure = ReadFailure::None;
        EXPECT_FALSE(ReadWholeFile(path, data, &failure));
        EXPECT_EQ(failure, ReadFailure::NotRegularFile);
        EXPECT_TRUE(data.empty());
        EXPECT_FALSE(OpenRegularFileForReading(path).Ok());
        EXPECT_FALSE(IsRegularFile(path));
        EXPECT_EQ(GetFileSize(path), -1);  // the command line passes it over
    }
    EXPECT_EQ(ListGroTextures(dir_ + "pipe.gro"), -1);
    int64_t size = -7;
    EXPECT_TRUE(ExtractGroEntry(dir_ + "pipe.gro", "a.tex", size).empty());
    TexInfo entry;
    EXPECT_EQ(LoadImageAnySource(dir_ + "pipe.gro::a.tex", entry), nullptr);
    EXPECT_EQ(entry.errorText, "Could not extract it from the archive.");
    EXPECT_FALSE(watchdog.Released()) << "a reader waited for a named pipe's writer";

    // Missing files keep their own reason; links to real files still open.
    ReadFailure failure = ReadFailure::None;
    std::vector<uint8_t> data;
    EXPECT_FALSE(ReadWholeFile(dir_ + "missing.png", data, &failure));
    EXPECT_EQ(failure, ReadFailure::CannotOpen);
    ASSERT_TRUE(WritePng(dir_ + "real.png", MakeColour(10, 20, 30)));
    ASSERT_EQ(symlink((dir_ + "real.png").c_str(), (dir_ + "link.png").c_str()), 0);
    TexInfo info;
    ImagePtr image = LoadImageAnySource(dir_ + "link.png", info);
    ASSERT_TRUE(image) << info.errorText;
    EXPECT_EQ(GetPixelColour(*image, 2, 1), MakeColour(10, 20, 30));
}

TEST_F(SpecialPaths, AFileWithSeparatorInItsPathIsAFile) {
    ASSERT_TRUE(CreateFolder(dir_ + "a::b"));
    ASSERT_TRUE(WritePng(dir_ + "we::ird.png", MakeColour(1, 2, 3)));
    ASSERT_TRUE(WritePng(dir_ + "a::b/pic.png", MakeColour(4, 5, 6)));
    ImagePtr tex = CreateImage(2, 2, 32, MakeColour(7, 8, 9));
    ASSERT_EQ(WriteTexFile(tex.get(), dir_ + "odd::name.tex", 0, 0, 0), 1);
    ASSERT_TRUE(WriteTestZip(dir_ + "x.gro", {{"tex/a.tex", MakeTexBytes(dir_, 2, 2, MakeColour(11, 12, 13))}}));
    const struct {
        std::string path;
        bool isArchive;
        std::string archivePart, entryPart, displayName;
        uint32_t colour;  // of the loaded picture; 0: it does not load
    } cases[] = {
        {"we::ird.png", false, "we::ird.png", "", "we::ird.png", MakeColour(1, 2, 3)},
        {"a::b/pic.png", false, "a::b/pic.png", "", "pic.png", MakeColour(4, 5, 6)},
        {"odd::name.tex", false, "odd::name.tex", "", "odd::name.tex", MakeColour(7, 8, 9)},
        {"x.gro::tex/a.tex", true, "x.gro", "tex/a.tex", "a.tex", MakeColour(11, 12, 13)},
        // Names no file: an archive entry path, whose archive does not exist.
        {"a::b/none.png", true, "a", "b/none.png", "none.png", 0},
        // A folder is no file either.
        {"a::b", true, "a", "b", "b", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string path = dir_ + c.path;
        EXPECT_EQ(IsArchivePath(path), c.isArchive);
        EXPECT_EQ(GetArchivePartOfPath(path), dir_ + c.archivePart);
        EXPECT_EQ(GetEntryPartOfPath(path), c.entryPart);
        EXPECT_EQ(GetDisplayName(path), c.displayName);
        TexInfo info;
        ImagePtr image = LoadImageAnySource(path, info);
        if (c.colour == 0) {
            EXPECT_EQ(image, nullptr);
            EXPECT_EQ(info.errorText, "Could not extract it from the archive.");
            continue;
        }
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(GetPixelColour(*image, 1, 1), c.colour);
        EXPECT_EQ(LoadSkyboxFace(0, path), 1);
        EXPECT_EQ(gSkyFaces[0].displayName, c.displayName);
    }
}

}  // namespace
