#include "comserver/work_log.h"
#include "comserver/settings.h"
#include "tests/win/comserver/test_support.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <memory>
#include <string>

namespace {

SYSTEMTIME g_now;

void TestClock(SYSTEMTIME* t) { *t = g_now; }

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second = 0, WORD ms = 0)
{
    SYSTEMTIME t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    return t;
}

class WorkLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = At(2026, 12, 1, 10, 11, 12, 345); // a Tuesday: logday2.txt
        log = std::make_unique<WorkLog>();
        log->localTime = &TestClock;
    }
    void TearDown() override { CloseLog(*log); }

    // Loads the settings of <dir>\PELTRA44.exe.
    void Start(const char* ini = nullptr)
    {
        if (ini) WriteWholeFile(dir.File("PELTRA44.ini"), ini);
        ASSERT_TRUE(LoadSettings(*log, dir.File("PELTRA44.exe").c_str()));
    }
    std::string Setting() const
    {
        char value[16] = "";
        GetPrivateProfileStringA("VAdazi", "DoLog", "missing", value, sizeof value, dir.File("PELTRA44.ini").c_str());
        return value;
    }
    std::string Day(int day) const { return dir.File("logday" + std::to_string(day) + ".txt"); }

    TempDir dir;
    std::unique_ptr<WorkLog> log;
};

} // namespace

TEST_F(WorkLogTest, SettingDecidesTheLog)
{
    Start();
    EXPECT_EQ(0, log->logEnabled);
    EXPECT_EQ("0", Setting()); // the missing key is written back
    EXPECT_STREQ(dir.File("PELTRA44.ini").c_str(), log->settingsPath);

    // Logging off: the events still reach the ring, no file is touched.
    WriteEvent(*log, "Запуск");
    EXPECT_STREQ("Запуск", RecentEvent(*log, 0));
    EXPECT_FALSE(FileExists(Day(2)));

    Start("[VAdazi]\r\nDoLog=5\r\n");
    EXPECT_EQ(5, log->logEnabled);
    WriteEvent(*log, "Запуск");
    EXPECT_TRUE(FileExists(Day(2)));
}

TEST_F(WorkLogTest, EventRingCutsAndWraps)
{
    Start();
    WriteEvent(*log, "");
    WriteEvent(*log, nullptr, "Src");
    EXPECT_EQ(0, log->eventIndex);

    std::string source(40, 's');
    WriteEvent(*log, "Ok", source.c_str());
    EXPECT_EQ(std::string(32, 's') + " - Ok", RecentEvent(*log, 0));

    std::string message(300, 'm');
    WriteEvent(*log, message.c_str());
    EXPECT_EQ(std::string(256, 'm'), RecentEvent(*log, 0));
    WriteEvent(*log, message.c_str(), "Connect");
    EXPECT_EQ("Connect - " + std::string(246, 'm'), RecentEvent(*log, 0));

    for (int i = 4; i <= 11; ++i) WriteEventF(*log, "", "event %i", i);
    EXPECT_EQ(1, log->eventIndex);
    EXPECT_STREQ("event 11", log->eventRing[0]); // the eleventh took the first slot
    EXPECT_STREQ("event 11", RecentEvent(*log, 0));
    EXPECT_EQ("Connect - " + std::string(246, 'm'), RecentEvent(*log, 8));
    EXPECT_EQ(std::string(256, 'm'), RecentEvent(*log, 9)); // the oldest left
}

TEST_F(WorkLogTest, FileLinesByteForByte)
{
    Start("[VAdazi]\r\nDoLog=1\r\n");
    WriteEvent(*log, "Запуск");
    const unsigned char sent[] = {0x10, 0x02, 0x07, 0x01, 0xF8, 0x10, 0x03};
    WriteDataLine(*log, "Send", sent, sizeof sent);
    WriteRawLine(*log, "ACK");
    g_now.wMilliseconds = 7;
    WriteEventF(*log, "GetDate", "%s", "Ok");
    SetLastError(ERROR_FILE_NOT_FOUND);
    WriteEvent(*log, "Остановка");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    // Prefix "10:11:12.345 " + "Label012345 (100)" = 30 characters: 75 of 100 bytes would
    // fit, but a cut dump ends with " ..." so that a reader knows bytes are missing: 74.
    unsigned char many[100];
    for (int i = 0; i < 100; ++i) many[i] = static_cast<unsigned char>(i);
    WriteDataLine(*log, "Label012345", many, sizeof many);
    std::string longText(300, 'r');
    WriteRawLine(*log, longText.c_str());
    CloseLog(*log);

    std::string data = "10:11:12.007 Label012345 (100)";
    for (int i = 0; i < 74; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", i);
        data += hex;
    }
    data += " ...";
    EXPECT_EQ(256u, data.size());
    std::string expected = "01/12/26\r\n"
                           "10:11:12.345 \xC7\xE0\xEF\xF3\xF1\xEA\r\n" // "Запуск" in cp1251
                           "10:11:12.345 Send (7) 10 02 07 01 F8 10 03\r\n"
                           "10:11:12.345 ACK\r\n"
                           "10:11:12.007 GetDate - Ok\r\n"
                           "10:11:12.007 Остановка\r\n" +
                           data + "\r\n" + "10:11:12.007 " + std::string(243, 'r') + "\r\n";
    EXPECT_EQ(expected, ReadWholeFile(Day(2)));

    // Data and raw lines never open the file.
    WriteRawLine(*log, "after close");
    WriteDataLine(*log, "Recv", sent, 1);
    EXPECT_EQ(expected, ReadWholeFile(Day(2)));
}

TEST_F(WorkLogTest, SameDayAppendsAWeekLaterStartsAfresh)
{
    Start("[VAdazi]\r\nDoLog=1\r\n");
    WriteEvent(*log, "first");
    CloseLog(*log);
    // The file was last written this (injected) morning: a restart appends.
    ASSERT_TRUE(SetLastWriteLocal(Day(2), At(2026, 12, 1, 9, 0)));
    g_now = At(2026, 12, 1, 18, 30, 0, 0);
    WriteEvent(*log, "second");
    CloseLog(*log);
    EXPECT_EQ("01/12/26\r\n10:11:12.345 first\r\n01/12/26\r\n18:30:00.000 second\r\n", ReadWholeFile(Day(2)));

    // Next Tuesday the file written a week earlier is emptied first.
    ASSERT_TRUE(SetLastWriteLocal(Day(2), At(2026, 12, 1, 18, 30)));
    g_now = At(2026, 12, 8, 8, 0, 1, 2);
    WriteEvent(*log, "third");
    EXPECT_EQ("08/12/26\r\n08:00:01.002 third\r\n", ReadWholeFile(Day(2)));

    // Past midnight the next event moves to Wednesday's file.
    g_now = At(2026, 12, 9, 0, 0, 5, 0);
    WriteEvent(*log, "fourth");
    EXPECT_EQ(3, log->logFileDay);
    EXPECT_EQ("09/12/26\r\n00:00:05.000 fourth\r\n", ReadWholeFile(Day(3)));
    EXPECT_EQ("08/12/26\r\n08:00:01.002 third\r\n", ReadWholeFile(Day(2)));
}

TEST_F(WorkLogTest, SwitchingOffAndOnFromTheDialog)
{
    Start();
    SetLogging(*log, false); // no change
    EXPECT_EQ("0", Setting());
    EXPECT_EQ(0, log->eventIndex);

    SetLogging(*log, true);
    EXPECT_EQ("1", Setting());
    g_now.wSecond = 20;
    SetLogging(*log, false);
    EXPECT_EQ("0", Setting());
    EXPECT_EQ(INVALID_HANDLE_VALUE, log->logFile);
    WriteEvent(*log, "not in the file");
    ASSERT_TRUE(SetLastWriteLocal(Day(2), g_now));
    g_now.wSecond = 30;
    SetLogging(*log, true);
    CloseLog(*log);
    EXPECT_EQ("01/12/26\r\n10:11:12.345 Запись включена\r\n10:11:20.345 Запись отключена\r\n"
              "01/12/26\r\n10:11:30.345 Запись включена\r\n",
              ReadWholeFile(Day(2)));
    EXPECT_STREQ("Запись отключена", RecentEvent(*log, 2));
}

TEST_F(WorkLogTest, LogLastErrorWritesThePendingErrorAndLeavesIt)
{
    Start();
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(S_OK, CreateErrorInfo(&create));
    create->SetSource(const_cast<LPOLESTR>(L"PrintXReport"));
    create->SetDescription(const_cast<LPOLESTR>(L"Принтер отклонил команду."));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    SetErrorInfo(0, info);

    SetLastError(21);
    LogLastError(*log);
    EXPECT_EQ(21u, GetLastError());
    EXPECT_STREQ("PrintXReport - Принтер отклонил команду.", RecentEvent(*log, 0));
    IErrorInfo* still = nullptr;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &still));
    EXPECT_EQ(info, still);
    still->Release();

    // A given object; then nothing pending: nothing written.
    create = nullptr;
    CreateErrorInfo(&create);
    create->SetDescription(const_cast<LPOLESTR>(L"Неверный аргумент."));
    IErrorInfo* given = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&given));
    create->Release();
    LogLastError(*log, given);
    given->Release();
    info->Release();
    EXPECT_STREQ("Неверный аргумент.", RecentEvent(*log, 0));
    LogLastError(*log);
    EXPECT_EQ(2, log->eventIndex);
}
