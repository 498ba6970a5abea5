// The machine's own IPv4 address, as the window shows it.
#ifndef QUILLMERE_APP_LOCAL_ADDRESS_H
#define QUILLMERE_APP_LOCAL_ADDRESS_H

#include <string>
#include <string_view>

namespace quillmere {

/// The first IPv4 address that resolving `hostName` yields, in dotted decimal: "localhost" gives
/// "127.0.0.1", "10.1.2.3" gives itself. Empty when the name yields no IPv4 address, fails to
/// resolve or is empty. Blocks for the resolution; safe from any thread.
std::string FirstIpv4Address(std::string_view hostName);

/// FirstIpv4Address of the local host's own name (gethostname); empty when there is none.
std::string LocalIpv4Address();

}  // namespace quillmere

#endif  // QUILLMERE_APP_LOCAL_ADDRESS_H
