// Runs the fuzz target on its seed inputs in the ordinary test build, so that the
// harness keeps compiling and its seeds keep passing without clang.
#include <gtest/gtest.h>

#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(LinkFuzzSeeds, RunWithoutFault) {
    const std::string dir = LINK_FUZZ_SEEDS;
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(dir + "/" + e->d_name, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << e->d_name;
        ++files;
    }
    closedir(d);
    EXPECT_GE(files, 4);
}
