// Replays a fuzz target's corpus as an ordinary test: every input that once found a fault, and
// every seed, runs again in each build. The target aborts on a broken invariant.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzCorpus, EveryInputRunsThrough)
{
    const std::filesystem::path corpus = VANTOR_FUZZ_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    int inputs = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
        ++inputs;
    }
    EXPECT_GT(inputs, 0);
}

TEST(FuzzCorpus, MutatedSeedsRunThrough)
{
    // A few thousand cheap mutations of the seeds, with a fixed seed so a failure repeats.
    std::vector<std::vector<uint8_t>> seeds;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(VANTOR_FUZZ_CORPUS)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    ASSERT_FALSE(seeds.empty());
    std::mt19937 random(20261207);
    for (int round = 0; round < 5000; ++round) {
        std::vector<uint8_t> input = seeds[random() % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const auto pos = input.empty() ? 0 : random() % (input.size() + 1);
            switch (random() % 3) {
            case 0:
                if (pos < input.size())
                    input[pos] = static_cast<uint8_t>(random());
                break;
            case 1:
                input.insert(input.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<uint8_t>(random()));
                break;
            default:
                if (pos < input.size())
                    input.erase(input.begin() + static_cast<std::ptrdiff_t>(pos));
                break;
            }
        }
        ASSERT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);
    }
}
