#pragma once
// The one-placemark KML 2.0 document of the current position, for a viewer such as Google
// Earth: 18 lines, each ending in CR LF, looking straight down on the point from 100 metres.

#include <string>
#include <string_view>

namespace quorvane {

// The document for the position texts as the Latitude and Longitude properties give them (a
// "," in them becomes "."). The description and name are the host's texts, escaped for XML.
std::string GoogleEarthPlaceMarkDocument(std::string_view latitude_text,
                                         std::string_view longitude_text,
                                         std::string_view xDescription, std::string_view xName);

}  // namespace quorvane
