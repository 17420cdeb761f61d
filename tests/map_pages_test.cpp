#include <gtest/gtest.h>

#include "control/gps.hpp"
#include "maps/map_pages.hpp"
#include "support/fake_platform.hpp"
#include "support/run_until.hpp"
#include "support/udp_peer.hpp"

namespace quorvane {
namespace {

using Addresses = std::vector<std::string>;

TEST(MapPageAddress, EachServiceHasItsAddress) {
  const std::string lat = "38.7223416666667";
  const std::string lon = "-9.13933333333333";
  EXPECT_EQ(MapPageAddress(MapService::kGoogle, lat, lon),
            "https://maps.google.com/maps?ie=UTF8&ll=38.7223416666667,-9.13933333333333&z=18&t=m");
  EXPECT_EQ(MapPageAddress(MapService::kGoogleSatellite, lat, lon),
            "https://maps.google.com/maps?ie=UTF8&ll=38.7223416666667,-9.13933333333333&z=18&t=k");
  EXPECT_EQ(MapPageAddress(MapService::kMapQuest, lat, lon),
            "https://www.mapquest.com/maps/map.adp?size=big&latlongtype=decimal&latitude="
            "38.7223416666667&longitude=-9.13933333333333&zoom=16");
  EXPECT_EQ(MapPageAddress(MapService::kNokia, lat, lon),
            "https://here.com/38.7223416666667,-9.13933333333333,16,0,0,normal.day");
  EXPECT_EQ(MapPageAddress(MapService::kBing, lat, lon),
            "https://www.bing.com/maps/?v=2&lvl=18&dir=0&where1=38.7223416666667%2C%20"
            "-9.13933333333333&form=LMLTCC");
  EXPECT_EQ(MapPageAddress(MapService::kBingSatellite, lat, lon),
            "https://www.bing.com/maps/?v=2&lvl=18&dir=0&sty=b&where1=38.7223416666667%2C%20"
            "-9.13933333333333&form=LMLTCC");
}

TEST(MapPageAddress, CommasBecomePointsAndEmptyPositionsStayEmpty) {
  EXPECT_EQ(MapPageAddress(MapService::kGoogle, "38,72", "-9,14"),
            "https://maps.google.com/maps?ie=UTF8&ll=38.72,-9.14&z=18&t=m");
  EXPECT_EQ(MapPageAddress(MapService::kNokia, "", ""), "https://here.com/,,16,0,0,normal.day");
}

TEST(ShowMaps, OpenTheCurrentPositionInTheBrowser) {
  asio::io_context io;
  testing::FakePlatform platform;
  GPS gps(io, platform);
  gps.ShowNokiaMaps();
  const uint16_t port = testing::UdpPeer::FreePort();
  gps.Connect(testing::AsPortNumber(port));
  testing::UdpPeer peer;
  peer.SendTo(port, "$GPGGA,123519,3843.340,N,00908.360,W,1,08,0.9,104.5,M,46.9,M,,*47\r\n");
  ASSERT_TRUE(testing::RunUntil(io, [&] { return !gps.Latitude().empty(); }));
  gps.ShowMapQuestWebPage();
  gps.ShowGoogleMaps();
  gps.ShowGoogleMapsSatellite();
  gps.ShowBingMaps();
  gps.ShowBingMapsSatellite();
  const std::string lat = gps.Latitude();
  const std::string lon = gps.Longitude();
  EXPECT_EQ(lat, "38.7223333333333");
  EXPECT_EQ(platform.opened_addresses,
            (Addresses{"https://here.com/,,16,0,0,normal.day",
                       MapPageAddress(MapService::kMapQuest, lat, lon),
                       MapPageAddress(MapService::kGoogle, lat, lon),
                       MapPageAddress(MapService::kGoogleSatellite, lat, lon),
                       MapPageAddress(MapService::kBing, lat, lon),
                       MapPageAddress(MapService::kBingSatellite, lat, lon)}));
}

}  // namespace
}  // namespace quorvane
