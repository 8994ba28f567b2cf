// Command codes of the register and the encoders/decoders of the status and date/time
// commands. Pure functions: the caller sends the request with Link::SendCommand and
// hands the answer data (Link::LastAnswer()) to the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serialproto/result_codes.h"

namespace serialproto {

enum Command : std::uint8_t {
    kCmdGetState = 0x00,
    kCmdGetDate = 0x01,
    kCmdSetDate = 0x02,
    kCmdGetTime = 0x03,
    kCmdSetTime = 0x04,
    kCmdChangePassword = 0x05,
    kCmdLogin = 0x06,
    kCmdPrintZReport = 0x08,
    kCmdPrintXReport = 0x09,
    kCmdPrintArtReport = 0x0A,
    kCmdRefundArticle = 0x0B,
    kCmdCommentCheck = 0x0D,
    kCmdLineFeed = 0x0E,
    kCmdCancelCheck = 0x0F,
    kCmdDeposit = 0x10,
    kCmdReportByDate = 0x11,
    kCmdPayCheck = 0x12,
    kCmdSaleArticle = 0x14,
    kCmdSetFiscalNumber = 0x15,
    kCmdSetTaxPayerInfo = 0x16,
    kCmdSetCheckCaption = 0x17,
    kCmdWithdrawal = 0x18,
    kCmdSetTaxData = 0x19,
    kCmdReportByDateShort = 0x1A,
    kCmdDisplayString = 0x1B,
    kCmdReadMemory = 0x1C,
    kCmdOpenSafe = 0x1D,
    kCmdPrintCopy = 0x1E,
    kCmdReportById = 0x1F,
    kCmdPrintVersion = 0x20,
    kCmdGetSafeSum = 0x21,
    kCmdProgramArticle = 0x22,
    kCmdPrintBarcode = 0x23,
    kCmdAlterOnlineMode = 0x24,
    kCmdChangeBitrate = 0x26,
    kCmdPrintComment = 0x28,
    kCmdGetArticleInfo = 0x29,
    kCmdGetXReport = 0x2A,
    kCmdGetCheckSum = 0x2B,
    kCmdGetTaxData = 0x2C,
    kCmdSetLogo = 0x2D,
    kCmdAlterCutterMode = 0x2E,
    kCmdSetCheckBarcode = 0x2F,
    kCmdGiveDiscount = 0x31,
    kCmdSetPayTypeName = 0x32,
    kCmdPersonalize = 0x34,
    kCmdGetTimeToBlock = 0x35,
    kCmdPrintQR = 0x37,
};

// Requests of the commands without fields.
std::vector<std::uint8_t> EncodeGetState();
std::vector<std::uint8_t> EncodeGetDate();
std::vector<std::uint8_t> EncodeGetTime();

// `n` packed BCD bytes as two-digit groups (high digit first) joined by `sep`.
std::string BcdGroups(const std::uint8_t* p, std::size_t n, char sep);

// True when each of the `n` bytes holds two decimal digits.
bool IsBcd(const std::uint8_t* p, std::size_t n);

// GetDate/GetTime answers: exactly three BCD bytes, returned as "dd/mm/yy" and
// "hh:mm:ss". Any other length, or a digit that is not decimal, is FPE_PROTOCOL.
fpresult::Result DecodeDate(const std::uint8_t* data, std::int32_t n, std::string& text);
fpresult::Result DecodeTime(const std::uint8_t* data, std::int32_t n, std::string& text);

// What the status query tells about the register.
struct RegisterState {
    std::uint16_t Value = 0; // answer bytes 0 to 1
    std::string PrinterInfo; // model text, plus " ver " and the version when sent
    std::string FiscalInfo;  // fiscal number, date and time of fiscalisation, ...
    std::string TaxPayerInfo[3];
};

// Converts register (OEM) text to the caller's code page; identity when empty.
using TextConversion = std::function<std::string(const std::string&)>;

// GetState answer: at least 36 data bytes, then up to four length-prefixed texts and a
// version tail. FPE_PROTOCOL when short or when a text does not fit; the fields filled
// before that stay set.
fpresult::Result DecodeGetState(const std::uint8_t* data, std::int32_t n, RegisterState& state,
                                const TextConversion& fromRegister = {});

class Link;

// The status, date and time queries over a link: send, then decode. The text outputs
// are left alone on failure (RegisterState may be partly filled, as DecodeGetState says).
fpresult::Result QueryState(Link& link, RegisterState& state, const TextConversion& fromRegister = {});
fpresult::Result QueryDate(Link& link, std::string& text);
fpresult::Result QueryTime(Link& link, std::string& text);

// The register check after opening a port: Sequence back to 0, then two status
// queries; the first one's result is ignored, the second one's returned.
fpresult::Result CheckRegister(Link& link, RegisterState& state, const TextConversion& fromRegister = {});

} // namespace serialproto
