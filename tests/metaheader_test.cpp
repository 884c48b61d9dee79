// The meta header both texture generations share: the version text as stored
// and as shown, and the choice of generation the loader makes from it.
#include <gtest/gtest.h>

#include <string>

#include "formats/metaheader.h"
#include "tests/meta_texture_file.h"

namespace {

Bytes MetaHeader(const std::string& version, uint32_t length) {
    Bytes b;
    Put(b, "CTSEMETA"), Put(b, "........"), Put(b, length), Put(b, version);
    return b;
}

TEST(FormatsMetaHeader, VersionTextAndGeneration) {
    struct Case {
        std::string version;
        uint32_t length;
        const char* stored;
        const char* shown;
        bool dk2;
    } cases[] = {
        {"$Version: Dravik 2.0 $", 22, "$Version: Dravik 2.0 $", "Dravik 2.0 $", true},
        {"$Version: Dravik 3.4 ZO2017", 27, "$Version: Dravik 3.4 ZO2017", "Dravik 3.4 ZO2017", false},
        // The generation is told from the text as stored, before any removal.
        {"Dravik$Version: 2", 17, "Dravik$Version: 2", "Dravik2", false},
        {std::string("Dra\0vik 2", 9), 9, "Dra", "Dra", false},  // a zero byte ends the text
        {"Dravik 2", 9, "", "", false},                          // cut off by the end of the data
        {"Dravik 2", 0, "", "", false},
        {"Dravik 2", 1000, "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version + " / " + std::to_string(c.length));
        const Bytes b = MetaHeader(c.version, c.length);
        EXPECT_EQ(ReadStoredMetaVersionText(b.data(), b.size()), c.stored);
        EXPECT_EQ(ReadMetaVersionText(b.data(), b.size()), c.shown);
        EXPECT_EQ(IsDk2MetaHeader(b.data(), b.size()), c.dk2);
    }
    EXPECT_EQ(ReadStoredMetaVersionText(nullptr, 0), "");
}

}  // namespace
