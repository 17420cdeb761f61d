#include "platform/source_address.hpp"

#include <algorithm>
#include <charconv>

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

// A topic filter as brokers take it: "+" a whole level, "#" a whole last level, no NUL.
bool IsTopicFilter(std::string_view filter) {
  if (filter.empty() || filter.find('\0') != std::string_view::npos) return false;
  for (size_t start = 0;;) {
    const size_t slash = filter.find('/', start);
    const std::string_view level = filter.substr(start, slash - start);
    const bool has_wildcard = level.find_first_of("+#") != std::string_view::npos;
    if (has_wildcard && level != "+" && level != "#") return false;
    if (level == "#" && slash != std::string_view::npos) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

// mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PATH and mqtts://...; `path_is_filter` says whether the
// path may hold wildcards (a source's filter) or must not (a publisher's prefix).
std::variant<SourceAddress, Invalid> MqttAddress(std::string_view scheme, std::string_view rest,
                                                 bool path_is_filter) {
  SourceAddress address;
  address.scheme = SourceAddress::Scheme::kMqtt;
  address.tls = scheme == "mqtts";
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    return Invalid{path_is_filter ? "no topic filter after the host"
                                  : "no topic prefix after the host"};
  }
  std::string_view authority = rest.substr(0, slash);
  address.path = rest.substr(slash + 1);
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view login = authority.substr(0, at);
    const size_t colon = login.find(':');
    const auto user = PercentDecoded(login.substr(0, colon));
    const auto password = colon == std::string_view::npos ? std::optional<std::string>("")
                                                          : PercentDecoded(login.substr(colon + 1));
    if (!user || !password) return Invalid{"a bad percent-escape in the login"};
    if (user->empty()) return Invalid{"a password without a user name"};
    address.user = *user;
    address.password = *password;
    authority = authority.substr(at + 1);
  }
  // A cluster's brokers, separated by commas: each once, in the order given.
  const uint16_t default_port = address.tls ? kMqttTlsPort : kMqttPort;
  std::vector<HostPort> brokers;
  for (size_t start = 0; start <= authority.size();) {
    const size_t comma = std::min(authority.find(',', start), authority.size());
    auto one = HostAndPort(authority.substr(start, comma - start), address, true, default_port);
    if (const auto* invalid = std::get_if<Invalid>(&one)) return *invalid;
    const auto& broker = std::get<SourceAddress>(one);
    const HostPort host_port{broker.host, broker.port};
    if (std::find(brokers.begin(), brokers.end(), host_port) == brokers.end()) {
      brokers.push_back(host_port);
    }
    if (brokers.size() > kMostBrokers) {
      return Invalid{"more than " + std::to_string(kMostBrokers) + " brokers"};
    }
    start = comma + 1;
  }
  address.host = brokers.front().host;
  address.port = brokers.front().port;
  address.alternates.assign(brokers.begin() + 1, brokers.end());
  // A source's filters, separated by commas (a topic level holding a comma cannot be named).
  if (path_is_filter) {
    std::vector<std::string> filters;
    for (size_t start = 0; start <= address.path.size();) {
      const size_t comma = std::min(address.path.find(',', start), address.path.size());
      filters.push_back(address.path.substr(start, comma - start));
      start = comma + 1;
    }
    for (const std::string& filter : filters) {
      if (!IsTopicFilter(filter)) {
        return Invalid{
            "a topic filter must not be empty, and + and # must be whole levels (# the last)"};
      }
    }
    address.path = filters.front();
    address.more_filters.assign(filters.begin() + 1, filters.end());
  }
  std::variant<SourceAddress, Invalid> parsed = address;
  if (!path_is_filter &&
      (address.path.empty() || address.path.find_first_of("+#") != std::string::npos)) {
    return Invalid{"the topic prefix must not be empty nor hold + or #"};
  }
  return parsed;
}

std::variant<SourceAddress, Invalid> Parse(std::string_view text) {
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
  if (scheme == "mqtt" || scheme == "mqtts") return MqttAddress(scheme, rest, true);
  return Invalid{"unknown scheme \"" + std::string(scheme) + "\""};
}

}  // namespace

std::string WithoutPassword(std::string_view address) {
  const size_t authority = address.find("://");
  if (authority == std::string_view::npos) return std::string(address);
  const size_t host_end = address.find('/', authority + 3);
  const std::string_view login_and_host = address.substr(authority + 3, host_end - authority - 3);
  const size_t at = login_and_host.rfind('@');
  const size_t colon = login_and_host.find(':');
  if (at == std::string_view::npos || colon == std::string_view::npos || colon > at) {
    return std::string(address);
  }
  const size_t password = authority + 3 + colon + 1;
  return std::string(address.substr(0, password)) + "***" +
         std::string(address.substr(authority + 3 + at));
}

namespace {

std::variant<SourceAddress, std::string> Named(std::variant<SourceAddress, Invalid> parsed,
                                               std::string_view kind, std::string_view address) {
  if (auto* invalid = std::get_if<Invalid>(&parsed)) {
    return "Invalid " + std::string(kind) + " \"" + WithoutPassword(address) +
           "\": " + invalid->what;
  }
  return std::get<SourceAddress>(parsed);
}

}  // namespace

std::variant<SourceAddress, std::string> ParseSourceAddress(std::string_view address) {
  return Named(Parse(address), "source address", address);
}

std::variant<SourceAddress, std::string> ParsePublishAddress(std::string_view address) {
  const size_t scheme_end = address.find("://");
  const std::string_view scheme = address.substr(0, scheme_end);
  if (scheme_end == std::string_view::npos || (scheme != "mqtt" && scheme != "mqtts")) {
    return Named(Invalid{"it must begin mqtt:// or mqtts://"}, "MQTT address", address);
  }
  return Named(MqttAddress(scheme, address.substr(scheme_end + 3), false), "MQTT address", address);
}

}  // namespace quorvane
