// Replays the fuzzing corpus, and a few thousand inputs made from it, as an ordinary test.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

int run(const std::string& input)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::vector<std::string> corpus()
{
    std::vector<std::string> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(VANTOR_HISTORY_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        inputs.push_back(ss.str());
    }
    return inputs;
}

}  // namespace

TEST(HistoryFuzzReplay, Corpus)
{
    const auto inputs = corpus();
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs)
        EXPECT_EQ(run(input), 0);
}

TEST(HistoryFuzzReplay, MutatedCorpus)
{
    const auto inputs = corpus();
    std::mt19937 rng(1234);
    const char interesting[] = {' ', '\t', '\n', '\r', '_', '?', '0', '9', '-', '<', '&', '"', '\0', '\x80', '\xFF'};
    for (int round = 0; round < 3000; ++round) {
        std::string input = inputs[rng() % inputs.size()];
        for (int edits = 1 + static_cast<int>(rng() % 4); edits > 0; --edits) {
            const std::size_t pos = input.empty() ? 0 : rng() % input.size();
            switch (rng() % 4) {
            case 0:
                if (!input.empty())
                    input[pos] = interesting[rng() % sizeof interesting];
                break;
            case 1:
                input.insert(pos, 1, static_cast<char>(rng()));
                break;
            case 2:
                if (!input.empty())
                    input.erase(pos, 1 + rng() % 8);
                break;
            default:
                input.insert(pos, std::string(rng() % 300, static_cast<char>('a' + rng() % 3)));
                break;
            }
        }
        ASSERT_EQ(run(input), 0) << round;
    }
}
