// Who a request is from: the peer, or behind a trusted proxy the client its X-Forwarded-For
// names; IPv6 clients keyed per /64.
#include <gtest/gtest.h>

#include "server/client_address.h"

namespace tambrel {
namespace {

namespace ip = boost::asio::ip;

TEST(ClientAddress, ProxyHeaderCountsOnlyFromTrustedPeers) {
  TrustedProxies trusted;
  std::string bad;
  ASSERT_TRUE(trusted.add("127.0.0.1, 10.1.0.0/16 fd00::/8", &bad)) << bad;
  struct Case {
    const char* peer;
    const char* forwardedFor;
    const char* address;
    const char* key;
  } cases[] = {
      {"203.0.113.5", "198.51.100.7", "203.0.113.5", "203.0.113.5"},  // not a proxy: its header is ignored
      {"127.0.0.1", "", "127.0.0.1", "127.0.0.1"},                   // a proxy that names nobody
      {"127.0.0.1", "198.51.100.7", "198.51.100.7", "198.51.100.7"},
      // What a client wrote itself is left of what the proxy appended, and never reached.
      {"127.0.0.1", "1.2.3.4, 198.51.100.7", "198.51.100.7", "198.51.100.7"},
      {"127.0.0.1", "1.2.3.4,198.51.100.7 , 10.1.2.3", "198.51.100.7", "198.51.100.7"},  // a chain of proxies
      {"127.0.0.1", "10.1.9.9, 10.1.2.3", "10.1.9.9", "10.1.9.9"},  // only proxies: the farthest
      {"::ffff:127.0.0.1", "198.51.100.7", "198.51.100.7", "198.51.100.7"},  // a dual-stack socket's view
      {"127.0.0.1", "[2001:db8:1:2:aaaa::1]:4711", "2001:db8:1:2:aaaa::1", "2001:db8:1:2::/64"},
      {"127.0.0.1", "192.0.2.1:4711", "192.0.2.1", "192.0.2.1"},
      {"127.0.0.1", "unknown", "unknown", "forwarded:unknown"},
      {"fd00::5", "2001:db8:1:2::9", "2001:db8:1:2::9", "2001:db8:1:2::/64"},
      {"2001:db8:1:2:bbbb::2", "198.51.100.7", "2001:db8:1:2:bbbb::2", "2001:db8:1:2::/64"},
  };
  for (const Case& c : cases) {
    ClientAddress got = clientAddress(ip::make_address(c.peer), c.forwardedFor, trusted);
    EXPECT_EQ(got.address, c.address) << c.peer << " / " << c.forwardedFor;
    EXPECT_EQ(got.key, c.key) << c.peer << " / " << c.forwardedFor;
  }
  // Without trusted proxies nobody's header counts.
  EXPECT_EQ(clientAddress(ip::make_address("127.0.0.1"), "198.51.100.7", TrustedProxies{}).key, "127.0.0.1");
}

TEST(ClientAddress, IPv6ClientsShareAKeyPerSlash64) {
  auto key = [](const char* a) { return fairnessKey(ip::make_address(a)); };
  EXPECT_EQ(key("2001:db8:1:2:aaaa::1"), key("2001:db8:1:2:ffff:1:2:3"));
  EXPECT_NE(key("2001:db8:1:2::1"), key("2001:db8:1:3::1"));
  EXPECT_EQ(key("::ffff:192.0.2.1"), "192.0.2.1");
  EXPECT_NE(key("192.0.2.1"), key("192.0.2.2"));
}

TEST(ClientAddress, TrustedListsAndTheirFaults) {
  struct Case {
    const char* list;
    bool ok;
    const char* inside;
    const char* outside;
  } cases[] = {
      {"10.0.0.0/8", true, "10.255.1.1", "11.0.0.1"},
      {"192.168.1.128/25", true, "192.168.1.200", "192.168.1.100"},
      {"0.0.0.0/0", true, "8.8.8.8", nullptr},
      {"2001:db8::/32", true, "2001:db8:ffff::1", "2001:db9::1"},
      {"::1", true, "::1", "::2"},
      {"127.0.0.1", true, "::ffff:127.0.0.1", "127.0.0.2"},
      {"10.0.0.0/33", false, nullptr, nullptr},
      {"10.0.0.0/", false, nullptr, nullptr},
      {"10.0.0.0/x", false, nullptr, nullptr},
      {"localhost", false, nullptr, nullptr},
      {"2001:db8::/129", false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    TrustedProxies t;
    std::string bad;
    EXPECT_EQ(t.add(c.list, &bad), c.ok) << c.list;
    if (!c.ok) {
      EXPECT_EQ(bad, c.list);
      continue;
    }
    if (c.inside) EXPECT_TRUE(t.contains(ip::make_address(c.inside))) << c.list << " " << c.inside;
    if (c.outside) EXPECT_FALSE(t.contains(ip::make_address(c.outside))) << c.list << " " << c.outside;
  }
}

}  // namespace
}  // namespace tambrel
