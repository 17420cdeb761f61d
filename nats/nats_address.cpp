#include "nats/nats_address.hpp"

#include <algorithm>
#include <cstdlib>

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

// nats://AUTHORITY/SUBJECT[?OPTIONS]; `source` says whether the subject may hold wildcards and
// options follow it.
std::variant<SourceAddress, std::string> NatsAddress(std::string_view rest, bool source) {
  SourceAddress address;
  address.scheme = SourceAddress::Scheme::kNats;
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::string("no subject after the server");
  if (auto what = ReadServers(rest.substr(0, slash), address, kNatsPort, kMostNatsServers)) {
    return *what;
  }
  std::string_view subject = rest.substr(slash + 1);
  if (const size_t question = subject.find('?'); source && question != std::string_view::npos) {
    address.options = subject.substr(question + 1);
    subject = subject.substr(0, question);
  }
  if (std::string fault = SubjectFault(subject, source); !fault.empty()) return fault;
  address.path = subject;
  return address;
}

}  // namespace

std::string SubjectFault(std::string_view subject, bool wildcards) {
  const auto tokens = Pieces(subject, '.');
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    if (token.empty()) return "the subject \"" + std::string(subject) + "\" has an empty token";
    const bool plain = std::all_of(token.begin(), token.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte > 0x20 && byte != 0x7f;
    });
    if (!plain) return "a subject holds no spaces or control characters";
    const bool wildcard = token.find_first_of("*>") != std::string_view::npos;
    if (wildcard && !wildcards) return "the subject must hold no * or >";
    if (wildcard && token != "*" && !(token == ">" && i + 1 == tokens.size())) {
      return "* and > must be whole tokens of the subject (> the last)";
    }
  }
  return {};
}

const SchemeParsers& NatsSchemes() {
  static const SchemeParsers schemes{
      {"nats", [](std::string_view, std::string_view rest) { return NatsAddress(rest, true); }}};
  return schemes;
}

std::variant<SourceAddress, std::string> ParseNatsPublishAddress(std::string_view address) {
  constexpr std::string_view kScheme = "nats://";
  if (!address.starts_with(kScheme)) {
    return AddressFault("NATS address", address, "it must begin nats://");
  }
  auto parsed = NatsAddress(address.substr(kScheme.size()), false);
  if (auto* what = std::get_if<std::string>(&parsed)) {
    return AddressFault("NATS address", address, *what);
  }
  return parsed;
}

std::string NatsAddressText(const SourceAddress& address) {
  return "nats://" + (address.user.empty() ? "" : address.user + "@") + ServersText(address) + '/' +
         address.path;
}

NatsServers NatsServersOf(const SourceAddress& address) {
  NatsServers servers;
  servers.urls.push_back("nats://" + HostAndPortText(address.host, address.port));
  for (const HostPort& other : address.alternates) {
    servers.urls.push_back("nats://" + HostAndPortText(other.host, other.port));
  }
  servers.user = address.user;
  servers.password = address.password;
  if (!servers.user.empty() && servers.password.empty()) {
    if (const char* password = std::getenv(kNatsPasswordVariable)) servers.password = password;
  }
  return servers;
}

std::string SubjectRoot(std::string_view subject) {
  return std::string(subject.substr(0, subject.find('.')));
}

std::string TokenMatched(std::string_view filter, std::string_view subject) {
  return std::string(LevelMatched(filter, subject, '.', "*").value_or(subject));
}

}  // namespace quorvane
