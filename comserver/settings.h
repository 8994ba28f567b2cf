// The server's settings file: the .ini file next to the executable (the module path with
// its extension replaced by ".ini"). One setting, "DoLog" in section "VAdazi", says
// whether the daily work log is written.
#pragma once

#include "comserver/work_log.h"

// Sets log.modulePath, derives log.settingsPath and reads "DoLog": missing gives 0 and
// writes "0" back, any other value switches the log on when it is not 0. Returns false
// when the path does not fit. Keeps the thread's last error.
bool LoadSettings(WorkLog& log, const char* modulePath);

// Stores the log switch ("1" or "0") in "DoLog"; nothing while no settings file is known.
void StoreLogSetting(const WorkLog& log, bool on);
