#include "tests/support/private_tmpdir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>

namespace testsupport {

namespace {

// A plain array: it must be set before any dynamic initialiser runs (and survive them).
char g_dir[64];

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void removeDir()
{
    if (g_dir[0]) ::nftw(g_dir, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// Runs before the default-priority static initialisers of this program (the driver log
// fixes its file name in one of those).
__attribute__((constructor(101))) void makePrivateTmpDir()
{
    char pattern[] = "/tmp/oltra-test-XXXXXX";
    if (::mkdtemp(pattern)) {
        std::memcpy(g_dir, pattern, sizeof pattern);
        ::setenv("TMPDIR", pattern, 1);
        std::atexit(removeDir);
    }
}

} // namespace

const std::string& privateTmpDir()
{
    static const std::string dir = g_dir;
    return dir;
}

std::string logPath() { return privateTmpDir() + "/Oltra.log"; }

std::string logText()
{
    std::string text = readFile(logPath());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return text;
}

} // namespace testsupport
