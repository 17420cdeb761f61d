// nmea-simulate: writes the NMEA log of a simulated drive, as a receiver would send it.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "apps/nmea_simulator.hpp"

namespace {

// "from:to" in seconds.
bool ParseStretch(const std::string& text, std::pair<double, double>& stretch) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  try {
    stretch = {std::stod(text.substr(0, colon)), std::stod(text.substr(colon + 1))};
  } catch (const std::exception&) {
    return false;
  }
  return stretch.first < stretch.second;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Writes the NMEA 0183 log of a simulated drive around a loop in Munich: GGA, RMC, "
      "GSA and three GSV sentences per fix, CR LF line ends."};
  quorvane::simulator::DriveOptions options;
  std::string output;
  std::string loss;
  app.add_option("--duration", options.duration_s, "seconds of driving")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--speed", options.speed_kmh, "km/h")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  app.add_option("--rate", options.rate_hz, "fixes per second")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 20.0));
  app.add_option("--loss", loss, "FROM:TO seconds without a fix (a tunnel)");
  app.add_option("--noise", options.noise_m, "position noise, metres (standard deviation)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  app.add_option("--seed", options.seed, "seed of the noise")->capture_default_str();
  app.add_option("--start", options.start_utc_s, "UTC second of the day of the first fix")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 86399.0));
  app.add_option("-o,--output", output, "file to write (default: standard output)");
  CLI11_PARSE(app, argc, argv);

  if (!loss.empty()) {
    std::pair<double, double> stretch;
    if (!ParseStretch(loss, stretch)) {
      std::cerr << "nmea-simulate: --loss wants FROM:TO in seconds, FROM before TO\n";
      return 2;
    }
    options.fix_loss_s = stretch;
  }

  std::ofstream file;
  if (!output.empty()) {
    file.open(output, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::cerr << "nmea-simulate: cannot write " << output << "\n";
      return 1;
    }
  }
  std::ostream& out = output.empty() ? std::cout : file;
  quorvane::simulator::NmeaSimulator simulator(options);
  for (size_t fix = 0; fix < simulator.FixCount(); ++fix) out << simulator.Sentences(fix);
  out.flush();
  return out ? 0 : 1;
}
