#include "sources/source_factory.hpp"

#include <stdexcept>

namespace quorvane {

void SourceFactory::Register(SourceAddress::Scheme scheme, Maker maker) {
  makers_[static_cast<size_t>(scheme)] = std::move(maker);
}

MadeSource SourceFactory::Make(const std::string& text, const SourceContext& context) const {
  auto parsed = Parse(text);
  if (auto* failure = std::get_if<std::string>(&parsed)) throw std::runtime_error(*failure);
  const SourceAddress& address = std::get<SourceAddress>(parsed);
  const Maker& maker = makers_[static_cast<size_t>(address.scheme)];
  if (!maker) {
    throw std::runtime_error("Invalid source address \"" + text +
                             "\": this build cannot read that kind of source");
  }
  return maker(address, text, context);
}

}  // namespace quorvane
