#pragma once
// The serial line settings text, "baud,parity,data bits,stop bits" as in "4800,n,8,1".

#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

struct LineSettings {
  unsigned baud = 4800;
  char parity = 'n';  // n(one), e(ven), o(dd), m(ark), s(pace)
  unsigned data_bits = 8;
  unsigned stop_bits = 1;

  bool operator==(const LineSettings&) const = default;
};

// Reads a settings text; nullopt unless every part is one this machine's serial driver can set:
// a standard termios baud rate, parity n/e/o/m/s (either case), 5 to 8 data bits, 1 or 2 stop
// bits (Linux has no 1.5). Blanks around the parts are allowed.
std::optional<LineSettings> ParseLineSettings(std::string_view text);

// The canonical text of `settings`: "9600,e,7,1".
std::string ToText(const LineSettings& settings);

// Sets the parity flags of `line` for a parity letter: even and odd as usual, mark and space
// as a "sticky" parity bit (CMSPAR, odd meaning mark); parity errors are checked unless none.
void StoreParity(char parity, termios& line);

}  // namespace quorvane
