#pragma once
// Web-map addresses centred on a position, for the default browser to open.

#include <string>
#include <string_view>

namespace quorvane {

enum class MapService { kMapQuest, kNokia, kGoogle, kGoogleSatellite, kBing, kBingSatellite };

// The plain-http address of `service` for the position texts as the Latitude and Longitude
// properties give them; a "," in them becomes ".", nothing else is changed or encoded, and
// empty texts give an address without numbers.
std::string MapPageAddress(MapService service, std::string_view latitude_text,
                           std::string_view longitude_text);

}  // namespace quorvane
