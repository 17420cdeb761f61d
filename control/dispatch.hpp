#pragma once
// Dispatch by name and id: the control's public member table (interface _GPS) with its dispatch
// ids, its three events (interface __GPS), and Invoke over a small variant type, so that hosts
// in any language can drive every member. Arguments are by reference: a member that changes
// its argument (TimeZone's put) hands the change back in the caller's value.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/gps.hpp"

namespace quorvane {

// Variant types, numbered as such hosts number them.
enum class VarType : int16_t { kEmpty = 0, kI2 = 2, kR8 = 5, kString = 8, kBool = 11 };

struct DispatchValue {
  VarType vt = VarType::kEmpty;
  int16_t i2 = 0;
  // A 16-bit boolean as the host gave it: true is -1 (all bits set), false 0; a host may store
  // any other value, which is neither.
  int16_t boolean = 0;
  double r8 = 0;
  std::string str;

  static DispatchValue Of(int16_t value) { return {VarType::kI2, value, 0, 0, {}}; }
  static DispatchValue Of(double value) { return {VarType::kR8, 0, 0, value, {}}; }
  static DispatchValue Of(bool value) {
    return {VarType::kBool, 0, static_cast<int16_t>(value ? -1 : 0), 0, {}};
  }
  static DispatchValue OfBool16(int16_t value) { return {VarType::kBool, 0, value, 0, {}}; }
  static DispatchValue Of(std::string value) {
    return {VarType::kString, 0, 0, 0, std::move(value)};
  }
};

// Results of Invoke: 0, or one of these.
enum DispatchError : int {
  kDispatchOk = 0,
  kUnknownMember = -1,       // no member has this id
  kWrongArgumentCount = -2,  // too few or too many arguments
  kTypeMismatch = -3,        // an argument cannot be converted to its parameter's type
  kOverflow = -4,            // an argument's number does not fit its parameter's type
  kNotSupported = -5,        // the flags ask for something the member does not do
  kInvalidArgument = -6,     // a null or malformed argument (C interface)
};

// Invoke flags.
inline constexpr int kDispatchMethod = 1;
inline constexpr int kDispatchPropertyGet = 2;
inline constexpr int kDispatchPropertyPut = 4;

// Event dispatch ids.
inline constexpr int32_t kEventError = 1;
inline constexpr int32_t kEventSerialPort = 2;
inline constexpr int32_t kEventStream = 3;

enum class MemberKind { kMethod, kReadOnlyProperty, kReadWriteProperty };

struct MemberInfo {
  std::string_view name;
  MemberKind kind;
  int32_t dispid;
  VarType type;  // the result or property type; kEmpty for methods without a result
  std::vector<std::pair<std::string_view, VarType>> parameters;
  int optional_parameters;  // how many of the last parameters may be left out
};

// The 54 members of _GPS in interface order.
const std::vector<MemberInfo>& MemberTable();

// The dispatch id of a member, its name compared without regard to case; nullopt if none.
std::optional<int32_t> GetIDsOfNames(std::string_view name);

// Calls member `dispid` of `gps`. `args[0]` is the first parameter; arguments that the member
// changes are changed in place. `result` receives the member's result (empty when it has
// none).
int Invoke(GPS& gps, int32_t dispid, int flags, std::span<DispatchValue> args,
           DispatchValue& result);

}  // namespace quorvane
