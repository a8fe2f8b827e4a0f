// Replays the fuzz corpus as an ordinary test, so that every input the fuzzer ever kept (and every
// crash it found, once added) runs in each test run.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

TEST(FuzzCorpus, SmbStatusInputsAreHandled)
{
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VANTOR_FUZZ_CORPUS "/smbstatus")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size()), 0);
        ++files;
    }
    EXPECT_GE(files, 5u);
}
