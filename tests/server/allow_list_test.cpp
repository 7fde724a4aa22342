// Which peer addresses --allow networks admit.
#include "server/allow_list.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace demodctl {
namespace {

bool admits(const AllowList& list, const std::string& peer) {
  uint8_t bytes[16];
  if (inet_pton(AF_INET, peer.c_str(), bytes) == 1) return list.admits({bytes, 4});
  return inet_pton(AF_INET6, peer.c_str(), bytes) == 1 && list.admits({bytes, 16});
}

TEST(AllowList, PrefixesOfBothFamilies) {
  const struct {
    const char* net;
    const char* in;
    const char* out;
  } cases[] = {
      {"192.0.2.128/25", "192.0.2.200", "192.0.2.100"},
      {"198.51.100.7/22", "198.51.103.255", "198.51.104.0"},
      {"127.0.0.1", "::ffff:127.0.0.1", "127.0.0.2"},
      {"0.0.0.0/0", "203.0.113.9", "::1"},
      {"2001:db8::/33", "2001:db8:7fff::1", "2001:db8:8000::"},
      {"::1", "::1", "::ffff:0.0.0.1"},
  };
  for (const auto& c : cases) {
    AllowList list;
    std::string error;
    ASSERT_TRUE(list.add(c.net, &error)) << error;
    EXPECT_TRUE(admits(list, c.in)) << c.net << " " << c.in;
    EXPECT_FALSE(admits(list, c.out)) << c.net << " " << c.out;
  }
  EXPECT_TRUE(admits(AllowList(), "203.0.113.9")) << "an empty list admits every peer";
}

}  // namespace
}  // namespace demodctl
