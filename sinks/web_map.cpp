#include "sinks/web_map.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text_rules.hpp"
#include "sinks/gpsd_json.hpp"
#include "sinks/web_assets.hpp"

namespace quorvane {
namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (!file.good() && !file.eof()) throw std::runtime_error("cannot read " + path);
  if (text.empty()) {
    throw std::runtime_error("cannot read " + path + " (Debian's libjs-leaflet has it)");
  }
  return text;
}

std::map<std::string, WebFile> PageFiles(const WebMapSettings& settings) {
  const std::string html = "text/html; charset=utf-8";
  const std::string script = "text/javascript; charset=utf-8";
  const std::string style = "text/css; charset=utf-8";
  return {{"/", {html, std::string(kWebIndexHtml)}},
          {"/index.html", {html, std::string(kWebIndexHtml)}},
          {"/map.js", {script, std::string(kWebMapJs)}},
          {"/map.css", {style, std::string(kWebMapCss)}},
          {"/leaflet/leaflet.js", {script, ReadWhole(settings.leaflet_folder + "/leaflet.js")}},
          {"/leaflet/leaflet.css", {style, ReadWhole(settings.leaflet_folder + "/leaflet.css")}}};
}

std::shared_ptr<const std::string> Shared(std::string text) {
  return std::make_shared<const std::string>(std::move(text));
}

void AppendNumber(std::string& text, double value, int decimals) {
  char digits[32];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  text.append(digits, result.ptr);
}

// "a.example,b.example" as its names.
std::vector<std::string> NamesOf(const std::string& list) {
  std::vector<std::string> names;
  for (const std::string_view name : Pieces(list, ',')) {
    if (!name.empty()) names.emplace_back(name);
  }
  return names;
}

}  // namespace

WebMap::WebMap(asio::io_context& io, const Listening& where, WebMapSettings settings,
               StreamStates& streams)
    : settings_(std::move(settings)),
      streams_(streams),
      slot_(streams.NewSlot()),
      address_(where.where.address()) {
  transport_ = std::make_unique<WebTransport>(
      io, where.where, where.descriptor, PageFiles(settings_),
      WebPageHandlers{
          .opened = [this](uint64_t page) { Open(page); },
          .received = [this](uint64_t page, const std::string& message) { Follow(page, message); },
          .closed = [this](uint64_t page) { followed_.erase(page); }},
      settings_.host_names);
}

void WebMap::TakeEpoch(const Fix& fix, const std::string& stream) {
  const std::string& device = stream.empty() ? settings_.receiver : stream;
  auto& vehicle = streams_.Kept<Vehicle>(slot_, stream, [] { return std::make_unique<Vehicle>(); });
  vehicle.tpv = Shared(TpvJson(fix, device));
  if (fix.HasFix()) {
    vehicle.last_fix = IsoTimeText(fix);
    vehicle.fix_heard = std::chrono::steady_clock::now();
  }
  Extend(vehicle, fix);
  // A page cut for its queue leaves the table: the pages are taken first.
  std::vector<std::pair<uint64_t, bool>> pages;
  bool followed = false;
  for (const auto& [page, follows] : followed_) {
    pages.emplace_back(page, follows == device);
    followed = followed || follows == device;
  }
  // A fleet's sky is written only for the vehicles pages follow (a page that starts following
  // one has its sky with the next epoch); the one receiver's is kept for every page to come.
  const bool sky = HasSky(fix) && (followed || !settings_.receiver.empty());
  vehicle.sky = sky ? Shared(SkyJson(fix, device)) : nullptr;
  for (const auto& [page, follows] : pages) {
    transport_->Send(page, vehicle.tpv);
    if (follows && sky) transport_->Send(page, vehicle.sky);
  }
}

void WebMap::Extend(Vehicle& vehicle, const Fix& fix) const {
  const size_t most = settings_.receiver.empty() ? kVehicleTrack : kReceiverTrack;
  if (fix.HasFix() && fix.latitude && fix.longitude) {
    vehicle.track.push_back(Point{static_cast<int32_t>(std::lround(*fix.latitude * 1e7)),
                                  static_cast<int32_t>(std::lround(*fix.longitude * 1e7))});
  } else if (!vehicle.track.empty() && vehicle.track.back()) {
    vehicle.track.push_back(std::nullopt);  // the track breaks where the fix was lost
  }
  while (vehicle.track.size() > most) vehicle.track.pop_front();
}

void WebMap::Open(uint64_t page) {
  followed_[page] = settings_.receiver;
  const nlohmann::ordered_json hello{{"class", "HELLO"},
                                     {"receiver", settings_.receiver},
                                     {"tiles", settings_.tiles},
                                     {"attribution", settings_.attribution}};
  transport_->Send(page,
                   Shared(hello.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
  size_t sent = 0;
  streams_.Visit(slot_, [&](const std::string&, StreamState& vehicle) {
    transport_->Send(page, Shared(LastObject(static_cast<const Vehicle&>(vehicle))));
    return ++sent < kMostSent;
  });
  if (!settings_.receiver.empty()) SendFollowed(page, settings_.receiver);
}

// A vehicle's last epoch for a page that just opened, with the time of its last fix and how long
// ago that came: {"class":"LAST","age":12.5,"last_fix":"...","tpv":{...}}.
std::string WebMap::LastObject(const Vehicle& vehicle) {
  std::string last = R"({"class":"LAST")";
  if (vehicle.fix_heard) {
    last += R"(,"age":)";
    AppendNumber(
        last,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - *vehicle.fix_heard)
            .count(),
        1);
    last += R"(,"last_fix":)" + JsonQuoted(vehicle.last_fix);
  }
  last += R"(,"tpv":)";
  last += *vehicle.tpv;
  last += '}';
  return last;
}

void WebMap::Follow(uint64_t page, const std::string& message) {
  // A fleet's page asks to follow one vehicle: {"follow":"fleet/car7/nmea"}.
  if (!settings_.receiver.empty()) return;
  const auto request = nlohmann::json::parse(message, nullptr, false);
  if (!request.is_object() || !request.contains("follow") || !request["follow"].is_string()) {
    return;
  }
  const std::string device = request["follow"].get<std::string>();
  followed_[page] = device;
  SendFollowed(page, device);
}

void WebMap::SendFollowed(uint64_t page, const std::string& device) {
  // The one receiver's stream has no name; a fleet's vehicle is its stream.
  const std::string stream = device == settings_.receiver ? std::string() : device;
  const auto* vehicle = static_cast<const Vehicle*>(streams_.Find(slot_, stream));
  if (vehicle == nullptr) return;
  transport_->Send(page, Shared(TrackObject(device, *vehicle)));
  if (vehicle->sky) transport_->Send(page, vehicle->sky);
}

std::string WebMap::TrackObject(const std::string& device, const Vehicle& vehicle) const {
  std::string track = R"({"class":"TRACK","device":)" + JsonQuoted(device) + R"(,"points":[)";
  bool first = true;
  for (const auto& point : vehicle.track) {
    if (!first) track += ',';
    first = false;
    if (!point) {
      track += "null";
      continue;
    }
    track += '[';
    AppendNumber(track, point->latitude / 1e7, 7);
    track += ',';
    AppendNumber(track, point->longitude / 1e7, 7);
    track += ']';
  }
  track += "]}";
  return track;
}

void RegisterWebMapSinks(SinkFactory& factory) {
  factory.Register(
      "http",
      "http://"
      "[HOST][:PORT][?device=NAME&tiles=URL-TEMPLATE|none&attribution=CREDIT&hosts=NAME,...] "
      "(the live map served, 8080 by default; pages may use its addresses, localhost and the "
      "hosts' names)",
      [](const SinkText& text, const SinkContext& context) {
        text.OnlyOptions({"device", "tiles", "attribution", "hosts", "fd"});
        WebMapSettings settings{
            .receiver = text.Option("device", context.fleet.empty() ? context.source : ""),
            .tiles = text.Option("tiles", kOpenStreetMapTiles),
            .attribution = text.Option("attribution", kOpenStreetMapCredit),
            .host_names = NamesOf(text.Option("hosts"))};
        if (settings.tiles == "none") settings.tiles.clear();
        return MadeOf(
            Serve<WebMap>(text, context, ServedListening(text, 8080), settings, context.streams));
      });
}

}  // namespace quorvane
