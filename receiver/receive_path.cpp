#include "receiver/receive_path.hpp"

#include <algorithm>

namespace quorvane {

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
    visit(it->name, it->epochs.LastEpoch());
  }
  return streams.size();
}

void ReceivePath::Restart() {
  current_ = &receivers_.Single();
  receivers_.Single().lines = LineAssembler();
  receivers_.ForgetStreams();
}

void ReceivePath::Take(std::string block, std::string_view stream, bool from_network) {
  ++taking_;
  Receiver& receiver = receivers_.Find(stream);
  current_ = &receiver;
  receiver.lines.Feed(block, [&](std::string_view sentence) { TakeSentence(receiver, sentence); });
  // A sink may be added or removed by a handler inside the block: each list is walked as a
  // copy, which keeps every sink alive through its call.
  for (const auto& output : receiver.outputs) output->EndOfBlock();
  for (const auto& sink : std::vector(epoch_sinks_)) sink->EndOfBlock();
  if (events_.block) events_.block(block);
  const BlockOrigin origin{receiver.name, from_network};
  for (const auto& sink : std::vector(block_sinks_)) sink->TakeBlock(block, origin);
  --taking_;
}

void ReceivePath::TakeSentence(Receiver& receiver, std::string_view sentence) {
  heard_.Count(sentence);
  const Decoded decoded = receiver.decoder.ParseNMEA(sentence);
  // The epochs take every talker's sentences; a checksum refused is refused for them too.
  if (!decoded.refused) receiver.epochs.Take(sentence);
  if (decoded.type == SentenceType::kGga && !epoch_sinks_.empty()) {
    const DecodedGga gga{receiver.decoder.Fix(), receiver.epochs.LastSentenceIsoTime()};
    for (const auto& sink : std::vector(epoch_sinks_)) sink->TakeGga(gga);
  }
  if (decoded.changes != 0 && events_.fix_updated) events_.fix_updated(decoded.changes);
}

void ReceivePath::RaiseEpoch(const Fix& fix, Receiver& receiver) {
  if (events_.epoch) events_.epoch(fix, receiver.name);
  for (const auto& output : receiver.outputs) output->TakeEpoch(fix, receiver.name);
  for (const auto& sink : std::vector(epoch_sinks_)) sink->TakeEpoch(fix, receiver.name);
}

}  // namespace quorvane
