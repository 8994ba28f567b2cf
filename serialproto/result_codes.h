// Result codes of the serial register driver. Portable: the values are 32-bit COM
// results (HRESULT) but this header needs no Windows header.
//
// The driver's own failures are 0xA0040000 + a 16-bit code (severity, customer bit,
// FACILITY_ITF). From 0x2800 up the thread's last-error value carries a number: the
// system error (FPE_SYSTEM, FPE_FILE_SYSTEM) or the register's error code (FPE_ECR).
#pragma once

#include <cstdint>

namespace fpresult {

using Result = std::int32_t;

constexpr Result make(std::uint32_t v) { return static_cast<Result>(v); }
constexpr bool failed(Result r) { return r < 0; }

constexpr Result kOk = 0;

// Standard COM results the driver produces.
constexpr Result kUnexpected = make(0x8000FFFFu);  // E_UNEXPECTED
constexpr Result kOutOfMemory = make(0x8007000Eu); // E_OUTOFMEMORY
constexpr Result kInvalidArg = make(0x80070057u);  // E_INVALIDARG
constexpr Result kNotImpl = make(0x80004001u);     // E_NOTIMPL
constexpr Result kFail = make(0x80004005u);        // E_FAIL

} // namespace fpresult

// The driver's own results.
constexpr fpresult::Result FPE_NOT_CONNECTED = fpresult::make(0xA0042002u);
constexpr fpresult::Result FPE_NO_ANSWER = fpresult::make(0xA0042003u);
constexpr fpresult::Result FPE_COMMAND_TIMEOUT = fpresult::make(0xA0042004u);
constexpr fpresult::Result FPE_REJECTED = fpresult::make(0xA0042005u);
constexpr fpresult::Result FPE_PROTOCOL = fpresult::make(0xA0042006u);
constexpr fpresult::Result FPE_CHECKSUM = fpresult::make(0xA0042007u);
constexpr fpresult::Result FPE_ANSWER_TIMEOUT = fpresult::make(0xA0042008u);
constexpr fpresult::Result FPE_MODEM = fpresult::make(0xA0042009u);
constexpr fpresult::Result FPE_FISCAL_MEMORY = fpresult::make(0xA004200Au);
constexpr fpresult::Result FPE_CLOCK = fpresult::make(0xA004200Bu);
constexpr fpresult::Result FPE_DUTY_OVERTIME = fpresult::make(0xA004200Cu);
constexpr fpresult::Result FPE_VOLTAGE = fpresult::make(0xA004200Du);
constexpr fpresult::Result FPE_DISPLAY = fpresult::make(0xA004200Eu);
constexpr fpresult::Result FPE_BAD_COMMAND = fpresult::make(0xA004200Fu);
constexpr fpresult::Result FPE_NOT_READY = fpresult::make(0xA0042010u);
constexpr fpresult::Result FPE_SYSTEM = fpresult::make(0xA0042800u);
constexpr fpresult::Result FPE_FILE_SYSTEM = fpresult::make(0xA0042801u);
constexpr fpresult::Result FPE_ECR = fpresult::make(0xA0042802u);
