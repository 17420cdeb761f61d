#include "mqtt/mqtt_address.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <tuple>

#include "base/text_rules.hpp"

namespace quorvane {
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
std::variant<SourceAddress, std::string> MqttAddress(std::string_view scheme, std::string_view rest,
                                                     bool path_is_filter) {
  SourceAddress address;
  address.scheme = SourceAddress::Scheme::kMqtt;
  address.tls = scheme == "mqtts";
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    return std::string(path_is_filter ? "no topic filter after the host"
                                      : "no topic prefix after the host");
  }
  const std::string_view authority = rest.substr(0, slash);
  address.path = rest.substr(slash + 1);
  // A cluster's brokers, separated by commas: each once, in the order given.
  if (auto what =
          ReadServers(authority, address, address.tls ? kMqttTlsPort : kMqttPort, kMostBrokers)) {
    return *what;
  }
  // A source's filters, separated by commas (a topic level holding a comma cannot be named).
  if (path_is_filter) {
    std::vector<std::string> filters;
    for (const std::string_view piece : Pieces(address.path, ',')) filters.emplace_back(piece);
    for (const std::string& filter : filters) {
      if (!IsTopicFilter(filter)) {
        return std::string(
            "a topic filter must not be empty, and + and # must be whole levels (# the last)");
      }
    }
    address.path = filters.front();
    address.more_filters.assign(filters.begin() + 1, filters.end());
  }
  if (!path_is_filter &&
      (address.path.empty() || address.path.find_first_of("+#") != std::string::npos)) {
    return std::string("the topic prefix must not be empty nor hold + or #");
  }
  return address;
}

}  // namespace

const SchemeParsers& MqttSchemes() {
  static const SchemeParsers schemes = [] {
    SchemeParsers made;
    for (const char* scheme : {"mqtt", "mqtts"}) {
      made[scheme] = [](std::string_view name, std::string_view rest) {
        return MqttAddress(name, rest, true);
      };
    }
    return made;
  }();
  return schemes;
}

std::variant<SourceAddress, std::string> ParsePublishAddress(std::string_view address) {
  const size_t scheme_end = address.find("://");
  const std::string_view scheme = address.substr(0, scheme_end);
  if (scheme_end == std::string_view::npos || (scheme != "mqtt" && scheme != "mqtts")) {
    return AddressFault("MQTT address", address, "it must begin mqtt:// or mqtts://");
  }
  auto parsed = MqttAddress(scheme, address.substr(scheme_end + 3), false);
  if (auto* what = std::get_if<std::string>(&parsed)) {
    return AddressFault("MQTT address", address, *what);
  }
  return parsed;
}

std::string MqttAddressText(const SourceAddress& address) {
  std::string text = std::string(address.tls ? "mqtts://" : "mqtt://") +
                     (address.user.empty() ? "" : address.user + "@") + ServersText(address) + '/' +
                     address.path;
  for (const std::string& filter : address.more_filters) text += ',' + filter;
  return text;
}

MqttBroker MqttBrokerOf(const SourceAddress& address, const MqttTlsFiles& tls_files,
                        const std::string& client_id) {
  MqttBroker broker;
  broker.host = address.host;
  broker.port = address.port;
  broker.alternates = address.alternates;
  broker.client_id = client_id;
  broker.user = address.user;
  broker.password = address.password;
  if (!broker.user.empty() && broker.password.empty()) {
    if (const char* password = std::getenv(kMqttPasswordVariable)) broker.password = password;
  }
  broker.tls = address.tls;
  if (broker.tls) broker.tls_files = tls_files;
  return broker;
}

std::string ClientIdFault(std::string_view id) {
  if (id.size() > kLongestClientId) {
    return "an MQTT client id has at most " + std::to_string(kLongestClientId) +
           " characters, not " + std::to_string(id.size());
  }
  const bool printable = std::all_of(id.begin(), id.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7f;
  });
  return printable ? std::string() : "an MQTT client id holds no spaces or control characters";
}

std::string TlsFilesFault(const MqttTlsFiles& files) {
  for (const auto& [what, path] : {std::pair("certificate authority", files.ca_file),
                                   std::pair("client certificate", files.certificate_file)}) {
    if (path.empty()) continue;
    std::ifstream file(path);
    if (!file) return std::string("the ") + what + " " + path + " cannot be read";
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    if (text.find("-----BEGIN CERTIFICATE") == std::string::npos) {
      return std::string("the ") + what + " " + path + " holds no PEM CERTIFICATE";
    }
  }
  if (!files.key_file.empty() && files.certificate_file.empty()) {
    return "a client key goes with its certificate";
  }
  return {};
}

std::optional<std::string> JoinedMqttAddress(const std::vector<std::string>& addresses) {
  if (addresses.size() == 1) return addresses.front();
  const auto first = ParseSourceAddress(addresses.front(), MqttSchemes());
  const auto* a = std::get_if<SourceAddress>(&first);
  std::string joined = addresses.front();
  for (size_t i = 1; i < addresses.size(); ++i) {
    const auto other = ParseSourceAddress(addresses[i], MqttSchemes());
    const auto* b = std::get_if<SourceAddress>(&other);
    const bool joinable =
        a != nullptr && b != nullptr && a->scheme == SourceAddress::Scheme::kMqtt &&
        b->scheme == SourceAddress::Scheme::kMqtt && a->tls == b->tls && a->host == b->host &&
        a->port == b->port && a->alternates == b->alternates && a->user == b->user &&
        a->password == b->password;
    if (!joinable) return std::nullopt;
    // The filters follow the first "/" after the broker part.
    const std::string& text = addresses[i];
    joined += ',' + text.substr(text.find('/', text.find("://") + 3) + 1);
  }
  return joined;
}

}  // namespace quorvane
