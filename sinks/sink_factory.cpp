#include "sinks/sink_factory.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <set>

#include "base/text_rules.hpp"
#include "platform/source_address.hpp"
#include "sinks/rotating_file.hpp"
#include "sinks/track_files.hpp"

namespace quorvane {
namespace {

// "udp" of "udp://...", "shm" of "shm:2"; empty for a file name.
std::string_view SchemeOf(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  const std::string_view scheme = text.substr(0, colon);
  const bool word = std::all_of(scheme.begin(), scheme.end(), [](char c) {
    return std::islower(static_cast<unsigned char>(c)) || c == '-';
  });
  return word ? scheme : std::string_view();
}

// NAME=VALUE&NAME=VALUE; false when one cannot be read.
bool ReadOptions(std::string_view query, std::map<std::string, std::string>& options) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos || equals == 0) return false;
    const auto value = PercentDecoded(pair.substr(equals + 1));
    if (!value) return false;
    options[std::string(pair.substr(0, equals))] = *value;
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
  }
  return true;
}

}  // namespace

std::string SinkText::Option(const std::string& name, const std::string& otherwise) const {
  const auto found = options.find(name);
  return found == options.end() ? otherwise : found->second;
}

void SinkText::OnlyOptions(std::initializer_list<std::string_view> known) const {
  for (const auto& [name, value] : options) {
    if (std::find(known.begin(), known.end(), name) != known.end()) continue;
    std::string accepted;
    for (const std::string_view option : known) {
      accepted += (accepted.empty() ? "" : ", ") + std::string(option);
    }
    Refuse("no option \"" + name + "\" here" +
           (accepted.empty() ? std::string(" (it takes none)") : " (it takes " + accepted + ")"));
  }
}

void SinkText::Refuse(const std::string& why) const {
  throw SinkUsageError("Cannot use output \"" + text + "\": " + why);
}

void SinkFactory::Register(std::string scheme, std::string form, Maker maker) {
  makers_[std::move(scheme)] = {std::move(form), std::move(maker)};
}

std::string SinkFactory::Forms() const {
  std::string forms;
  for (const auto& [scheme, form_and_maker] : makers_) {
    forms += (forms.empty() ? "" : ", ") + form_and_maker.first;
  }
  return forms;
}

SinkText SinkFactory::Parse(const std::string& typed) const {
  SinkText text{.text = WithoutPassword(typed)};
  std::string_view rest = typed;
  const std::string_view scheme = SchemeOf(rest);
  if (!scheme.empty() &&
      (rest.substr(scheme.size()).starts_with("://") || makers_.contains(scheme))) {
    text.scheme = scheme;
    rest.remove_prefix(scheme.size() + 1);
    if (rest.starts_with("//")) rest.remove_prefix(2);
  } else {
    // A file name, known by its extension; "*" in its last part makes it one file per vehicle
    // of a fleet.
    const std::string_view path = rest.substr(0, rest.find('?'));
    const std::string_view name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (name.find('*') != std::string_view::npos) {
      text.scheme.assign(1, '*');
    } else if (dot != std::string_view::npos && dot > 0) {
      for (const char c : name.substr(dot)) {
        text.scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
      }
    }
  }
  if (!makers_.contains(text.scheme)) {
    const std::string kind = text.scheme.empty()            ? "file without an extension"
                             : text.scheme.starts_with('.') ? text.scheme + " file"
                                                            : text.scheme + ": output";
    throw SinkUsageError("Cannot use output \"" + text.text + "\": this build writes no " + kind +
                         " (it takes " + Forms() + ")");
  }
  const size_t question = rest.find('?');
  text.rest = rest.substr(0, question);
  if (text.rest.empty()) text.Refuse("it names nothing after \"" + text.scheme + ":\"");
  if (question != std::string_view::npos && !ReadOptions(rest.substr(question + 1), text.options)) {
    text.Refuse("its options must be NAME=VALUE joined by &, with % followed by two hex digits");
  }
  return text;
}

namespace {

// A file's folder must be there, and a pattern's fields be times in its name: mistakes in the
// text, said before anything is written.
void RefuseAFileItCannotMake(const SinkText& text) {
  if (const std::string fault = PatternFault(text.rest); !fault.empty()) text.Refuse(fault);
  const auto folder = std::filesystem::path(text.rest).parent_path();
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return;
  text.Refuse(std::filesystem::exists(folder, error) ? folder.string() + " is not a folder"
                                                     : "no folder " + folder.string());
}

}  // namespace

MadeSink SinkFactory::Make(const std::string& typed, const SinkContext& context) const {
  const SinkText text = Parse(typed);
  const Maker& maker = makers_.find(text.scheme)->second.second;
  if (!text.scheme.starts_with('.')) return maker(text, context);
  // A file: begun anew on SIGHUP, and by time when its name is a pattern.
  RefuseAFileItCannotMake(text);
  const bool pattern = text.rest.find('%') != std::string::npos;
  if (pattern && text.scheme == ".nmea") {
    text.Refuse("a log of sentences is begun anew on SIGHUP, not by time fields");
  }
  if (pattern) {
    // Its first file opens at the first fix: what its maker would refuse is refused now.
    text.OnlyOptions({"name"});
    RefuseAFleet(text, context);
  }
  auto file = std::make_shared<RotatingFile>(
      text.rest,
      [maker, text, context](const std::string& path) {
        SinkText at = text;
        at.rest = path;
        return maker(at, context);
      },
      context.failed, !context.replay);
  return MadeOf(file);
}

void SinkFactory::CheckTogether(const std::vector<std::string>& texts,
                                const std::vector<std::string>& own_files) const {
  std::vector<SinkText> files;
  for (const std::string& typed : texts) {
    SinkText text = Parse(typed);
    if (text.scheme.starts_with('.')) files.push_back(std::move(text));
  }
  for (const std::string& path : own_files) files.push_back({.text = path, .rest = path});
  std::set<std::filesystem::path> named;
  for (const SinkText& file : files) {
    RefuseAFileItCannotMake(file);
    // Two outputs writing one file would write over each other, however the paths are spelled.
    std::error_code ignored;
    const auto path = std::filesystem::weakly_canonical(
        std::filesystem::absolute(file.rest, ignored).lexically_normal(), ignored);
    if (!named.insert(path).second) file.Refuse("another output writes that file too");
  }
}

asio::ip::tcp::endpoint ServedEndpoint(const SinkText& text, uint16_t port) {
  std::string_view rest = text.rest;
  if (rest.ends_with('/')) rest.remove_suffix(1);
  std::string host = "127.0.0.1";
  const size_t bracket = rest.rfind(']');
  const size_t colon = rest.rfind(':');
  const bool has_port =
      colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
  const std::string_view host_part = has_port ? rest.substr(0, colon) : rest;
  if (has_port) {
    // Port 0 is any free one: the output's state says which it took.
    const std::string_view digits = rest.substr(colon + 1);
    const auto number = digits == "0" ? std::optional<uint16_t>(0) : PortOf(digits);
    if (!number) text.Refuse("the port must be a number from 1 to 65535, or 0 for any free one");
    port = *number;
  }
  if (!host_part.empty()) host = host_part;
  if (host == "localhost") host = "127.0.0.1";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  std::error_code not_an_address;
  const auto address = asio::ip::make_address(host, not_an_address);
  if (not_an_address) {
    text.Refuse("\"" + host +
                "\" is no address of this machine (127.0.0.1, [::1], localhost, or 0.0.0.0 for "
                "every network)");
  }
  return {address, port};
}

Listening ServedListening(const SinkText& text, uint16_t port) {
  const std::string handed = text.Option("fd");
  if (handed.empty()) return ServedEndpoint(text, port);
  const auto descriptor = ReadStrict(handed);
  if (!descriptor || *descriptor != std::floor(*descriptor) || *descriptor < 3 ||
      *descriptor > 65535) {
    text.Refuse("fd names a listening socket handed over, a descriptor from 3 on");
  }
  try {
    return Listening::Handed(static_cast<int>(*descriptor));
  } catch (const std::system_error& error) {
    text.Refuse("descriptor " + handed + " is no listening TCP socket: " + error.code().message());
  }
}

void SayOpenToTheNetwork(const SinkContext& context, const SinkText& text) {
  if (context.warn) {
    context.warn("serving " + text.text +
                 " to every network that reaches this machine, without a password");
  }
}

std::string ClientsText(size_t clients, const char* what, const asio::ip::tcp::endpoint& where) {
  return std::to_string(clients) + " " + what + " clients on " + where.address().to_string() + ":" +
         std::to_string(where.port());
}

std::string OptionValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || c == '&' || c == '?' || c == '=' || byte < 0x20 || byte == 0x7f) {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xf];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace quorvane
