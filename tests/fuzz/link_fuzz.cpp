// libFuzzer target: answer reception and decoding. The input scripts what the register
// sends back for one command (the same bytes for each of the three attempts):
//   byte 0  sequence number of the command
//   byte 1  bits 0-4 command code, bits 5-6 extra data length / 70, bit 7 slow line
//           (150 ms before each byte, to reach the busy limit and time-outs)
//   rest    the bytes the register sends
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tests/support/serial/fake_port.h"
#include "serialproto/commands.h"
#include "serialproto/link.h"

namespace {

// Touches every byte it is given, so that the sanitizers see out-of-bounds reads.
class CheckingLog : public serialproto::LinkLog {
public:
    void DataLine(const char*, const std::uint8_t* bytes, std::size_t count) override
    {
        if (count > serialproto::kMaxFrame) std::abort();
        for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    }
    void RawLine(const char* text) override { sum += static_cast<unsigned char>(text[0]); }
    unsigned sum = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    fake::ManualClock clock;
    fake::ScriptedPort port(clock);
    CheckingLog log;
    serialproto::Link link(clock, &log);
    link.Attach(&port);
    link.SetSequence(data[0]);
    const std::uint8_t cmd = data[1] & 0x1F;
    const std::size_t extraLen = ((data[1] >> 5) & 3) * 70u;
    const std::uint32_t delay = (data[1] & 0x80) ? 150 : 0;
    const fake::Bytes reply(data + 2, data + size);
    for (int i = 0; i < 3; ++i) port.Reply(reply, delay);

    std::vector<std::uint8_t> extra(extraLen, 0x5A);
    const std::uint8_t req[] = {cmd, 0x10, 0x00};
    const fpresult::Result r = link.SendCommand(req, sizeof req, extra.data(), extra.size());
    if (r == fpresult::kOk) {
        if (link.LastAnswer().Size() < 0 || link.LastAnswer().Size() > 249) std::abort();
        std::string text;
        serialproto::DecodeDate(link.LastAnswer().Data(), link.LastAnswer().Size(), text);
        serialproto::DecodeTime(link.LastAnswer().Data(), link.LastAnswer().Size(), text);
        serialproto::RegisterState st;
        serialproto::DecodeGetState(link.LastAnswer().Data(), link.LastAnswer().Size(), st);
    } else if (!fpresult::failed(r)) {
        std::abort();
    }
    // The decoders straight on the input as answer data.
    serialproto::RegisterState st;
    serialproto::DecodeGetState(data + 2, static_cast<std::int32_t>(size - 2), st);
    return 0;
}
