/* quorvane-gps: the GPS control for hosts in any language (C linkage, no C++ types).
 *
 * A control runs its own message loop: events and received data are handled while the host
 * calls qgps_pump. Members are reached by dispatch id (qgps_id_of_name gives the id of a
 * member's name) through qgps_invoke.
 *
 * Threads: a control is used from one thread at a time. Its calls (invoke, pump, advise,
 * unadvise, destroy) may come from any thread, but never from two at once: a host that pumps on
 * one thread and invokes from another serialises the two itself. Different controls are
 * independent.
 *
 * Strings are UTF-8. The library never frees a string the host passed in. Where the library
 * puts a string into a variant (a result, or an argument that a member changed, such as
 * TimeZone's put), the string is the host's to free, with qgps_variant_clear.
 *
 * Event arguments belong to the library and live for the duration of the callback. A callback
 * may clear one with qgps_variant_clear (the variant is emptied; the library still frees its
 * string, once, when the callback returns), point a string argument at a string of its own
 * (the library copies it at once; the host keeps its string), or write into it. Only a changed
 * Stream argument changes the block the control goes on with.
 *
 * A callback may call qgps_destroy on its own control: the control then raises nothing more
 * and is destroyed when the host's outermost call into it (the qgps_pump or qgps_invoke that
 * raised the event) returns. That call returns normally; the control must not be used after.
 */
#ifndef QUORVANE_GPS_QGPS_H
#define QUORVANE_GPS_QGPS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qgps_control qgps_control;

enum qgps_vartype {
  QGPS_VT_EMPTY = 0,
  QGPS_VT_I2 = 2,     /* i2 */
  QGPS_VT_R8 = 5,     /* r8 */
  QGPS_VT_STRING = 8, /* str, UTF-8 */
  QGPS_VT_BOOL = 11   /* boolean: -1 true, 0 false */
};

typedef struct qgps_variant {
  int16_t vt;
  int16_t i2;
  int16_t boolean;
  double r8;
  char* str;
} qgps_variant;

/* qgps_invoke flags */
#define QGPS_METHOD 1
#define QGPS_PROPERTYGET 2
#define QGPS_PROPERTYPUT 4

/* qgps_invoke results */
#define QGPS_OK 0
#define QGPS_E_UNKNOWN_MEMBER (-1)
#define QGPS_E_ARGUMENT_COUNT (-2)
#define QGPS_E_TYPE_MISMATCH (-3)
#define QGPS_E_OVERFLOW (-4)
#define QGPS_E_NOT_SUPPORTED (-5)
#define QGPS_E_INVALID_ARGUMENT (-6)

/* event dispatch ids */
#define QGPS_EVENT_ERROR 1      /* args[0]: Description, string */
#define QGPS_EVENT_SERIALPORT 2 /* args[0]: Number, i2 */
#define QGPS_EVENT_STREAM 3     /* args[0]: data, string; a changed string is what goes on */
/* args[0]: one reporting cycle of the receiver, the JSON text of gpsd's POLL object:
   {"class":"POLL","time":...,"active":1,"tpv":[{TPV}],"sky":[{SKY}]}; the TPV's "device" names
   a fleet's vehicle. Raised once the cycle's last sentence is decoded, before its Stream. */
#define QGPS_EVENT_EPOCH 4

qgps_control* qgps_create(void);
void qgps_destroy(qgps_control* control);

/* The dispatch id of a member (its name in any case), or -1. */
int32_t qgps_id_of_name(const char* name);

/* Calls a member: args[0] is its first parameter, by reference; result may be null. Returns
 * QGPS_OK or a QGPS_E_ code. */
int qgps_invoke(qgps_control* control, int32_t dispid, int flags, qgps_variant* args, int nargs,
                qgps_variant* result);

typedef void (*qgps_event_fn)(void* ctx, int32_t dispid, qgps_variant* args, int nargs);
/* Registers an event callback; returns a cookie for qgps_unadvise, or a negative code. */
int qgps_advise(qgps_control* control, qgps_event_fn callback, void* ctx);
void qgps_unadvise(qgps_control* control, int cookie);

/* Runs the control's loop for at most timeout_ms; returns the number of handlers run. */
int qgps_pump(qgps_control* control, int timeout_ms);

/* Gives serial port `number` the device `device_path` (an empty path removes it); 0 or a
 * negative code. */
int qgps_assign_port(int16_t number, const char* device_path);

/* Frees a string the library put into the variant and empties it. */
void qgps_variant_clear(qgps_variant* value);

/* Component hosting. Results are HRESULT values (0 S_OK, 1 S_FALSE, negative failures). */
typedef struct qgps_guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} qgps_guid;

extern const qgps_guid QGPS_CLSID_GPS;       /* {4F0B6A51-8C3D-4E27-9A1B-5D2E7C9F3A01} */
extern const qgps_guid QGPS_IID_GPS;         /* _GPS   {4F0B6A51-8C3D-4E27-9A1B-5D2E7C9F3A02} */
extern const qgps_guid QGPS_DIID_GPS_EVENTS; /* __GPS  {4F0B6A51-8C3D-4E27-9A1B-5D2E7C9F3A03} */
extern const qgps_guid QGPS_LIBID;           /* {4F0B6A51-8C3D-4E27-9A1B-5D2E7C9F3A00} */
extern const qgps_guid QGPS_IID_IUNKNOWN;
extern const qgps_guid QGPS_IID_ICLASSFACTORY;

typedef struct qgps_class_factory qgps_class_factory;
typedef struct qgps_class_factory_vtbl {
  int32_t (*QueryInterface)(qgps_class_factory* self, const qgps_guid* iid, void** object);
  uint32_t (*AddRef)(qgps_class_factory* self);
  uint32_t (*Release)(qgps_class_factory* self);
  /* object receives a qgps_control*, to be ended with qgps_destroy. */
  int32_t (*CreateInstance)(qgps_class_factory* self, void* outer, const qgps_guid* iid,
                            void** object);
  int32_t (*LockServer)(qgps_class_factory* self, int32_t lock);
} qgps_class_factory_vtbl;
struct qgps_class_factory {
  const qgps_class_factory_vtbl* vtbl;
};

int32_t DllGetClassObject(const qgps_guid* clsid, const qgps_guid* iid, void** object);
int32_t DllCanUnloadNow(void);
/* Records the class id and the library's path in $XDG_DATA_HOME/quorvane-gps/registration
 * (default ~/.local/share), and removes that record. */
int32_t DllRegisterServer(void);
int32_t DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif

#endif
