#pragma once
// What a nats:// address says: a NATS server or a cluster's servers, with one login, and a
// subject. A source's subject may hold wildcards ("fleet.*.fix": every vehicle's fixes) and
// options after "?"; a publisher's is a plain prefix ("fleet.car7"). The password comes from
// QGPS_NATS_PASSWORD when the address has a user and no password, so that it need not sit in a
// command line.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/source_address.hpp"

namespace quorvane {

inline constexpr const char* kNatsPasswordVariable = "QGPS_NATS_PASSWORD";
inline constexpr uint16_t kNatsPort = 4222;
inline constexpr size_t kMostNatsServers = 100;

// nats://[USER[:PASSWORD]@]HOST[:PORT][,HOST[:PORT]...]/SUBJECT[?OPTIONS], for
// ParseSourceAddress.
const SchemeParsers& NatsSchemes();

// Where a publisher publishes: "nats://[USER[:PASSWORD]@]HOST[:PORT][,...]/PREFIX", or
// "Invalid NATS address \"ADDRESS\": WHAT".
std::variant<SourceAddress, std::string> ParseNatsPublishAddress(std::string_view address);

// The address as it may be shown: without the password, a long list of servers shortened.
std::string NatsAddressText(const SourceAddress& address);

// What libnats is given: each server's URL, and the login.
struct NatsServers {
  std::vector<std::string> urls;  // "nats://HOST:PORT"
  std::string user;
  std::string password;
};
NatsServers NatsServersOf(const SourceAddress& address);

// Why `subject` cannot be published to or, with `wildcards`, subscribed to: an empty token,
// a space or control character, a wildcard that is not a whole token ("*", and ">" only last).
// Empty when it can.
std::string SubjectFault(std::string_view subject, bool wildcards);

// The first token of a subject ("fleet" of "fleet.car7"): the stream of a fleet is named after it
// and holds every subject under it.
std::string SubjectRoot(std::string_view subject);

// The token of `subject` that the last "*" of `filter` matched ("car7" of "fleet.car7.fix" by
// "fleet.*.fix"), or the whole subject when the filter has none.
std::string TokenMatched(std::string_view filter, std::string_view subject);

}  // namespace quorvane
