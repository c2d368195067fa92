// Who a request is from, for the render pool's fairness and the access log.
//
// Behind a reverse proxy every connection comes from the proxy, so the peer address would put
// every client in one queue. The proxy says who its client was in X-Forwarded-For, but anyone
// can send that header: it is read only when the peer is one of the operator's trusted proxies
// (--trusted-proxy). The list is read from its right end, where the nearest proxy appended the
// address it saw; entries that are themselves trusted proxies are passed over, and the first
// one that is not is the client (whatever a client wrote further left is never reached). With
// no trusted proxy configured, or a peer that is not one, the peer is the client.
//
// The fairness key groups what one client can easily hold: an IPv6 host usually has a whole
// /64 to pick addresses from, so IPv6 clients are keyed per /64; an IPv4 address is its own key.
#pragma once

#include <boost/asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace tambrel {

class TrustedProxies {
 public:
  // Adds a comma- or space-separated list of addresses and networks ("127.0.0.1",
  // "10.0.0.0/8", "fd00::/8"). False and a message naming the bad entry otherwise.
  bool add(std::string_view list, std::string* error);
  bool contains(const boost::asio::ip::address& a) const;
  bool empty() const { return networks_.empty(); }

 private:
  struct Network {
    boost::asio::ip::address_v6 base;  // IPv4 networks as IPv4-mapped IPv6
    unsigned prefix;                   // of 128 bits
  };
  std::vector<Network> networks_;
};

struct ClientAddress {
  std::string address;  // the client's address as text (the access log)
  std::string key;      // the render pool's fairness key
};

// `peer` is the connection's remote address; `forwardedFor` every X-Forwarded-For field of the
// request, joined by commas in the order they came (empty when there is none).
ClientAddress clientAddress(const boost::asio::ip::address& peer, std::string_view forwardedFor,
                            const TrustedProxies& trusted);

// The fairness key of an address: IPv4 as itself, IPv6 as its /64 ("2001:db8:1:2::/64"), an
// IPv4-mapped IPv6 address as the IPv4 address.
std::string fairnessKey(const boost::asio::ip::address& a);

}  // namespace tambrel
