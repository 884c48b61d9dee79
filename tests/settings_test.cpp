// The settings-file engine and the number helpers its callers parse values with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tests/test_support.h"
#include "toolkit/files.h"
#include "toolkit/numbers.h"
#include "toolkit/settings.h"

namespace {
const std::string kBom = "\xEF\xBB\xBF";

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> data;
    ReadWholeFile(path, data);
    return std::string(data.begin(), data.end());
}
}  // namespace

TEST(ToolkitSettings, LookupAndEncodings) {
    struct Case { std::string file, key; bool found; std::string value; };
    const Case cases[] = {
        {kBom + "\r\nA = 1\r\nB = 2\r\n", "B", true, "2"},
        {"A=1\nB=2", "B", true, "2"},                       // no mark, LF, no final line end
        {" \tKey \t=\t  some value \t\r\n", "Key", true, "some value"},
        {"prefundosteps = 50\n", "PrefUndoSteps", true, "50"},
        {"A = b = c\n", "A", true, "b = c"},
        {"A = 1\n[Group]\nB = 2\n", "B", false, ""},        // keys after a group are unseen
        {"; A = 1\n", "A", false, ""},
        {"F = caf\xE9\n", "F", true, "caf\xC3\xA9"},        // Latin-1
        {"F = caf\xC3\xA9\n", "F", true, "caf\xC3\xA9"},    // valid UTF-8 kept, not re-encoded
        {"F = \x80\x93\x81\n", "F", true, "\xE2\x82\xAC\xE2\x80\x9C\xC2\x81"},  // Windows-1252
        {"F = \xC0\xAF\n", "F", true, "\xC3\x80\xC2\xAF"},  // overlong form is not UTF-8
        {"F = a\xC3", "F", true, "a\xC3\x83"},              // cut-off sequence at the end
    };
    for (const Case& c : cases) {
        const SettingsDocument doc = ParseSettings(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size());
        std::string value = "unchanged";
        EXPECT_EQ(FindSettingsValue(doc, c.key, value), c.found) << c.file;
        EXPECT_EQ(value, c.found ? c.value : "unchanged") << c.file;
    }
}

TEST(ToolkitSettings, RewritesByteExactlyAndKeepsForeignLines) {
    const std::string folder = MakeTempFolder("settings");
    const std::string path = folder + "test.prefs";

    EXPECT_TRUE(WriteSettingsValue(path, "Alpha", "1"));
    EXPECT_TRUE(WriteSettingsValue(path, "Beta", "/some folder/x"));
    EXPECT_TRUE(WriteSettingsValue(path, "ALPHA", "-2"));  // changed in place
    EXPECT_EQ(ReadText(path), kBom + "\r\nAlpha = -2\r\nBeta = /some folder/x\r\n");

    const std::string hand = ";first\nKnown=1\n  ; spaced\nstray line\n\nNom=Jos\xE9\n[Group]\nInner = 5\n;tail\n";
    ASSERT_TRUE(WriteWholeFile(path, hand.data(), hand.size()));
    EXPECT_TRUE(WriteSettingsValue(path, "Known", "2"));
    EXPECT_TRUE(WriteSettingsValue(path, "Added", "3"));
    const std::string expected = kBom +
        "\r\n; first\r\nKnown = 2\r\n; spaced\r\nstray line\r\nNom = Jos\xC3\xA9\r\nAdded = 3\r\n"
        "\r\n[Group]\r\nInner = 5\r\n; tail\r\n";
    EXPECT_EQ(ReadText(path), expected);
    EXPECT_TRUE(WriteSettingsValue(path, "Added", "3"));  // our own output is stable
    EXPECT_EQ(ReadText(path), expected);

    // Refused writes: a line break would plant extra keys; a full disk; no file possible.
    EXPECT_FALSE(WriteSettingsValue(path, "Folder", "/tmp/x\nKnown = 9"));
    EXPECT_FALSE(WriteSettingsValue(path, "A=B", "1"));
    SetWriteFailureAfterBytes(0);
    EXPECT_FALSE(WriteSettingsValue(path, "Known", "7"));
    SetWriteFailureAfterBytes(-1);
    EXPECT_EQ(ReadText(path), expected);
    EXPECT_EQ(ScanFolder(folder).size(), 1u);  // no temporary left behind
    EXPECT_FALSE(WriteSettingsValue(folder, "A", "1"));
    EXPECT_FALSE(WriteSettingsValue(folder + "missing/x.prefs", "A", "1"));
}

TEST(ToolkitNumbers, ParsingSaturationAndFormatting) {
    const std::pair<const char*, int64_t> ints[] = {
        {"  -7", -7}, {"\t+5", 5}, {"$ff", 255}, {"-$10", -16}, {"%101", 5}, {"%102", 2}, {"12abc", 12},
        {"1.9", 1}, {"abc", 0}, {"", 0}, {"$", 0}, {"2147483648", 2147483648LL}, {"-9223372036854775808", INT64_MIN},
    };
    for (const auto& [text, expected] : ints) EXPECT_EQ(ParseIntText(text), expected) << text;

    const std::pair<const char*, double> floats[] = {
        {"-1.500", -1.5}, {" 7", 7.0}, {"3.25xyz", 3.25}, {"1e3", 1000.0}, {"1e", 1.0}, {".5", 0.5},
        {"abc", 0.0}, {".", 0.0}, {"2,5", 2.0}, {"+Infinity", INFINITY}, {"-infinity", -INFINITY},
        {"1e999", INFINITY}, {"-1e999", -INFINITY}, {"1e-999", 0.0},
    };
    for (const auto& [text, expected] : floats) EXPECT_EQ(ParseFloatText(text), expected) << text;
    EXPECT_TRUE(std::isnan(ParseFloatText(" nan")));
    EXPECT_EQ(ParseFloatText("-1,25", true), -1.25);

    const std::pair<double, int> bytes[] = {{NAN, 0}, {INFINITY, 255}, {-INFINITY, 0}, {-3.0, 0}, {127.4, 127}, {254.6, 255}};
    for (const auto& [value, expected] : bytes) EXPECT_EQ(SaturateToByte(value), expected) << value;

    EXPECT_EQ(FormatFixed(2.5, 3), "2.500");
    EXPECT_EQ(FormatFixed(-1.5, 3), "-1.500");
    EXPECT_EQ(FormatFixed(1234.5678, 1), "1234.6");
    EXPECT_EQ(FormatFixed(-1e300, 0).size(), 302u);  // written in full, never cut to "0"
}
