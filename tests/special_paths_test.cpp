// Paths that are not what they seem. Named pipes, sockets, devices and
// folders under picture names are refused at once by every loader (a reader
// that waited for a pipe's writer would hang the program), and links to real
// files still open.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "formats/tex.h"
#include "skybox/skybox.h"
#include "tests/test_support.h"
#include "toolkit/codecs.h"
#include "toolkit/files.h"

namespace {

// A listening-free Unix socket bound at `path`; the descriptor stays open
// for the test's length so the socket file exists.
int BindSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WritePng(const std::string& path, uint32_t colour) {
    ImagePtr image = CreateImage(3, 2, 32, colour);
    return image && EncodePngFile(*image, path, 24);
}

class SpecialPaths : public ::testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempFolder("special"); }
    void TearDown() override {
        if (socket_ >= 0) close(socket_);
        ResetSkyboxGlobals();
    }
    std::string dir_;
    int socket_ = -1;
};

TEST_F(SpecialPaths, OnlyRegularFilesAreRead) {
    std::vector<std::string> pipes;
    for (const char* name : {"pipe.png", "pipe.bmp", "pipe.jpg", "pipe.xyz", "pipe", "pipe.tga", "pipe.tex",
                             "pipe.tif", "pipe.pcx", "pipe.hdr", "pipe.dds", "pipe.gro"}) {
        ASSERT_EQ(mkfifo((dir_ + name).c_str(), 0644), 0) << name;
        pipes.push_back(dir_ + name);
    }
    socket_ = BindSocket(dir_ + "socket.png");
    ASSERT_GE(socket_, 0);
    ASSERT_EQ(symlink("/dev/zero", (dir_ + "zero.png").c_str()), 0);
    ASSERT_EQ(symlink("/dev/null", (dir_ + "null.tga").c_str()), 0);
    ASSERT_EQ(mkdir((dir_ + "folder.jpg").c_str(), 0755), 0);
    std::vector<std::string> refused = pipes;
    for (const char* name : {"socket.png", "zero.png", "null.tga", "folder.jpg"}) refused.push_back(dir_ + name);

    const PipeWatchdog watchdog(pipes);
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        TexInfo info;
        EXPECT_EQ(LoadImageAnySource(path, info), nullptr);  // batch, alpha mask
        EXPECT_EQ(info.errorText, "The file cannot be opened.");
        TexInfo byExtension;
        EXPECT_EQ(LoadImageFileByExtension(path, byExtension), nullptr);  // open, skybox
        EXPECT_EQ(byExtension.errorText, "The file cannot be opened.");
        TexInfo texture;
        EXPECT_EQ(LoadTexFile(path, texture), nullptr);  // open, skybox
        EXPECT_EQ(texture.errorText, "The file cannot be opened.");
        EXPECT_EQ(LoadSkyboxFace(0, path), 0);

        std::string error;
        EXPECT_EQ(DecodeImageFile(path, &error), nullptr);
        EXPECT_EQ(error, "The file cannot be opened.");
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

    // Missing files keep their own texts; links to real files still open.
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
    EXPECT_TRUE(IsRegularFile(dir_ + "link.png"));
    EXPECT_GT(GetFileSize(dir_ + "link.png"), 0);
}

}  // namespace
