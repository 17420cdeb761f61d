#include "sinks/nmea_log.hpp"

#include "sinks/sink_factory.hpp"

namespace quorvane {

std::string NmeaLog::Open(const std::string& path) {
  if (file_.Open(path)) return {};
  return file_.TakeFailure();
}

void NmeaLog::TakeSentence(std::string_view sentence, const std::string&) {
  if (!file_.IsOpen()) return;
  // The sentence ends at its CR: the line end a receiver sends is made whole again.
  if (sentence.ends_with('\r')) sentence.remove_suffix(1);
  file_.Write(sentence);
  file_.Write("\r\n");
}

void NmeaLog::EndOfBlock() {
  if (!file_.IsOpen()) return;
  file_.Flush();
  SayFailure();
}

void NmeaLog::SayFailure() {
  if (std::string failure = file_.TakeFailure(); !failure.empty() && on_failure_) {
    on_failure_(failure);
  }
}

std::vector<std::string> NmeaLog::Close() {
  if (!file_.IsOpen()) return {};
  file_.Close();
  std::string failure = file_.TakeFailure();
  if (failure.empty()) return {};
  return {failure};
}

void RegisterNmeaLogSinks(SinkFactory& factory) {
  factory.Register(".nmea", "LOG.nmea (every sentence received, as received)",
                   [](const SinkText& text, const SinkContext& context) {
                     // A fleet names each vehicle's file; a log has no name to put it in.
                     text.OnlyOptions({"name"});
                     auto log = std::make_shared<NmeaLog>();
                     if (std::string failure = log->Open(text.rest); !failure.empty()) {
                       throw std::runtime_error(failure);
                     }
                     log->OnFailure(context.failed);
                     return MadeOf(log);
                   });
}

}  // namespace quorvane
