#include "app/local_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillmere {

std::string FirstIpv4Address(std::string_view hostName) {
  if (hostName.empty()) return {};
  const std::string name(hostName);  // getaddrinfo wants a terminated string
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return {};
  std::string address;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) != nullptr) address = text;
    break;
  }
  freeaddrinfo(found);
  return address;
}

std::string LocalIpv4Address() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return FirstIpv4Address(name);
}

}  // namespace quillmere
