// The unsettled document on its own: scripted journals, a scripted clock, no network.
#include "netclient/unsettled_document.h"
#include "netclient/json_answer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

namespace {

using oltra::JournalAnchor;
using oltra::Likeness;
using oltra::SettleLimits;
using oltra::UnsettledDocument;
using State = UnsettledDocument::State;
using Clock = std::chrono::steady_clock;

const char kSale[] =
    "{\"F\":[{\"S\":{\"code\":12,\"name\":\"Хліб\",\"qty\":1.000,\"price\":5.00,\"sum\":5.00,\"dep\":1,"
    "\"grp\":1,\"tax\":1}},{\"P\":{\"no\":1, \"sum\" : 5.00}}]}";
const char kSaleContent[] =
    "[{\"S\":{\"code\":12,\"name\":\"Хліб\",\"qty\":1,\"price\":5,\"sum\":5}},{\"P\":{\"no\":1,\"sum\":5}}]";
constexpr int64_t kAt = 1000; // the register's clock at the anchor

std::string record(int64_t id, int64_t time, const std::string& content = kSaleContent, const std::string& kind = "F")
{
    return "{\"id\":" + std::to_string(id) + ",\"no\":1,\"time\":" + std::to_string(time) + ",\"" + kind +
           "\":" + content + "}";
}

// A journal of records by id; each read gives at most `page` records from `from` on, and
// moves the scripted clock on by `step`.
struct Journal {
    std::map<int64_t, std::string> records;
    std::size_t page = 200;
    std::chrono::milliseconds step{0};
    Clock::time_point now{};
    int reads = 0;

    UnsettledDocument::Clock clock()
    {
        return [this] { return now; };
    }
    UnsettledDocument::JournalReader reader()
    {
        return [this](int64_t from, std::chrono::milliseconds, std::size_t, std::string& body) {
            ++reads;
            now += step;
            body = "[";
            std::size_t n = 0;
            for (auto it = records.lower_bound(from); it != records.end() && n < page; ++it, ++n) {
                if (n) body += ",";
                body += it->second;
            }
            body += "]";
            return true;
        };
    }
};

UnsettledDocument sale(Journal& j, bool answered = true, const char* document = kSale, const std::string& kind = "F")
{
    UnsettledDocument d(kind, document, JournalAnchor{57, kAt, "08-12-2026 10:00:00"}, j.clock());
    d.sendEnded(answered);
    return d;
}

Likeness compare(const std::string& sent, const std::string& recorded)
{
    const auto elements = oltra::documentElements("{\"F\":" + sent + "}", "F");
    return oltra::compareRecord(*elements, oltra::parseJson(recorded));
}

TEST(UnsettledDocumentTest, ComparesTheMoneyContent)
{
    const std::string sent =
        "[{\"S\":{\"name\":\"Хліб житній\",\"qty\":1.000,\"price\":5.00}},{\"P\":{\"no\":1,\"sum\":5.00}}]";
    EXPECT_EQ(compare(sent, "[{\"S\":{\"name\":\"Хліб житній\",\"qty\":1,\"price\":5}},{\"P\":{\"no\":1,\"sum\":5}}]"),
              Likeness::Same);
    EXPECT_EQ(compare(sent, "[{\"S\":{\"name\":\"Хліб житній\",\"qty\":2,\"price\":5}},{\"P\":{\"no\":1,\"sum\":5}}]"),
              Likeness::Other);
    EXPECT_EQ(compare(sent, "[{\"S\":{\"name\":\"Молоко\",\"qty\":1,\"price\":5}},{\"P\":{\"no\":1,\"sum\":5}}]"),
              Likeness::Other);
    // Kept otherwise than sent: shortened, numbers as text, a member missing, no payments.
    EXPECT_EQ(compare(sent, "[{\"S\":{\"name\":\"Хліб\",\"qty\":1,\"price\":5}},{\"P\":{\"no\":1,\"sum\":5}}]"),
              Likeness::Unclear);
    EXPECT_EQ(
        compare(sent,
                "[{\"S\":{\"name\":\"Хліб житній\",\"qty\":\"1.000\",\"price\":5}},{\"P\":{\"no\":1,\"sum\":5}}]"),
        Likeness::Unclear);
    EXPECT_EQ(compare(sent, "[{\"S\":{\"name\":\"Хліб житній\",\"qty\":1}},{\"P\":{\"no\":1,\"sum\":5}}]"),
              Likeness::Unclear);
    EXPECT_EQ(compare(sent, "[{\"S\":{\"name\":\"Хліб житній\",\"qty\":1,\"price\":5}}]"), Likeness::Unclear);
    EXPECT_EQ(compare(sent, "{\"S\":1}"), Likeness::Unclear);
}

TEST(UnsettledDocumentTest, RecordedOnlyAsTheOneRecordOfItsTime)
{
    {
        Journal j;
        j.records[58] = record(58, kAt);
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(58, kAt + 1, j.reader()), State::Recorded);
        EXPECT_EQ(d.settle(99, kAt + 1, j.reader()), State::Recorded) << "settled stays settled";
        EXPECT_EQ(j.reads, 1);
    }
    {
        // Nothing since the anchor: absent without a read.
        Journal j;
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(57, kAt + 1, j.reader()), State::Absent);
        EXPECT_EQ(j.reads, 0);
    }
    {
        // Another document at the same time: which one is whose is not known.
        Journal j;
        j.records[58] = record(58, kAt, "[{\"IO\":{\"sum\":10}}]", "IO");
        j.records[59] = record(59, kAt);
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(59, kAt + 1, j.reader()), State::Unknown);
    }
    {
        // Two alike at the same time.
        Journal j;
        j.records[58] = record(58, kAt);
        j.records[59] = record(59, kAt);
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(59, kAt + 1, j.reader()), State::Unknown);
    }
    {
        // Only other documents, all of them read: absent.
        Journal j;
        j.records[58] = record(58, kAt, "[{\"IO\":{\"sum\":10}}]", "IO");
        j.records[59] = record(59, kAt,
                               "[{\"S\":{\"name\":\"Сіль\",\"qty\":1,\"price\":5}},{\"P\":{\"no\":1,\"sum\":5}}]");
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(59, kAt + 1, j.reader()), State::Absent);
    }
}

// What the journal held right after the exchange ended places a record before or after it:
// a record booked after a lost exchange may be this document booked late or another till's
// identical one, and the journal can't say which.
TEST(UnsettledDocumentTest, ARecordBookedAfterTheExchangeIsNoProof)
{
    {
        // The request was lost on the way; another till sold the same basket in the same
        // second, after the exchange had ended.
        Journal j;
        UnsettledDocument d = sale(j, false);
        EXPECT_EQ(d.settle(57, kAt, j.reader()), State::Unknown) << "the register may still book it";
        j.records[58] = record(58, kAt);
        EXPECT_EQ(d.settle(58, kAt + 1, j.reader()), State::Unknown);
    }
    {
        // The same after an answer that confirmed nothing: the register was done with it, so
        // a record booked later is not this document.
        Journal j;
        UnsettledDocument d("F", kSale, JournalAnchor{57, kAt, "08-12-2026 10:00:00"}, j.clock());
        d.sendEnded(true);
        j.records[58] = record(58, kAt);
        EXPECT_EQ(d.settle(58, kAt + 1, j.reader()), State::Recorded) << "first look: booked by the exchange";
    }
    {
        // Booked by the exchange itself, its answer lost: the first look finds it.
        Journal j;
        j.records[58] = record(58, kAt);
        UnsettledDocument d = sale(j, false);
        EXPECT_EQ(d.settle(58, kAt + 1, j.reader()), State::Recorded);
    }
    {
        // A first look long after the exchange can't place records by it: the time decides.
        Journal j;
        UnsettledDocument d = sale(j, false);
        j.now += std::chrono::seconds(10);
        j.records[58] = record(58, kAt + 20);
        EXPECT_EQ(d.settle(58, kAt + 25, j.reader()), State::Unknown);
    }
}

TEST(UnsettledDocumentTest, AbsentOnlyOverTheWholeRange)
{
    {
        // Pages of one record: read on to the end.
        Journal j;
        j.page = 1;
        for (int64_t id = 58; id <= 62; ++id) j.records[id] = record(id, kAt, "[{\"IO\":{\"sum\":1}}]", "IO");
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(62, kAt + 1, j.reader()), State::Absent);
        EXPECT_EQ(j.reads, 5);
    }
    {
        // A hole in the ids, and a journal that gives nothing past a record.
        Journal j;
        j.records[58] = record(58, kAt, "[{\"IO\":{\"sum\":1}}]", "IO");
        j.records[60] = record(60, kAt, "[{\"IO\":{\"sum\":1}}]", "IO");
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(60, kAt + 1, j.reader()), State::Unknown);
        UnsettledDocument e = sale(j);
        EXPECT_EQ(e.settle(61, kAt + 1, j.reader()), State::Unknown);
    }
    {
        // Ids as text can't be placed.
        Journal j;
        j.records[58] = "{\"id\":\"58\",\"no\":1,\"F\":" + std::string(kSaleContent) + "}";
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(58, kAt + 1, j.reader()), State::Unknown);
        // ...and so can't ids and times beyond 64 bits.
        j.records[58] = "{\"id\":18446744073709551615,\"time\":18446744073709551615,\"F\":" +
                        std::string(kSaleContent) + "}";
        UnsettledDocument e = sale(j);
        EXPECT_EQ(e.settle(58, kAt + 1, j.reader()), State::Unknown);
    }
    {
        // The register did not answer: until it can't book it any more, no record of it
        // proves nothing.
        Journal j;
        UnsettledDocument d = sale(j, false);
        EXPECT_EQ(d.settle(57, kAt + 5, j.reader()), State::Unknown);
        EXPECT_EQ(d.settle(57, kAt + 60, j.reader()), State::Absent);
    }
    {
        // Unanswered, an identical record a little later may be this one booked late, or
        // another till's; long after, it is another till's.
        Journal j;
        j.records[58] = record(58, kAt + 10);
        UnsettledDocument d = sale(j, false);
        EXPECT_EQ(d.settle(58, kAt + 100, j.reader()), State::Unknown);
        j.records[58] = record(58, kAt + 50);
        UnsettledDocument e = sale(j, false);
        EXPECT_EQ(e.settle(58, kAt + 100, j.reader()), State::Absent);
    }
}

TEST(UnsettledDocumentTest, SettlingIsBoundedAsAWhole)
{
    {
        // Each page takes 4 s: the settlement gives up at its deadline, not page by page.
        Journal j;
        j.page = 1;
        j.step = std::chrono::milliseconds(4000);
        for (int64_t id = 58; id < 58 + 20; ++id) j.records[id] = record(id, kAt, "[{\"IO\":{\"sum\":1}}]", "IO");
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(77, kAt + 1, j.reader()), State::Unknown);
        EXPECT_LE(j.reads, 8);
        EXPECT_NE(d.reason().find("30 s"), std::string::npos) << d.reason();
    }
    {
        // More records than can be compared: not read at all.
        Journal j;
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(57 + 200000, kAt + 1, j.reader()), State::Unknown);
        EXPECT_EQ(j.reads, 0);
    }
    {
        // The answers' bytes are bounded, each and together.
        Journal j;
        j.page = 1;
        for (int64_t id = 58; id < 68; ++id)
            j.records[id] = "{\"id\":" + std::to_string(id) + ",\"pad\":\"" + std::string(600, 'p') + "\",\"IO\":[]}";
        SettleLimits limits;
        limits.maxPageBytes = 1000;
        limits.maxBytes = 3000;
        UnsettledDocument d = sale(j);
        EXPECT_EQ(d.settle(67, kAt + 1, j.reader(), limits), State::Unknown);
        EXPECT_LE(j.reads, 5);
        limits.maxPageBytes = 100;
        UnsettledDocument e = sale(j);
        EXPECT_EQ(e.settle(67, kAt + 1, j.reader(), limits), State::Unknown);
    }
}

TEST(UnsettledDocumentTest, SummaryTellsTheCashierWhatToLookFor)
{
    Journal j;
    EXPECT_EQ(sale(j).summary(), u"чек продажи на сумму 5.00, отправленный 08-12-2026 10:00:00");
    EXPECT_EQ(sale(j, true, "{\"IO\":[{\"IO\":{\"sum\":-150.00}}]}", "IO").summary(),
              u"чек выемки на сумму 150.00, отправленный 08-12-2026 10:00:00");
}

} // namespace
