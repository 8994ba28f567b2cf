// Fuzz target: the fault values both simulators take from the command line and the
// console. The first byte picks the simulator and the fault, the rest is the value. A
// value is taken or refused (std::invalid_argument, or false with a reason), never more;
// what is taken is within its field (one byte for the serial error code and status bits,
// a count of 1 to 1000000, at most 17 MiB of padding, a reason phrase without control
// bytes); and the value a fault shows sets the same fault again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "simulators/netreg/netsim.h"
#include "simulators/serialreg/simulator.h"

namespace {

bool control(const std::string& s)
{
    for (char c : s)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}

void network(std::size_t pick, const std::string& value)
{
    const auto& options = netsim::faultOptions();
    const netsim::FaultOption& o = options[pick % options.size()];
    netsim::Faults f;
    try {
        netsim::switchFault(f, o.name, true, value);
    } catch (const std::invalid_argument&) {
        if (!o.values(f).empty()) std::abort(); // refused: nothing switched
        return;
    }
    if (control(f.documentReason) || f.documentStatus < 0 || f.documentStatus > 599) std::abort();
    for (const auto& kv : f.oversize)
        if (kv.second > 17u * 1024 * 1024) std::abort();
    // What the console shows sets the same again.
    const std::string shown = netsim::faultValue(f, o);
    netsim::Faults again;
    try {
        netsim::switchFault(again, o.name, true, shown);
    } catch (const std::invalid_argument&) {
        if (*o.argument) std::abort();
    }
    if (netsim::faultValue(again, o) != shown) std::abort();
}

void serial(std::size_t pick, const std::string& value)
{
    const auto kinds = serialsim::FaultKinds();
    const auto& k = kinds[pick % kinds.size()];
    serialsim::Fault f;
    std::string error;
    if (!serialsim::ParseFault(k.name + value, f, error)) {
        if (error.empty()) std::abort();
        return;
    }
    const bool oneByte = f.kind == serialsim::Fault::Error || f.kind == serialsim::Fault::Status ||
                         f.kind == serialsim::Fault::ExtStatus;
    if (f.value < 0 || f.value > (oneByte ? 255 : 600000)) std::abort();
    if (f.count != -1 && (f.count < 1 || f.count > 1000000)) std::abort();
    if (f.cmd < -1 || f.cmd > 255) std::abort();
    // Its tail, as the console shows it, gives the same fault.
    const std::string tail = serialsim::FaultTail(f);
    std::string spec = k.name;
    if (!tail.empty()) spec += (k.takesValue ? "=" : ",") + tail;
    serialsim::Fault back;
    if (!serialsim::ParseFault(spec, back, error)) std::abort();
    if (back.kind != f.kind || back.value != (k.takesValue ? f.value : back.value) || back.cmd != f.cmd ||
        back.count != f.count)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 0x80) serial(data[0] & 0x7F, value);
    else network(data[0], value);
    return 0;
}
