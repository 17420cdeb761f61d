// The control through its C interface only, as a host in another language sees it.

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "control/qgps.h"
#include "support/known_distances.hpp"
#include "support/udp_peer.hpp"

namespace {

qgps_variant I2(int16_t value) {
  return {QGPS_VT_I2, value, 0, 0, nullptr};
}
qgps_variant R8(double value) {
  return {QGPS_VT_R8, 0, 0, value, nullptr};
}
qgps_variant Bool(bool value) {
  return {QGPS_VT_BOOL, 0, static_cast<int16_t>(value ? -1 : 0), 0, nullptr};
}
qgps_variant Str(const char* value) {
  return {QGPS_VT_STRING, 0, 0, 0, const_cast<char*>(value)};
}

class CAbiTest : public ::testing::Test {
 protected:
  void TearDown() override { qgps_destroy(control_); }

  int32_t Id(const char* name) { return qgps_id_of_name(name); }
  // Reads a property (or calls a method without arguments); the result as text.
  std::string Get(const char* name) {
    qgps_variant result{};
    EXPECT_EQ(qgps_invoke(control_, Id(name), QGPS_PROPERTYGET, nullptr, 0, &result), QGPS_OK)
        << name;
    std::string text;
    switch (result.vt) {
      case QGPS_VT_STRING:
        text = result.str;
        break;
      case QGPS_VT_I2:
        text = std::to_string(result.i2);
        break;
      case QGPS_VT_BOOL:
        text = result.boolean == -1  ? "true"
               : result.boolean == 0 ? "false"
                                     : std::to_string(result.boolean);
        break;
      case QGPS_VT_R8:
        text = std::to_string(result.r8);
        break;
      default:
        break;
    }
    qgps_variant_clear(&result);
    return text;
  }
  int Put(const char* name, qgps_variant value) {
    return qgps_invoke(control_, Id(name), QGPS_PROPERTYPUT, &value, 1, nullptr);
  }
  int Call(const char* name, std::vector<qgps_variant> args = {}, qgps_variant* result = nullptr) {
    return qgps_invoke(control_, Id(name), QGPS_METHOD, args.data(), static_cast<int>(args.size()),
                       result);
  }
  // A pseudo-terminal under a port number of the table, for the life of the test.
  struct PtyPort {
    explicit PtyPort(int16_t port_number) : number(port_number) {
      std::array<char, 128> name{};
      if (::openpty(&master, &slave, name.data(), nullptr, nullptr) == 0) {
        qgps_assign_port(number, name.data());
      }
    }
    ~PtyPort() {
      qgps_assign_port(number, "");
      ::close(master);
      ::close(slave);
    }
    int16_t number;
    int master = -1;
    int slave = -1;
  };
  // The control set to read serial port `number` and relay every block to `listener`.
  void RelayTo(int16_t number, const quorvane::testing::UdpPeer& listener) {
    ASSERT_EQ(Put("Port", I2(number)), QGPS_OK);
    ASSERT_EQ(Put("Broadcast", Bool(true)), QGPS_OK);
    ASSERT_EQ(Put("BroadcastAddress", Str("127.0.0.1")), QGPS_OK);
    ASSERT_EQ(Put("TxPort", I2(static_cast<int16_t>(listener.Port()))), QGPS_OK);
  }
  void Pump(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) qgps_pump(control_, 10);
  }

  qgps_control* control_ = qgps_create();
};

TEST_F(CAbiTest, EveryMemberNameResolvesToItsDispatchId) {
  const std::vector<std::pair<const char*, int32_t>> methods{
      {"Start", 0x0B},
      {"Connect", 0x58},
      {"StopGPS", 0x0C},
      {"ShowMapQuestWebPage", 0x13},
      {"ShowNokiaMaps", 0x5D},
      {"ShowGoogleMaps", 0x5E},
      {"ShowGoogleMapsSatellite", 0x5F},
      {"CreateGoogleEarthPlaceMark", 0x14},
      {"Version", 0x18},
      {"LastGPGGA", 0x1D},
      {"Engine", 0x24},
      {"ResetOdometer", 0x4C},
      {"DistanceBetween2CoordinatesMeters", 0x29},
      {"DistanceBetween2CoordinatesFoots", 0x39},
      {"DistanceBetween2CoordinatesMiles", 0x3A},
      {"SendCommand", 0x31},
      {"EnumSerialPorts", 0x32},
      {"SetSystemClock_UTC", 0x50},
      {"SetSystemClock_LocalTime", 0x51},
      {"StartKMLRecord", 0x52},
      {"StopKMLRecord", 0x53},
      {"ShowBingMaps", 0x68},
      {"ShowBingMapsSatellite", 0x69},
      {"OpenSource", 0x6D},  // added after the first 54
      {"OpenSink", 0x6F}};
  const std::vector<std::pair<const char*, int32_t>> properties{{"VDOP", 0x55},
                                                                {"HDOP", 0x54},
                                                                {"TxPort", 0x47},
                                                                {"RxPort", 0x46},
                                                                {"ServerIP", 0x45},
                                                                {"Speed", 0x09},
                                                                {"SpeedMph", 0x34},
                                                                {"SpeedKnots", 0x33},
                                                                {"Altitude", 0x08},
                                                                {"Altitude_Feet", 0x44},
                                                                {"AltitudeUnit", 0x07},
                                                                {"RAW_Latitude", 0x06},
                                                                {"RAW_Longitude", 0x05},
                                                                {"Latitude", 0x04},
                                                                {"Longitude", 0x03},
                                                                {"GPS_Time", 0x02},
                                                                {"LocalTime", 0x43},
                                                                {"Satellites", 0x01},
                                                                {"Port", 0x00},
                                                                {"PortSettings", 0x1F},
                                                                {"GPSQuality", 0x1E},
                                                                {"SNR", 0x42},
                                                                {"Elevation", 0x41},
                                                                {"Azimute", 0x40},
                                                                {"Odometer", 0x3F},
                                                                {"EngineVersion", 0x3E},
                                                                {"TimeZone", 0x3D},
                                                                {"RecordedPoints", 0x3C},
                                                                {"isRecording", 0x3B},
                                                                {"Broadcast", 0x57},
                                                                {"BroadcastAddress", 0x56},
                                                                // added after the first 54
                                                                {"AllTalkers", 0x6A},
                                                                {"VerifyChecksum", 0x6B},
                                                                {"ChecksumErrors", 0x6C},
                                                                {"StreamName", 0x6E}};
  EXPECT_EQ(methods.size() + properties.size(), 60u);
  for (const auto& [name, n] : methods) EXPECT_EQ(qgps_id_of_name(name), 0x60030000 + n) << name;
  for (const auto& [name, n] : properties) EXPECT_EQ(qgps_id_of_name(name), 0x68030000 + n) << name;
  EXPECT_EQ(qgps_id_of_name("sTOPgps"), 0x6003000C);
  EXPECT_EQ(qgps_id_of_name("Azimuth"), -1);
  EXPECT_EQ(qgps_id_of_name(""), -1);
  EXPECT_EQ(qgps_id_of_name(nullptr), -1);
}

TEST_F(CAbiTest, SettablePropertiesReadBackWhatWasWritten) {
  EXPECT_EQ(Get("Port"), "0");
  EXPECT_EQ(Put("Port", I2(7)), QGPS_OK);
  EXPECT_EQ(Get("Port"), "7");
  EXPECT_EQ(Put("Port", Str("12")), QGPS_OK);  // a numeric string for an integer
  EXPECT_EQ(Get("Port"), "12");
  EXPECT_EQ(Put("TxPort", R8(5000.4)), QGPS_OK);
  EXPECT_EQ(Get("TxPort"), "5000");
  EXPECT_EQ(Put("RxPort", I2(-15536)), QGPS_OK);  // port 50000
  EXPECT_EQ(Get("RxPort"), "-15536");
  EXPECT_EQ(Put("ServerIP", I2(3)), QGPS_OK);
  EXPECT_EQ(Get("ServerIP"), "3");
  EXPECT_EQ(Put("PortSettings", Str("9600,e,8,1")), QGPS_OK);
  EXPECT_EQ(Get("PortSettings"), "9600,e,8,1");
  EXPECT_EQ(Put("BroadcastAddress", Str("127.0.0.1")), QGPS_OK);
  EXPECT_EQ(Get("BroadcastAddress"), "127.0.0.1");
  EXPECT_EQ(Put("Broadcast", Bool(true)), QGPS_OK);
  EXPECT_EQ(Get("Broadcast"), "true");
  EXPECT_EQ(Put("Broadcast", I2(1)), QGPS_OK);  // kept as stored; only all bits set is true
  EXPECT_EQ(Get("Broadcast"), "1");
  EXPECT_EQ(Put("Broadcast", Str("True")), QGPS_OK);
  EXPECT_EQ(Get("Broadcast"), "true");
  for (const char* setting : {"AllTalkers", "VerifyChecksum"}) {
    EXPECT_EQ(Get(setting), "false") << setting;
    EXPECT_EQ(Put(setting, Bool(true)), QGPS_OK) << setting;
    EXPECT_EQ(Get(setting), "true") << setting;
  }
  EXPECT_EQ(Put("ChecksumErrors", R8(5)), QGPS_E_NOT_SUPPORTED);
  EXPECT_EQ(Call("OpenSource", {Str("ftp://nowhere:21")}), QGPS_OK);  // said through Error
  EXPECT_EQ(Get("Engine"), "false");
  EXPECT_EQ(Get("ChecksumErrors"), std::to_string(0.0));
  EXPECT_EQ(Get("EngineVersion"), "5.4.88");
  EXPECT_EQ(Get("Version"), "5.4.88");
  EXPECT_EQ(Get("Engine"), "false");
  EXPECT_EQ(Get("Altitude_Feet"), "0");
  EXPECT_EQ(Get("RecordedPoints"), std::to_string(0.0));
}

TEST_F(CAbiTest, TimeZonesPutHandsTheStandardNameBackInItsArgument) {
  ::setenv("TZ", "IST-5:30", 1);
  const std::string bias = Get("TimeZone");
  qgps_variant value = Str("+3");
  ASSERT_EQ(qgps_invoke(control_, Id("TimeZone"), QGPS_PROPERTYPUT, &value, 1, nullptr), QGPS_OK);
  ASSERT_EQ(value.vt, QGPS_VT_STRING);
  EXPECT_STREQ(value.str, "IST");
  qgps_variant_clear(&value);
  EXPECT_EQ(bias, "-5.5");
  EXPECT_EQ(Get("TimeZone"), "-5.5");
  ::unsetenv("TZ");
}

TEST_F(CAbiTest, MethodsConvertTheirArguments) {
  qgps_variant result{};
  ASSERT_EQ(
      Call("DistanceBetween2CoordinatesMeters", {I2(0), Str("0"), R8(0), Bool(false)}, &result),
      QGPS_OK);
  EXPECT_EQ(result.vt, QGPS_VT_R8);
  EXPECT_EQ(result.r8, 0);
  ASSERT_EQ(Call("DistanceBetween2CoordinatesMiles", {I2(0), I2(0), I2(0), I2(1)}, &result),
            QGPS_OK);
  EXPECT_NEAR(result.r8, quorvane::testing::OneDegree::kMiles,
              quorvane::testing::OneDegree::kMilesNear);
  // A method without a result may also be asked like a property read.
  EXPECT_EQ(
      qgps_invoke(control_, Id("LastGPGGA"), QGPS_METHOD | QGPS_PROPERTYGET, nullptr, 0, &result),
      QGPS_OK);
  EXPECT_EQ(result.vt, QGPS_VT_STRING);
  qgps_variant_clear(&result);
}

TEST_F(CAbiTest, BadCallsGiveClearCodes) {
  EXPECT_EQ(qgps_invoke(control_, 0x12345, QGPS_METHOD, nullptr, 0, nullptr),
            QGPS_E_UNKNOWN_MEMBER);
  EXPECT_EQ(Call("DistanceBetween2CoordinatesMeters", {R8(1), R8(2), R8(3)}),
            QGPS_E_ARGUMENT_COUNT);
  EXPECT_EQ(Call("Start", {I2(1)}), QGPS_E_ARGUMENT_COUNT);
  EXPECT_EQ(Call("StartKMLRecord", {}), QGPS_E_ARGUMENT_COUNT);
  EXPECT_EQ(Put("Port", Str("COM3")), QGPS_E_TYPE_MISMATCH);
  EXPECT_EQ(Put("Port", R8(70000)), QGPS_E_OVERFLOW);
  EXPECT_EQ(Put("Port", R8(std::numeric_limits<double>::quiet_NaN())), QGPS_E_OVERFLOW);
  EXPECT_EQ(Put("Latitude", Str("1")), QGPS_E_NOT_SUPPORTED);
  EXPECT_EQ(Put("Port", qgps_variant{99, 0, 0, 0, nullptr}), QGPS_E_TYPE_MISMATCH);
  EXPECT_EQ(qgps_invoke(control_, Id("Port"), 0, nullptr, 0, nullptr), QGPS_E_NOT_SUPPORTED);
  EXPECT_EQ(qgps_invoke(control_, Id("Start"), QGPS_PROPERTYPUT, nullptr, 0, nullptr),
            QGPS_E_NOT_SUPPORTED);
  EXPECT_EQ(qgps_invoke(nullptr, Id("Start"), QGPS_METHOD, nullptr, 0, nullptr),
            QGPS_E_INVALID_ARGUMENT);
  EXPECT_EQ(qgps_invoke(control_, Id("SendCommand"), QGPS_METHOD, nullptr, 1, nullptr),
            QGPS_E_INVALID_ARGUMENT);
  EXPECT_EQ(Get("Port"), "0");  // nothing failed half-way
}

struct Events {
  std::vector<std::pair<int32_t, std::string>> seen;
  const char* replacement = nullptr;

  static void Callback(void* context, int32_t dispid, qgps_variant* args, int nargs) {
    auto* events = static_cast<Events*>(context);
    ASSERT_EQ(nargs, 1);
    events->seen.emplace_back(
        dispid, args[0].vt == QGPS_VT_STRING ? args[0].str : std::to_string(args[0].i2));
    if (dispid == QGPS_EVENT_STREAM && events->replacement != nullptr) {
      args[0].str = const_cast<char*>(events->replacement);
    }
  }
};

TEST_F(CAbiTest, EventsArriveWithTheirArgumentsByReference) {
  Events events;
  const int cookie = qgps_advise(control_, &Events::Callback, &events);
  ASSERT_GT(cookie, 0);
  ASSERT_EQ(Call("Start"), QGPS_OK);  // port 0
  EXPECT_EQ(
      events.seen,
      (std::vector<std::pair<int32_t, std::string>>{{QGPS_EVENT_ERROR, "Invalid port number"}}));
  ASSERT_EQ(Call("StopGPS"), QGPS_OK);

  quorvane::testing::UdpPeer listener;
  const PtyPort pty(301);
  RelayTo(pty.number, listener);
  const int master = pty.master;
  events.seen.clear();
  events.replacement = "$GPGSA,replaced\r\n";
  ASSERT_EQ(Call("Start"), QGPS_OK);
  EXPECT_EQ(Get("Engine"), "true");
  const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  ASSERT_EQ(::write(master, gga.data(), gga.size()), static_cast<ssize_t>(gga.size()));
  for (int i = 0; i < 100 && events.seen.empty(); ++i) qgps_pump(control_, 10);
  ASSERT_EQ(events.seen.size(), 1u);
  EXPECT_EQ(events.seen[0], std::make_pair(QGPS_EVENT_STREAM, gga));
  EXPECT_EQ(Get("Latitude"), "48.1173");
  EXPECT_EQ(listener.Receive(), "");                     // the sender's first datagram
  EXPECT_EQ(listener.Receive(), "$GPGSA,replaced\r\n");  // what the handler left

  events.seen.clear();
  ASSERT_EQ(Call("EnumSerialPorts"), QGPS_OK);
  EXPECT_NE(std::find(events.seen.begin(), events.seen.end(),
                      std::make_pair(QGPS_EVENT_SERIALPORT, std::string("301"))),
            events.seen.end());
  qgps_unadvise(control_, cookie);
  events.seen.clear();
  ASSERT_EQ(Call("EnumSerialPorts"), QGPS_OK);
  EXPECT_TRUE(events.seen.empty());
}

// A careless host: it clears every argument it is given, and may destroy its control.
struct Careless {
  qgps_control** control;
  bool destroy = false;
  int calls = 0;

  static void Callback(void* context, int32_t, qgps_variant* args, int) {
    auto* host = static_cast<Careless*>(context);
    ++host->calls;
    qgps_variant_clear(&args[0]);
    if (host->destroy) {
      qgps_destroy(*host->control);
      qgps_destroy(*host->control);  // twice, even
      *host->control = nullptr;
    }
  }
};

TEST_F(CAbiTest, AHandlerMayClearItsArgumentAndDestroyItsControl) {
  Careless host{&control_};
  ASSERT_GT(qgps_advise(control_, &Careless::Callback, &host), 0);
  quorvane::testing::UdpPeer listener;
  const PtyPort pty(302);
  RelayTo(pty.number, listener);
  const int master = pty.master;
  ASSERT_EQ(Call("Start"), QGPS_OK);
  EXPECT_EQ(listener.Receive(), "");

  // A cleared argument is no change: the block goes on whole, its NUL and all.
  const std::string block("$GPGSA,A,3\r\n\0after a NUL\r\n", 26);
  ASSERT_EQ(::write(master, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  for (int i = 0; i < 100 && host.calls == 0; ++i) qgps_pump(control_, 10);
  EXPECT_EQ(listener.Receive(), block);

  host.destroy = true;
  ASSERT_EQ(::write(master, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  for (int i = 0; i < 100 && control_ != nullptr; ++i) qgps_pump(control_, 10);
  EXPECT_EQ(control_, nullptr);
  EXPECT_EQ(listener.Receive(), block);  // the block the handler was raised for still goes out
  EXPECT_EQ(DllCanUnloadNow(), 0);

  // And inside the Error event that Start raises.
  control_ = qgps_create();
  host.calls = 0;
  ASSERT_GT(qgps_advise(control_, &Careless::Callback, &host), 0);
  EXPECT_EQ(Call("Start"), QGPS_OK);  // port 0: "Invalid port number"
  EXPECT_EQ(host.calls, 1);
  EXPECT_EQ(control_, nullptr);
}

TEST_F(CAbiTest, OptionalArgumentsMayBeLeftOut) {
  quorvane::testing::UdpPeer peer;
  const uint16_t rx = quorvane::testing::UdpPeer::FreePort();
  ASSERT_EQ(Put("RxPort", I2(static_cast<int16_t>(rx))), QGPS_OK);
  ASSERT_EQ(Call("Connect"), QGPS_OK);
  EXPECT_FALSE(quorvane::testing::UdpPeerBindable(rx));  // listening on RxPort
  const auto file = std::filesystem::temp_directory_path() / "qgps-c-abi.kml";
  ASSERT_EQ(Call("StartKMLRecord", {Str(file.c_str())}), QGPS_OK);
  EXPECT_EQ(Get("isRecording"), "true");
  ASSERT_EQ(Call("StopKMLRecord"), QGPS_OK);
  std::ifstream kml(file);
  std::string header((std::istreambuf_iterator<char>(kml)), std::istreambuf_iterator<char>());
  EXPECT_NE(header.find("  <name></name>\r\n"), std::string::npos);
  std::filesystem::remove(file);
}

TEST(CAbiHosting, ClassFactoryAndUnloadFollowTheLiveControls) {
  ASSERT_EQ(DllCanUnloadNow(), 0);
  void* object = nullptr;
  EXPECT_EQ(DllGetClassObject(&QGPS_IID_GPS, &QGPS_IID_ICLASSFACTORY, &object),
            static_cast<int32_t>(0x80040111));
  ASSERT_EQ(DllGetClassObject(&QGPS_CLSID_GPS, &QGPS_IID_ICLASSFACTORY, &object), 0);
  auto* factory = static_cast<qgps_class_factory*>(object);
  std::vector<qgps_control*> controls;
  for (int i = 0; i < 20; ++i) {
    void* control = nullptr;
    ASSERT_EQ(factory->vtbl->CreateInstance(factory, nullptr, &QGPS_IID_GPS, &control), 0);
    controls.push_back(static_cast<qgps_control*>(control));
  }
  void* refused = nullptr;
  EXPECT_EQ(factory->vtbl->CreateInstance(factory, &refused, &QGPS_IID_GPS, &refused),
            static_cast<int32_t>(0x80040110));
  EXPECT_EQ(DllCanUnloadNow(), 1);
  for (auto* control : controls) qgps_destroy(control);
  EXPECT_EQ(DllCanUnloadNow(), 0);
  factory->vtbl->LockServer(factory, 1);
  EXPECT_EQ(DllCanUnloadNow(), 1);
  factory->vtbl->LockServer(factory, 0);
  EXPECT_EQ(DllCanUnloadNow(), 0);
}

TEST(CAbiHosting, RegistrationIsAFileInTheUsersDataFolder) {
  const auto home = std::filesystem::temp_directory_path() / "qgps-xdg-data";
  std::filesystem::remove_all(home);
  ::setenv("XDG_DATA_HOME", home.c_str(), 1);
  ASSERT_EQ(DllRegisterServer(), 0);
  std::ifstream file(home / "quorvane-gps" / "registration");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("[CLSID\\{4F0B6A51-8C3D-4E27-9A1B-5D2E7C9F3A01}]"), std::string::npos);
  EXPECT_NE(text.find("libquorvane-gps.so"), std::string::npos);
  ASSERT_EQ(DllUnregisterServer(), 0);
  EXPECT_FALSE(std::filesystem::exists(home / "quorvane-gps" / "registration"));
  ::unsetenv("XDG_DATA_HOME");
  std::filesystem::remove_all(home);
}

}  // namespace
