#include "control/dispatch.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

constexpr int32_t kMethodBase = 0x60030000;
constexpr int32_t kPropertyBase = 0x68030000;

struct DispatchFailure {
  int code;
};

int16_t RoundToI2(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= INT16_MIN && rounded <= INT16_MAX)) throw DispatchFailure{kOverflow};
  return static_cast<int16_t>(rounded);
}

double ParseNumber(const std::string& text) {
  const auto number = ReadStrict(text);
  if (!number) throw DispatchFailure{kTypeMismatch};
  return *number;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

int16_t ToI2(const DispatchValue& value) {
  switch (value.vt) {
    case VarType::kI2:
      return value.i2;
    case VarType::kR8:
      return RoundToI2(value.r8);
    case VarType::kBool:
      return value.boolean;
    case VarType::kString:
      return RoundToI2(ParseNumber(value.str));
    case VarType::kEmpty:
      return 0;
  }
  throw DispatchFailure{kTypeMismatch};
}

// A 16-bit boolean: true is -1. The words "True" and "False" are taken as such hosts take them;
// anything else as a number.
int16_t ToBool16(const DispatchValue& value) {
  if (value.vt == VarType::kString) {
    if (EqualsIgnoringCase(value.str, "true")) return -1;
    if (EqualsIgnoringCase(value.str, "false")) return 0;
  }
  return ToI2(value);
}

double ToR8(const DispatchValue& value) {
  switch (value.vt) {
    case VarType::kI2:
      return value.i2;
    case VarType::kR8:
      return value.r8;
    case VarType::kBool:
      return value.boolean;
    case VarType::kString:
      return ParseNumber(value.str);
    case VarType::kEmpty:
      return 0;
  }
  throw DispatchFailure{kTypeMismatch};
}

std::string ToText(const DispatchValue& value) {
  switch (value.vt) {
    case VarType::kString:
      return value.str;
    case VarType::kI2:
      return std::to_string(value.i2);
    case VarType::kR8:
      return NumberToText(value.r8);
    case VarType::kBool:
      return value.boolean != 0 ? "True" : "False";
    case VarType::kEmpty:
      return "";
  }
  throw DispatchFailure{kTypeMismatch};
}

using Args = std::span<DispatchValue>;
// A method, or a property's read: the result, from the arguments.
using CallFunction = DispatchValue (*)(GPS&, Args);
// A property's write: the value, which the member may change.
using PutFunction = void (*)(GPS&, DispatchValue&);

struct Member {
  MemberInfo info;
  CallFunction call;
  PutFunction put = nullptr;
};

constexpr VarType kS = VarType::kString;
constexpr VarType kI2 = VarType::kI2;
constexpr VarType kR8 = VarType::kR8;
constexpr VarType kBool = VarType::kBool;
constexpr VarType kNone = VarType::kEmpty;

Member Method(std::string_view name, int32_t number, VarType type, CallFunction call,
              std::vector<std::pair<std::string_view, VarType>> parameters = {}, int optional = 0) {
  return {{name, MemberKind::kMethod, kMethodBase + number, type, std::move(parameters), optional},
          call};
}

Member Property(std::string_view name, int32_t number, VarType type, CallFunction get,
                PutFunction put = nullptr) {
  const MemberKind kind = put ? MemberKind::kReadWriteProperty : MemberKind::kReadOnlyProperty;
  return {{name, kind, kPropertyBase + number, type, {}, 0}, get, put};
}

// Shorthands for the table: a text property, a method without arguments or result.
#define QGPS_TEXT(member) [](GPS& gps, Args) { return DispatchValue::Of(gps.member()); }
#define QGPS_CALL(member)   \
  [](GPS& gps, Args) {      \
    gps.member();           \
    return DispatchValue{}; \
  }
#define QGPS_DISTANCE(member)                                                             \
  [](GPS& gps, Args a) {                                                                  \
    return DispatchValue::Of(gps.member(ToR8(a[0]), ToR8(a[1]), ToR8(a[2]), ToR8(a[3]))); \
  }

const std::vector<std::pair<std::string_view, VarType>> kTwoPositions{
    {"lat1", kR8}, {"lon1", kR8}, {"lat2", kR8}, {"lon2", kR8}};

const std::vector<Member>& Members() {
  static const std::vector<Member> members{
      Method("Start", 0x0B, kNone, QGPS_CALL(Start)),
      Method(
          "Connect", 0x58, kNone,
          [](GPS& gps, Args a) {
            gps.Connect(a.empty() ? std::nullopt : std::optional<int16_t>(ToI2(a[0])));
            return DispatchValue{};
          },
          {{"UDPPort", kI2}}, 1),
      Method("StopGPS", 0x0C, kNone, QGPS_CALL(StopGPS)),
      Property("VDOP", 0x55, kS, QGPS_TEXT(VDOP)),
      Property("HDOP", 0x54, kS, QGPS_TEXT(HDOP)),
      Property("TxPort", 0x47, kI2, QGPS_TEXT(TxPort),
               [](GPS& gps, DispatchValue& v) { gps.TxPort(ToI2(v)); }),
      Property("RxPort", 0x46, kI2, QGPS_TEXT(RxPort),
               [](GPS& gps, DispatchValue& v) { gps.RxPort(ToI2(v)); }),
      Property("ServerIP", 0x45, kI2, QGPS_TEXT(ServerIP),
               [](GPS& gps, DispatchValue& v) { gps.ServerIP(ToI2(v)); }),
      Property("Speed", 0x09, kS, QGPS_TEXT(Speed)),
      Property("SpeedMph", 0x34, kS, QGPS_TEXT(SpeedMph)),
      Property("SpeedKnots", 0x33, kS, QGPS_TEXT(SpeedKnots)),
      Property("Altitude", 0x08, kS, QGPS_TEXT(Altitude)),
      Property("Altitude_Feet", 0x44, kS, QGPS_TEXT(Altitude_Feet)),
      Property("AltitudeUnit", 0x07, kS, QGPS_TEXT(AltitudeUnit)),
      Property("RAW_Latitude", 0x06, kS, QGPS_TEXT(RAW_Latitude)),
      Property("RAW_Longitude", 0x05, kS, QGPS_TEXT(RAW_Longitude)),
      Property("Latitude", 0x04, kS, QGPS_TEXT(Latitude)),
      Property("Longitude", 0x03, kS, QGPS_TEXT(Longitude)),
      Property("GPS_Time", 0x02, kS, QGPS_TEXT(GPS_Time)),
      Property("LocalTime", 0x43, kS, QGPS_TEXT(LocalTime)),
      Property("Satellites", 0x01, kS, QGPS_TEXT(Satellites)),
      Property("Port", 0x00, kI2, QGPS_TEXT(Port),
               [](GPS& gps, DispatchValue& v) { gps.Port(ToI2(v)); }),
      Property("PortSettings", 0x1F, kS, QGPS_TEXT(PortSettings),
               [](GPS& gps, DispatchValue& v) { gps.PortSettings(ToText(v)); }),
      Property("GPSQuality", 0x1E, kS, QGPS_TEXT(GPSQuality)),
      Property("SNR", 0x42, kS, QGPS_TEXT(SNR)),
      Property("Elevation", 0x41, kS, QGPS_TEXT(Elevation)),
      Property("Azimute", 0x40, kS, QGPS_TEXT(Azimute)),
      Property("Odometer", 0x3F, kS, QGPS_TEXT(Odometer)),
      Property("EngineVersion", 0x3E, kS, QGPS_TEXT(EngineVersion)),
      Property("TimeZone", 0x3D, kS, QGPS_TEXT(TimeZone),
               [](GPS& gps, DispatchValue& v) {
                 std::string name = ToText(v);
                 gps.TimeZone(name);
                 v = DispatchValue::Of(std::move(name));
               }),
      Method("ShowMapQuestWebPage", 0x13, kNone, QGPS_CALL(ShowMapQuestWebPage)),
      Method("ShowNokiaMaps", 0x5D, kNone, QGPS_CALL(ShowNokiaMaps)),
      Method("ShowGoogleMaps", 0x5E, kNone, QGPS_CALL(ShowGoogleMaps)),
      Method("ShowGoogleMapsSatellite", 0x5F, kNone, QGPS_CALL(ShowGoogleMapsSatellite)),
      Method("CreateGoogleEarthPlaceMark", 0x14, kNone,
             [](GPS& gps, Args a) {
               gps.CreateGoogleEarthPlaceMark(ToText(a[0]), ToText(a[1]), ToText(a[2]));
               return DispatchValue{};
             },
             {{"FilenameKML", kS}, {"xDescription", kS}, {"xName", kS}}),
      Method("Version", 0x18, kS, QGPS_TEXT(Version)),
      Method("LastGPGGA", 0x1D, kS, QGPS_TEXT(LastGPGGA)),
      Method("Engine", 0x24, kBool, QGPS_TEXT(Engine)),
      Method("ResetOdometer", 0x4C, kNone, QGPS_CALL(ResetOdometer)),
      Method("DistanceBetween2CoordinatesMeters", 0x29, kR8,
             QGPS_DISTANCE(DistanceBetween2CoordinatesMeters), kTwoPositions),
      Method("DistanceBetween2CoordinatesFoots", 0x39, kR8,
             QGPS_DISTANCE(DistanceBetween2CoordinatesFoots), kTwoPositions),
      Method("DistanceBetween2CoordinatesMiles", 0x3A, kR8,
             QGPS_DISTANCE(DistanceBetween2CoordinatesMiles), kTwoPositions),
      Method("SendCommand", 0x31, kNone,
             [](GPS& gps, Args a) {
               gps.SendCommand(ToText(a[0]));
               return DispatchValue{};
             },
             {{"Data2Send", kS}}),
      Method("EnumSerialPorts", 0x32, kNone, QGPS_CALL(EnumSerialPorts)),
      Method("SetSystemClock_UTC", 0x50, kNone, QGPS_CALL(SetSystemClock_UTC)),
      Method("SetSystemClock_LocalTime", 0x51, kNone, QGPS_CALL(SetSystemClock_LocalTime)),
      Method(
          "StartKMLRecord", 0x52, kNone,
          [](GPS& gps, Args a) {
            gps.StartKMLRecord(ToText(a[0]), a.size() > 1 ? ToText(a[1]) : std::string());
            return DispatchValue{};
          },
          {{"Filename", kS}, {"Description", kS}}, 1),
      Method("StopKMLRecord", 0x53, kNone, QGPS_CALL(StopKMLRecord)),
      Property("RecordedPoints", 0x3C, kR8, QGPS_TEXT(RecordedPoints)),
      Property("isRecording", 0x3B, kBool, QGPS_TEXT(isRecording)),
      Property(
          "Broadcast", 0x57, kBool,
          // The value the host stored reads back; only true (all bits set) relays.
          [](GPS& gps, Args) { return DispatchValue::OfBool16(gps.BroadcastFlag()); },
          [](GPS& gps, DispatchValue& v) { gps.BroadcastFlag(ToBool16(v)); }),
      Property("BroadcastAddress", 0x56, kS, QGPS_TEXT(BroadcastAddress),
               [](GPS& gps, DispatchValue& v) { gps.BroadcastAddress(ToText(v)); }),
      Method("ShowBingMaps", 0x68, kNone, QGPS_CALL(ShowBingMaps)),
      Method("ShowBingMapsSatellite", 0x69, kNone, QGPS_CALL(ShowBingMapsSatellite)),
      // Members of this release, numbered after all the earlier ones.
      Property("AllTalkers", 0x6A, kBool, QGPS_TEXT(AllTalkers),
               [](GPS& gps, DispatchValue& v) { gps.AllTalkers(ToBool16(v) == -1); }),
      Property("VerifyChecksum", 0x6B, kBool, QGPS_TEXT(VerifyChecksum),
               [](GPS& gps, DispatchValue& v) { gps.VerifyChecksum(ToBool16(v) == -1); }),
      Property("ChecksumErrors", 0x6C, kR8, QGPS_TEXT(ChecksumErrors)),
      Method("OpenSource", 0x6D, kNone,
             [](GPS& gps, Args a) {
               gps.OpenSource(ToText(a[0]));
               return DispatchValue{};
             },
             {{"Address", kS}}),
      Property("StreamName", 0x6E, kS, QGPS_TEXT(StreamName)),
      Method("OpenSink", 0x6F, kBool,
             [](GPS& gps, Args a) { return DispatchValue::Of(gps.OpenSink(ToText(a[0]))); },
             {{"Address", kS}}),
  };
  return members;
}

#undef QGPS_TEXT
#undef QGPS_CALL
#undef QGPS_DISTANCE

const Member* FindMember(int32_t dispid) {
  for (const Member& member : Members()) {
    if (member.info.dispid == dispid) return &member;
  }
  return nullptr;
}

int Call(const Member& member, GPS& gps, int flags, Args args, DispatchValue& result) {
  const MemberInfo& info = member.info;
  if (info.kind == MemberKind::kMethod) {
    if ((flags & (kDispatchMethod | kDispatchPropertyGet)) == 0) return kNotSupported;
    const size_t required = info.parameters.size() - static_cast<size_t>(info.optional_parameters);
    if (args.size() < required || args.size() > info.parameters.size()) {
      return kWrongArgumentCount;
    }
    result = member.call(gps, args);
    return kDispatchOk;
  }
  if (flags & kDispatchPropertyPut) {
    if (!member.put) return kNotSupported;
    if (args.size() != 1) return kWrongArgumentCount;
    member.put(gps, args[0]);
    result = DispatchValue{};
    return kDispatchOk;
  }
  if ((flags & (kDispatchMethod | kDispatchPropertyGet)) == 0) return kNotSupported;
  if (!args.empty()) return kWrongArgumentCount;
  result = member.call(gps, args);
  return kDispatchOk;
}

}  // namespace

const std::vector<MemberInfo>& MemberTable() {
  static const std::vector<MemberInfo> table = [] {
    std::vector<MemberInfo> infos;
    for (const Member& member : Members()) infos.push_back(member.info);
    return infos;
  }();
  return table;
}

std::optional<int32_t> GetIDsOfNames(std::string_view name) {
  for (const Member& member : Members()) {
    if (EqualsIgnoringCase(member.info.name, name)) return member.info.dispid;
  }
  return std::nullopt;
}

int Invoke(GPS& gps, int32_t dispid, int flags, std::span<DispatchValue> args,
           DispatchValue& result) {
  const Member* member = FindMember(dispid);
  if (member == nullptr) return kUnknownMember;
  try {
    return Call(*member, gps, flags, args, result);
  } catch (const DispatchFailure& failure) {
    return failure.code;
  }
}

}  // namespace quorvane
