#include "maps/map_pages.hpp"

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

struct AddressPattern {
  std::string_view before_latitude;
  std::string_view between;
  std::string_view after_longitude;
};

AddressPattern PatternOf(MapService service) {
  switch (service) {
    case MapService::kMapQuest:
      return {"https://www.mapquest.com/maps/map.adp?size=big&latlongtype=decimal&latitude=",
              "&longitude=", "&zoom=16"};
    case MapService::kNokia:
      return {"https://here.com/", ",", ",16,0,0,normal.day"};
    case MapService::kGoogle:
      return {"https://maps.google.com/maps?ie=UTF8&ll=", ",", "&z=18&t=m"};
    case MapService::kGoogleSatellite:
      return {"https://maps.google.com/maps?ie=UTF8&ll=", ",", "&z=18&t=k"};
    case MapService::kBing:
      return {"https://www.bing.com/maps/?v=2&lvl=18&dir=0&where1=", "%2C%20", "&form=LMLTCC"};
    case MapService::kBingSatellite:
      return {"https://www.bing.com/maps/?v=2&lvl=18&dir=0&sty=b&where1=", "%2C%20",
              "&form=LMLTCC"};
  }
  return {};
}

}  // namespace

std::string MapPageAddress(MapService service, std::string_view latitude_text,
                           std::string_view longitude_text) {
  const AddressPattern pattern = PatternOf(service);
  std::string address(pattern.before_latitude);
  address += WithDecimalPoints(latitude_text);
  address += pattern.between;
  address += WithDecimalPoints(longitude_text);
  address += pattern.after_longitude;
  return address;
}

}  // namespace quorvane
