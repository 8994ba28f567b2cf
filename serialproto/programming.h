// Encoders of the programming and service commands: clock, users and passwords, fiscal
// number and tax payer header, receipt header lines, the tax table, the article table,
// pay type names, line speed, online and cutter modes, version printout and
// personalisation. Pure functions in the style of receipt.h: an encoder checks its
// arguments (fpresult::kInvalidArg, `out` left empty) and builds the request. Texts are
// in the register's character set; control bytes go out as spaces and a text longer
// than its field is cut. None of these commands answers with data the driver uses.
#pragma once

#include <cstdint>
#include <string>

#include "serialproto/receipt.h"
#include "serialproto/reports.h"
#include "serialproto/result_codes.h"

namespace serialproto {

// "dd/mm/yy" and "hh:mm:ss": exactly 8 characters, two digits, the separator, two
// digits, the separator, two digits; sent as 3 BCD bytes in text order.
fpresult::Result EncodeSetDate(const std::string& text, Request& out);
fpresult::Result EncodeSetTime(const std::string& text, Request& out);

// Users 0 to 255 (their field is one byte); names of at most 15 characters.
// ChangePassword sends the name length 0 for an empty name, Login 0xFF; Logout is the
// login command with the length 0.
fpresult::Result EncodeChangePassword(std::int32_t userId, std::int16_t oldPassword, std::int16_t newPassword,
                                      const std::string& userName, Request& out);
fpresult::Result EncodeLogin(std::int32_t userId, std::int16_t password, const std::string& userName, Request& out);
fpresult::Result EncodeLogout(std::int32_t userId, std::int16_t password, Request& out);

// Exactly 10 characters.
fpresult::Result EncodeSetFiscalNumber(std::int16_t password, const std::string& fiscalNumber, Request& out);

// Header line byte: bits 0 to 5 the length, 0x40 double width, 0x80 double height;
// the flags only with a text.
constexpr std::uint8_t kDoubleWidth = 0x40;
constexpr std::uint8_t kDoubleHeight = 0x80;

// TaxNumber exactly 12 characters. Format: bits 4-5 are Info1's flags, bits 2-3
// Info2's, bits 0-1 Info3's (double width, double height), bit 7 the tax number's
// double height. A double-width line holds 18 characters, any other 24.
fpresult::Result EncodeSetTaxPayerInfo(std::int16_t password, const std::string& taxNumber, const std::string& info1,
                                       const std::string& info2, const std::string& info3, std::int32_t format,
                                       Request& out);

// Row 0 to 7; 36 characters, 20 with double width.
fpresult::Result EncodeSetCheckCaption(std::int32_t rowId, const std::string& text, bool doubleWidth, bool doubleHeight,
                                       Request& out);

// The tax table in the layout GetTaxData reads (TaxTableData, reports.h): Count rates
// (A, B, V, G, D), the low byte of Flags, and with flag 0x20 Count fee rates and the
// fee of group E (FeeRate[5]). Count 0 to 5; every value sent must fit the signed 16
// bits it is sent and read back in.
fpresult::Result EncodeSetTaxData(std::int16_t password, const TaxTableData& table, Request& out);

// An article of the register's table: TaxType 128 to 133, CodeEx 0 to 65535, a price
// with a sign-magnitude form, a name of at most 75 characters (length 0 when empty),
// CountFormat (0 to 255) & 0x3F.
struct ProgrammedArticle {
    std::int32_t Code = 0;
    std::int32_t Price = 0;
    std::int32_t TaxType = kTaxGroupFirst;
    std::string Name;
    std::int32_t CountFormat = 3;
    std::int32_t CodeEx = 0;
};
fpresult::Result EncodeProgramArticle(std::int16_t password, const ProgrammedArticle& a, Request& out);

// 9600, 19200 or 38400 bit/s: speed code 0, 1, 2.
fpresult::Result EncodeChangeBitrate(std::int32_t bitrate, Request& out);

// Type 0 to 9 but not cash (3); at most 15 characters.
fpresult::Result EncodeSetPayTypeName(std::int16_t password, std::int32_t type, const std::string& text, Request& out);

fpresult::Result EncodePrintVersion(Request& out);
fpresult::Result EncodeAlterOnlineMode(Request& out);
fpresult::Result EncodeAlterCutterMode(Request& out);
// The code and the password, like every other command that needs the password.
fpresult::Result EncodePersonalize(std::int16_t password, Request& out);

} // namespace serialproto
