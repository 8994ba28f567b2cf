// Every test process that links this writes its log into a directory of its own: TMPDIR
// is pointed at a fresh directory before any static initialiser of the code under test
// runs, and the directory is removed when the process ends.
#pragma once

#include "tests/support/test_files.h"

#include <string>

namespace testsupport {

// The private directory, without a trailing separator.
const std::string& privateTmpDir();

// The driver log in it, and its lines (without the BOM).
std::string logPath();
std::string logText();

} // namespace testsupport
