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

Receiver& ReceiverTable::Hear(std::string_view stream) {
  if (stream.empty()) return single_;
  return Make(stream);
}

Receiver& ReceiverTable::Make(std::string_view stream) {
  const auto used = streams_.Use(
      stream, [&] { return Receiver(std::string(stream), kPendingLimit, clock_); },
      [this](Receiver& oldest) { Evict(oldest); });
  if (used.made) Welcome(used.value);
  return used.value;
}

Receiver* ReceiverTable::Known(const std::string& stream) {
  if (stream.empty()) return &single_;
  // The stream being forgotten reports its last cycle from outside the table.
  if (evicting_ != nullptr && evicting_->name == stream) return evicting_;
  return streams_.Find(stream);
}

std::unique_ptr<StreamState>& ReceiverTable::Slot(size_t slot, const std::string& stream) {
  // A stream's blocks make it known before any sink hears of it; a sink fed by hand (a test, a
  // host of its own) makes it known here.
  Receiver* receiver = Known(stream);
  if (receiver == nullptr) receiver = &Make(stream);
  if (receiver->states.size() <= slot) receiver->states.resize(slot + 1);
  return receiver->states[slot];
}

StreamState* ReceiverTable::Find(size_t slot, const std::string& stream) {
  const Receiver* receiver = Known(stream);
  if (receiver == nullptr || receiver->states.size() <= slot) return nullptr;
  return receiver->states[slot].get();
}

void ReceiverTable::Visit(size_t slot, const Visitor& visit) {
  const auto visit_one = [&](Receiver& receiver) {
    if (receiver.states.size() <= slot || !receiver.states[slot]) return true;
    return visit(receiver.name, *receiver.states[slot]);
  };
  for (auto& [name, receiver] : streams_) {
    if (!visit_one(receiver)) return;
  }
  visit_one(single_);
}

void ReceiverTable::Welcome(Receiver& receiver) {
  Apply(receiver);
  receiver.epochs.OnEpoch([this, &receiver](const Fix& fix) { on_epoch_(fix, receiver); });
  on_new_stream_(receiver);
}

// Its last cycle is reported, and its outputs ended, before it is forgotten. It is out of the
// table by then: a host may open another source inside that cycle's event.
void ReceiverTable::Evict(Receiver& receiver) {
  evicting_ = &receiver;
  receiver.epochs.Finish();
  evicting_ = nullptr;
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
