#include "receiver/receive_path.hpp"

#include <algorithm>

namespace quorvane {
namespace {

// Calls `take` on each sink of the list. A handler may add or remove sinks inside a block: each
// sink is held while it is called, and one added meanwhile is called too.
template <typename Sink, typename Take>
void ForEach(const std::vector<std::shared_ptr<Sink>>& sinks, Take take) {
  for (size_t i = 0; i < sinks.size(); ++i) {
    const std::shared_ptr<Sink> held = sinks[i];
    take(*held);
  }
}

}  // namespace

ReceivePath::ReceivePath(std::function<ClockReading()> clock, Events events)
    : events_(std::move(events)),
      receivers_(
          std::move(clock),
          [this](const Fix& fix, Receiver& receiver) { RaiseEpoch(fix, receiver); },
          [this](Receiver& receiver) { MakeOutputs(receiver); }) {}

void ReceivePath::MakeOutputs(Receiver& receiver) {
  for (const auto& maker : makers_) {
    if (auto output = maker->MakeFor(receiver.name)) receiver.outputs.push_back(std::move(output));
  }
}

void ReceivePath::Remove(const EpochSink* sink) {
  std::erase_if(epoch_sinks_, [sink](const auto& added) { return added.get() == sink; });
}

void ReceivePath::Remove(const BlockSink* sink) {
  std::erase_if(block_sinks_, [sink](const auto& added) { return added.get() == sink; });
}

size_t ReceivePath::VisitRecentStreams(size_t most, const StreamVisitor& visit) const {
  const auto& streams = receivers_.RecentStreams();
  for (auto it = streams.begin(); it != streams.end() && most > 0; ++it, --most) {
    visit(it->first, it->second.epochs.LastEpoch());
  }
  return streams.Size();
}

void ReceivePath::Restart() {
  current_ = &receivers_.Single();
  DropPendingText();
  receivers_.ForgetStreams();
}

Receiver& ReceivePath::Enter(std::string_view stream) {
  // A block taken inside another's event (a host opening a source there) leaves the outer
  // block's receiver alone.
  if (taking_ == 0) receivers_.DropForgotten();
  ++taking_;
  Receiver& receiver = receivers_.Hear(stream);
  current_ = &receiver;
  return receiver;
}

void ReceivePath::EndOfBlock(Receiver& receiver) {
  for (const auto& output : receiver.outputs) output->EndOfBlock();
  ForEach(epoch_sinks_, [](EpochSink& sink) { sink.EndOfBlock(); });
}

void ReceivePath::HandGga(Receiver& receiver, const FixRecord& fix) {
  // The time text's room goes with the GGA and comes back: no allocation for each.
  DecodedGga gga{fix, std::move(gga_time_)};
  for (const auto& output : receiver.outputs) output->TakeGga(gga);
  ForEach(epoch_sinks_, [&](EpochSink& sink) { sink.TakeGga(gga); });
  gga_time_ = std::move(gga.time);
}

void ReceivePath::Take(std::string block, std::string_view stream, bool from_network) {
  Receiver& receiver = Enter(stream);
  receiver.lines.Feed(block, [&](std::string_view sentence) { TakeSentence(receiver, sentence); });
  EndOfBlock(receiver);
  if (events_.block) events_.block(block);
  const BlockOrigin origin{receiver.name, from_network};
  ForEach(block_sinks_, [&](BlockSink& sink) { sink.TakeBlock(block, origin); });
  --taking_;
}

void ReceivePath::TakeEpoch(const Fix& fix, std::string_view stream) {
  Receiver& receiver = Enter(stream);
  // Its position goes where a GGA's would (a track recorder draws one point per GGA).
  FixRecord position;
  position.latitude = fix.latitude;
  position.longitude = fix.longitude;
  position.altitude = fix.altitude_msl;
  position.position_reported = fix.HasFix() && fix.latitude && fix.longitude;
  AssignIsoTimeText(fix.date, fix.time, gga_time_);
  HandGga(receiver, position);
  receiver.epochs.TakeWhole(fix);
  EndOfBlock(receiver);
  --taking_;
}

void ReceivePath::TakeSentence(Receiver& receiver, std::string_view sentence) {
  heard_.Count(sentence);
  for (const auto& output : receiver.outputs) output->TakeSentence(sentence, receiver.name);
  for (const auto& sink : epoch_sinks_) sink->TakeSentence(sentence, receiver.name);
  // One split serves the properties and the typed value.
  const SentenceFields fields(sentence);
  const Decoded decoded = receiver.decoder.ParseNMEA(sentence, fields);
  // The epochs take every talker's sentences; a checksum refused is refused for them too.
  if (!decoded.refused) receiver.epochs.Take(sentence, fields);
  if (decoded.type == SentenceType::kGga && (!epoch_sinks_.empty() || !receiver.outputs.empty())) {
    receiver.epochs.LastSentenceIsoTime(gga_time_);
    HandGga(receiver, receiver.decoder.Fix());
  }
  if (decoded.changes != 0 && events_.fix_updated) events_.fix_updated(decoded.changes);
}

void ReceivePath::RaiseEpoch(const Fix& fix, Receiver& receiver) {
  if (events_.epoch) events_.epoch(fix, receiver.name);
  for (const auto& output : receiver.outputs) output->TakeEpoch(fix, receiver.name);
  ForEach(epoch_sinks_, [&](EpochSink& sink) { sink.TakeEpoch(fix, receiver.name); });
}

}  // namespace quorvane
