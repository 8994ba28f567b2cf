// What the parts of the register's fiscal side share (register.cpp routes the requests;
// receipts.cpp, reports.cpp, display.cpp, journal.cpp and persistence.cpp carry them out):
// its state, its error codes and tax groups, the model family, money and time as the tape
// prints them, and the JSON answers.
#pragma once

#include "simulators/netreg/netsim.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace netsim {

namespace fiscal {

constexpr std::size_t kJournalLimit = 5000;
constexpr int kDisplayLines = 6;

// The register's error codes: the code text sent in "err" and the description served by
// "/desc".
enum class RegisterError {
    BadRequest,
    UnknownDocument,
    UnknownReport,
    TaxGroupMissing,
    PaymentShort,
    NotEnoughCash,
    EmptyReceipt,
    BadNumber,
    DiscountTooLarge,
    BadPaymentType,
    BadReportParameters,
    NoReceiptToCopy,
    BadDisplayData,
    FiscalMemoryFull,
};

struct ErrorEntry {
    RegisterError error;
    const char* code;
    const char* text;
};
extern const std::vector<ErrorEntry> kErrors;

std::string code(RegisterError error);

struct TaxGroup {
    int id;
    double rate;
    const char* letter;
};
extern const std::vector<TaxGroup> kTaxGroups;

const TaxGroup* findGroup(int id);

// The model family, told by the model's name: one with 707 in it is of the 707 family,
// which numbers the payment types its own way.
enum class Family { Standard, Series707 };
Family familyOf(const std::string& model);
// The payment type that counts as cash: 1 in the 707 family, 4 in the others.
int cashType(Family family);

std::string json(const Poco::Dynamic::Var& v);

// {"err":"CODE"}
Answer errorAnswer(RegisterError error);
// {"err":[{"e":CODE, ...}, ...]}
Answer errorList(const Poco::JSON::Array::Ptr& errors);
// {"id":ID,"no":NO}: a document booked.
Answer booked(int64_t id, int32_t no);
Poco::JSON::Object::Ptr errorItem(RegisterError error, const std::string& key = "", const std::string& value = "");

std::string money(int64_t cents);
// "DD.MM.YYYY HH:MM:SS" (UTC).
std::string timeText(int64_t t);
// A number member of an element; throws when missing or not a number.
double number(const Poco::JSON::Object& o, const std::string& key);
int64_t cents(double d);
// The text padded with blanks to `width` characters (UTF-8).
std::string padRight(const std::string& s, std::size_t width);

} // namespace fiscal

struct Register::State {
    int64_t nextId = 1;                    // journal record ids; chkId is the last one given
    int32_t nextNo = 1;                    // number of the next receipt
    int32_t nextZ = 1;                     // number of the next Z report
    int64_t shiftOpened = 0;               // 0: no shift open
    int64_t cash = 0;                      // cents in the drawer
    std::map<int, int64_t> sales, returns; // by tax group
    std::map<int, int64_t> paid;           // by payment type, sales minus returns
    int32_t receipts = 0;                  // receipts in the shift
    std::deque<Poco::JSON::Object::Ptr> journal;
    std::string lastReceiptTape;
    std::vector<std::pair<std::string, std::string>> display = std::vector<std::pair<std::string, std::string>>(
        fiscal::kDisplayLines, {"l", ""});
};

} // namespace netsim
