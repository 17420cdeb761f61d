#pragma once
// Turns what a user typed into the output it names, the twin of the SourceFactory:
//   TRACK.kml .gpx .geojson .csv     the receiver's track (a KML placemark per fix, GPX 1.1,
//                                    RFC 7946, a line per fix)
//   LOG.nmea                         every sentence received, as received
//   FOLDER/*.kml (any of the above)  a file per vehicle of a fleet, "*" its name
//   udp://HOST:PORT                  the received text rebroadcast as datagrams
//   tcp://[HOST]:PORT                the received text served to TCP clients (10110)
//   gpsd://[HOST][:PORT]             gpsd's JSON protocol served (2947)
//   http://[HOST][:PORT]             the live map served to browsers (8080)
//   shm:UNIT                         each epoch's time for chrony, in NTP shared memory
//   json:-  json:FILE                gpsd's TPV and SKY, a line each, on standard output or a file
//   mqtt://[USER[:PASSWORD]@]HOST[:PORT][,HOST...]/PREFIX, mqtts://...   published to a broker
// Servers listen on 127.0.0.1 unless a host is given; port 0 is any free one, which the output's
// state then names. Options follow a "?" as NAME=VALUE joined
// by "&", "%" escapes allowed ("track.gpx?name=Morning%20drive"); each kind names its own.
// Each kind registers a maker for its scheme (or a file name's extension, ".gpx"), beside its
// sink; a new kind is its own files and one line in KnownSinks.

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "platform/platform.hpp"
#include "platform/tcp_clients.hpp"
#include "receiver/sinks.hpp"
#include "sinks/output.hpp"

namespace quorvane {

// A text that names no output, or one that cannot be opened as asked (a missing folder, a port
// in use): the user's mistake, said before anything runs.
class SinkUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a user typed, cut into its parts.
struct SinkText {
  std::string text{};  // as it may be shown (a password as "***")
  // "udp", "gpsd", ...; a file name's extension (".gpx"), "*" for a file per vehicle
  std::string scheme{};
  std::string rest{};  // after "SCHEME://" or "SCHEME:", or the path, before the options
  std::map<std::string, std::string> options{};

  // An option's value, or `otherwise`.
  std::string Option(const std::string& name, const std::string& otherwise = {}) const;
  // The options not in `known` are refused, naming the first.
  void OnlyOptions(std::initializer_list<std::string_view> known) const;
  // "Cannot use OUTPUT: WHY" as a usage error.
  [[noreturn]] void Refuse(const std::string& why) const;
};

// What a maker may use beyond the text.
struct SinkContext {
  asio::io_context& io;
  Platform& platform;
  // The control's table of streams, where an output keeps what it keeps per stream.
  StreamStates& streams;
  // The source's address as it may be shown (empty before one opened): a fleet's files are named
  // by its topic filter, a server's device by it.
  std::string source{};
  // The topic filter that names a fleet's vehicles (its streams) when the source carries one;
  // empty for a source of one receiver.
  std::string fleet{};
  // The source plays a recording back: its times are not now.
  bool replay = false;
  // A failure of the output while it runs, to be said once; the others go on.
  std::function<void(const std::string&)> failed{};
  // What the user should know that is no failure (a server open to the network).
  std::function<void(const std::string&)> warn{};
};

// An output, as the receive path takes it: each pointer that is set is added.
struct MadeSink {
  std::shared_ptr<Output> output{};
  std::shared_ptr<EpochSink> epochs{};
  std::shared_ptr<BlockSink> blocks{};
  std::shared_ptr<StreamSinkMaker> streams{};
};

// `sink` as each of the interfaces it has.
template <typename Sink>
MadeSink MadeOf(const std::shared_ptr<Sink>& sink) {
  MadeSink made;
  made.output = sink;
  if constexpr (std::is_base_of_v<EpochSink, Sink>) made.epochs = sink;
  if constexpr (std::is_base_of_v<BlockSink, Sink>) made.blocks = sink;
  if constexpr (std::is_base_of_v<StreamSinkMaker, Sink>) made.streams = sink;
  return made;
}

class SinkFactory {
 public:
  // A maker throws SinkUsageError for a text it cannot take, std::runtime_error for an output
  // that cannot be opened (a file that cannot be written).
  using Maker = std::function<MadeSink(const SinkText& text, const SinkContext& context)>;

  // `form` is what users are told to type ("gpsd://[HOST][:PORT]").
  void Register(std::string scheme, std::string form, Maker maker);
  // The text cut into its parts; throws SinkUsageError when it cannot be, or names no kind.
  SinkText Parse(const std::string& text) const;
  // The output `text` names, opened.
  MadeSink Make(const std::string& text, const SinkContext& context) const;
  // Throws SinkUsageError, before anything opens, when the outputs one run would make cannot all
  // be made: a text that names none, a file whose folder is missing, a file named twice (among
  // them and the files the host writes itself, `own_files`).
  void CheckTogether(const std::vector<std::string>& texts,
                     const std::vector<std::string>& own_files = {}) const;

 private:
  std::map<std::string, std::pair<std::string, Maker>, std::less<>> makers_;
  std::string Forms() const;
};

// Every kind of output this build knows.
const SinkFactory& KnownSinks();

// The address of a server's text, "[HOST][:PORT]" (an IPv6 host in brackets, "localhost" as
// 127.0.0.1), on 127.0.0.1 and `port` unless given; throws SinkUsageError.
asio::ip::tcp::endpoint ServedEndpoint(const SinkText& text, uint16_t port);
// Makes a server on `where`: a port that cannot be listened on is a usage error; one open to
// other machines is said (anyone reaching it reads every position, without a password).
template <typename Server, typename... More>
std::shared_ptr<Server> Serve(const SinkText& text, const SinkContext& context,
                              const Listening& where, More&&... more);
// Where a TCP server of `text` listens: on the socket handed over as its "fd" option (a service
// manager's socket activation), or on its address (ServedEndpoint).
Listening ServedListening(const SinkText& text, uint16_t port);
// "2 gpsd clients on 127.0.0.1:2947".
std::string ClientsText(size_t clients, const char* what, const asio::ip::tcp::endpoint& where);
// The text as a sink's option value: "%", "&", "?" and control characters escaped.
std::string OptionValue(std::string_view value);

// The registrations of the kinds, each beside its sink.
void RegisterGpxSinks(SinkFactory& factory);
void RegisterGeoJsonSinks(SinkFactory& factory);
void RegisterCsvSinks(SinkFactory& factory);
void RegisterKmlSinks(SinkFactory& factory);
void RegisterNmeaLogSinks(SinkFactory& factory);
void RegisterFleetSinks(SinkFactory& factory);
void RegisterRelaySinks(SinkFactory& factory);
void RegisterNmeaServerSinks(SinkFactory& factory);
void RegisterGpsdSinks(SinkFactory& factory);
void RegisterWebMapSinks(SinkFactory& factory);
void RegisterTimeSinks(SinkFactory& factory);
void RegisterJsonSinks(SinkFactory& factory);
void RegisterTextSinks(SinkFactory& factory);
void RegisterMqttSinks(SinkFactory& factory);
void RegisterNatsSinks(SinkFactory& factory);

// Said when a server listens beyond this machine.
void SayOpenToTheNetwork(const SinkContext& context, const SinkText& text);

template <typename Server, typename... More>
std::shared_ptr<Server> Serve(const SinkText& text, const SinkContext& context,
                              const Listening& where, More&&... more) {
  std::shared_ptr<Server> server;
  try {
    server = std::make_shared<Server>(context.io, where, std::forward<More>(more)...);
  } catch (const std::system_error& error) {
    text.Refuse(error.code().message());
  }
  if (!where.where.address().is_loopback()) SayOpenToTheNetwork(context, text);
  if constexpr (requires { server->OnAcceptFailure(nullptr); }) {
    server->OnAcceptFailure([warn = context.warn, name = text.text](const std::string& failure) {
      if (warn) warn("serving " + name + ": " + failure);
    });
  }
  return server;
}

}  // namespace quorvane
