// Private networks for the discovery tests: network namespaces joined by veth pairs, and a
// thread that works inside one. They need root (ip netns).
#pragma once

#include <future>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// A network namespace of its own name, removed (with its interfaces) with the object.
class Namespace {
public:
    explicit Namespace(std::string name);
    ~Namespace();
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    // Runs "ip -n NAME args..."; true on success.
    bool ip(std::vector<std::string> args) const;
    // A veth pair from interface `here` in this namespace to `there` in `peer`, both up:
    // `net` + "1/24" on this side, `net` + "2/24" on the peer's (net like "10.203.1.").
    bool linkTo(const Namespace& peer, const std::string& here, const std::string& there, const std::string& net) const;

private:
    std::string name_;
    bool ok_ = false;
};

// Enters the namespace on the calling thread; throws std::runtime_error when it can't.
void enterNamespace(const std::string& name);

// Runs `work` on a thread of its own that has entered the namespace (sockets are opened
// in the namespace of the thread that opens them); its result, or its exception.
template <typename Work>
auto inNamespace(const Namespace& ns, Work work) -> decltype(work())
{
    const std::string name = ns.name();
    return std::async(std::launch::async,
                      [name, &work] {
                          enterNamespace(name);
                          return work();
                      })
        .get();
}

} // namespace testsupport
