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
  const auto used = streams_.Use(
      stream, [&] { return Receiver(std::string(stream), kPendingLimit, clock_); },
      [this](Receiver& oldest) { Evict(oldest); });
  if (used.made) Welcome(used.value);
  return used.value;
}

void ReceiverTable::Welcome(Receiver& receiver) {
  Apply(receiver);
  receiver.epochs.OnEpoch([this, &receiver](const Fix& fix) { on_epoch_(fix, receiver); });
  on_new_stream_(receiver);
}

// Its last cycle is reported, and its outputs ended, before it is forgotten. It is out of the
// table by then: a host may open another source inside that cycle's event.
void ReceiverTable::Evict(Receiver& receiver) {
  receiver.epochs.Finish();
  for (const auto& output : receiver.outputs) output->SourceStopped();
  Forget(receiver);
}

void ReceiverTable::Forget(const Receiver& receiver) {
  forgotten_checksum_errors_ += receiver.decoder.ChecksumErrors();
  forgotten_malformed_fields_ += receiver.epochs.MalformedFields();
}

void ReceiverTable::ForgetStreams() {
  for (const auto& [name, receiver] : streams_) Forget(receiver);
  retired_.splice(retired_.end(), streams_.TakeAll());
}

void ReceiverTable::Apply(Receiver& receiver) const {
  receiver.decoder.AllTalkers(settings_.all_talkers);
  receiver.decoder.VerifyChecksum(settings_.verify_checksum);
}

void ReceiverTable::Settings(const DecoderSettings& settings) {
  settings_ = settings;
  Apply(single_);
  for (auto& [name, receiver] : streams_) Apply(receiver);
}

void ReceiverTable::StopOutputs() {
  for (const auto& [name, receiver] : streams_) {
    for (const auto& output : receiver.outputs) output->SourceStopped();
  }
}

void ReceiverTable::FinishEpochs() {
  single_.epochs.Finish();
  for (auto& [name, receiver] : streams_) receiver.epochs.Finish();
}

uint64_t ReceiverTable::MalformedFields() const {
  uint64_t total = forgotten_malformed_fields_ + single_.epochs.MalformedFields();
  for (const auto& [name, receiver] : streams_) total += receiver.epochs.MalformedFields();
  return total;
}

double ReceiverTable::ChecksumErrors() const {
  double total = forgotten_checksum_errors_ + single_.decoder.ChecksumErrors();
  for (const auto& [name, receiver] : streams_) total += receiver.decoder.ChecksumErrors();
  return total;
}

}  // namespace quorvane
