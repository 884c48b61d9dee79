// Path helpers of the toolkit: archive entry paths and the names shown for paths.
#include <gtest/gtest.h>

#include "toolkit/files.h"

TEST(ToolkitPaths, ArchivePathsSplitAtTheFirstSeparator) {
    struct Case {
        const char* path;
        bool isArchive;
        const char* archive;
        const char* entry;
    } cases[] = {
        {"D:\\a.gro::x.tex", true, "D:\\a.gro", "x.tex"},
        {"/g/a.gro::b::c.tex", true, "/g/a.gro", "b::c.tex"},
        {"/g/a.gro::", true, "/g/a.gro", ""},
        {"::x.tex", true, "", "x.tex"},
        {"/g/plain.tex", false, "/g/plain.tex", ""},
        {"/g/one:colon.tex", false, "/g/one:colon.tex", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsArchivePath(c.path), c.isArchive);
        EXPECT_EQ(GetArchivePartOfPath(c.path), c.archive);
        EXPECT_EQ(GetEntryPartOfPath(c.path), c.entry);
    }
}

TEST(ToolkitPaths, DisplayNames) {
    struct Case { const char* path; const char* name; };
    const Case cases[] = {
        {"C:\\tex\\wall.tex", "wall.tex"},
        {"/home/a/wall.tex", "wall.tex"},
        {"/a/pak0.gro::textures\\walls\\wall.tex", "wall.tex"},
        {"/a/pak0.gro::textures/walls/wall.tex", "wall.tex"},
        {"/a/pak0.gro::wall.tex", "wall.tex"},
        {"plain", "plain"},
    };
    for (const Case& c : cases) EXPECT_EQ(GetDisplayName(c.path), c.name) << c.path;
    EXPECT_EQ(GetTextAfterLastSeparator("a\\b/c"), "c");
}
