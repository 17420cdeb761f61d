#include "nmea/nmea_decoder.hpp"

#include "nmea/parse_nmea.hpp"

namespace quorvane {
namespace {

// The text of `field` before its first "*", or nullopt when it has none.
std::optional<std::string_view> BeforeAsterisk(std::string_view field) {
  const size_t asterisk = field.find('*');
  if (asterisk == std::string_view::npos) return std::nullopt;
  return field.substr(0, asterisk);
}

}  // namespace

void NmeaDecoder::ParseNMEA(std::string_view sentence) {
  const auto type = SentenceTypeOf(sentence);
  if (!type) return;
  const SentenceFields fields(sentence);
  switch (*type) {
    case SentenceType::kGga:
      DecodeGga(fields, sentence);
      break;
    case SentenceType::kGsv:
      DecodeGsv(fields);
      break;
    case SentenceType::kGsa:
      DecodeGsa(fields);
      break;
    case SentenceType::kRmc:
      DecodeRmc(fields);
      break;
  }
}

void NmeaDecoder::DecodeGga(const SentenceFields&, std::string_view) {}

void NmeaDecoder::DecodeRmc(const SentenceFields&) {}

void NmeaDecoder::DecodeGsa(const SentenceFields& fields) {
  if (fields.Has(16)) fix_.HdopText = fields[16];
  // Only a VDOP followed directly by the checksum is taken.
  if (fields.Has(17)) {
    if (const auto vdop = BeforeAsterisk(fields[17])) fix_.VdopText = *vdop;
  }
}

void NmeaDecoder::DecodeGsv(const SentenceFields& fields) {
  if (fields.Has(5)) fix_.ElevationText = fields[5];
  if (fields.Has(6)) fix_.AzimuthText = fields[6];
  // With a single satellite the SNR is the last field and carries the checksum.
  if (fields.Has(7)) fix_.SnrText = BeforeAsterisk(fields[7]).value_or(fields[7]);
}

}  // namespace quorvane
