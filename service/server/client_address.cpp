// Client addresses behind trusted proxies; see client_address.h.
#include "server/client_address.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace tambrel {
namespace {

namespace ip = boost::asio::ip;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

ip::address_v6 asV6(const ip::address& a) {
  return a.is_v4() ? ip::make_address_v6(ip::v4_mapped, a.to_v4()) : a.to_v6();
}

// An IPv4-mapped IPv6 address (a dual-stack socket's view of an IPv4 peer) is that IPv4 address.
ip::address unmapped(const ip::address& a) {
  if (a.is_v6() && a.to_v6().is_v4_mapped()) return ip::make_address_v4(ip::v4_mapped, a.to_v6());
  return a;
}

// An entry of X-Forwarded-For: an address, perhaps in brackets or with a port, as some proxies
// write it ("[2001:db8::1]:4711", "192.0.2.1:4711").
std::optional<ip::address> parseEntry(std::string_view s) {
  boost::system::error_code ec;
  if (!s.empty() && s.front() == '[') {
    size_t close = s.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    s = s.substr(1, close - 1);
  } else if (std::count(s.begin(), s.end(), ':') == 1) {
    s = s.substr(0, s.find(':'));
  }
  auto a = ip::make_address(std::string(s), ec);
  if (ec) return std::nullopt;
  return unmapped(a);
}

bool sameNetwork(const ip::address_v6& a, const ip::address_v6& b, unsigned prefix) {
  auto x = a.to_bytes(), y = b.to_bytes();
  unsigned full = prefix / 8, rest = prefix % 8;
  if (!std::equal(x.begin(), x.begin() + full, y.begin())) return false;
  if (rest == 0) return true;
  unsigned char mask = static_cast<unsigned char>(0xFF << (8 - rest));
  return (x[full] & mask) == (y[full] & mask);
}

}  // namespace

bool TrustedProxies::add(std::string_view list, std::string* error) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(", ", start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = trim(list.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) continue;
    std::string_view host = entry;
    std::optional<unsigned> prefix;
    if (size_t slash = entry.find('/'); slash != std::string_view::npos) {
      host = entry.substr(0, slash);
      std::string_view bits = entry.substr(slash + 1);
      unsigned n = 0;
      auto [p, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), n);
      if (ec != std::errc() || p != bits.data() + bits.size() || bits.empty()) {
        *error = std::string(entry);
        return false;
      }
      prefix = n;
    }
    boost::system::error_code ec;
    auto a = ip::make_address(std::string(host), ec);
    if (ec) {
      *error = std::string(entry);
      return false;
    }
    a = unmapped(a);
    const unsigned width = a.is_v4() ? 32 : 128;
    if (prefix.value_or(width) > width) {
      *error = std::string(entry);
      return false;
    }
    networks_.push_back({asV6(a), prefix.value_or(width) + (a.is_v4() ? 96 : 0)});
  }
  return true;
}

bool TrustedProxies::contains(const ip::address& a) const {
  const ip::address_v6 v6 = asV6(unmapped(a));
  return std::any_of(networks_.begin(), networks_.end(),
                     [&](const Network& n) { return sameNetwork(v6, n.base, n.prefix); });
}

std::string fairnessKey(const ip::address& address) {
  const ip::address a = unmapped(address);
  if (a.is_v4()) return a.to_string();
  auto bytes = a.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return ip::address_v6(bytes).to_string() + "/64";
}

ClientAddress clientAddress(const ip::address& peer, std::string_view forwardedFor, const TrustedProxies& trusted) {
  const ip::address direct = unmapped(peer);
  auto own = [](const ip::address& a) { return ClientAddress{a.to_string(), fairnessKey(a)}; };
  if (trusted.empty() || !trusted.contains(direct)) return own(direct);
  // Right to left: each trusted proxy appended the address it was connected from.
  std::optional<ClientAddress> leftmost;
  size_t end = forwardedFor.size();
  for (;;) {
    size_t comma = forwardedFor.rfind(',', end == 0 ? 0 : end - 1);
    size_t begin = comma == std::string_view::npos || end == 0 ? 0 : comma + 1;
    std::string_view entry = trim(forwardedFor.substr(begin, end - begin));
    if (!entry.empty()) {
      auto a = parseEntry(entry);
      // What a trusted proxy wrote but is no address ("unknown", an obfuscated name) still
      // names one client of that proxy; bounded, it serves as the key.
      if (!a) {
        std::string name(entry.substr(0, 64));
        return {name, "forwarded:" + name};
      }
      if (!trusted.contains(*a)) return own(*a);
      leftmost = own(*a);
    }
    if (begin == 0) break;
    end = begin - 1;
  }
  // Only proxies in the chain (or no header): the farthest one known, else the peer.
  return leftmost ? *leftmost : own(direct);
}

}  // namespace tambrel
