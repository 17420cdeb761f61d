#include "control/stream_table.hpp"

namespace quorvane {

StreamTable::Stream& StreamTable::Find(std::string_view name, const NmeaDecoder& model) {
  retired_.clear();
  if (const auto found = index_.find(name); found != index_.end()) {
    streams_.splice(streams_.begin(), streams_, found->second);
    return *found->second;
  }
  if (index_.size() >= kMaxStreams) {
    Stream& oldest = streams_.back();
    oldest.epochs.Finish();  // its last cycle is reported before it is forgotten
    forgotten_checksum_errors_ += oldest.decoder.ChecksumErrors();
    forgotten_malformed_fields_ += oldest.epochs.MalformedFields();
    index_.erase(oldest.name);
    streams_.pop_back();
  }
  Stream& made = streams_.emplace_front(std::string(name), clock_);
  made.decoder.AllTalkers(model.AllTalkers());
  made.decoder.VerifyChecksum(model.VerifyChecksum());
  made.epochs.OnEpoch([this, stream = &made.name](const Fix& fix) { on_epoch_(fix, *stream); });
  index_.emplace(made.name, streams_.begin());
  return made;
}

void StreamTable::Clear() {
  forgotten_checksum_errors_ = ChecksumErrors();
  forgotten_malformed_fields_ = MalformedFields();
  index_.clear();
  retired_.splice(retired_.end(), streams_);
}

void StreamTable::ForEachDecoder(const std::function<void(NmeaDecoder&)>& change) {
  for (Stream& stream : streams_) change(stream.decoder);
}

void StreamTable::FinishEpochs() {
  for (Stream& stream : streams_) stream.epochs.Finish();
}

uint64_t StreamTable::MalformedFields() const {
  uint64_t total = forgotten_malformed_fields_;
  for (const Stream& stream : streams_) total += stream.epochs.MalformedFields();
  return total;
}

double StreamTable::ChecksumErrors() const {
  double total = forgotten_checksum_errors_;
  for (const Stream& stream : streams_) total += stream.decoder.ChecksumErrors();
  return total;
}

}  // namespace quorvane
