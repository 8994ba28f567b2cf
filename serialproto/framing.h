// Link-layer framing of the serial register protocol: control bytes, command frame
// building, extra-data blocks, answer reception and answer checks. Pure functions over
// bytes; no I/O here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serialproto/result_codes.h"

namespace serialproto {

constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
constexpr std::uint8_t ENQ = 0x05;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t DLE = 0x10;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t SYN = 0x16;

constexpr std::size_t kMaxFrame = 512;              // a frame on the wire, either direction
constexpr std::size_t kFrameBuffer = kMaxFrame + 4; // room for the trailer after the limit check
constexpr std::size_t kAnswerCapacity = 256;        // unstuffed answer payload (at most 255 used)
constexpr std::size_t kMinAnswer = 6;               // seq, cmd, status, error, ext status, checksum
constexpr std::size_t kExtraBlock = 64;             // extra data sent per ENQ

// Negated 8-bit sum of `n` bytes, starting from `start`.
std::uint8_t NegatedSum(const std::uint8_t* p, std::size_t n, std::uint8_t start = 0);

// Builds the wire frame for request `req` (command code first) with sequence `seq` into
// `out` (kFrameBuffer bytes). Returns the frame length, or 0 when the stuffed frame would
// reach kMaxFrame bytes or the request is empty.
std::size_t BuildFrame(std::uint8_t seq, const std::uint8_t* req, std::size_t len, std::uint8_t* out);

// Offset of the command code in a frame built by BuildFrame (4 when the sequence byte
// was doubled, else 3).
inline std::size_t CommandOffset(const std::uint8_t* frame) { return frame[2] == DLE ? 4 : 3; }

// Builds one extra-data block: min(n, 64) bytes of `data` followed by their negated sum.
// `out` holds kExtraBlock + 1 bytes. Returns the block length (data + checksum).
std::size_t BuildExtraBlock(const std::uint8_t* data, std::size_t n, std::uint8_t* out);

// Reception of one answer frame after its opening DLE was read. The payload goes to a
// caller's buffer of kAnswerCapacity bytes; the raw bytes (for the log) are kept here.
class AnswerReceiver {
public:
    enum class Step {
        More,       // keep feeding
        Done,       // DLE ETX seen
        Unexpected, // not STX after DLE, or DLE followed by a stray byte
        TooLong,    // payload reached kAnswerCapacity bytes
        RawFull,    // kMaxFrame raw bytes without the end of the frame
    };

    AnswerReceiver(std::uint8_t* payload, std::int32_t* length) : payload_(payload), length_(length) {}

    // Starts a frame: the raw bytes become the opening DLE alone.
    void Begin();
    Step Feed(std::uint8_t b);
    // Appends a trailer byte read after DLE ETX; false when the raw buffer is full.
    bool AddTrailer(std::uint8_t b);

    std::uint8_t Sum() const { return sum_; }
    const std::uint8_t* Raw() const { return raw_; }
    std::size_t RawLength() const { return rawLength_; }

private:
    enum class State { Start, Body, Escape, Ended };
    void Store(std::uint8_t b);

    std::uint8_t* payload_;
    std::int32_t* length_;
    State state_ = State::Start;
    std::uint8_t sum_ = 0;
    std::uint8_t raw_[kMaxFrame] = {};
    std::size_t rawLength_ = 0;
};

// Checks of a received answer, in the order the link layer applies them.
enum class AnswerCheck { Ok, SynPacket, CrcError, BadPacket };
AnswerCheck CheckAnswer(bool acknowledged, std::uint8_t sum, const std::uint8_t* payload, std::int32_t length,
                        std::uint8_t seq, std::uint8_t cmd);

// The error result of the status byte of an answer to command `cmd`: the first set bit in
// the order 0x02, 0x04, 0x08, 0x20, 0x40, 0x10, 0x80, 0x01. The status query (command 0)
// never fails on status bits.
fpresult::Result StatusResult(std::uint8_t cmd, std::uint8_t status);

} // namespace serialproto
