#include "tests/support/netns.h"

#include "tests/support/child_process.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace testsupport {

Namespace::Namespace(std::string name) : name_(std::move(name)) { ok_ = run({"ip", "netns", "add", name_}) == 0; }

Namespace::~Namespace()
{
    if (ok_) run({"ip", "netns", "del", name_});
}

bool Namespace::ip(std::vector<std::string> args) const
{
    args.insert(args.begin(), {"ip", "-n", name_});
    return run(args) == 0;
}

bool Namespace::linkTo(const Namespace& peer, const std::string& here, const std::string& there,
                       const std::string& net) const
{
    return run({"ip", "link", "add", here, "netns", name_, "type", "veth", "peer", "name", there, "netns",
                peer.name()}) == 0 &&
           ip({"addr", "add", net + "1/24", "dev", here}) && ip({"link", "set", here, "up"}) &&
           peer.ip({"addr", "add", net + "2/24", "dev", there}) && peer.ip({"link", "set", there, "up"});
}

void enterNamespace(const std::string& name)
{
    const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open namespace " + name);
    const int rc = ::setns(fd, CLONE_NEWNET);
    ::close(fd);
    if (rc != 0) throw std::runtime_error("cannot enter namespace " + name);
}

} // namespace testsupport
