#include "platform/line_settings.hpp"

#include <algorithm>
#include <array>
#include <charconv>

namespace quorvane {
namespace {

constexpr std::array<unsigned, 30> kBaudRates{
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<unsigned> ReadWhole(std::string_view text) {
  unsigned value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || result.ec != std::errc{} || result.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<char> ReadParity(std::string_view text) {
  if (text.size() != 1) return std::nullopt;
  const char letter = static_cast<char>(text.front() | 0x20);  // lower case
  if (std::string_view("neoms").find(letter) == std::string_view::npos) return std::nullopt;
  return letter;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(std::string_view text) {
  std::array<std::string_view, 4> parts;
  for (size_t i = 0; i < parts.size(); ++i) {
    const size_t comma = text.find(',');
    const bool last = i + 1 == parts.size();
    if ((comma == std::string_view::npos) != last) return std::nullopt;
    parts[i] = Trim(text.substr(0, comma));
    if (!last) text.remove_prefix(comma + 1);
  }
  const auto baud = ReadWhole(parts[0]);
  const auto parity = ReadParity(parts[1]);
  const auto data_bits = ReadWhole(parts[2]);
  const auto stop_bits = ReadWhole(parts[3]);
  if (!baud || std::find(kBaudRates.begin(), kBaudRates.end(), *baud) == kBaudRates.end()) {
    return std::nullopt;
  }
  if (!parity || !data_bits || *data_bits < 5 || *data_bits > 8) return std::nullopt;
  if (!stop_bits || (*stop_bits != 1 && *stop_bits != 2)) return std::nullopt;
  return LineSettings{*baud, *parity, *data_bits, *stop_bits};
}

std::string ToText(const LineSettings& settings) {
  return std::to_string(settings.baud) + ',' + settings.parity + ',' +
         std::to_string(settings.data_bits) + ',' + std::to_string(settings.stop_bits);
}

void StoreParity(char parity, termios& line) {
  line.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  line.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR);
  if (parity == 'n') {
    line.c_iflag |= IGNPAR;
    return;
  }
  line.c_cflag |= PARENB;
  line.c_iflag |= INPCK;
  if (parity == 'o' || parity == 'm') line.c_cflag |= PARODD;
  if (parity == 'm' || parity == 's') line.c_cflag |= CMSPAR;
}

}  // namespace quorvane
