// ".gro" archives: entry paths, listing, unpacking into memory, and archive
// entries reaching the texture loader. Archives are made here with libarchive,
// and with Python's zlib/bz2/lzma for the methods libarchive cannot write.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "formats/dispatch.h"
#include "formats/gro.h"
#include "tests/gro_zip.h"
#include "tests/test_support.h"

namespace {

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(path, text.data(), text.size()));
}

std::string Extract(const std::string& archive, const std::string& name, int64_t& size) {
    const std::vector<uint8_t> data = ExtractGroEntry(archive, name, size);
    return std::string(data.begin(), data.end());
}

// Not very compressible, so a byte in the middle of a file is entry data.
std::string NoisyBytes(size_t count) {
    std::string text(count, '\0');
    uint32_t state = 12345;
    for (char& c : text) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 24);
    }
    return text;
}

class FormatsGroArchive : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempFolder("gro");
        tex_ = MakeTexBytes(dir_, 4, 2, MakeColour(30, 60, 90));
        ASSERT_FALSE(tex_.empty());
        ASSERT_TRUE(WriteTestZip(dir_ + "pack.gro", {
            {"textures/b.Tex", std::string(1025, 'b')},
            {"b.tex", "1", true},
            {"x.tex/", "", false, true},
            {"readme.txt", "hello"},
            {"TEXTURES/A.TEX", tex_},
            {"A.tex", "", true},
            {"notex", "n"},
            {"pack.tex.bak", "k"},
            {"deep/er/nested/c.tex", std::string(1024, 'c'), true},
        }));
    }
    std::string dir_;
    std::string tex_;
};

TEST_F(FormatsGroArchive, ListsTexEntriesSortedIgnoringCase) {
    gGroEntries.push_back({"left over", 1});
    ASSERT_EQ(ListGroTextures(dir_ + "pack.gro"), 5);
    struct Row {
        std::string name;
        int64_t size;
    } expected[] = {
        {"A.tex", 0}, {"b.tex", 1}, {"deep/er/nested/c.tex", 1024},
        {"TEXTURES/A.TEX", int64_t(tex_.size())}, {"textures/b.Tex", 1025},
    };
    ASSERT_EQ(gGroEntries.size(), std::size(expected));
    for (size_t i = 0; i < gGroEntries.size(); ++i) {
        EXPECT_EQ(gGroEntries[i].name, expected[i].name);
        EXPECT_EQ(gGroEntries[i].size, expected[i].size);
    }
    // A file that is no archive lists as -1 and leaves nothing behind.
    WriteText(dir_ + "junk.gro", "PK but nothing else of a ZIP file");
    WriteText(dir_ + "empty.gro", "");
    for (const std::string& bad : {dir_ + "missing.gro", dir_ + "junk.gro", dir_ + "empty.gro", dir_}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ListGroTextures(bad), -1);
        EXPECT_TRUE(gGroEntries.empty());
    }
    ASSERT_TRUE(WriteTestZip(dir_ + "none.gro", {{"a.txt", "x"}}));
    EXPECT_EQ(ListGroTextures(dir_ + "none.gro"), 0);
}

TEST_F(FormatsGroArchive, ExtractsOnlyTheExactName) {
    struct Case {
        std::string archive;
        std::string name;
        bool found;
        int64_t size;  // -7: left alone
    } cases[] = {
        {"pack.gro", "TEXTURES/A.TEX", true, int64_t(tex_.size())},
        {"pack.gro", "deep/er/nested/c.tex", true, 1024},
        {"pack.gro", "textures/A.TEX", false, 0},
        {"pack.gro", "textures/a.tex", false, 0},
        {"pack.gro", "A.tex", false, 0},       // empty entry
        {"pack.gro", "x.tex/", false, 0},      // a folder
        {"missing.gro", "b.tex", false, -7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive + "::" + c.name);
        int64_t size = -7;
        const std::string data = Extract(dir_ + c.archive, c.name, size);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(!data.empty(), c.found);
        if (c.found) {
            EXPECT_EQ(int64_t(data.size()), c.size);
        }
    }
    int64_t size = 0;
    EXPECT_EQ(Extract(dir_ + "pack.gro", "TEXTURES/A.TEX", size), tex_);
}

// Damage inside the entry data, sizes in the directory that do not match the
// data, and a cut-off file: nothing is handed out.
TEST_F(FormatsGroArchive, DamagedEntriesGiveNothing) {
    const std::string payload = NoisyBytes(6000);
    ASSERT_TRUE(WriteTestZip(dir_ + "one.gro", {{"n.tex", payload}}));
    const std::string good = ReadText(dir_ + "one.gro");
    const size_t central = good.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    ASSERT_EQ(good.substr(0, 4), "PK\x03\x04");
    // The unpacked size in the local header and in the directory.
    auto withSize = [&](uint32_t size) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) bytes[22 + i] = bytes[central + 24 + i] = char(size >> (8 * i));
        return bytes;
    };
    std::string flipped = good;
    flipped[good.size() / 2] = char(flipped[good.size() / 2] ^ 0x5a);
    struct Case {
        const char* what;
        std::string bytes;
        int64_t size;
    } cases[] = {
        {"intact", good, 6000},
        {"flipped data byte", flipped, 6000},
        {"claims one byte more", withSize(6001), 6001},
        {"claims one byte less", withSize(5999), 5999},
        {"claims 4 GB", withSize(0xffffffffu), -1},
        {"cut in half", good.substr(0, good.size() / 2), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteText(dir_ + "case.gro", c.bytes);
        int64_t size = -7;
        const std::string data = Extract(dir_ + "case.gro", "n.tex", size);
        if (c.size == 6000 && c.bytes == good) {
            EXPECT_EQ(data, payload);
        } else {
            EXPECT_TRUE(data.empty());
        }
        if (c.size >= 0) {
            EXPECT_EQ(size, c.size);
        }
    }
}

// Entries out of all proportion to a texture: a claim over the limit fails
// from the directory alone, before any memory is taken; data that runs on
// past the claim fails as soon as it does. Either way the text says which,
// and the process never grows by the size the data would unpack to.
TEST_F(FormatsGroArchive, BombsFailAtOnceWithTheirText) {
    constexpr uint64_t kMiB = uint64_t(1) << 20;
    const uint64_t overLimit = uint64_t(kMaxGroEntryBytes) + 1;
    const uint64_t overLimitData = (overLimit + 65535) / 65536 * 65536;
    const std::string oneMiB = DeflatedZeros(kMiB);
    const std::string damaged = "Could not extract it from the archive.";
    auto tooLarge = [](uint64_t n) {
        return "Could not extract it from the archive: it would unpack to " + std::to_string(n) +
               " bytes, more than any texture holds.";
    };
    struct Case {
        const char* what;
        std::string packed;
        uint64_t claim;
        std::string text;  // empty: unpacks
    } cases[] = {
        {"4 GiB of zeros, claimed honestly", DeflatedZeros(4096 * kMiB), 4096 * kMiB, tooLarge(4096 * kMiB)},
        {"one byte over the limit, the data there", DeflatedZeros(overLimitData), overLimit, tooLarge(overLimit)},
        {"2^62 bytes claimed", oneMiB, uint64_t(1) << 62, tooLarge(uint64_t(1) << 62)},
        {"claims 1 MiB, unpacks 512 MiB", DeflatedZeros(512 * kMiB), kMiB, damaged},
        {"claims one byte less than it unpacks", oneMiB, kMiB - 1, damaged},
        {"claims twice what it unpacks", oneMiB, 2 * kMiB, damaged},
        {"claim and data agree", oneMiB, kMiB, ""},
    };
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t crc = c.text.empty() ? Crc32OfZeros(c.claim) : 0;
        ASSERT_TRUE(WriteRawZip(dir_ + "bomb.gro", {{"e.tex", c.packed, c.claim, crc}}));
        int64_t size = -7;
        std::string failure = "untouched";
        const std::vector<uint8_t> data = ExtractGroEntry(dir_ + "bomb.gro", "e.tex", size, &failure);
        EXPECT_EQ(size, int64_t(c.claim));
        if (c.text.empty()) {
            EXPECT_EQ(data, std::vector<uint8_t>(c.claim, 0));
            EXPECT_EQ(failure, "untouched");
        } else {
            EXPECT_TRUE(data.empty());
            EXPECT_EQ(failure, c.text);
            TexInfo info;
            EXPECT_FALSE(LoadImageAnySource(dir_ + "bomb.gro::e.tex", info));
            EXPECT_EQ(info.errorText, c.text);
        }
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 128 * 1024) << "kilobytes more at the peak";
}

// Archives written by an independent ZIP writer (Python's compressors, the
// directory put together by hand), one entry per compression method.
TEST_F(FormatsGroArchive, EveryCompressionMethodUnpacks) {
    if (std::system("/usr/bin/python3 -c 'import zlib, bz2, lzma, zipfile' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "Python with zlib, bz2 and lzma missing";
    WriteText(dir_ + "make.py", R"(import sys, zlib, bz2, lzma, struct, zipfile
out, payload = sys.argv[1], open(sys.argv[2], 'rb').read()
def deflate(d):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(d) + c.flush()
def zip_lzma(d):
    c = zipfile._get_compressor(zipfile.ZIP_LZMA)
    return c.compress(d) + c.flush()
items = [('stored.tex', 0, 10, 0, lambda d: d), ('deflate.tex', 8, 20, 0, deflate),
         ('bzip2.tex', 12, 46, 0, bz2.compress), ('lzma.tex', 14, 63, 2, zip_lzma),
         ('xz.tex', 95, 63, 0, lambda d: lzma.compress(d, format=lzma.FORMAT_XZ)),
         ('Gel\u00e4nde/Stra\u00dfe.tex', 8, 20, 0x800, deflate)]
crc = zlib.crc32(payload) & 0xffffffff
body = b''
central = b''
for name, method, version, flags, pack in items:
    data = pack(payload)
    n = name.encode('utf-8')
    fields = struct.pack('<HHHHHIIIHH', version, flags, method, 0, 0x21, crc, len(data), len(payload), len(n), 0)
    central += b'PK\x01\x02' + struct.pack('<H', version) + fields + struct.pack('<HHHII', 0, 0, 0, 0, len(body)) + n
    body += b'PK\x03\x04' + fields + n + data
end = struct.pack('<4sHHHHIIH', b'PK\x05\x06', 0, 0, len(items), len(items), len(central), len(body), 0)
open(out, 'wb').write(body + central + end)
)");
    WriteText(dir_ + "payload", tex_);
    const std::string command =
        "/usr/bin/python3 '" + dir_ + "make.py' '" + dir_ + "methods.gro' '" + dir_ + "payload'";
    ASSERT_TRUE(RunPeer(command));

    const std::string umlauts = "Gel\xc3\xa4nde/Stra\xc3\x9f" "e.tex";
    ASSERT_EQ(ListGroTextures(dir_ + "methods.gro"), 6);
    EXPECT_EQ(gGroEntries[0].name, "bzip2.tex");
    EXPECT_EQ(gGroEntries[2].name, umlauts);
    for (const std::string name : {"stored.tex", "deflate.tex", "bzip2.tex", "lzma.tex", "xz.tex", umlauts.c_str()}) {
        SCOPED_TRACE(name);
        int64_t size = 0;
        EXPECT_EQ(Extract(dir_ + "methods.gro", name, size), tex_);
        EXPECT_EQ(size, int64_t(tex_.size()));
        TexInfo info;
        ImagePtr image = LoadImageAnySource(dir_ + "methods.gro::" + name, info);
        ASSERT_TRUE(image) << info.errorText;
        EXPECT_EQ(GetPixelColour(*image, 3, 1), MakeColour(30, 60, 90));
    }
}

// Archive entries are engine textures whatever their name says.
TEST_F(FormatsGroArchive, EntriesLoadAsTextures) {
    ASSERT_TRUE(WriteTestZip(dir_ + "more.gro", {{"pictures/wall.png", tex_}, {"text.tex", "not a texture"}}));
    struct Case {
        const char* entry;
        bool loads;
        const char* errorText;  // null: the texture loader's own text
    } cases[] = {
        {"more.gro::pictures/wall.png", true, ""},
        {"more.gro::text.tex", false, nullptr},
        {"pack.gro::textures/a.tex", false, "Could not extract it from the archive."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        TexInfo info;
        ImagePtr image = LoadImageAnySource(dir_ + c.entry, info);
        EXPECT_EQ(bool(image), c.loads);
        EXPECT_EQ(info.kind, c.loads ? 1 : info.kind);
        if (c.errorText) {
            EXPECT_EQ(info.errorText, c.errorText);
        } else {
            EXPECT_NE(info.errorText, "");
        }
    }
}

}  // namespace
