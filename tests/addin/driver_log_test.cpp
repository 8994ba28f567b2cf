// The driver log on its own: file creation and restart, level filtering, line format,
// UTF-8 text and response dumps.
#include "addin/driver_log.h"
#include "tests/support/private_tmpdir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <regex>
#include <set>
#include <thread>

using namespace oltra;
using namespace testsupport;

namespace {

const std::string kBom = "\xEF\xBB\xBF";

class DriverLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        setLogLevel(kLogDebug);
        removeFile(logPath());
    }
    void TearDown() override { setLogLevel(kLogDebug); }
};

std::vector<std::string> dumpFiles()
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(privateTmpDir().c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > 9 && n.compare(n.size() - 9, 9, ".response") == 0) names.push_back(n);
        }
        ::closedir(d);
    }
    return names;
}

} // namespace

TEST_F(DriverLog, LogFileLivesInTheTemporaryDirectory)
{
    EXPECT_EQ(tempDirectory(), privateTmpDir() + "/");
    EXPECT_EQ(logFilePath(), logPath());
}

TEST_F(DriverLog, NewFileStartsWithBomAndLinesHaveTheFixedFormat)
{
    logInfo("first");
    logError(std::u16string(u"второй"));
    const std::string raw = readFile(logPath());
    ASSERT_EQ(raw.compare(0, 3, kBom), 0);
    EXPECT_EQ(raw.find(kBom, 3), std::string::npos) << "one BOM only";
    const std::string text = raw.substr(3);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"((\[\d\d-\d\d-\d{4} \d\d:\d\d:\d\d\] (INFO|ERROR): [^\n]*\n){2})")))
        << text;
    EXPECT_NE(text.find("] INFO: first\n"), std::string::npos);
    EXPECT_NE(text.find("] ERROR: \xD0\xB2\xD1\x82\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB9\n"), std::string::npos)
        << "Cyrillic is written as UTF-8";
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST_F(DriverLog, FullFileIsStartedAgainOneByteLessIsAppended)
{
    writeFile(logPath(), std::string(kLogSizeLimit - 1, 'a'));
    logInfo("appended");
    std::string raw = readFile(logPath());
    EXPECT_GT(raw.size(), kLogSizeLimit);
    EXPECT_EQ(raw[0], 'a');

    writeFile(logPath(), std::string(kLogSizeLimit, 'a'));
    logInfo("restarted");
    raw = readFile(logPath());
    EXPECT_LT(raw.size(), 200u);
    EXPECT_EQ(raw.compare(0, 3, kBom), 0);
    EXPECT_NE(raw.find("INFO: restarted\n"), std::string::npos);
}

TEST_F(DriverLog, LevelFiltersLines)
{
    setLogLevel(kLogError);
    logDebug("d2");
    logInfo("i2");
    logError("e2");
    setLogLevel(kLogInfo);
    logDebug("d1");
    logInfo("i1");
    setLogLevel(7); // above ERROR: named ERROR, behaves like it
    logInfo("i7");
    logError("e7");
    setLogLevel(-1); // negative: INFO and ERROR, no DEBUG
    logDebug("dm");
    logInfo("im");
    const std::string text = logText();
    for (const char* absent : {"d2", "i2", "d1", "i7", "dm"})
        EXPECT_EQ(text.find(std::string(": ") + absent + "\n"), std::string::npos) << absent;
    for (const char* present : {"ERROR: e2", "INFO: i1", "ERROR: e7", "INFO: im"})
        EXPECT_NE(text.find(std::string(present) + "\n"), std::string::npos) << present;
    EXPECT_NE(text.find("INFO: Set log level: ERROR\n"), std::string::npos) << "written at any level";
    EXPECT_NE(text.find("INFO: Set log level: INFO\n"), std::string::npos);
    EXPECT_EQ(logLevel(), -1);
}

TEST_F(DriverLog, ResponseDumpsOnlyAtDebugWithTimestampedName)
{
    // Like the DEBUG line naming the dump: at level 0 only, not at a negative level.
    for (const int32_t level : {int32_t(kLogInfo), -1}) {
        setLogLevel(level);
        dumpResponse("{\"quiet\":1}");
        EXPECT_TRUE(dumpFiles().empty()) << level;
    }

    setLogLevel(kLogDebug);
    dumpResponse("{\"a\":\"б\"}");
    const std::vector<std::string> files = dumpFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(Oltra-\d{8}-\d{6}-\d{3}-\d{4}\.response)"))) << files[0];
    const std::string path = privateTmpDir() + "/" + files[0];
    EXPECT_EQ(readFile(path), kBom + "{\"a\":\"б\"}");
    EXPECT_NE(logText().find("DEBUG: " + path + "\n"), std::string::npos);
    removeFile(path);
}

TEST_F(DriverLog, EveryResponseKeepsItsOwnDumpFromEveryThread)
{
    // Answers come faster than one per millisecond, from the sessions' threads at once:
    // each one is kept in a file of its own, none overwritten.
    setLogLevel(kLogDebug);
    for (const std::string& f : dumpFiles()) removeFile(privateTmpDir() + "/" + f);
    constexpr int kThreads = 4, kEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                dumpResponse("{\"t\":" + std::to_string(t) + ",\"i\":" + std::to_string(i) + "}");
        });
    for (auto& th : threads) th.join();
    const std::vector<std::string> files = dumpFiles();
    EXPECT_EQ(files.size(), std::size_t(kThreads * kEach));
    std::set<std::string> bodies;
    for (const std::string& f : files) {
        bodies.insert(readFile(privateTmpDir() + "/" + f));
        removeFile(privateTmpDir() + "/" + f);
    }
    EXPECT_EQ(bodies.size(), std::size_t(kThreads * kEach)) << "every answer in its own file";
}
