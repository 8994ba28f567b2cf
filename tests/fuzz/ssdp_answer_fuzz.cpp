// libFuzzer target: the answers to an SSDP search, read for register addresses. The input
// is one or more datagrams separated by zero bytes (a datagram is read up to its first).
#include "netclient/discovery.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> answers;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            answers.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    answers.push_back(current);
    const std::vector<std::string> found = oltra::registerAddresses(answers, oltra::kSearchTarget);
    // Each address is named by some answer, once.
    if (found.size() > answers.size()) std::abort();
    for (const std::string& address : found)
        if (address.empty()) std::abort();
    return 0;
}
