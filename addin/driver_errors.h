// The driver's own error codes and the two ways a failure reaches the host: AddError
// on the host connection and an ERROR line in the log ("<text> code:<code>"). The codes
// 1001-1006 are the driver's; the register client says which kind of failure it met
// (RegisterFailure) and its adapter translates the network's own numbers into that.
#pragma once

#include "addin/native_api.h"
#include "addin/register_client.h"

#include <cstdint>
#include <string>

namespace oltra {

enum DriverError : int32_t {
    kErrorNotConnected = 1001,    // a method needs the register client and there is none
    kErrorAuthentication = 1002,  // the register refused the login
    kErrorTimeout = 1003,         // a time-out of the network library
    kErrorNoAddress = 1004,       // no IP and discovery found no register
    kErrorNoRegisterState = 1005, // the address gives no register state
    kErrorBadArgument = 1006,     // a number the register can't take; nothing was sent
};

// Source name passed with every AddError.
extern const char16_t kErrorSource[];

// The table's text for a code, or null for a code it does not hold.
const char16_t* driverErrorText(int32_t code);

// Reports one of the table's codes. connection may be null (only the log line then).
void reportError(IAddInDefBase* connection, int32_t code);

// Reports a failure of the network by its code and display text (UTF-8); a code that the
// table holds is reported with the table's text.
void reportException(IAddInDefBase* connection, int32_t code, const std::string& displayText);

// The text of 1005 for an address and what came instead of the state:
// "<text>: <address> (<detail>)".
std::u16string noRegisterStateText(const std::string& address, const std::string& detail);

// Reports a table code with a detail after its text: "<text>: <detail>".
void reportError(IAddInDefBase* connection, int32_t code, const std::u16string& detail);

// How a register failure that reaches a driver method is reported: a time-out gives 1003,
// a refused login 1002, no register state 1005 (with `address` and what came instead),
// anything else with the table's text for its code, or else a text naming `address` and
// what to check, the network's own text in parentheses.
void reportRegisterFailure(IAddInDefBase* connection, const RegisterFailure& failure,
                           const std::string& address = std::string());

// The text of a network failure that the table does not hold.
std::u16string networkFailureText(const RegisterFailure& failure, const std::string& address);

} // namespace oltra
