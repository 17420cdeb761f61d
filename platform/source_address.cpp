#include "platform/source_address.hpp"

#include <algorithm>
#include <charconv>

#include "base/text_rules.hpp"
#include "platform/line_settings.hpp"

namespace quorvane {
std::optional<uint16_t> PortOf(std::string_view text) {
  unsigned value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size() || value == 0 ||
      value > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

namespace {

struct Invalid {
  std::string what;
};

// "HOST:PORT", "[IPv6]:PORT", ":PORT" (when the host may be left out) or, with a default port,
// "HOST".
std::variant<SourceAddress, Invalid> HostAndPort(std::string_view rest, SourceAddress address,
                                                 bool host_required,
                                                 std::optional<uint16_t> default_port) {
  std::string_view host = rest;
  std::string_view port;
  if (rest.starts_with('[')) {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return Invalid{"unclosed \"[\" in the host"};
    host = rest.substr(1, close - 1);
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty() && !after.starts_with(':')) return Invalid{"text after the host"};
    port = after.empty() ? std::string_view() : after.substr(1);
  } else if (const size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  if (host_required && host.empty()) return Invalid{"no host"};
  if (port.empty() && !default_port) {
    return Invalid{"no port (" +
                   std::string(address.scheme == SourceAddress::Scheme::kUdp ? "udp://[HOST]:PORT"
                                                                             : "tcp://HOST:PORT") +
                   ")"};
  }
  const auto number = port.empty() ? default_port : PortOf(port);
  if (!number) return Invalid{"the port must be a number from 1 to 65535"};
  address.host = host;
  address.port = *number;
  return address;
}

}  // namespace

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size()) return std::nullopt;
    const auto result = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (result.ec != std::errc{} || result.ptr != text.data() + i + 3) return std::nullopt;
    decoded += static_cast<char>(value);
    i += 2;
  }
  return decoded;
}

namespace {

std::variant<SourceAddress, Invalid> Parse(std::string_view text, const SchemeParsers& more) {
  SourceAddress address;
  if (text.starts_with("serial:") || text.starts_with('/')) {
    address.scheme = SourceAddress::Scheme::kSerial;
    std::string_view rest = text.starts_with('/') ? text : text.substr(7);
    const size_t query = rest.find('?');
    address.path = rest.substr(0, query);
    if (address.path.empty()) return Invalid{"no device"};
    if (query != std::string_view::npos) {
      address.settings = rest.substr(query + 1);
      if (!ParseLineSettings(address.settings)) {
        return Invalid{"settings must read baud,parity,data bits,stop bits such as 4800,n,8,1"};
      }
    }
    return address;
  }
  if (text.starts_with("file:")) {
    address.scheme = SourceAddress::Scheme::kFile;
    std::string_view rest = text.substr(5);
    const size_t query = rest.find('?');
    address.path = rest.substr(0, query);
    if (address.path.empty()) return Invalid{"no file"};
    if (query != std::string_view::npos) {
      const std::string_view option = rest.substr(query + 1);
      if (option == "speed=max") {
        address.speed = 0;
      } else if (option.starts_with("speed=")) {
        const std::string_view factor = option.substr(6);
        const auto result =
            std::from_chars(factor.data(), factor.data() + factor.size(), address.speed);
        if (result.ec != std::errc{} || result.ptr != factor.data() + factor.size() ||
            !(address.speed > 0)) {
          return Invalid{"speed must be a positive factor or max"};
        }
      } else {
        return Invalid{"the only option of a file is speed=N or speed=max"};
      }
    }
    return address;
  }
  const size_t scheme_end = text.find("://");
  if (scheme_end == std::string_view::npos)
    return Invalid{"no scheme (serial:, udp://, tcp://, gpsd://, file:, mqtt://)"};
  const std::string_view scheme = text.substr(0, scheme_end);
  const std::string_view rest = text.substr(scheme_end + 3);
  if (scheme == "udp") {
    address.scheme = SourceAddress::Scheme::kUdp;
    return HostAndPort(rest, address, false, std::nullopt);
  }
  if (scheme == "tcp") {
    address.scheme = SourceAddress::Scheme::kTcp;
    return HostAndPort(rest, address, true, std::nullopt);
  }
  if (scheme == "gpsd") {
    address.scheme = SourceAddress::Scheme::kGpsd;
    return HostAndPort(rest, address, true, kGpsdPort);
  }
  if (const auto found = more.find(scheme); found != more.end()) {
    auto parsed = found->second(scheme, rest);
    if (auto* what = std::get_if<std::string>(&parsed)) return Invalid{std::move(*what)};
    return std::get<SourceAddress>(std::move(parsed));
  }
  return Invalid{"unknown scheme \"" + std::string(scheme) + "\""};
}

}  // namespace

std::string WithoutPassword(std::string_view address) {
  const size_t authority = address.find("://");
  if (authority == std::string_view::npos) return std::string(address);
  const size_t host_end = address.find('/', authority + 3);
  const std::string_view login_and_host = address.substr(authority + 3, host_end - authority - 3);
  const size_t colon = login_and_host.find(':');
  if (colon == std::string_view::npos) return std::string(address);
  size_t at = login_and_host.rfind('@');
  if (at == std::string_view::npos) {
    // A password holding "/" (it should be written %2F) cuts the address early: what follows the
    // colon is no port, and an "@" comes later.
    const std::string_view after = login_and_host.substr(colon + 1);
    const bool port = !after.empty() && after.size() <= 5 &&
                      after.find_first_not_of("0123456789") == std::string_view::npos;
    const size_t later = address.find('@', authority + 3);
    if (port || host_end == std::string_view::npos || later == std::string_view::npos) {
      return std::string(address);
    }
    at = later - authority - 3;
  } else if (colon > at) {
    return std::string(address);
  }
  const size_t password = authority + 3 + colon + 1;
  return std::string(address.substr(0, password)) + "***" +
         std::string(address.substr(authority + 3 + at));
}

namespace {

std::variant<SourceAddress, std::string> Named(std::variant<SourceAddress, Invalid> parsed,
                                               std::string_view kind, std::string_view address) {
  if (auto* invalid = std::get_if<Invalid>(&parsed))
    return AddressFault(kind, address, invalid->what);
  return std::get<SourceAddress>(parsed);
}

}  // namespace

std::variant<SourceAddress, std::string> ParseSourceAddress(std::string_view address,
                                                            const SchemeParsers& more) {
  return Named(Parse(address, more), "source address", address);
}

std::string AddressFault(std::string_view kind, std::string_view address, std::string_view what) {
  return "Invalid " + std::string(kind) + " \"" + WithoutPassword(address) +
         "\": " + std::string(what);
}

std::optional<std::string> ReadHostAndPort(std::string_view rest, SourceAddress& address,
                                           bool host_required,
                                           std::optional<uint16_t> default_port) {
  auto read = HostAndPort(rest, address, host_required, default_port);
  if (auto* invalid = std::get_if<Invalid>(&read)) return std::move(invalid->what);
  address = std::get<SourceAddress>(std::move(read));
  return std::nullopt;
}

std::string HostAndPortText(const std::string& host, uint16_t port) {
  const bool bracketed = host.find(':') != std::string::npos;
  return (bracketed ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ServersText(const SourceAddress& address) {
  std::string text = HostAndPortText(address.host, address.port);
  // A long list is named by its first servers: the name goes into every line said of it.
  constexpr size_t kServersNamed = 3;
  for (size_t i = 0; i < address.alternates.size() && i + 1 < kServersNamed; ++i) {
    text += ',' + HostAndPortText(address.alternates[i].host, address.alternates[i].port);
  }
  if (address.alternates.size() >= kServersNamed) {
    text += ",(" + std::to_string(address.alternates.size() + 1 - kServersNamed) + " more)";
  }
  return text;
}

std::optional<std::string> ReadServers(std::string_view authority, SourceAddress& address,
                                       uint16_t default_port, size_t most) {
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view login = authority.substr(0, at);
    const size_t colon = login.find(':');
    const auto user = PercentDecoded(login.substr(0, colon));
    const auto password = colon == std::string_view::npos ? std::optional<std::string>("")
                                                          : PercentDecoded(login.substr(colon + 1));
    if (!user || !password) return std::string("a bad percent-escape in the login");
    if (user->empty()) return std::string("a password without a user name");
    address.user = *user;
    address.password = *password;
    authority = authority.substr(at + 1);
  }
  std::vector<HostPort> servers;
  for (const std::string_view piece : Pieces(authority, ',')) {
    SourceAddress server = address;
    if (auto what = ReadHostAndPort(piece, server, true, default_port)) return what;
    const HostPort host_port{server.host, server.port};
    if (std::find(servers.begin(), servers.end(), host_port) == servers.end()) {
      servers.push_back(host_port);
    }
    if (servers.size() > most) return "more than " + std::to_string(most) + " servers";
  }
  address.host = servers.front().host;
  address.port = servers.front().port;
  address.alternates.assign(servers.begin() + 1, servers.end());
  return std::nullopt;
}

}  // namespace quorvane
