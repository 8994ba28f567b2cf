// The register side of the serial protocol: frame reception, the ACK/SYN/ENQ handshake,
// answer frames, the register's state, the command table and fault injection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "simulators/serialreg/books.h"
#include "simulators/serialreg/line.h"

namespace serialsim {

// What the register keeps between commands.
struct RegisterState {
    std::time_t clockBase = 0; // register time when the simulator started (naive, UTC fields)
    bool frozenClock = false;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    std::uint8_t extStatus = 0x20; // extended status: shift open
    std::uint16_t stateValue = 1;  // GetState answer bytes 0 to 1
    std::string model = "PELTRA-SIM 44";
    std::string fiscalNumber = "SIM0000044";
    std::uint8_t fiscalized[5] = {0x01, 0x02, 0x16, 0x09, 0x30}; // BCD dd mm yy hh mm
    std::string taxPayer[3];                                     // register (OEM) text
    std::string taxNumber;                                       // register (OEM) text
    std::string version = "1.0";

    Bytes logo; // rows top first, a set bit dark
    unsigned logoWidth = 0, logoHeight = 0;
    std::string logoFile; // where the logo is kept as a PBM file (--logo)

    // Programming (programming.cpp). Users 0 to 15; user 0's password guards the
    // programming commands.
    static constexpr int kUsers = 16;
    struct User {
        std::uint16_t password = 0;
        std::string name; // register (OEM) text
    } users[kUsers];
    int cashier = -1;                   // the user logged in, or -1
    std::uint8_t taxPayerFlags[4] = {}; // the three lines and the tax number: 0x40 wide, 0x80 high
    std::string header[8];              // receipt header lines (register text)
    std::uint8_t headerFlags[8] = {};
    std::string payNames[10]; // programmed pay type names (register text)
    bool onlineMode = false;
    bool cutterMode = false;
    std::uint32_t switchBaud = 0; // line speed to take after the answer, or 0

    // The receipt being printed (receipt.cpp) and the printed tape.
    struct Receipt {
        bool open = false;
        bool payout = false; // refund (payout) receipt: fpsCheckType
        bool paying = false; // payments began: no more lines
        bool hasSales = false;
        std::int64_t total = 0; // smallest currency unit
        std::int64_t paid = 0;
        std::int64_t lastLine = 0; // sum of the last line, base of a line discount
        int lastGroup = 0;         // its tax group (0 to 5)
        Totals sums;               // this receipt's part of the shift totals
        struct Line {
            ArticleKey key;
            std::string name; // register (OEM) text
            int group;
            std::int64_t price, milli, sum; // count in thousandths
            int decimals;
        };
        std::vector<Line> articles;
        std::vector<std::string> lines; // the receipt as printed so far (UTF-8)
    } receipt;
    Books books; // books.cpp
    bool ShiftOpen() const { return (extStatus & 0x20) != 0; }
    int receiptNumber = 0;                // receipts closed since start
    std::vector<std::string> lastReceipt; // for a copy
    std::int64_t safe = 0;                // cash in the drawer
    std::string display[2];               // customer display rows (UTF-8)
    std::FILE* tape = nullptr;            // printed lines go here when set
    // Also told of each printed line, and of the logo printed at the head of a receipt.
    std::function<void(const std::string&)> printed;
    std::function<void()> logoPrinted;

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
    std::uint32_t busyMs;                            // time spent busy (SYN) before answering
    std::size_t (*extraBytes)(const Bytes& request); // extra data to pull with ENQ, or null
    Answer (*run)(RegisterState& state, const Bytes& request, const Bytes& extra);
    std::uint32_t silentMs = 0; // time spent silent before answering
};
// The command of `code` in one of the command tables, or null.
template <std::size_t N>
const CommandSpec* FindIn(const CommandSpec (&table)[N], std::uint8_t code)
{
    for (const auto& c : table)
        if (c.code == code) return &c;
    return nullptr;
}
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
// The programming and service commands (programming.cpp), or null.
const CommandSpec* FindProgrammingCommand(std::uint8_t code);

// What every receipt begins with: the logo as text art, the tax payer's lines, the tax
// number, the header lines, the fiscal number and the cashier.
void PrintReceiptHead(RegisterState& st, const std::function<void(const std::string&)>& print);
// The logo as text art of at most `columns` characters a line (half blocks).
std::vector<std::string> LogoArt(const Bytes& logo, unsigned width, unsigned height, unsigned columns);
// A programmed pay type name (UTF-8), or "" when none was set.
std::string PayTypeName(const RegisterState& st, int type);

// An injected fault, for matching commands (cmd < 0: all) and a number of answers
// (count < 0: no limit).
struct Fault {
    enum Kind {
        Nak,
        SynFirst,
        SynStorm,
        Silence,
        SilenceAfterAck,
        Garbage,
        BadChecksum,
        WrongSeq,
        WrongCmd,
        Truncate,
        StrayDle,
        Oversize,
        Error,
        Status,
        ExtStatus,
        NoTrailer,
        StrayEnq,
        Slow,
        AckLost,
        AnswerLostAfterExec,
        AnswerDamagedAfterExec,
        ShortData,
        KindCount
    };
    Kind kind = Nak;
    int value = 0;
    int cmd = -1;
    int count = -1;
};
// "KIND[=VALUE][,cmd=HEX][,count=N]"
bool ParseFault(const std::string& spec, Fault& fault, std::string& error);
std::string FaultHelp();
struct FaultKindInfo {
    const char* name;
    const char* help;
    bool takesValue; // "=VALUE" means something (needed, or it has a default)
};
std::vector<FaultKindInfo> FaultKinds();
const char* FaultName(Fault::Kind kind);
// What follows the kind's name in its SPEC: "21,cmd=01,count=2", "" for none.
std::string FaultTail(const Fault& fault);

// One frame received and what the register did with it, for an observer.
struct Exchange {
    int cmd = -1;          // -1: no command (a bad frame)
    const char* name = ""; // the command's name, "" when unknown
    std::uint8_t seq = 0;
    Bytes received;                  // the frame as it came, and extra data blocks
    Bytes sent;                      // everything sent back (cut after 4 KiB)
    Answer answer;                   // with the status and error bytes as sent
    bool answered = false;           // an answer frame was sent
    bool repeated = false;           // a retry answered again, not executed
    std::vector<std::string> faults; // names of the faults that met it
    std::string problem;             // what went wrong with the frame, if anything
};

// Watches the simulator; called on the simulator's thread.
class Observer {
public:
    virtual ~Observer() = default;
    virtual void Exchanged(const Exchange& e) = 0;
    // After a command was handled or a control line applied.
    virtual void StateChanged(const RegisterState& st) = 0;
};
// "YYYY-MM-DD HH:MM:SS" as naive time fields.
bool ParseClock(const char* text, std::time_t& out);

class Simulator {
public:
    Simulator(Line& line, RegisterState& state, std::vector<Fault> faults, std::FILE* log)
        : line_(line), state_(state), faults_(std::move(faults)), log_(log)
    {}
    // Control lines ("fault SPEC", "clear", "ext-status N", "clock YYYY-MM-DD HH:MM:SS")
    // are read from `fd` (non-blocking) before each command is handled.
    void SetControl(int fd) { control_ = fd; }
    // The books are written to `path` (replaced as a whole) at start and after each
    // executed command.
    void SetBooks(const std::string& path) { booksPath_ = path; }
    // The busy time of each command, in percent of its usual time (faults apart).
    void SetBusyPercent(unsigned percent) { busyPercent_ = percent; }
    void SetObserver(Observer* observer) { observer_ = observer; }
    // The faults, and switching one kind from another thread: off removes every fault of
    // the kind, on replaces them by KIND + `tail` ("=21,cmd=01", or "21,cmd=01"). Takes
    // effect at the next command. False with `error` when the kind or the tail is wrong.
    std::vector<Fault> Faults() const;
    bool SwitchFault(const std::string& kind, bool on, const std::string& tail, std::string& error);
    void WriteBooks();
    void Run(const volatile bool& stop);

private:
    void PollControl();
    void ApplyControl(const std::string& line);
    void Handle(std::uint8_t seq, const Bytes& request, const volatile bool& stop, Exchange& e);
    bool PullExtra(std::size_t count, Bytes& extra, const volatile bool& stop);
    void Send(const Bytes& bytes, const char* what = nullptr);
    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void LogBytes(const char* label, const Bytes& bytes);

    void Report(Exchange& e);

    Line& line_;
    RegisterState& state_;
    mutable std::mutex faultsMutex_; // faults_ are switched from other threads too
    std::vector<Fault> faults_;
    Observer* observer_ = nullptr;
    Exchange* trace_ = nullptr; // the exchange being recorded, if observed
    std::FILE* log_;
    int control_ = -1;
    std::string booksPath_;
    std::string controlBuffer_;
    unsigned busyPercent_ = 100;

    // The last command executed and its answer frame, to answer a repeated frame (a
    // retry by the driver) without executing it twice.
    bool haveLast_ = false;
    std::uint8_t lastSeq_ = 0;
    Bytes lastRequest_;
    Bytes lastExtra_;
    Answer lastAnswer_;
};

} // namespace serialsim
