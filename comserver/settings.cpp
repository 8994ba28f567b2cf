#include "comserver/settings.h"
#include "comserver/keep_last_error.h"

#include <cstring>

namespace {

constexpr char kSection[] = "VAdazi";
constexpr char kKey[] = "DoLog";

} // namespace

bool LoadSettings(WorkLog& log, const char* modulePath)
{
    KeepLastError keep;
    std::size_t n = modulePath ? std::strlen(modulePath) : 0;
    if (n == 0 || n >= sizeof log.modulePath) return false;
    std::memcpy(log.modulePath, modulePath, n + 1);

    // The extension of the file name (a '.' after the last '\', not at the start) is
    // replaced; a name without one gets ".ini" appended.
    const char* dot = std::strrchr(modulePath, '.');
    const char* slash = std::strrchr(modulePath, '\\');
    std::size_t stem = (dot && dot > modulePath && (!slash || dot > slash)) ? static_cast<std::size_t>(dot - modulePath)
                                                                            : n;
    if (stem + 5 > sizeof log.settingsPath) return false;
    std::memcpy(log.settingsPath, modulePath, stem);
    std::memcpy(log.settingsPath + stem, ".ini", 5);

    int value = static_cast<int>(GetPrivateProfileIntA(kSection, kKey, -1, log.settingsPath));
    if (value < 0) {
        log.logEnabled = 0;
        StoreLogSetting(log, false);
    } else {
        log.logEnabled = value;
    }
    return true;
}

void StoreLogSetting(const WorkLog& log, bool on)
{
    if (log.settingsPath[0]) WritePrivateProfileStringA(kSection, kKey, on ? "1" : "0", log.settingsPath);
}
