#include "app/local_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace quillmere {
namespace {

TEST(FirstIpv4Address, ResolvesWithoutTheNetwork) {
  struct {
    const char* host;
    const char* address;
    const char* why;
  } cases[] = {
      {"localhost", "127.0.0.1", "the hosts file names the loopback address"},
      {"10.1.2.3", "10.1.2.3", "a numeric address is its own first address"},
      {"::1", "", "an IPv6-only name has no IPv4 address"},
      {"", "", "an empty name resolves to nothing"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FirstIpv4Address(c.host), c.address) << c.host << ": " << c.why;
  }
}

// Whatever the machine's name resolves to, the label gets a dotted IPv4 address or nothing.
TEST(LocalIpv4Address, IsDottedDecimalOrEmpty) {
  const std::string address = LocalIpv4Address();
  if (address.empty()) GTEST_SKIP() << "this machine's name does not resolve to IPv4";
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
}

}  // namespace
}  // namespace quillmere
