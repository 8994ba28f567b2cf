// A register client that talks to no register: the tests script its answers and read
// back what the component asked of it. Built into a copy of the add-in library
// (libOltranative_fake.so) that exports FakeRegister() besides the four entry points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

enum class Failure { None, Timeout, Authentication, NoRegisterState, Other };

// The code of the "any other" network failure.
constexpr int kOtherFailureCode = 77;

struct Script {
    // Discovery
    std::vector<std::string> discovered;
    Failure discoveryFailure = Failure::None;
    // Connection
    Failure connectFailure = Failure::None;
    std::string serial = "TEST0001";
    // Operations
    Failure operationFailure = Failure::None;
    bool operationResult = true;
    std::u16string errorText; // lastErrorText after any operation
    int32_t errorCode = 0;
    int32_t receiptNumber = 12;
    int32_t lineWidth = 32;
    std::string stateBody = "{\"model\":\"T\"}";
    std::string stateFailure; // non-empty: the state read fails with this text
    std::u16string unsettled; // what settling before the client goes finds; empty: nothing waited

    // Records
    std::vector<std::string> calls;    // one line per operation, UTF-8
    std::vector<std::string> connects; // "address login secret taxGroup"
    int liveClients = 0;
    int liveClientsAtLastConnect = 0; // clients alive when the newest one was made
};

} // namespace fake

extern "C" fake::Script* FakeRegister();
