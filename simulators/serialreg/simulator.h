// The register side of the serial protocol: frame reception, the ACK/SYN/ENQ handshake,
// answer frames, the register's state, the command table and fault injection.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "books.h"
#include "line.h"

namespace serialsim {

// What the register keeps between commands.
struct RegisterState {
    std::time_t clockBase = 0;  // register time when the simulator started (naive, UTC fields)
    bool frozenClock = false;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    std::uint8_t extStatus = 0x20;  // extended status: shift open
    std::uint16_t stateValue = 1;   // GetState answer bytes 0 to 1
    std::string model = "PELTRA-SIM 44";
    std::string fiscalNumber = "SIM0000044";
    std::uint8_t fiscalized[5] = {0x01, 0x02, 0x16, 0x09, 0x30};  // BCD dd mm yy hh mm
    std::string taxPayer[3];  // register (OEM) text
    std::string taxNumber;    // register (OEM) text
    std::string version = "1.0";

    Bytes logo;
    unsigned logoWidth = 0, logoHeight = 0;

    // The receipt being printed (receipt.cpp) and the printed tape.
    struct Receipt {
        bool open = false;
        bool payout = false;         // refund (payout) receipt: fpsCheckType
        bool paying = false;         // payments began: no more lines
        bool hasSales = false;
        std::int64_t total = 0;      // smallest currency unit
        std::int64_t paid = 0;
        std::int64_t lastLine = 0;   // sum of the last line, base of a line discount
        int lastGroup = 0;           // its tax group (0 to 5)
        Totals sums;                 // this receipt's part of the shift totals
        struct Line {
            ArticleKey key;
            std::string name;        // register (OEM) text
            int group;
            std::int64_t price, milli, sum;  // count in thousandths
            int decimals;
        };
        std::vector<Line> articles;
        std::vector<std::string> lines;  // the receipt as printed so far (UTF-8)
    } receipt;
    Books books;                     // books.cpp
    bool ShiftOpen() const { return (extStatus & 0x20) != 0; }
    int receiptNumber = 0;           // receipts closed since start
    std::vector<std::string> lastReceipt;  // for a copy
    std::int64_t safe = 0;           // cash in the drawer
    std::string display[2];          // customer display rows (UTF-8)
    std::FILE* tape = nullptr;       // printed lines go here when set

    std::time_t Now() const;
};

// An answer before framing.
struct Answer {
    std::uint8_t status = 0;
    std::uint8_t error = 0;
    Bytes data;
};

// One command the register knows. `minLength` counts the request bytes with the code.
struct CommandSpec {
    std::uint8_t code;
    const char* name;
    std::size_t minLength;
    std::uint32_t busyMs;                              // time spent busy (SYN) before answering
    std::size_t (*extraBytes)(const Bytes& request);   // extra data to pull with ENQ, or null
    Answer (*run)(RegisterState& state, const Bytes& request, const Bytes& extra);
};
const CommandSpec* FindCommand(std::uint8_t code);
// The receipt, safe, display and printing commands (receipt.cpp), or null.
const CommandSpec* FindReceiptCommand(std::uint8_t code);
// The report and query commands (books.cpp), or null.
const CommandSpec* FindReportCommand(std::uint8_t code);

// Books of a receipt that closed (not cancelled): its sums, its receipt counter and its
// articles go to the shift (books.cpp).
void BookReceipt(RegisterState& st);
// Opens the shift if it is closed; refuses (with the register's error code) when the
// shift has run more than 24 hours or data have waited more than 72 hours.
std::uint8_t StartShiftWork(RegisterState& st);
// The books as "key=value" lines, for tests and the curious.
std::string DumpBooks(const RegisterState& st);

// An injected fault, for matching commands (cmd < 0: all) and a number of answers
// (count < 0: no limit).
struct Fault {
    enum Kind {
        Nak, SynFirst, SynStorm, Silence, SilenceAfterAck, Garbage, BadChecksum, WrongSeq,
        WrongCmd, Truncate, StrayDle, Oversize, Error, Status, ExtStatus, NoTrailer, StrayEnq,
    };
    Kind kind = Nak;
    int value = 0;
    int cmd = -1;
    int count = -1;
};
// "KIND[=VALUE][,cmd=HEX][,count=N]"
bool ParseFault(const std::string& spec, Fault& fault, std::string& error);
std::string FaultHelp();
// "YYYY-MM-DD HH:MM:SS" as naive time fields.
bool ParseClock(const char* text, std::time_t& out);

class Simulator {
public:
    Simulator(Line& line, RegisterState& state, std::vector<Fault> faults, std::FILE* log)
        : line_(line), state_(state), faults_(std::move(faults)), log_(log) {}
    // Control lines ("fault SPEC", "clear", "ext-status N", "clock YYYY-MM-DD HH:MM:SS")
    // are read from `fd` (non-blocking) before each command is handled.
    void SetControl(int fd) { control_ = fd; }
    // The books are written to `path` (replaced as a whole) at start and after each
    // executed command.
    void SetBooks(const std::string& path) { booksPath_ = path; }
    void WriteBooks();
    void Run(const volatile bool& stop);

private:
    void PollControl();
    void ApplyControl(const std::string& line);
    void Handle(std::uint8_t seq, const Bytes& request, const volatile bool& stop);
    bool PullExtra(std::size_t count, Bytes& extra, const volatile bool& stop);
    void Send(const Bytes& bytes, const char* what = nullptr);
    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void LogBytes(const char* label, const Bytes& bytes);

    Line& line_;
    RegisterState& state_;
    std::vector<Fault> faults_;
    std::FILE* log_;
    int control_ = -1;
    std::string booksPath_;
    std::string controlBuffer_;

    // The last command executed and its answer frame, to answer a repeated frame (a
    // retry by the driver) without executing it twice.
    bool haveLast_ = false;
    std::uint8_t lastSeq_ = 0;
    Bytes lastRequest_;
    Answer lastAnswer_;
};

} // namespace serialsim
