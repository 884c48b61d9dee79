// The preferences file: load rules, the window rule against displays and DPI,
// the written file's exact form, session saving and failed writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "editor/globals.h"
#include "editor/prefs.h"
#include "tests/test_support.h"
#include "toolkit/displays.h"
#include "toolkit/files.h"

namespace {

const std::string kBom = "\xEF\xBB\xBF";

class EditorPrefs : public testing::Test {
protected:
    void SetUp() override {
        config_ = MakeTempFolder("prefs");
        SetConfigFolderOverride(config_);
        ResetEditorGlobals();
    }
    void TearDown() override {
        SetWriteFailureAfterBytes(-1);
        SetConfigFolderOverride("");
        SetDisplaysOverride({});
        SetDpiScaleOverride(0.0);
        ResetEditorGlobals();
    }
    std::string Path() const { return config_ + "Orvanta/Orvanta.prefs"; }
    void WriteRaw(const std::string& text) {
        ASSERT_TRUE(CreateFolder(config_ + "Orvanta"));
        ASSERT_TRUE(WriteWholeFile(Path(), text.data(), text.size()));
    }
    std::string ReadRaw() const {
        std::vector<uint8_t> data;
        ReadWholeFile(Path(), data);
        return std::string(data.begin(), data.end());
    }
    std::string config_;
};

}  // namespace

TEST_F(EditorPrefs, FirstStartCreatesTheFolderAndUsesDefaults) {
    EXPECT_EQ(GetPrefsFilePath(), Path());
    EXPECT_TRUE(FolderExists(config_ + "Orvanta"));
    LoadPreferences();
    EXPECT_EQ(gPrefRememberWindow + gPrefWarnDataLoss + gPrefWarnQE1Size + gPrefWarnClipping, 4);
    EXPECT_EQ(gUndoLimit, 30);
    EXPECT_EQ(gPrefNormalStrength, 2.0);
    EXPECT_EQ(gWindowCentre, 1);
    EXPECT_EQ(GetFileKind(Path()), FileKind::Missing);  // reading never creates the file
}

TEST_F(EditorPrefs, LoadRules) {
    auto i = [](int64_t& g) { return std::function<double()>([&g] { return double(g); }); };
    auto d = [](double& g) { return std::function<double()>([&g] { return g; }); };
    const std::tuple<std::string, std::function<double()>, double> cases[] = {
        {"PrefUndoSteps = 1", i(gPrefUndoSteps), 2},       {"PrefUndoSteps = 500", i(gUndoLimit), 200},
        {"PrefUndoSteps = 4294967298", i(gPrefUndoSteps), 200},  // not cut to 32 bits
        {"PrefUndoSteps = abc", i(gPrefUndoSteps), 2},     {"PrefUndoSteps =", i(gPrefUndoSteps), 30},
        {"prefundosteps = $20", i(gPrefUndoSteps), 32},    {"PrefBackground = 9", i(gPrefBackground), 3},
        {"PrefNormalStrength = 0", d(gPrefNormalStrength), 2},  {"PrefNormalStrength = -3", d(gPrefNormalStrength), 2},
        {"PrefNormalStrength = NaN", d(gPrefNormalStrength), 2}, {"PrefNormalStrength = 1e300", d(gPrefNormalStrength), 2},
        {"PrefNormalStrength = 3.5x", d(gPrefNormalStrength), 3.5}, {"PrefHdrFixed = 7", i(gPrefHdrFixed), 1},
        {"PrefHdrTone = 7", i(gPrefHdrTone), 1},           {"PrefSaveFormat = 8", i(gPrefSaveFormat), 7},
        {"PrefWarnClipping = 0", i(gPrefWarnClipping), 0}, {"PrefHdrExposure = -1.5", d(gPrefHdrExposure), -1.5},
        {"PrefHdrExposure = NaN", d(gPrefHdrExposure), 0}, {"PrefHdrExposure = 1e300", d(gPrefHdrExposure), 0},
        {"LastHdrExposure = -64", d(gHdrExposure), -64},   {"LastHdrExposure = -Infinity", d(gHdrExposure), 0},
        {"LastHdrExposure = 65", d(gHdrExposure), 0},      {"LastHdrTone = 3", i(gHdrTone), 1},
        {"LastHdrExposure = -0.000", [] { return double(std::signbit(gHdrExposure)); }, 0},  // shown as 0.0
        {"LastDDSFormat = 3", i(gLastDdsFormat), 3},       {"LastDDSFormat = 4", i(gLastDdsFormat), -1},
        {"LastDDSFormat = -5", i(gLastDdsFormat), -1},     {"LastDDSMips = 0", i(gLastDdsMips), 0},
    };
    for (const auto& [line, get, expected] : cases) {
        ResetEditorGlobals();
        WriteRaw(line + "\n");
        LoadPreferences();
        EXPECT_EQ(get(), expected) << line;
    }
}

TEST_F(EditorPrefs, FoldersAndFixedHdrSettings) {
    ASSERT_TRUE(CreateFolder(config_ + "pictures"));
    WriteRaw("LastOpenFolder = " + config_ + "pictures\nLastSaveFolder = " + config_ + "gone\nPrefHdrFixed = 1\n"
             "PrefHdrExposure = -2.000\nPrefHdrTone = 1\nLastHdrExposure = 3.000\nLastHdrTone = 0\n");
    LoadPreferences();
    EXPECT_EQ(gLastOpenFolder, config_ + "pictures");
    EXPECT_EQ(gLastSaveFolder, "");
    EXPECT_EQ(gHdrExposure, -2.0);
    EXPECT_EQ(gHdrTone, 1);
    gHdrExposure = 1.25;
    SaveSessionSettings(WindowPlacement{});
    EXPECT_EQ(ReadPrefString("LastHdrExposure", ""), "1.250");  // saved although fixed
}

TEST_F(EditorPrefs, WindowRule) {
    const std::vector<DisplayRect> one = {{0, 0, 1920, 1080}}, two = {{0, 0, 1920, 1080}, {1920, -200, 1280, 1024}},
                                   hiDpi = {{0, 0, 3840, 2160}};
    struct Case { std::vector<DisplayRect> displays; double scale; bool remember; std::string x, y, w, h; bool used; };
    const Case cases[] = {
        {one, 1, true, "100", "80", "300", "200", true},     {{}, 0, true, "100", "80", "800", "600", true},
        {one, 1, true, "", "", "", "", false},               {one, 1, true, "100", "80", "299", "600", false},
        {one, 1, true, "100", "80", "800", "199", false},    {one, 1, true, "1879", "80", "800", "600", true},
        {one, 1, true, "1880", "80", "800", "600", false},   {one, 1, true, "-40", "-20", "800", "600", true},
        {one, 1, true, "-41", "-20", "800", "600", false},   {two, 1, true, "2000", "-150", "800", "600", true},
        {two, 1, true, "2000", "-221", "800", "600", false}, {hiDpi, 2, true, "1879", "80", "800", "600", true},
        {hiDpi, 2, true, "1880", "80", "800", "600", false}, {hiDpi, 1, true, "1880", "80", "800", "600", true},
        {one, 1, true, "4294967396", "80", "800", "600", false},  // 100 once cut to 32 bits
        {one, 1, true, "100", "80", "4294967596", "600", false},  // 300 once cut to 32 bits
        {one, 1, true, "9223372036854775807", "80", "800", "600", false},
        {one, 1, false, "100", "80", "800", "600", false},
    };
    for (const Case& c : cases) {
        ResetEditorGlobals();
        SetDisplaysOverride(c.displays);
        SetDpiScaleOverride(c.scale);
        const std::string name = c.x + "," + c.y + " " + c.w + "x" + c.h + " scale " + std::to_string(c.scale);
        std::string file = std::string("PrefRememberWindow = ") + (c.remember ? "1" : "0") + "\nWindowMaximized = 1\n";
        if (!c.x.empty()) file += "WindowX=" + c.x + "\nWindowY=" + c.y + "\nWindowWidth=" + c.w + "\nWindowHeight=" + c.h + "\n";
        WriteRaw(file);
        LoadPreferences();
        EXPECT_EQ(gWindowCentre, c.used ? 0 : 1) << name;
        EXPECT_EQ(gStartMaximized, c.remember ? 1 : 0) << name;
        EXPECT_EQ(gWindowX, c.used ? std::atoi(c.x.c_str()) : 100) << name;
        EXPECT_EQ(gWindowHeight, c.used ? std::atoi(c.h.c_str()) : 448) << name;
    }
}

// A stored size beyond the largest display (another machine's, or typed by
// hand) is cut to that display's free area; the stored place stays.
TEST_F(EditorPrefs, StoredSizeIsBoundedByTheLargestDisplay) {
    const DisplayRect full = {0, 0, 1920, 1080}, panel = {0, 0, 1920, 1080, 1920, 1040},
                      wide = {1920, 0, 2560, 1440}, hiDpi = {0, 0, 3840, 2160};
    struct Case {
        std::vector<DisplayRect> displays;
        double scale;
        std::string w, h;
        int width, height;
    } cases[] = {
        {{full}, 1, "1000", "700", 1000, 700},
        {{full}, 1, "99999", "99999", 1920, 1080},
        {{full}, 1, "2147483647", "500", 1920, 500},
        {{panel}, 1, "5000", "5000", 1920, 1040},
        {{full, wide}, 1, "5000", "5000", 2560, 1440},
        {{hiDpi}, 2, "5000", "1000", 1920, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w + "x" + c.h);
        ResetEditorGlobals();
        SetDisplaysOverride(c.displays);
        SetDpiScaleOverride(c.scale);
        WriteRaw("WindowX = 100\nWindowY = 80\nWindowWidth = " + c.w + "\nWindowHeight = " + c.h + "\n");
        LoadPreferences();
        EXPECT_EQ(gWindowCentre, 0);
        EXPECT_EQ(gWindowX, 100);
        EXPECT_EQ(gWindowY, 80);
        EXPECT_EQ(gWindowWidth, c.width);
        EXPECT_EQ(gWindowHeight, c.height);
    }
}

TEST_F(EditorPrefs, SavePreferencesWritesTheExactFile) {
    SetDefaultPreferences();
    gPrefNormalStrength = 2.5;
    gPrefHdrExposure = -1.5;
    SavePreferences();
    EXPECT_EQ(ReadRaw(), kBom + "\r\nPrefRememberWindow = 1\r\nPrefBackground = 0\r\nPrefUndoSteps = 30\r\n"
                                "PrefNormalStrength = 2.500\r\nPrefHdrFixed = 0\r\nPrefHdrExposure = -1.500\r\n"
                                "PrefHdrTone = 0\r\nPrefSaveFormat = 0\r\nPrefSaveSourceFolder = 0\r\n"
                                "PrefWarnDataLoss = 1\r\nPrefWarnQE1Size = 1\r\nPrefWarnClipping = 1\r\n");
}

TEST_F(EditorPrefs, SessionSavingKeepsTheLastNormalPlacement) {
    SetDefaultPreferences();
    gHdrExposure = -0.5;
    gLastDdsFormat = 2;
    gLastDdsMips = 0;
    SaveSessionSettings(WindowPlacement{false, false, 120, 60, 900, 500});
    EXPECT_EQ(ReadRaw(), kBom + "\r\nLastHdrExposure = -0.500\r\nLastHdrTone = 0\r\nLastDDSFormat = 2\r\n"
                                "LastDDSMips = 0\r\nWindowMaximized = 0\r\nWindowX = 120\r\nWindowY = 60\r\n"
                                "WindowWidth = 900\r\nWindowHeight = 500\r\n");
    SaveSessionSettings(WindowPlacement{true, false, 0, 0, 1920, 1080});
    EXPECT_EQ(ReadPrefInt("WindowMaximized", -1), 1);
    SaveSessionSettings(WindowPlacement{false, true, -32000, -32000, 0, 0});  // minimised: not maximised
    EXPECT_EQ(ReadPrefInt("WindowMaximized", -1), 0);

    ResetEditorGlobals();
    LoadPreferences();  // the last normal placement comes back
    EXPECT_EQ(gWindowCentre, 0);
    EXPECT_EQ(gWindowX, 120);

    gPrefRememberWindow = 0;
    SaveSessionSettings(WindowPlacement{false, false, 10, 10, 800, 600});
    EXPECT_EQ(ReadPrefInt("WindowX", -1), 120);
}

TEST_F(EditorPrefs, FailedWriteKeepsTheOldFileAndTheValuesInMemory) {
    const std::string original = kBom + "\r\nPrefUndoSteps = 50\r\n";
    WriteRaw(original);
    SetDefaultPreferences();
    gPrefUndoSteps = 80;
    SetWriteFailureAfterBytes(0);
    SavePreferences();
    SaveSessionSettings(WindowPlacement{});
    SetWriteFailureAfterBytes(-1);
    EXPECT_EQ(ReadRaw(), original);
    EXPECT_EQ(gPrefUndoSteps, 80);
}

TEST(ToolkitDisplays, ProviderAndBrokenScale) {
    // The window layer's provider, when a window test started it, comes back.
    const DisplaysProvider before =
        SetDisplaysProvider([] { return std::vector<DisplayRect>{{0, 0, 800, 600}, {800, 0, 800, 600}}; },
                            [] { return 2.0; });
    EXPECT_EQ(IsPointOnAMonitor(799, 100), 1);  // 1600 device pixels are 800 units
    EXPECT_EQ(IsPointOnAMonitor(800, 100), 0);
    SetDisplaysProvider(nullptr, [] { return double(NAN); });
    EXPECT_EQ(GetDpiScale(), 1.0);
    SetDisplaysProvider(before.displays, before.dpiScale);
}
