// Runs a fuzz target on each file of its seeds folder (FUZZ_SEEDS) in the ordinary test
// trees, so that the target keeps compiling and its seeds keep passing without clang.
// Exits 1 when the folder cannot be read or holds no seed, or when the target rejects
// one with a value other than 0 or -1; a fault in the target ends the program.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main()
{
    const std::string dir = FUZZ_SEEDS;
    DIR* d = opendir(dir.c_str());
    if (!d) {
        std::fprintf(stderr, "cannot read the seeds folder %s\n", dir.c_str());
        return 1;
    }
    int seeds = 0, failed = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string path = dir + "/" + e->d_name;
        std::ifstream f(path, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            ++failed;
            continue;
        }
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const int rc = LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        if (rc != 0 && rc != -1) {
            std::fprintf(stderr, "%s: the target returned %d\n", e->d_name, rc);
            ++failed;
        }
        ++seeds;
    }
    closedir(d);
    std::printf("%d seeds from %s, %d failed\n", seeds, dir.c_str(), failed);
    return seeds > 0 && failed == 0 ? 0 : 1;
}
