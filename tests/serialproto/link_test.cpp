#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/serial/fake_port.h"
#include "serialproto/link.h"

using namespace serialproto;
using fake::AnswerFrame;
using fake::Bytes;
using fake::Cat;
using testing::ElementsAre;

namespace {

class LinkTest : public testing::Test {
protected:
    LinkTest() : port(clock), link(clock, &log) { link.Attach(&port); }

    fpresult::Result Send(const Bytes& req, const Bytes& extra = {})
    {
        return link.SendCommand(req.data(), req.size(), extra.empty() ? nullptr : extra.data(), extra.size());
    }
    Bytes Data() const { return Bytes(link.LastAnswer().Data(), link.LastAnswer().Data() + link.LastAnswer().Size()); }

    fake::ManualClock clock;
    fake::ScriptedPort port;
    fake::RecordingLog log;
    Link link;
};

const Bytes kAck{ACK};

} // namespace

TEST_F(LinkTest, WorkedGetDateExchange)
{
    link.SetSequence(0x07);
    port.Reply({0x06, 0x10, 0x02, 0x07, 0x01, 0x00, 0x00, 0x20, 0x24, 0x07, 0x16, 0x97, 0x10, 0x03});
    ASSERT_EQ(Send({0x01}), fpresult::kOk);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0], (Bytes{0x10, 0x02, 0x07, 0x01, 0xF8, 0x10, 0x03}));
    EXPECT_EQ(Data(), (Bytes{0x24, 0x07, 0x16}));
    EXPECT_EQ(link.EcrState(), 0x2000u);
    EXPECT_EQ(link.EcrErrorNumber(), 0);
    EXPECT_EQ(link.Sequence(), 0x08);
    EXPECT_EQ(port.purges, 1);
    EXPECT_EQ(port.clears, 1);
    // No trailer bytes came: the two reads after DLE ETX timed out.
    EXPECT_THAT(log.lines, ElementsAre("-> (7) 10 02 07 01 F8 10 03", "<- (13) 10 02 07 01 00 00 20 24 07 16 97 10 03",
                                       "data (3) 24 07 16"));
}

TEST_F(LinkTest, SequenceAndDataDle)
{
    // Sequence 0x10 is echoed as DLE DLE; data bytes 0x10 arrive stuffed.
    link.SetSequence(0x10);
    port.Reply(Cat(kAck, AnswerFrame(0x10, 0x03, 0, 0, 0, {0x10, 0x20, 0x10})));
    ASSERT_EQ(Send({0x03}), fpresult::kOk);
    EXPECT_EQ(port.writes[0], (Bytes{0x10, 0x02, 0x10, 0x10, 0x03, 0xED, 0x10, 0x03}));
    EXPECT_EQ(Data(), (Bytes{0x10, 0x20, 0x10}));
    // Wrong command echo with the doubled sequence: compared with the fifth byte sent.
    link.SetSequence(0x10);
    port.Reply(Cat(kAck, AnswerFrame(0x10, 0x01, 0, 0, 0, {})));
    port.Reply(Cat(kAck, AnswerFrame(0x10, 0x01, 0, 0, 0, {})));
    port.Reply(Cat(kAck, AnswerFrame(0x11, 0x03, 0, 0, 0, {})));
    EXPECT_EQ(Send({0x03}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back(), "Bad packet");
}

TEST_F(LinkTest, SynFirstFailsEvenWithGoodAnswerAndIsRetriedWithSameBytes)
{
    port.Reply(Cat({SYN, ACK}, AnswerFrame(0, 1, 0, 0, 0, {1, 2, 3})));
    port.Reply(Cat(kAck, AnswerFrame(0, 1, 0, 0, 0, {1, 2, 3})));
    ASSERT_EQ(Send({0x01}), fpresult::kOk);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[0], port.writes[1]);
    EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{100}));
    EXPECT_EQ(log.lines[1], "<- SYN");
    EXPECT_EQ(log.lines[2], "<- ACK");
    EXPECT_EQ(log.lines[4], "SYN packet");
}

TEST_F(LinkTest, SilenceNakAndGarbageAfterThreeAttempts)
{
    const std::uint32_t start = clock.now;
    EXPECT_EQ(Send({0x01}), FPE_NO_ANSWER);
    EXPECT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(clock.now - start, 3 * 300u + 2 * 100u);
    EXPECT_EQ(log.lines.back(), "No answer");

    // Two NAKs, then an accepted frame.
    port.Reply({NAK});
    port.Reply({NAK});
    port.Reply(Cat(kAck, AnswerFrame(1, 1, 0, 0, 0, {})));
    EXPECT_EQ(Send({0x01}), fpresult::kOk);
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "<- NAK"), 2);

    // Garbage first: drained and logged as "<!".
    for (int i = 0; i < 3; ++i) port.Reply({0x41, 0x42, 0x43});
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back(), "<! (3) 41 42 43");

    // Silence after an ACK.
    for (int i = 0; i < 3; ++i) port.Reply(kAck);
    EXPECT_EQ(Send({0x01}), FPE_NO_ANSWER);
}

TEST_F(LinkTest, SynWhileBusyKeepsWaitingUpToTenSeconds)
{
    // SYN every 250 ms for 5 s, then the answer: accepted.
    std::vector<fake::In> busy{{ACK, 0}};
    for (int i = 0; i < 20; ++i) busy.push_back({SYN, 250});
    for (auto b : AnswerFrame(0, 0x08, 0, 0, 0, {})) busy.push_back({b, 0});
    port.ReplyTimed(busy);
    EXPECT_EQ(Send({0x08}), fpresult::kOk);

    // SYN for ever: the 10 s limit ends it on each attempt.
    std::vector<fake::In> storm{{ACK, 0}};
    for (int i = 0; i < 60; ++i) storm.push_back({SYN, 250});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(storm);
    EXPECT_EQ(Send({0x08}), FPE_COMMAND_TIMEOUT);
    EXPECT_EQ(log.lines.back(), "Timeout");

    // A stream of ACKs is bounded the same way.
    std::vector<fake::In> acks{{ACK, 0}};
    for (int i = 0; i < 60; ++i) acks.push_back({ACK, 250});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(acks);
    EXPECT_EQ(Send({0x08}), FPE_COMMAND_TIMEOUT);
}

TEST_F(LinkTest, ExtraDataGoesOutInBlocksPulledByEnq)
{
    Bytes extra(130);
    for (std::size_t i = 0; i < extra.size(); ++i) extra[i] = static_cast<std::uint8_t>(i + 1);
    port.Reply(Cat({ACK, ENQ, ENQ, ENQ}, AnswerFrame(0, 0x2D, 0, 0, 0, {})));
    ASSERT_EQ(Send({0x2D, 0, 0, 1, 0x80, 0, 0x10, 0}, extra), fpresult::kOk);
    ASSERT_EQ(port.writes.size(), 4u);
    const std::size_t sizes[] = {65, 65, 3};
    std::size_t offset = 0;
    for (int i = 0; i < 3; ++i) {
        const Bytes& block = port.writes[1 + i];
        ASSERT_EQ(block.size(), sizes[i]);
        EXPECT_TRUE(std::equal(block.begin(), block.end() - 1, extra.begin() + offset));
        std::uint8_t sum = 0;
        for (auto b : block) sum = static_cast<std::uint8_t>(sum + b);
        EXPECT_EQ(sum, 0);
        offset += block.size() - 1;
    }
    // A fourth ENQ finds no data left: protocol error.
    for (int i = 0; i < 3; ++i) port.Reply(Cat({ACK, ENQ, ENQ, ENQ, ENQ}, AnswerFrame(1, 0x2D, 0, 0, 0, {})));
    EXPECT_EQ(Send({0x2D, 0, 0, 1, 0x80, 0, 0x10, 0}, extra), FPE_PROTOCOL);
    // Without extra data a single ENQ is already a protocol error.
    for (int i = 0; i < 3; ++i) port.Reply({ACK, ENQ});
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back(), "<! (1) 05");
}

TEST_F(LinkTest, RegisterErrorAndStatusBits)
{
    port.Reply(Cat(kAck, AnswerFrame(0, 0x14, 0, 5, 0x60, {})));
    EXPECT_EQ(Send({0x14}), FPE_ECR);
    EXPECT_EQ(link.EcrErrorNumber(), 5);
    EXPECT_EQ(link.ErrorValue(), 5u);
    EXPECT_EQ(link.EcrState(), 0x6000u);

    // The status query succeeds with status bits set; other commands fail on them.
    port.Reply(Cat(kAck, AnswerFrame(1, 0x00, 0x09, 0, 0x10, {})));
    EXPECT_EQ(Send({0x00}), fpresult::kOk);
    EXPECT_EQ(link.EcrState(), 0x1009u);
    EXPECT_EQ(link.EcrErrorNumber(), 0);
    port.Reply(Cat(kAck, AnswerFrame(2, 0x01, 0x01, 0, 0, {})));
    EXPECT_EQ(Send({0x01}), FPE_NOT_READY);
    EXPECT_EQ(link.EcrState(), 0x01u);

    // Exactly six payload bytes: no data, "data" logged with nothing.
    port.Reply(Cat(kAck, AnswerFrame(3, 0x0E, 0, 0, 0, {})));
    EXPECT_EQ(Send({0x0E}), fpresult::kOk);
    EXPECT_EQ(link.LastAnswer().Size(), 0);
    EXPECT_EQ(log.lines.back(), "data (0)");
}

TEST_F(LinkTest, BrokenAnswerFrames)
{
    const auto thrice = [&](const Bytes& b) {
        for (int i = 0; i < 3; ++i) port.Reply(b);
    };
    thrice(Cat(kAck, AnswerFrame(0, 1, 0, 0, 0, {1, 2, 3}, 1)));
    EXPECT_EQ(Send({0x01}), FPE_CHECKSUM);
    EXPECT_EQ(log.lines.back(), "CRC error");

    // Cut short: 100 ms of silence inside the frame.
    thrice({ACK, 0x10, 0x02, 0x01, 0x01, 0x00});
    EXPECT_EQ(Send({0x01}), FPE_ANSWER_TIMEOUT);
    EXPECT_EQ(log.lines.back(), "<? (5) 10 02 01 01 00");

    // DLE followed by a stray byte, then more bytes that are drained.
    thrice({ACK, 0x10, 0x02, 0x02, 0x10, 0x41, 0x42});
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back(), "<! (6) 10 02 02 10 41 42");

    // Frame not starting with STX.
    thrice({ACK, 0x10, 0x03});
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);

    // 256 payload bytes.
    thrice(Cat(kAck, AnswerFrame(4, 1, 0, 0, 0, Bytes(251, 0x41))));
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back().substr(0, 8), "<< (258)");

    // Shorter than six bytes.
    thrice({ACK, 0x10, 0x02, 0x05, 0x01, 0xFA, 0x10, 0x03});
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back(), "Bad packet");
    EXPECT_EQ(link.EcrState(), Link::kStateNotDefined); // no answer was accepted
}

TEST_F(LinkTest, RawLimitAndTrailerBytes)
{
    // 255 payload bytes all 0x10: 2 + 510 stuffed bytes reach 512 raw bytes first.
    const Bytes allDle = Cat(Cat({ACK, 0x10, 0x02}, Bytes(510, 0x10)), {0x10, 0x03});
    for (int i = 0; i < 3; ++i) port.Reply(allDle);
    EXPECT_EQ(Send({0x01}), FPE_PROTOCOL);
    EXPECT_EQ(log.lines.back().substr(0, 8), "<! (512)");

    // Trailer bytes are logged with the frame and not interpreted.
    Bytes answer = AnswerFrame(1, 1, 0, 0, 0, {1});
    answer[answer.size() - 2] = 0xAA;
    answer[answer.size() - 1] = 0xBB;
    port.Reply(Cat(Cat(kAck, answer), {0xCC}));
    EXPECT_EQ(Send({0x01}), fpresult::kOk);
    EXPECT_EQ(log.lines[log.lines.size() - 2].substr(log.lines[log.lines.size() - 2].size() - 11), "10 03 AA BB");
}

TEST_F(LinkTest, PortStateAndSystemFailures)
{
    Link idle(clock, &log);
    const std::uint8_t cmd = 0;
    EXPECT_EQ(idle.SendCommand(&cmd, 1), FPE_NOT_CONNECTED);
    EXPECT_TRUE(log.lines.empty());

    port.failWrites = true;
    EXPECT_EQ(Send({0x00}), FPE_SYSTEM);
    EXPECT_EQ(link.ErrorValue(), 31u);
    port.failWrites = false;
    port.failReads = true;
    EXPECT_EQ(Send({0x00}), FPE_SYSTEM);
    EXPECT_EQ(link.ErrorValue(), 5u);
    port.failReads = false;

    const Bytes huge(300, 0x10);
    EXPECT_EQ(Send(huge), fpresult::kUnexpected);
    EXPECT_EQ(Send({}), fpresult::kInvalidArg);

    int notified = 0;
    link.OnAnswer = [&] { ++notified; };
    port.Reply(Cat(kAck, AnswerFrame(link.Sequence(), 0, 0, 0, 0, {})));
    EXPECT_EQ(Send({0x00}), fpresult::kOk);
    EXPECT_EQ(notified, 1);
}

TEST_F(LinkTest, DrainOfATricklingLineEndsWithTheBusyLimit)
{
    // With the 2-second read time-out of the clock commands, a line that sends a stray
    // byte every 1.9 s is drained for about the busy limit, not for 512 bytes.
    link.ReadTimeout = 2000;
    std::vector<fake::In> trickle{{0x41, 0}};
    for (int i = 0; i < 600; ++i) trickle.push_back({0x41, 1900});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(trickle);
    const std::uint32_t start = clock.now;
    EXPECT_EQ(Send({0x02, 0x24, 0x07, 0x16}), FPE_PROTOCOL);
    EXPECT_EQ(port.writes.size(), 2u); // each drain fills an attempt's limit
    EXPECT_LE(clock.now - start, Link::CommandLimit(0) + 2000);
    EXPECT_EQ(log.lines.back().substr(0, 7), "<! (7) ");
}

TEST_F(LinkTest, ADrippingAnswerEndsWithTheCommandsDeadline)
{
    // SYN for 9.5 s, then an answer frame that drips one byte every 95 ms and never ends:
    // each byte comes within the 100 ms frame time-out, so only the command's deadline
    // ends it.
    std::vector<fake::In> drip{{ACK, 0}};
    for (int i = 0; i < 38; ++i) drip.push_back({SYN, 250});
    drip.push_back({0x10, 0});
    drip.push_back({0x02, 95});
    for (int i = 0; i < 600; ++i) drip.push_back({0x41, 95});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(drip);
    const std::uint32_t start = clock.now;
    EXPECT_EQ(Send({0x2A}), FPE_ANSWER_TIMEOUT);
    EXPECT_LE(clock.now - start, Link::CommandLimit(0) + Link::kDefaultReadTimeout);
    EXPECT_EQ(log.lines.back().substr(0, 2), "<?");

    // A plain body drip straight after the ACK.
    std::vector<fake::In> body{{ACK, 0}, {0x10, 0}, {0x02, 95}};
    for (int i = 0; i < 600; ++i) body.push_back({0x41, 95});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(body);
    const std::uint32_t start2 = clock.now;
    EXPECT_EQ(Send({0x2A}), FPE_ANSWER_TIMEOUT);
    EXPECT_LE(clock.now - start2, Link::CommandLimit(0) + Link::kDefaultReadTimeout);

    // A register that is busy for 9.9 s and then answers at once still gets its answer.
    std::vector<fake::In> slow{{ACK, 0}};
    for (int i = 0; i < 99; ++i) slow.push_back({SYN, 100});
    for (auto b : AnswerFrame(link.Sequence(), 0x2A, 0, 0, 0, Bytes(150, 0x33))) slow.push_back({b, 1});
    port.ReplyTimed(slow);
    EXPECT_EQ(Send({0x2A}), fpresult::kOk);
    EXPECT_EQ(link.LastAnswer().Size(), 150);
}

TEST_F(LinkTest, ThreeBusyAttemptsShareOneDeadline)
{
    // SYN for ever: one attempt ends with the busy limit, and the attempts together end
    // with the command's deadline.
    std::vector<fake::In> storm{{ACK, 0}};
    for (int i = 0; i < 200; ++i) storm.push_back({SYN, 250});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(storm);
    const std::uint32_t start = clock.now;
    EXPECT_EQ(Send({0x2A}), FPE_COMMAND_TIMEOUT);
    EXPECT_LE(clock.now - start, Link::CommandLimit(0) + Link::kDefaultReadTimeout);
    EXPECT_GE(port.writes.size(), 2u);
}

TEST_F(LinkTest, ALogoUploadIsBoundedAsAWhole)
{
    // Before each ENQ the register is busy for 9.5 s; the image has 4 blocks. Each block
    // restarts the busy clock, but the upload has a bound of its own.
    const Bytes extra(4 * 64, 0x55);
    std::vector<fake::In> slow{{ACK, 0}};
    for (int block = 0; block < 4; ++block) {
        for (int i = 0; i < 38; ++i) slow.push_back({SYN, 250});
        slow.push_back({ENQ, 0});
    }
    for (auto b : AnswerFrame(0, 0x2D, 0, 0, 0, {}, 1)) slow.push_back({b, 0});
    for (int i = 0; i < 3; ++i) port.ReplyTimed(slow);
    const std::uint32_t start = clock.now;
    EXPECT_EQ(Send({0x2D, 0, 0, 1, 0, 1, 8, 0}, extra), FPE_COMMAND_TIMEOUT);
    EXPECT_LE(clock.now - start, Link::CommandLimit(extra.size()) + Link::kDefaultReadTimeout);

    // The same upload from a register that asks for each block at once passes.
    std::vector<fake::In> quick{{ACK, 0}};
    for (int block = 0; block < 4; ++block) quick.push_back({ENQ, 20});
    for (auto b : AnswerFrame(1, 0x2D, 0, 0, 0, {})) quick.push_back({b, 0});
    port.ReplyTimed(quick);
    EXPECT_EQ(Send({0x2D, 0, 0, 1, 0, 1, 8, 0}, extra), fpresult::kOk);
    // The bound grows with the image, a little per block.
    EXPECT_LT(Link::CommandLimit(168 * 64), 10u * 60 * 1000);
    EXPECT_GT(Link::CommandLimit(168 * 64), Link::CommandLimit(4 * 64));
}
