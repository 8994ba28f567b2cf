// libFuzzer target: the register simulator's frame reader on whatever the line brings.
// Every DLE outside a frame starts one; a complete frame must be exactly its payload
// stuffed again between DLE STX and DLE ETX, and no frame may grow past its bound.
#include <cstdint>
#include <cstdlib>

#include "simulators/serialreg/frame_reader.h"

namespace {

void Require(bool ok)
{
    if (!ok) std::abort();
}

void CheckComplete(const serialsim::FrameReader& reader)
{
    serialsim::FrameReader::Bytes framed{0x10, 0x02};
    for (const auto b : reader.Payload()) {
        framed.push_back(b);
        if (b == 0x10) framed.push_back(0x10);
    }
    framed.insert(framed.end(), {0x10, 0x03});
    Require(framed == reader.Raw());
    if (reader.PayloadValid()) {
        std::uint8_t sum = 0;
        for (const auto b : reader.Payload()) sum = static_cast<std::uint8_t>(sum + b);
        Require(sum == 0 && reader.Payload().size() >= 3);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using serialsim::FrameReader;
    FrameReader reader;
    bool inFrame = false;
    for (std::size_t i = 0; i < size; ++i) {
        if (!inFrame) {
            if (data[i] == 0x10) {
                reader.Begin();
                inFrame = true;
            }
            continue;
        }
        const FrameReader::Step step = reader.Feed(data[i]);
        Require(reader.Raw().size() <= FrameReader::kMaxRaw);
        Require(reader.Payload().size() < reader.Raw().size());
        if (step == FrameReader::Step::Complete) CheckComplete(reader);
        if (step != FrameReader::Step::More) {
            inFrame = false;
            Require(reader.Feed(0x03) == FrameReader::Step::Bad); // ended: Begin comes first
        }
    }
    return 0;
}
