// The C interface of the control and its component-hosting entry points. Nothing thrown inside
// the library crosses this boundary.

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "control/dispatch.hpp"
#include "control/qgps.h"
#include "platform/port_table.hpp"
#include "sinks/gpsd_json.hpp"

struct qgps_control {
  asio::io_context io;
  quorvane::GPS gps{io};
  // Calls into the control now running (an event handler may be inside one), and whether the
  // host asked for the control's end while they ran: it comes when the outermost one returns.
  int calls = 0;
  bool ending = false;
};

namespace {

using quorvane::DispatchValue;
using quorvane::VarType;

constexpr int32_t kSOk = 0;
constexpr int32_t kSFalse = 1;
constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002);
constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003);
constexpr int32_t kEOutOfMemory = static_cast<int32_t>(0x8007000E);
constexpr int32_t kClassENoAggregation = static_cast<int32_t>(0x80040110);
constexpr int32_t kClassEClassNotAvailable = static_cast<int32_t>(0x80040111);
constexpr int32_t kSelfRegEClass = static_cast<int32_t>(0x80040201);

const qgps_guid kIidIDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::atomic<int> live_controls{0};
std::atomic<int> server_locks{0};

// The strings of event arguments that a callback holds right now: the library frees them when
// the callback returns, so a host that clears one must not free it (see qgps_variant_clear).
thread_local std::vector<const char*> event_strings;

void Destroy(qgps_control* control) {
  try {
    delete control;
  } catch (...) {
  }
  --live_controls;
}

// One call of the host into a control: destroying the control inside it (from an event handler)
// waits until the outermost call returns.
class Call {
 public:
  explicit Call(qgps_control* control) : control_(control) { ++control_->calls; }
  ~Call() {
    if (--control_->calls == 0 && control_->ending) Destroy(control_);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

 private:
  qgps_control* control_;
};

char* CopyOf(const std::string& text) {
  // C strings end at the first NUL; what follows one cannot cross this interface.
  const size_t length = std::strlen(text.c_str());
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), length + 1);
  return copy;
}

bool FromC(const qgps_variant& in, DispatchValue& out) {
  switch (in.vt) {
    case QGPS_VT_EMPTY:
      out = DispatchValue{};
      return true;
    case QGPS_VT_I2:
      out = DispatchValue::Of(in.i2);
      return true;
    case QGPS_VT_R8:
      out = DispatchValue::Of(in.r8);
      return true;
    case QGPS_VT_BOOL:
      out = DispatchValue::OfBool16(in.boolean);
      return true;
    case QGPS_VT_STRING:
      out = DispatchValue::Of(std::string(in.str != nullptr ? in.str : ""));
      return true;
    default:
      return false;
  }
}

// Writes `in` into `out` with a string of the library's own; out's previous string is not
// touched (it is the host's, or already handed back to it).
void ToC(const DispatchValue& in, qgps_variant& out) {
  out = qgps_variant{static_cast<int16_t>(in.vt), 0, 0, 0, nullptr};
  switch (in.vt) {
    case VarType::kI2:
      out.i2 = in.i2;
      break;
    case VarType::kR8:
      out.r8 = in.r8;
      break;
    case VarType::kBool:
      out.boolean = in.boolean;
      break;
    case VarType::kString:
      out.str = CopyOf(in.str);
      break;
    case VarType::kEmpty:
      break;
  }
}

bool SameValue(const DispatchValue& a, const DispatchValue& b) {
  return a.vt == b.vt && a.i2 == b.i2 && a.boolean == b.boolean &&
         (a.r8 == b.r8 || (a.r8 != a.r8 && b.r8 != b.r8)) && a.str == b.str;
}

// Raises one event to a C callback, unless the host has ended the control. A string argument
// comes back only when the callback changed it (pointed it elsewhere, or wrote into it): text
// after a NUL, which a C string cannot carry, is kept when nothing was changed. Whether the
// callback cleared the argument or not, the library frees its own string, once.
bool RaiseToC(const qgps_control* control, qgps_event_fn callback, void* context, int32_t dispid,
              DispatchValue& argument) {
  if (control->ending) return false;
  qgps_variant c_argument{};
  ToC(argument, c_argument);
  char* ours = c_argument.str;
  const std::string given = ours != nullptr ? ours : "";
  if (ours != nullptr) event_strings.push_back(ours);
  callback(context, dispid, &c_argument, 1);
  if (ours != nullptr) event_strings.pop_back();
  bool changed = false;
  if (c_argument.vt == QGPS_VT_STRING && argument.vt == VarType::kString) {
    const char* now = c_argument.str != nullptr ? c_argument.str : "";
    changed = now != ours || given != now;
    if (changed) argument.str = now;
  }
  std::free(ours);
  return changed;
}

std::string GuidText(const qgps_guid& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
                guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
                guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

bool SameGuid(const qgps_guid* a, const qgps_guid& b) {
  return a != nullptr && std::memcmp(a, &b, sizeof b) == 0;
}

std::filesystem::path RegistrationFile() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (data_home != nullptr && *data_home != '\0') {
    base = data_home;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share";
  }
  return base / "quorvane-gps" / "registration";
}

int32_t FactoryQueryInterface(qgps_class_factory* self, const qgps_guid* iid, void** object);
uint32_t FactoryAddRef(qgps_class_factory*) {
  return 2;
}  // the factory is never freed
uint32_t FactoryRelease(qgps_class_factory*) {
  return 1;
}

int32_t FactoryCreateInstance(qgps_class_factory*, void* outer, const qgps_guid* iid,
                              void** object) {
  if (object == nullptr) return kEPointer;
  *object = nullptr;
  if (outer != nullptr) return kClassENoAggregation;
  if (!SameGuid(iid, QGPS_IID_GPS) && !SameGuid(iid, QGPS_IID_IUNKNOWN) &&
      !SameGuid(iid, kIidIDispatch)) {
    return kENoInterface;
  }
  qgps_control* control = qgps_create();
  if (control == nullptr) return kEOutOfMemory;
  *object = control;
  return kSOk;
}

int32_t FactoryLockServer(qgps_class_factory*, int32_t lock) {
  server_locks += lock ? 1 : -1;
  return kSOk;
}

const qgps_class_factory_vtbl kFactoryVtbl{FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                           FactoryCreateInstance, FactoryLockServer};
qgps_class_factory the_factory{&kFactoryVtbl};

int32_t FactoryQueryInterface(qgps_class_factory* self, const qgps_guid* iid, void** object) {
  if (object == nullptr) return kEPointer;
  *object = nullptr;
  if (!SameGuid(iid, QGPS_IID_IUNKNOWN) && !SameGuid(iid, QGPS_IID_ICLASSFACTORY)) {
    return kENoInterface;
  }
  *object = self;
  return kSOk;
}

}  // namespace

extern "C" {

const qgps_guid QGPS_LIBID{
    0x4F0B6A51, 0x8C3D, 0x4E27, {0x9A, 0x1B, 0x5D, 0x2E, 0x7C, 0x9F, 0x3A, 0x00}};
const qgps_guid QGPS_CLSID_GPS{
    0x4F0B6A51, 0x8C3D, 0x4E27, {0x9A, 0x1B, 0x5D, 0x2E, 0x7C, 0x9F, 0x3A, 0x01}};
const qgps_guid QGPS_IID_GPS{
    0x4F0B6A51, 0x8C3D, 0x4E27, {0x9A, 0x1B, 0x5D, 0x2E, 0x7C, 0x9F, 0x3A, 0x02}};
const qgps_guid QGPS_DIID_GPS_EVENTS{
    0x4F0B6A51, 0x8C3D, 0x4E27, {0x9A, 0x1B, 0x5D, 0x2E, 0x7C, 0x9F, 0x3A, 0x03}};
const qgps_guid QGPS_IID_IUNKNOWN{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const qgps_guid QGPS_IID_ICLASSFACTORY{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

qgps_control* qgps_create(void) {
  try {
    auto* control = new qgps_control;
    ++live_controls;
    return control;
  } catch (...) {
    return nullptr;
  }
}

void qgps_destroy(qgps_control* control) {
  if (control == nullptr || control->ending) return;
  control->ending = true;
  if (control->calls > 0) {
    // Called from an event handler: the call running now ends first, and raises nothing more.
    control->io.stop();
    return;
  }
  Destroy(control);
}

int32_t qgps_id_of_name(const char* name) {
  if (name == nullptr) return -1;
  return quorvane::GetIDsOfNames(name).value_or(-1);
}

int qgps_invoke(qgps_control* control, int32_t dispid, int flags, qgps_variant* args, int nargs,
                qgps_variant* result) {
  if (control == nullptr || control->ending || nargs < 0 || (nargs > 0 && args == nullptr)) {
    return QGPS_E_INVALID_ARGUMENT;
  }
  const Call call(control);
  try {
    std::vector<DispatchValue> values(static_cast<size_t>(nargs));
    for (size_t i = 0; i < values.size(); ++i) {
      if (!FromC(args[i], values[i])) return QGPS_E_TYPE_MISMATCH;
    }
    const std::vector<DispatchValue> given = values;
    DispatchValue value;
    const int code = quorvane::Invoke(control->gps, dispid, flags, values, value);
    if (code != QGPS_OK) return code;
    for (size_t i = 0; i < values.size(); ++i) {
      if (!SameValue(values[i], given[i])) ToC(values[i], args[i]);
    }
    if (result != nullptr) ToC(value, *result);
    return QGPS_OK;
  } catch (...) {
    return QGPS_E_INVALID_ARGUMENT;
  }
}

int qgps_advise(qgps_control* control, qgps_event_fn callback, void* ctx) {
  if (control == nullptr || control->ending || callback == nullptr) {
    return QGPS_E_INVALID_ARGUMENT;
  }
  try {
    return control->gps.Advise(
        {.Error =
             [=](std::string& description) {
               DispatchValue argument = DispatchValue::Of(description);
               RaiseToC(control, callback, ctx, QGPS_EVENT_ERROR, argument);
             },
         .SerialPort =
             [=](int16_t& number) {
               DispatchValue argument = DispatchValue::Of(number);
               RaiseToC(control, callback, ctx, QGPS_EVENT_SERIALPORT, argument);
             },
         .Stream =
             [=](std::string& data) {
               DispatchValue argument = DispatchValue::Of(data);
               if (RaiseToC(control, callback, ctx, QGPS_EVENT_STREAM, argument)) {
                 data = std::move(argument.str);
               }
             },
         .Epoch =
             [=](const quorvane::Fix& fix, const std::string& stream) {
               DispatchValue argument = DispatchValue::Of(PollJson(fix, stream));
               RaiseToC(control, callback, ctx, QGPS_EVENT_EPOCH, argument);
             }});
  } catch (...) {
    return QGPS_E_INVALID_ARGUMENT;
  }
}

void qgps_unadvise(qgps_control* control, int cookie) {
  if (control != nullptr && !control->ending) control->gps.Unadvise(cookie);
}

int qgps_pump(qgps_control* control, int timeout_ms) {
  if (control == nullptr || control->ending) return QGPS_E_INVALID_ARGUMENT;
  const Call call(control);
  try {
    control->io.restart();
    return static_cast<int>(
        control->io.run_for(std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0)));
  } catch (...) {
    return QGPS_E_INVALID_ARGUMENT;
  }
}

int qgps_assign_port(int16_t number, const char* device_path) {
  try {
    return quorvane::AssignPort(number, device_path != nullptr ? device_path : "")
               ? QGPS_OK
               : QGPS_E_INVALID_ARGUMENT;
  } catch (...) {
    return QGPS_E_INVALID_ARGUMENT;
  }
}

void qgps_variant_clear(qgps_variant* value) {
  if (value == nullptr) return;
  const bool event_string =
      std::find(event_strings.begin(), event_strings.end(), value->str) != event_strings.end();
  if (value->vt == QGPS_VT_STRING && !event_string) std::free(value->str);
  *value = qgps_variant{};
}

int32_t DllGetClassObject(const qgps_guid* clsid, const qgps_guid* iid, void** object) {
  if (object == nullptr || clsid == nullptr) return kEPointer;
  *object = nullptr;
  if (!SameGuid(clsid, QGPS_CLSID_GPS)) return kClassEClassNotAvailable;
  return FactoryQueryInterface(&the_factory, iid, object);
}

int32_t DllCanUnloadNow(void) {
  return live_controls == 0 && server_locks == 0 ? kSOk : kSFalse;
}

int32_t DllRegisterServer(void) {
  try {
    Dl_info library{};
    if (::dladdr(reinterpret_cast<void*>(&DllRegisterServer), &library) == 0 ||
        library.dli_fname == nullptr) {
      return kSelfRegEClass;
    }
    const std::filesystem::path file = RegistrationFile();
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::trunc);
    out << "[CLSID\\" << GuidText(QGPS_CLSID_GPS) << "]\n"
        << "ProgID=QuorvaneGPS.GPS\n"
        << "InprocServer32=" << std::filesystem::absolute(library.dli_fname).string() << "\n"
        << "TypeLib=" << GuidText(QGPS_LIBID) << "\n"
        << "Interface=" << GuidText(QGPS_IID_GPS) << "\n"
        << "Events=" << GuidText(QGPS_DIID_GPS_EVENTS) << "\n"
        << "Version=" << quorvane::ControlVersion() << "\n";
    out.close();
    return out ? kSOk : kSelfRegEClass;
  } catch (...) {
    return kSelfRegEClass;
  }
}

int32_t DllUnregisterServer(void) {
  std::error_code ignored;
  std::filesystem::remove(RegistrationFile(), ignored);
  return kSOk;
}

}  // extern "C"
