#include "receiver/receiver_table.hpp"

namespace quorvane {

ReceiverTable::ReceiverTable(std::function<ClockReading()> clock, EpochHandler on_epoch,
                             NewStreamHandler on_new_stream)
    : clock_(std::move(clock)),
      on_epoch_(std::move(on_epoch)),
      on_new_stream_(std::move(on_new_stream)),
      single_({}, LineAssembler::kDefaultPendingLimit, clock_) {
  single_.epochs.OnEpoch([this](const Fix& fix) { on_epoch_(fix, single_); });
}

Receiver& ReceiverTable::Find(std::string_view stream) {
  if (stream.empty()) return single_;
  retired_.clear();
  if (const auto found = index_.find(stream); found != index_.end()) {
    streams_.splice(streams_.begin(), streams_, found->second);
    return *found->second;
  }
  if (index_.size() >= kMaxStreams) {
    Receiver& oldest = streams_.back();
    // Its last cycle is reported, and its outputs ended, before it is forgotten.
    oldest.epochs.Finish();
    for (const auto& output : oldest.outputs) output->SourceStopped();
    Forget(oldest);
    index_.erase(oldest.name);
    streams_.pop_back();
  }
  Receiver& made = streams_.emplace_front(std::string(stream), kPendingLimit, clock_);
  Apply(made);
  made.epochs.OnEpoch([this, &made](const Fix& fix) { on_epoch_(fix, made); });
  index_.emplace(made.name, streams_.begin());
  on_new_stream_(made);
  return made;
}

void ReceiverTable::Forget(const Receiver& receiver) {
  forgotten_checksum_errors_ += receiver.decoder.ChecksumErrors();
  forgotten_malformed_fields_ += receiver.epochs.MalformedFields();
}

void ReceiverTable::ForgetStreams() {
  for (const Receiver& receiver : streams_) Forget(receiver);
  index_.clear();
  retired_.splice(retired_.end(), streams_);
}

void ReceiverTable::Apply(Receiver& receiver) const {
  receiver.decoder.AllTalkers(settings_.all_talkers);
  receiver.decoder.VerifyChecksum(settings_.verify_checksum);
}

void ReceiverTable::Settings(const DecoderSettings& settings) {
  settings_ = settings;
  Apply(single_);
  for (Receiver& receiver : streams_) Apply(receiver);
}

void ReceiverTable::StopOutputs() {
  for (Receiver& receiver : streams_) {
    for (const auto& output : receiver.outputs) output->SourceStopped();
  }
}

void ReceiverTable::FinishEpochs() {
  single_.epochs.Finish();
  for (Receiver& receiver : streams_) receiver.epochs.Finish();
}

uint64_t ReceiverTable::MalformedFields() const {
  uint64_t total = forgotten_malformed_fields_ + single_.epochs.MalformedFields();
  for (const Receiver& receiver : streams_) total += receiver.epochs.MalformedFields();
  return total;
}

double ReceiverTable::ChecksumErrors() const {
  double total = forgotten_checksum_errors_ + single_.decoder.ChecksumErrors();
  for (const Receiver& receiver : streams_) total += receiver.decoder.ChecksumErrors();
  return total;
}

}  // namespace quorvane
