// The console's request parser, its limits, and the JSON it reads and writes.
#include <gtest/gtest.h>

#include "simulators/console/console.h"
#include "simulators/console/http.h"

using namespace simconsole;

namespace {

RequestParser::Result feedAll(RequestParser& p, const std::string& bytes, std::size_t chunk = 1000000)
{
    RequestParser::Result r = RequestParser::Result::NeedMore;
    for (std::size_t i = 0; i < bytes.size(); i += chunk) {
        r = p.feed(bytes.data() + i, std::min(chunk, bytes.size() - i));
        if (r != RequestParser::Result::NeedMore) return r;
    }
    return r;
}

int statusOf(const std::string& bytes, Limits limits = Limits())
{
    RequestParser p(limits);
    const auto r = feedAll(p, bytes);
    if (r == RequestParser::Result::Done) return 200;
    if (r == RequestParser::Result::NeedMore) return 0;
    return p.errorStatus();
}

} // namespace

TEST(ConsoleHttp, ParsesRequestsSplitAnywhereAndPipelined)
{
    const std::string two = "POST /api/faults?x=1 HTTP/1.1\r\nHost: 127.0.0.1:8\r\nContent-Type: application/json\r\n"
                            "Content-Length: 11\r\n\r\n{\"on\":true}"
                            "GET /api/tape?since=5&a=b%20c+d HTTP/1.0\nHost: h\n\n";
    // Byte by byte, the same as all at once.
    for (std::size_t chunk : {std::size_t(1), std::size_t(7), two.size()}) {
        RequestParser p;
        ASSERT_EQ(feedAll(p, two, chunk), RequestParser::Result::Done) << chunk;
        EXPECT_EQ(p.request().method, "POST");
        EXPECT_EQ(p.request().path, "/api/faults");
        EXPECT_EQ(p.request().body, "{\"on\":true}");
        EXPECT_EQ(p.request().header("content-type"), "application/json");
        EXPECT_TRUE(p.request().keepAlive);
        RequestParser::Result r = p.next();
        // The rest may not have arrived yet when fed in small pieces.
        if (chunk < two.size()) continue;
        ASSERT_EQ(r, RequestParser::Result::Done);
        EXPECT_EQ(p.request().path, "/api/tape");
        EXPECT_EQ(p.request().query.at("since"), "5");
        EXPECT_EQ(p.request().query.at("a"), "b c d");
        EXPECT_FALSE(p.request().keepAlive); // HTTP/1.0
        EXPECT_EQ(p.next(), RequestParser::Result::NeedMore);
        EXPECT_EQ(p.buffered(), 0u);
    }
}

TEST(ConsoleHttp, RefusesWhatIsOverTheLimitsWithTheRightStatus)
{
    Limits small;
    small.maxHead = 256;
    small.maxLine = 64;
    small.maxHeaders = 3;
    small.maxBody = 10;
    EXPECT_EQ(statusOf("GET /" + std::string(100, 'a') + " HTTP/1.1\r\n", small), 414);
    // A head that never ends is refused once past the limit, not buffered without end.
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nX: " + std::string(300, 'b'), small), 431);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", small), 431);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 11\r\n\r\n", small), 413);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", small), 413);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789", small), 200);
    // A body announced but not all there is waited for, and no more.
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n01234", small), 0);
}

TEST(ConsoleHttp, RefusesMalformedRequests)
{
    EXPECT_EQ(statusOf("GET /\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET  / HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET http://x/ HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("G(T / HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET / HTTP/2.0\r\n\r\n"), 505);
    EXPECT_EQ(statusOf("GET / FTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nNoColon\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nA: 1\r\n folded\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET / HTTP/1.1\r\nA: x\x01y\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"), 501);
    EXPECT_EQ(statusOf("GET /?a=%zz HTTP/1.1\r\n\r\n"), 400);
    EXPECT_EQ(statusOf("GET /?a=%4 HTTP/1.1\r\n\r\n"), 400);
    // After an error the parser stays in error.
    RequestParser p;
    EXPECT_EQ(feedAll(p, "BAD\r\n\r\n"), RequestParser::Result::Error);
    EXPECT_EQ(feedAll(p, "GET / HTTP/1.1\r\n\r\n"), RequestParser::Result::Error);
}

TEST(ConsoleHttp, ConnectionHeaderDecidesKeepAlive)
{
    RequestParser a;
    ASSERT_EQ(feedAll(a, "GET / HTTP/1.1\r\nConnection: close\r\n\r\n"), RequestParser::Result::Done);
    EXPECT_FALSE(a.request().keepAlive);
    RequestParser b;
    ASSERT_EQ(feedAll(b, "GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"), RequestParser::Result::Done);
    EXPECT_TRUE(b.request().keepAlive);
}

TEST(ConsoleJson, QuoteEscapesAndAlwaysGivesValidUtf8)
{
    EXPECT_EQ(jsonQuote("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(jsonQuote("Хліб ✓ \xF0\x9F\x98\x80"), "\"Хліб ✓ \xF0\x9F\x98\x80\"");
    // Broken, overlong and surrogate sequences, and a cut-off one at the end.
    EXPECT_EQ(jsonQuote("a\xFF"
                        "b"),
              "\"a\xEF\xBF\xBD"
              "b\"");
    EXPECT_EQ(jsonQuote("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonQuote("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonQuote("x\xD0"), "\"x\xEF\xBF\xBD\"");
}

TEST(ConsoleJson, FlatObjectReader)
{
    std::map<std::string, FlatValue> v;
    std::string error;
    ASSERT_TRUE(parseFlatObject(" {\"name\":\"err\\u0410\\n\", \"on\" : true, \"n\":-1.5e3, \"z\":null} ", v, error))
        << error;
    EXPECT_EQ(v["name"].kind, FlatValue::String);
    EXPECT_EQ(v["name"].text, "errА\n");
    EXPECT_EQ(v["on"].kind, FlatValue::Bool);
    EXPECT_EQ(v["on"].text, "true");
    EXPECT_EQ(v["n"].kind, FlatValue::Number);
    EXPECT_EQ(v["n"].text, "-1.5e3");
    EXPECT_EQ(v["z"].kind, FlatValue::Null);
    ASSERT_TRUE(parseFlatObject("{\"s\":\"\\ud83d\\ude00\"}", v, error));
    EXPECT_EQ(v["s"].text, "\xF0\x9F\x98\x80");
    EXPECT_TRUE(parseFlatObject("{}", v, error));
    EXPECT_TRUE(v.empty());

    for (const char* bad : {"", "[]", "{", "{\"a\"}", "{\"a\":}", "{\"a\":1,}", "{\"a\":{}}", "{\"a\":[1]}",
                            "{\"a\":tru}", "{\"a\":\"x}", "{\"a\":\"\\x\"}", "{\"a\":\"\\ud800\"}", "{\"a\":1} x",
                            "{\"a\":-}", "{\"a\":1.}", "{\"a\":\"\x01\"}", "{a:1}"}) {
        EXPECT_FALSE(parseFlatObject(bad, v, error)) << bad;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(v.empty()) << bad;
    }
}

TEST(ConsoleFeeds, NumbersStayAndTheOldestGoWhenFull)
{
    TapeFeed tape(3);
    EXPECT_EQ(tape.json(0), "{\"first\":0,\"last\":0,\"lines\":[]}");
    tape.print("one\r\ntwo\n"); // the last line end adds no empty line
    tape.print("\n");           // an empty line is a line
    EXPECT_EQ(tape.json(0), "{\"first\":1,\"last\":3,\"lines\":[{\"n\":1,\"text\":\"one\"},{\"n\":2,\"text\":\"two\"},"
                            "{\"n\":3,\"text\":\"\"}]}");
    tape.printLogo();
    EXPECT_EQ(tape.json(2), "{\"first\":2,\"last\":4,\"lines\":[{\"n\":3,\"text\":\"\"},{\"n\":4,\"logo\":true}]}");
    // A reader behind the oldest kept line gets what is kept and sees the gap in "first".
    EXPECT_EQ(tape.json(0), "{\"first\":2,\"last\":4,\"lines\":[{\"n\":2,\"text\":\"two\"},{\"n\":3,\"text\":\"\"},"
                            "{\"n\":4,\"logo\":true}]}");
    EXPECT_EQ(tape.json(4), "{\"first\":2,\"last\":4,\"lines\":[]}");
    EXPECT_EQ(tape.json(99), "{\"first\":2,\"last\":4,\"lines\":[]}");

    Feed limited(100, 2);
    for (int i = 0; i < 5; ++i) limited.add("");
    EXPECT_EQ(limited.json("x", 1), "{\"first\":1,\"last\":5,\"x\":[{\"n\":2},{\"n\":3}]}");

    ExchangeFeed ex;
    Exchange e;
    e.title = "POST /cgi/chk";
    e.request = "{\"F\":[]}";
    e.note = "err";
    e.ok = false;
    ex.add(e);
    const std::string j = ex.json(0);
    EXPECT_NE(
        j.find(
            "\"title\":\"POST /cgi/chk\",\"request\":\"{\\\"F\\\":[]}\",\"answer\":\"\",\"note\":\"err\",\"ok\":false"),
        std::string::npos)
        << j;
}

// However large the entries, an answer stays near its size: the reader asks again.
TEST(ConsoleFeeds, AnAnswerHoldsAboutAMebibyteAtMost)
{
    Feed feed(100);
    const std::string big = "\"x\":\"" + std::string(300 * 1024, 'x') + "\"";
    for (int i = 0; i < 10; ++i) feed.add(big);
    const std::string first = feed.json("e", 0);
    EXPECT_LE(first.size(), Feed::kAnswerBytes + 1024);
    EXPECT_NE(first.find("{\"n\":3,"), std::string::npos);
    EXPECT_EQ(first.find("{\"n\":4,"), std::string::npos);
    EXPECT_NE(feed.json("e", 3).find("{\"n\":4,"), std::string::npos);
    // One entry alone over the size still comes.
    Feed one(2);
    one.add("\"x\":\"" + std::string(Feed::kAnswerBytes + 10, 'y') + "\"");
    EXPECT_NE(one.json("e", 0).find("{\"n\":1,"), std::string::npos);

    ExchangeFeed exchanges;
    Exchange e;
    e.answer = std::string(1000000, 'a');
    exchanges.add(e);
    EXPECT_LT(exchanges.json(0).size(), 70u * 1024);
}

TEST(ConsoleAddress, PortAloneMeansLoopback)
{
    std::string a, error;
    std::uint16_t p = 1;
    ASSERT_TRUE(parseListenAddress("8080", a, p, error));
    EXPECT_EQ(a, "127.0.0.1");
    EXPECT_EQ(p, 8080);
    ASSERT_TRUE(parseListenAddress("0.0.0.0:0", a, p, error));
    EXPECT_EQ(a, "0.0.0.0");
    EXPECT_EQ(p, 0);
    ASSERT_TRUE(parseListenAddress("[::1]:65535", a, p, error));
    EXPECT_EQ(a, "::1");
    EXPECT_EQ(p, 65535);
    for (const char* bad : {"", "x", "65536", "1:", ":80", "::1:80", "[::1]80", "12345678", "-1"})
        EXPECT_FALSE(parseListenAddress(bad, a, p, error)) << bad;
}

TEST(ConsoleHttp, HostAndOriginMustNameTheConsoleItself)
{
    const std::vector<std::string> names = {"127.0.0.1", "localhost", "[::1]"};
    EXPECT_TRUE(hostAccepted("127.0.0.1:8081", names, 8081));
    EXPECT_TRUE(hostAccepted("LOCALHOST:8081", names, 8081));
    EXPECT_TRUE(hostAccepted("[::1]:8081", names, 8081));
    EXPECT_TRUE(hostAccepted("localhost", names, 80));
    EXPECT_TRUE(hostAccepted("localhost:80", names, 80));
    for (const char* bad : {"localhost", "localhost:", "localhost:08081", "localhost:8082", "evil.example:8081",
                            "localhost.evil:8081", "::1:8081", "[::1]8081", "user@localhost:8081",
                            "localhost:8081:8081", "localhost:8081, localhost:8081", " localhost:8081", "", ":8081"})
        EXPECT_FALSE(hostAccepted(bad, names, 8081)) << bad;
    EXPECT_TRUE(originAccepted("http://localhost:8081", names, 8081));
    EXPECT_TRUE(originAccepted("http://[::1]:8081", names, 8081));
    for (const char* bad : {"null", "http://evil.example:8081", "https://localhost:8081", "http://localhost:8081/",
                            "http://localhost", "localhost:8081", "http://localhost:8081 http://evil.example"})
        EXPECT_FALSE(originAccepted(bad, names, 8081)) << bad;
}

TEST(ConsoleHttp, MediaTypeIsComparedWhole)
{
    EXPECT_TRUE(isMediaType("application/json", "application/json"));
    EXPECT_TRUE(isMediaType("Application/JSON; charset=utf-8", "application/json"));
    EXPECT_TRUE(isMediaType("application/json ;charset=utf-8", "application/json"));
    for (const char* bad :
         {"application/jsonx", "application/json+x", "application/json-seq", "xapplication/json", "", ";"})
        EXPECT_FALSE(isMediaType(bad, "application/json")) << bad;
}

// A value with a line end would end the head early and let what follows it forge
// header fields or a whole answer.
TEST(ConsoleHttp, ResponseHeadRefusesControlBytes)
{
    EXPECT_NO_THROW(responseText(200, "text/plain", "x", true, {{"X-A", "a\tb"}}));
    for (const std::string& bad : {std::string("a\r\nSet-Cookie: x=1"), std::string("a\nb"), std::string("a\rb"),
                                   std::string("a\x01"), std::string("a\x7F"), std::string("a\0b", 3)}) {
        EXPECT_THROW(responseText(200, "text/plain", "", true, {{"X-A", bad}}), std::invalid_argument);
        EXPECT_THROW(responseText(200, bad, "", true), std::invalid_argument);
    }
    EXPECT_THROW(responseText(200, "text/plain", "", true, {{"X-A\r\nX-B", "1"}}), std::invalid_argument);
    EXPECT_THROW(responseText(200, "text/plain", "", true, {{"", "1"}}), std::invalid_argument);
}
