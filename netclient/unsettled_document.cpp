#include "netclient/unsettled_document.h"
#include "netclient/json_answer.h"

#include "netclient/client_log.h"
#include "netclient/text_format.h"

#include <Poco/Exception.h>
#include <Poco/JSON/JSONException.h>
#include <Poco/JSON/Object.h>

#include <cmath>
#include <set>
#include <utility>
#include <vector>

namespace oltra {

namespace {

using Poco::Dynamic::Var;
using Poco::JSON::Array;
using Poco::JSON::Object;

bool isMoneyElement(const std::string& key) { return key == "S" || key == "P" || key == "IO"; }

// The members a record must give for its element to be compared at all.
const char* const* requiredMembers(const std::string& key)
{
    static const char* const sale[] = {"name", "qty", "price", nullptr};
    static const char* const payment[] = {"no", "sum", nullptr};
    static const char* const cash[] = {"sum", nullptr};
    return key == "S" ? sale : key == "P" ? payment : cash;
}

// The money elements of a document's content, as (key, members) in order; false when an
// element is not an object of one member holding an object.
bool moneyElements(const Array& content, std::vector<std::pair<std::string, Object::Ptr>>& out)
{
    for (std::size_t i = 0; i < content.size(); ++i) {
        const Object::Ptr element = content.getObject(static_cast<unsigned>(i));
        if (element.isNull() || element->size() != 1) return false;
        const std::string key = element->begin()->first;
        if (!isMoneyElement(key)) continue;
        const Object::Ptr members = element->getObject(key);
        if (members.isNull()) return false;
        out.emplace_back(key, members);
    }
    return true;
}

// A whole number that fits 64 bits, into `out`.
bool wholeNumber(const Var& v, int64_t& out)
{
    if (!v.isInteger()) return false;
    try {
        out = v.convert<Poco::Int64>();
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string folded(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isAsciiSpace(s[b])) ++b;
    while (e > b && isAsciiSpace(s[e - 1])) --e;
    std::string out = s.substr(b, e - b);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

Likeness sameValue(const Var& sent, const Var& recorded)
{
    if (sent.isNumeric() && recorded.isNumeric()) {
        const double a = sent.convert<double>(), b = recorded.convert<double>();
        if (!std::isfinite(a) || !std::isfinite(b)) return Likeness::Unclear;
        // The documents carry at most three decimals.
        return std::fabs(a - b) < 0.0005 ? Likeness::Same : Likeness::Other;
    }
    if (sent.isString() && recorded.isString()) {
        const std::string a = sent.extract<std::string>(), b = recorded.extract<std::string>();
        if (a == b) return Likeness::Same;
        // A register may keep names shortened, trimmed or in other letter case: such a
        // name may still be the one sent.
        const std::string fa = folded(a), fb = folded(b);
        if (fa.empty() || fb.empty()) return Likeness::Unclear;
        if (fa.compare(0, fb.size(), fb) == 0 || fb.compare(0, fa.size(), fa) == 0) return Likeness::Unclear;
        return Likeness::Other;
    }
    // A number written as text, an empty value, one kind for another: the register keeps
    // it otherwise than it was sent, and that says nothing either way.
    return Likeness::Unclear;
}

std::set<std::string> keysOf(const std::vector<std::pair<std::string, Object::Ptr>>& elements)
{
    std::set<std::string> keys;
    for (const auto& e : elements) keys.insert(e.first);
    return keys;
}

int64_t cents(double v) { return std::llround(v * 100); }

// How soon after the exchange a state read still shows the journal as the exchange left it.
constexpr std::chrono::seconds kFirstLook{2};

} // namespace

Likeness compareRecord(const Array& sent, const Var& recorded)
{
    if (recorded.type() != typeid(Array::Ptr) || recorded.extract<Array::Ptr>().isNull()) return Likeness::Unclear;
    std::vector<std::pair<std::string, Object::Ptr>> ours, theirs;
    if (!moneyElements(sent, ours)) return Likeness::Unclear;
    if (!moneyElements(*recorded.extract<Array::Ptr>(), theirs)) return Likeness::Unclear;
    // A document without money lines can't be told from another one by its content.
    if (ours.empty()) return Likeness::Unclear;
    // A register that keeps no payments (say) in its journal shows every document without
    // them: that does not make it another document.
    if (keysOf(ours) != keysOf(theirs)) return Likeness::Unclear;
    if (ours.size() != theirs.size()) return Likeness::Other;
    bool clear = true;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].first != theirs[i].first) return Likeness::Other;
        const Object& a = *ours[i].second;
        const Object& b = *theirs[i].second;
        for (const char* const* m = requiredMembers(ours[i].first); *m; ++m)
            if (!b.has(*m)) clear = false;
        for (const auto& member : a) {
            if (!b.has(member.first)) continue;
            switch (sameValue(member.second, b.get(member.first))) {
            case Likeness::Same: break;
            case Likeness::Other: return Likeness::Other;
            case Likeness::Unclear: clear = false; break;
            }
        }
    }
    return clear ? Likeness::Same : Likeness::Unclear;
}

Array::Ptr documentElements(const std::string& document, const std::string& type)
{
    const Object::Ptr root = rootObject(parseJson(document));
    const Array::Ptr elements = root->getArray(type);
    if (elements.isNull()) throw Poco::JSON::JSONException("The document has no \"" + type + "\" array");
    return elements;
}

UnsettledDocument::UnsettledDocument(std::string kind, std::string document, JournalAnchor anchor, Clock clock)
    : kind_(std::move(kind)), document_(std::move(document)), anchor_(std::move(anchor)), clock_(std::move(clock))
{
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
    anchoredAt_ = clock_();
}

void UnsettledDocument::sendEnded(bool answered)
{
    ended_ = true;
    answered_ = answered;
    endedAt_ = clock_();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(endedAt_ - anchoredAt_).count();
    // Whole seconds, rounded up, and one more: the register's clock counts whole seconds.
    sentUntil_ = anchor_.registerTime + (took < 0 ? 0 : (took + 999) / 1000) + 1;
}

UnsettledDocument::State UnsettledDocument::unknown(const std::string& why)
{
    reason_ = why;
    state_ = State::Unknown;
    netlog::error("Journal check: " + why);
    return state_;
}

UnsettledDocument::State UnsettledDocument::settle(int32_t lastId, int64_t registerNow, const JournalReader& read,
                                                   const SettleLimits& limits)
{
    if (settled()) return state_;
    reason_.clear();
    const auto started = clock_();
    const int64_t anchorId = anchor_.chkId;
    // The first look right after the exchange tells which records came after it; a later
    // first look can't, and the register's clock alone places them.
    if (ended_ && endedLastId_ < 0 && started - endedAt_ <= kFirstLook) endedLastId_ = lastId;
    if (lastId < anchorId) return unknown("the journal's last record lies before the one known when it was sent");
    const int64_t range = static_cast<int64_t>(lastId) - anchorId;
    if (range > static_cast<int64_t>(limits.maxRecords))
        return unknown(std::to_string(range) + " records since it was sent, more than can be compared");
    Array::Ptr sent;
    try {
        sent = documentElements(document_, kind_);
    } catch (const Poco::Exception& e) {
        return unknown("the document sent can't be read: " + e.displayText());
    }

    // Windows in the register's clock: up to `tight` the exchange that sent it may have
    // booked it; up to `late` a register that did not answer may still book it.
    const int64_t tight = ended_ ? sentUntil_ : registerNow;
    const int64_t late = answered_ ? tight : tight + limits.lateSeconds;
    std::set<int64_t> seen;
    int matchedTight = 0, matchedLate = 0, othersTight = 0;
    bool unclear = false;
    std::size_t bytes = 0;
    int64_t from = anchorId + 1;
    while (static_cast<int64_t>(seen.size()) < range) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(clock_() - started);
        const auto left = limits.deadline - spent;
        if (left.count() <= 0)
            return unknown("the journal was not read within " + std::to_string(limits.deadline.count() / 1000) + " s");
        if (bytes >= limits.maxBytes)
            return unknown("the journal's answers exceed " + std::to_string(limits.maxBytes) + " bytes");
        const std::size_t allowed = std::min(limits.maxPageBytes, limits.maxBytes - bytes);
        std::string body;
        if (!read(from, left, allowed, body))
            return unknown("the journal from record " + std::to_string(from) + " was not read");
        bytes += body.size();
        if (body.size() > allowed) return unknown("a journal answer exceeds " + std::to_string(allowed) + " bytes");
        Array::Ptr records;
        try {
            records = rootArray(parseJson(body));
        } catch (const Poco::Exception& e) {
            return unknown("the journal answer is not a list of records: " + e.displayText());
        } catch (const std::exception& e) {
            return unknown(std::string("the journal answer is not a list of records: ") + e.what());
        }
        std::size_t added = 0;
        for (std::size_t i = 0; i < records->size(); ++i) {
            const Object::Ptr record = records->getObject(static_cast<unsigned>(i));
            if (record.isNull()) continue;
            const bool ofKind = record->has(kind_);
            Likeness likeness = Likeness::Other;
            if (ofKind) {
                try {
                    likeness = compareRecord(*sent, record->get(kind_));
                } catch (const std::exception&) {
                    likeness = Likeness::Unclear;
                }
            }
            // Only a record with a whole-number id can be placed after the anchor.
            int64_t id = 0;
            if (!wholeNumber(record->get("id"), id)) {
                if (ofKind && likeness != Likeness::Other) unclear = true;
                continue;
            }
            if (id <= anchorId) continue;
            if (id > lastId) {
                // Booked since the state was read: it may be this very document, booked late.
                if (ofKind && likeness != Likeness::Other) unclear = true;
                continue;
            }
            if (!seen.insert(id).second) {
                // Two records under one id: the journal can't be trusted to place them.
                unclear = true;
                continue;
            }
            ++added;
            // A record without its time counts as booked while the document was sent.
            int64_t at = anchor_.registerTime;
            wholeNumber(record->get("time"), at);
            // Booked after the exchange had ended: another till's document, or (when the
            // register never answered) this one booked late; which, the journal doesn't say.
            const bool afterExchange = endedLastId_ >= 0 && id > endedLastId_;
            const bool inTight = !afterExchange && at <= tight;
            const bool inLate = answered_ ? inTight : at <= late;
            if (likeness == Likeness::Unclear) {
                if (inLate) unclear = true;
            } else if (likeness == Likeness::Same) {
                if (inTight) ++matchedTight;
                else if (inLate) ++matchedLate;
            } else if (inTight) {
                ++othersTight;
            }
        }
        // An answer that adds no record of the range (empty, ids as text, records from
        // elsewhere) ends the reading: the rest of the range stays unseen.
        if (added == 0)
            return unknown("the journal from record " + std::to_string(from) + " gave none of the records up to " +
                           std::to_string(lastId));
        from = *seen.rbegin() + 1;
        if (from > lastId && static_cast<int64_t>(seen.size()) < range)
            return unknown("the journal lacks records between " + std::to_string(anchorId + 1) + " and " +
                           std::to_string(lastId));
    }
    if (unclear) return unknown("a record of the journal can't be compared with the document");
    if (matchedTight == 0 && matchedLate == 0) {
        if (!answered_ && registerNow <= late) return unknown("the register did not answer and may still book it");
        state_ = State::Absent;
        return state_;
    }
    if (matchedTight == 1 && matchedLate == 0 && othersTight == 0) {
        state_ = State::Recorded;
        return state_;
    }
    // Another till's identical document, or another till's document at the same time:
    // which record is this document's the journal does not say.
    return unknown(std::to_string(matchedTight + matchedLate) + " records with its content and " +
                   std::to_string(othersTight) + " other documents while it was sent");
}

std::u16string UnsettledDocument::summary() const
{
    int64_t total = 0;
    try {
        const Array::Ptr elements = documentElements(document_, kind_);
        for (std::size_t i = 0; i < elements->size(); ++i) {
            const Object::Ptr element = elements->getObject(static_cast<unsigned>(i));
            if (element.isNull()) continue;
            const char* key = kind_ == "IO" ? "IO" : "P";
            const Object::Ptr members = element->getObject(key);
            if (!members.isNull() && members->has("sum")) total += cents(members->getValue<double>("sum"));
        }
    } catch (const std::exception&) {}
    std::u16string what = kind_ == "R"    ? u"чек возврата"
                          : kind_ == "P"  ? u"нефискальный чек"
                          : kind_ == "IO" ? (total < 0 ? u"чек выемки" : u"чек внесения")
                                          : u"чек продажи";
    if (total < 0) total = -total;
    what += u" на сумму " + fixedNumber16(static_cast<double>(total) / 100, 2);
    if (!anchor_.timeText.empty())
        what += u", отправленный " + std::u16string(anchor_.timeText.begin(), anchor_.timeText.end());
    return what;
}

} // namespace oltra
