// A money document (a receipt "F", "R", "P" or a cash document "IO") sent to the register
// whose answer did not confirm it: the register may or may not have booked it. It is
// settled by the register's journal and by nothing else. It is recorded only when the
// journal shows it, after the state read taken right before it was sent (its anchor), as
// the one record of that time; absent only when every record from the anchor on up to the
// register's last record was read and none of them can be it. Anything less leaves it
// unknown, and an unknown document is never sent again: the cashier checks the tape.
//
// The journal is read through an injected reader and the time through an injected clock,
// so the comparison runs without a network.
#pragma once

#include <Poco/Dynamic/Var.h>
#include <Poco/JSON/Array.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace oltra {

// The register's state read just before a document was sent.
struct JournalAnchor {
    int32_t chkId = 0;        // the journal's last record then
    int64_t registerTime = 0; // the register's clock then, seconds since 1970
    std::string timeText;     // the same as the cashier reads it on the tape ("%d-%m-%Y %H:%M:%S")
};

// Bounds of one settlement.
struct SettleLimits {
    std::chrono::milliseconds deadline{30000}; // for the whole settlement, every journal read included
    std::size_t maxPageBytes = 1u << 20;       // of one journal answer
    std::size_t maxBytes = 4u << 20;           // of all journal answers together
    std::size_t maxRecords = 2000;             // records between the anchor and the register's last one
    // How long after its exchange ended a register that did not answer may still book a
    // document it received: until then a journal without it does not prove it absent.
    int64_t lateSeconds = 30;
};

class UnsettledDocument {
public:
    enum class State {
        Sent,     // not compared with the journal yet
        Recorded, // the register booked it
        Absent,   // the register did not book it and will not
        Unknown,  // the journal can't tell (yet)
    };
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Reads the journal from record `from` on ("/cgi/chk?id=" + from) into `body`, taking at
    // most `left` and `maxBytes`; false when no answer came.
    using JournalReader =
        std::function<bool(int64_t from, std::chrono::milliseconds left, std::size_t maxBytes, std::string& body)>;

    // kind: the document's root key; document: the document as sent (UTF-8).
    UnsettledDocument(std::string kind, std::string document, JournalAnchor anchor, Clock clock = Clock());

    // The exchange that sent it is over. `answered`: the register (or what stands in front
    // of it) gave an answer, so it is done with the document and won't book it later.
    void sendEnded(bool answered);

    // Compares the journal with the document. lastId and registerNow come from a state read
    // made just now. A settled document (recorded or absent) stays so.
    State settle(int32_t lastId, int64_t registerNow, const JournalReader& read,
                 const SettleLimits& limits = SettleLimits());

    State state() const { return state_; }
    bool settled() const { return state_ == State::Recorded || state_ == State::Absent; }
    const std::string& kind() const { return kind_; }
    const std::string& document() const { return document_; }
    const JournalAnchor& anchor() const { return anchor_; }
    // Why the last settlement gave Unknown (for the log); empty otherwise.
    const std::string& reason() const { return reason_; }

    // What the cashier looks for on the tape: the document, its sum and when it was sent,
    // "чек продажи на сумму 12.50, отправленный 08-12-2026 10:00:01".
    std::u16string summary() const;

private:
    State unknown(const std::string& why);

    std::string kind_;
    std::string document_;
    JournalAnchor anchor_;
    Clock clock_;
    std::chrono::steady_clock::time_point anchoredAt_;
    std::chrono::steady_clock::time_point endedAt_;
    bool ended_ = false;
    bool answered_ = false;
    int64_t sentUntil_ = 0; // register time by which the exchange had ended (with a second's slack)
    // The journal's last record as read right after the exchange ended; -1 when not read
    // then. A record after it was booked after the exchange: by this document only if the
    // register, never having answered, booked it late.
    int64_t endedLastId_ = -1;
    State state_ = State::Sent;
    std::string reason_;
};

// How one journal record compares with a document: the same money content, another
// content, or a content that can't be compared (members missing, numbers as text, names
// the register shortened).
enum class Likeness { Same, Other, Unclear };
Likeness compareRecord(const Poco::JSON::Array& sent, const Poco::Dynamic::Var& recorded);

// The elements of a document as sent ({"F":[...]}, {"IO":[...]}); throws when it has no
// such array.
Poco::JSON::Array::Ptr documentElements(const std::string& document, const std::string& type);

} // namespace oltra
