#include "sinks/gpsd_server.hpp"

#include <algorithm>
#include <variant>

#include <nlohmann/json.hpp>

#include "base/version.hpp"
#include "platform/source_address.hpp"
#include "sinks/gpsd_json.hpp"

namespace quorvane {
namespace {

using nlohmann::json;
// Written in the order gpsd writes them, "class" first.
using ordered = nlohmann::ordered_json;

// The protocol version of gpsd 3.22's clients, which they check.
constexpr int kProtoMajor = 3;
constexpr int kProtoMinor = 14;

// A client's own text goes back to it in an ERROR cut short and as valid JSON whatever it was.
std::string Dump(const ordered& object) {
  return object.dump(-1, ' ', false, ordered::error_handler_t::replace) + "\r\n";
}

std::string ErrorObject(const std::string& message) {
  return Dump({{"class", "ERROR"}, {"message", message}});
}

std::string Quoted(std::string_view text) {
  constexpr size_t kMostShown = 40;
  // Appended, not "'" + text: GCC 12 warns falsely on that.
  std::string quoted(1, '\'');
  quoted.append(text.substr(0, kMostShown));
  quoted.append(text.size() > kMostShown ? "...'" : "'");
  return quoted;
}

std::string NowIso() {
  const auto now = std::chrono::system_clock::now();
  const auto day = std::chrono::floor<std::chrono::days>(now);
  const std::chrono::year_month_day date(day);
  return IsoTimeText(
      CalendarDate{static_cast<int>(date.year()), static_cast<int>(unsigned(date.month())),
                   static_cast<int>(unsigned(date.day()))},
      UtcTime{std::chrono::duration_cast<std::chrono::microseconds>(now - day).count()});
}

bool WantsJson(const GpsdServer::Watch& watch) {
  return watch.enable && watch.json;
}

bool WantsSentences(const GpsdServer::Watch& watch) {
  return watch.enable && (watch.nmea || watch.raw > 0);
}

ordered WatchObject(const GpsdServer::Watch& watch) {
  ordered object{{"class", "WATCH"},   {"enable", watch.enable}, {"json", watch.json},
                 {"nmea", watch.nmea}, {"raw", watch.raw},       {"scaled", false},
                 {"timing", false},    {"split24", false},       {"pps", false}};
  if (!watch.device.empty()) object["device"] = watch.device;
  return object;
}

// The watch a ?WATCH argument asks for, or what is wrong with it. Keys a newer client may send
// (scaled, timing, pps, ...) are taken and have no effect.
std::variant<GpsdServer::Watch, std::string> ChangedWatch(GpsdServer::Watch watch,
                                                          std::string_view argument) {
  const json request = json::parse(argument, nullptr, false);
  if (!request.is_object()) return "Invalid WATCH: not a JSON object";
  bool format_given = false;
  for (const auto& [key, value] : request.items()) {
    if (key == "enable" || key == "json" || key == "nmea") {
      if (!value.is_boolean()) return "Invalid WATCH: \"" + key + "\" wants true or false";
      bool& flag = key == "enable" ? watch.enable : key == "json" ? watch.json : watch.nmea;
      flag = value.get<bool>();
      format_given = format_given || key != "enable";
    } else if (key == "raw") {
      if (value.is_boolean()) {
        watch.raw = value.get<bool>() ? 1 : 0;
      } else if (value.is_number_integer() && value.get<int64_t>() >= 0 &&
                 value.get<int64_t>() <= 2) {
        watch.raw = value.get<int>();
      } else {
        return "Invalid WATCH: \"raw\" wants 0, 1 or 2";
      }
      format_given = true;
    } else if (key == "device") {
      if (!value.is_string()) return "Invalid WATCH: \"device\" wants a path";
      watch.device = value.get<std::string>();
    }
  }
  // Watching without saying how is watching the JSON reports, as gpsd takes it.
  if (watch.enable && !format_given && !watch.nmea && watch.raw == 0) watch.json = true;
  return watch;
}

}  // namespace

GpsdServer::Device::Device(std::string device_path)
    : path(std::move(device_path)), activated(NowIso()) {}

GpsdServer::GpsdServer(asio::io_context& io, const Listening& where, std::string receiver,
                       StreamStates& streams)
    : receiver_(std::move(receiver)),
      streams_(streams),
      slot_(streams.NewSlot()),
      clients_(io, where, kMostWaiting,
               {.connected =
                    [this](ClientId id) {
                      client_states_[id];
                      Reply(id, VersionObject());
                    },
                .received = [this](ClientId id, std::string_view piece) { Receive(id, piece); },
                .closed = [this](ClientId id) { client_states_.erase(id); }}),
      where_(where.where.address(), clients_.Port()) {
  // The one receiver is a device from the start, as a gpsd's open device is.
  if (!receiver_.empty()) DeviceOf({});
}

GpsdServer::Device& GpsdServer::DeviceOf(const std::string& stream) {
  const std::string& path = stream.empty() ? receiver_ : stream;
  return streams_.Kept<Device>(slot_, stream, [&path] { return std::make_unique<Device>(path); });
}

void GpsdServer::TakeSentence(std::string_view sentence, const std::string& stream) {
  const bool anyone_wants =
      std::any_of(client_states_.begin(), client_states_.end(),
                  [](const auto& entry) { return WantsSentences(entry.second.watch); });
  if (!anyone_wants) return;
  std::string line(sentence);  // up to its CR
  line += '\n';
  SendToWatchers(DeviceOf(stream).path, line, WantsSentences);
}

void GpsdServer::TakeEpoch(const Fix& fix, const std::string& stream) {
  Device& device = DeviceOf(stream);
  device.last = fix;
  std::string reports = TpvJson(fix, device.path) + "\r\n";
  if (HasSky(fix)) reports += SkyJson(fix, device.path) + "\r\n";
  SendToWatchers(device.path, reports, WantsJson);
}

void GpsdServer::SendToWatchers(const std::string& device, const std::string& text,
                                bool (*wants)(const Watch&)) {
  std::vector<ClientId> watchers;
  for (const auto& [id, client] : client_states_) {
    if (wants(client.watch) && (client.watch.device.empty() || client.watch.device == device)) {
      watchers.push_back(id);
    }
  }
  if (watchers.empty()) return;
  const auto shared = std::make_shared<const std::string>(text);
  // A client cut for its queue leaves the table: the ids were taken first.
  for (const ClientId id : watchers) clients_.SendTo(id, shared);
}

void GpsdServer::Reply(ClientId id, std::string text) {
  clients_.SendTo(id, std::make_shared<const std::string>(std::move(text)));
}

void GpsdServer::Receive(ClientId id, std::string_view piece) {
  // Commands end at ";" or a line end; the piece's commands are cut out before any is answered,
  // since answering may cut the client.
  std::vector<std::string> commands;
  {
    Client& client = client_states_[id];
    for (const char c : piece) {
      if (c == ';' || c == '\n') {
        if (!client.skipping && !client.command.empty()) commands.push_back(client.command);
        client.command.clear();
        client.skipping = false;
      } else if (c == '\r' || client.skipping) {
        continue;
      } else if (client.command.size() == kLongestCommand) {
        commands.emplace_back();  // said as too long
        client.command.clear();
        client.skipping = true;
      } else {
        client.command += c;
      }
    }
  }
  for (const std::string& command : commands) {
    if (!client_states_.contains(id)) return;
    if (command.empty()) {
      Reply(id, ErrorObject("Request longer than " + std::to_string(kLongestCommand) +
                            " characters: ignored"));
    } else {
      Answer(id, command);
    }
  }
}

void GpsdServer::Answer(ClientId id, std::string_view command) {
  const size_t equals = command.find('=');
  const std::string_view name = command.substr(0, equals);
  if (name == "?VERSION") {
    Reply(id, VersionObject());
  } else if (name == "?DEVICES") {
    Reply(id, DevicesObject());
  } else if (name == "?WATCH") {
    if (equals == std::string_view::npos) {
      Reply(id, Dump(WatchObject(client_states_[id].watch)));
    } else {
      ChangeWatch(id, command.substr(equals + 1));
    }
  } else if (name == "?POLL") {
    Reply(id, PollObject());
  } else {
    Reply(id, ErrorObject("Unrecognized request " + Quoted(command)));
  }
}

void GpsdServer::ChangeWatch(ClientId id, std::string_view argument) {
  Watch& watch = client_states_[id].watch;
  auto changed = ChangedWatch(watch, argument);
  if (const auto* failure = std::get_if<std::string>(&changed)) {
    Reply(id, ErrorObject(*failure));
    return;
  }
  watch = std::get<Watch>(std::move(changed));
  // gpsd's order: the devices, then the watch as it now stands.
  if (watch.enable) Reply(id, DevicesObject());
  Reply(id, Dump(WatchObject(watch)));
}

std::string GpsdServer::VersionObject() const {
  return Dump({{"class", "VERSION"},
               {"release", ControlVersion()},
               {"rev", "quorvane-gps " + ControlVersion()},
               {"proto_major", kProtoMajor},
               {"proto_minor", kProtoMinor}});
}

std::string GpsdServer::DevicesObject() {
  ordered list = ordered::array();
  streams_.Visit(slot_, [&list](const std::string&, StreamState& state) {
    const auto& device = static_cast<const Device&>(state);
    list.push_back({{"class", "DEVICE"},
                    {"path", device.path},
                    {"driver", "NMEA0183"},
                    {"activated", device.activated},
                    {"flags", 1},  // a GNSS receiver's
                    {"native", 0}});
    return list.size() < kMostListed;
  });
  return Dump({{"class", "DEVICES"}, {"devices", std::move(list)}});
}

std::string GpsdServer::PollObject() {
  std::vector<DeviceEpoch> epochs;
  streams_.Visit(slot_, [&epochs](const std::string&, StreamState& state) {
    const auto& device = static_cast<const Device&>(state);
    if (device.last) epochs.push_back({&*device.last, device.path});
    return epochs.size() < kMostListed;
  });
  return PollJson(epochs, NowIso()) + "\r\n";
}

void RegisterGpsdSinks(SinkFactory& factory) {
  factory.Register(
      "gpsd",
      "gpsd://[HOST][:PORT][?device=NAME&fd=N] (gpsd's protocol served, 2947 by default; "
      "fd: on a socket handed over)",
      [](const SinkText& text, const SinkContext& context) {
        text.OnlyOptions({"device", "fd"});
        // A fleet's vehicles are devices of their own: the unnamed stream is no device
        // then.
        const std::string receiver =
            text.Option("device", context.fleet.empty() ? context.source : "");
        return MadeOf(Serve<GpsdServer>(text, context, ServedListening(text, kGpsdPort), receiver,
                                        context.streams));
      });
}

}  // namespace quorvane
