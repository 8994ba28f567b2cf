// Stand-in for a build without the network register client: discovery finds nothing
// and a connection attempt fails with a network-library error the host is told about.
#include "register_client.h"

#include <Poco/Exception.h>

namespace oltra {

std::vector<std::string> discoverRegisters()
{
    return {};
}

std::unique_ptr<RegisterClient> createRegisterClient(const std::string&, const std::string&,
                                                     const std::string&, int32_t)
{
    throw Poco::NotImplementedException("network register client is not built into this library");
}

} // namespace oltra
