// The check that the upstream proxy is not this program's own listening address, whose requests
// would come straight back to it. Used where the settings are put into force: by ProxyApp on
// Apply and by the headless runner at start-up. Any thread; resolves names.
#pragma once

#include <string>

namespace rw::proxy {
struct ProxySettings;
}

namespace rw::app {

// The message saying why the upstream proxy in `proxy` cannot be used, or empty when it can. It is
// refused when its port is the listening port and its address is where the listener is reached:
// 127.0.0.1, or 0.0.0.0 (this machine), given as a number or as a name that resolves to one. A
// name is resolved only when the ports match.
std::string OwnAddressUpstreamProblem(const proxy::ProxySettings& proxy);

}  // namespace rw::app
