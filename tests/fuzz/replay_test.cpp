// Replays every kept input through the entry point of its fuzz target: the
// crash inputs in tests/crashes/<target>/ and the seeds in
// tests/fuzz/seeds/<target>/. Each input is a test of its own, named after
// its target and file, so a crash (in the plain build or under the
// sanitizers) names the input that caused it. The targets' sources are
// compiled in here with their entry points renamed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "toolkit/files.h"

using FuzzEntry = int (*)(const uint8_t*, size_t);

#define ORVANTA_FUZZ_TARGET(name) extern "C" int OrvantaFuzzEntry_##name(const uint8_t*, size_t);
#include "fuzz_targets.inc"
#undef ORVANTA_FUZZ_TARGET

namespace {

const std::map<std::string, FuzzEntry>& Targets() {
    static const std::map<std::string, FuzzEntry> targets = {
#define ORVANTA_FUZZ_TARGET(name) {#name, OrvantaFuzzEntry_##name},
#include "fuzz_targets.inc"
#undef ORVANTA_FUZZ_TARGET
    };
    return targets;
}

struct KeptInput {
    std::string name;    // the test's name: kind, target and file name
    std::string target;
    std::string path;    // below the source folder
};

std::vector<KeptInput> FindKeptInputs() {
    namespace fs = std::filesystem;
    static const struct {
        const char* kind;
        const char* folder;
    } kFolders[] = {{"crash", "tests/crashes"}, {"seed", "tests/fuzz/seeds"}};
    std::vector<KeptInput> inputs;
    std::error_code error;
    for (const auto& [kind, folder] : kFolders) {
        for (const auto& target : fs::directory_iterator(fs::path(ORVANTA_SOURCE_DIR) / folder, error)) {
            if (!target.is_directory()) continue;
            for (const auto& file : fs::directory_iterator(target.path(), error)) {
                if (!file.is_regular_file()) continue;
                KeptInput input{std::string(kind) + "_" + target.path().filename().string() + "_" +
                                    file.path().filename().string(),
                                target.path().filename().string(),
                                fs::relative(file.path(), ORVANTA_SOURCE_DIR).generic_string()};
                for (char& c : input.name)
                    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                inputs.push_back(std::move(input));
            }
        }
    }
    std::sort(inputs.begin(), inputs.end(), [](const KeptInput& a, const KeptInput& b) { return a.name < b.name; });
    return inputs;
}

// Failure messages name the input by its path rather than dumping its bytes.
void PrintTo(const KeptInput& input, std::ostream* out) { *out << input.path; }

class KeptInputReplay : public testing::TestWithParam<KeptInput> {};

TEST_P(KeptInputReplay, RunsCleanlyThroughItsTarget) {
    const KeptInput& input = GetParam();
    const auto target = Targets().find(input.target);
    // A folder named after no target would keep its inputs from ever running.
    ASSERT_NE(target, Targets().end()) << input.path << " belongs to no fuzz target";
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(std::string(ORVANTA_SOURCE_DIR) + "/" + input.path, bytes)) << input.path;
    // Like libFuzzer: an exact-size heap copy, so a read past the end is seen.
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    EXPECT_EQ(target->second(copy.get(), bytes.size()), 0) << input.path;
}

INSTANTIATE_TEST_SUITE_P(Kept, KeptInputReplay, testing::ValuesIn(FindKeptInputs()),
                         [](const testing::TestParamInfo<KeptInput>& info) { return info.param.name; });

TEST(KeptInputReplay, EveryTargetHasSeeds) {
    for (const auto& [name, entry] : Targets())
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(ORVANTA_SOURCE_DIR) / "tests/fuzz/seeds" / name))
            << name << " has no seed folder";
}

}  // namespace
