"""The GPS control from Python, through the library's C interface (ctypes, standard library only).

    gps = Control()              # a control with its own message loop
    gps.Port = 33                # properties and methods by name, as in any dispatch host
    gps.Start()
    gps.advise(lambda dispid, args: ...)
    gps.pump(100)                # events and received data are handled while pumping
"""

import ctypes
import json
import os

VT_EMPTY, VT_I2, VT_R8, VT_STRING, VT_BOOL = 0, 2, 5, 8, 11
METHOD, PROPERTYGET, PROPERTYPUT = 1, 2, 4
EVENT_ERROR, EVENT_SERIALPORT, EVENT_STREAM, EVENT_EPOCH = 1, 2, 3, 4


class Variant(ctypes.Structure):
    # str is a raw pointer, so that a string the library puts there can be told from ours and
    # handed back to it.
    _fields_ = [("vt", ctypes.c_int16), ("i2", ctypes.c_int16), ("boolean", ctypes.c_int16),
                ("r8", ctypes.c_double), ("str", ctypes.c_void_p)]


EventCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int32,
                                 ctypes.POINTER(Variant), ctypes.c_int)


HERE = os.path.dirname(os.path.abspath(__file__))
# The library in the order looked for: the build tree beside these examples, the prefix they
# are installed under, the loader's own path.
CANDIDATES = [os.path.join(HERE, "..", "..", "build", "release", "libquorvane-gps.so"),
              os.path.join(HERE, "..", "..", "lib", "libquorvane-gps.so"),
              "libquorvane-gps.so.5", "libquorvane-gps.so"]


def find_library():
    """QGPS_LIBRARY when set, else the first of CANDIDATES that loads."""
    if os.environ.get("QGPS_LIBRARY"):
        return os.environ["QGPS_LIBRARY"]
    for candidate in CANDIDATES:
        if os.sep not in candidate or os.path.exists(candidate):
            try:
                ctypes.CDLL(candidate)
                return candidate
            except OSError:
                continue
    raise OSError("libquorvane-gps not found: build it, install it, or set QGPS_LIBRARY")


def load(path=None):
    """The library at `path`, or where find_library finds it."""
    lib = ctypes.CDLL(path or find_library())
    lib.qgps_create.restype = ctypes.c_void_p
    lib.qgps_destroy.argtypes = [ctypes.c_void_p]
    lib.qgps_id_of_name.argtypes = [ctypes.c_char_p]
    lib.qgps_id_of_name.restype = ctypes.c_int32
    lib.qgps_invoke.argtypes = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int,
                                ctypes.POINTER(Variant), ctypes.c_int, ctypes.POINTER(Variant)]
    lib.qgps_advise.argtypes = [ctypes.c_void_p, EventCallback, ctypes.c_void_p]
    lib.qgps_unadvise.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.qgps_pump.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.qgps_assign_port.argtypes = [ctypes.c_int16, ctypes.c_char_p]
    lib.qgps_variant_clear.argtypes = [ctypes.POINTER(Variant)]
    return lib


REASONS = {-1: "no such member", -2: "wrong number of arguments", -3: "wrong type",
           -4: "value out of range", -5: "not supported", -6: "invalid argument"}


class DispatchError(Exception):
    """A call the control refused: code is why (-1 unknown member ... -6 bad argument)."""

    def __init__(self, code, name):
        super().__init__("%s: %s (%d)" % (name, REASONS.get(code, "refused"), code))
        self.code = code


def to_variant(value, keep):
    """A variant of `value`; `keep` holds the buffers it points at while it is in use."""
    if value is None:
        return Variant(VT_EMPTY)
    if isinstance(value, bool):
        return Variant(VT_BOOL, 0, -1 if value else 0)
    if isinstance(value, int):
        if -32768 <= value <= 32767:
            return Variant(VT_I2, value)
        # Beyond 16 bits: as a number the control converts with its own range check.
        return Variant(VT_R8, 0, 0, float(value))
    if isinstance(value, float):
        return Variant(VT_R8, 0, 0, value)
    buffer = ctypes.create_string_buffer(str(value).encode())
    keep.append(buffer)
    return Variant(VT_STRING, 0, 0, 0, ctypes.addressof(buffer))


def from_variant(variant):
    if variant.vt == VT_I2:
        return variant.i2
    if variant.vt == VT_R8:
        return variant.r8
    if variant.vt == VT_BOOL:
        # True and False, or the other 16-bit value a host stored.
        return {-1: True, 0: False}.get(variant.boolean, variant.boolean)
    if variant.vt == VT_STRING:
        return (ctypes.string_at(variant.str) if variant.str else b"").decode(errors="replace")
    return None


class Control:
    """One GPS control; members are reached by their names."""

    def __init__(self, lib=None):
        object.__setattr__(self, "_lib", lib or load())
        object.__setattr__(self, "_handle", self._lib.qgps_create())
        object.__setattr__(self, "_callbacks", {})

    def close(self):
        if self._handle:
            self._lib.qgps_destroy(self._handle)
            object.__setattr__(self, "_handle", None)

    def __del__(self):
        # A control dropped without close() still gives back its port and sockets.
        if getattr(self, "_handle", None):
            self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def dispid(self, name):
        dispid = self._lib.qgps_id_of_name(name.encode())
        if dispid == -1:
            raise AttributeError(name)
        return dispid

    def invoke(self, name, flags, *args):
        """Calls a member; returns (result, arguments as the member left them)."""
        keep = []
        variants = (Variant * max(len(args), 1))(*[to_variant(a, keep) for a in args])
        given = [variants[i].str for i in range(len(args))]
        result = Variant()
        code = self._lib.qgps_invoke(self._handle, self.dispid(name), flags, variants, len(args),
                                     ctypes.byref(result))
        if code != 0:
            raise DispatchError(code, name)
        value = from_variant(result)
        self._lib.qgps_variant_clear(ctypes.byref(result))
        changed = []
        for i in range(len(args)):
            changed.append(from_variant(variants[i]))
            # A string the member put into an argument (TimeZone's put) is the library's.
            if variants[i].vt == VT_STRING and variants[i].str != given[i]:
                self._lib.qgps_variant_clear(ctypes.byref(variants[i]))
        return value, changed

    def __getattr__(self, name):
        dispid = self.dispid(name)
        if dispid & 0x68000000 == 0x68000000:  # a property
            return self.invoke(name, PROPERTYGET)[0]
        return lambda *args: self.invoke(name, METHOD, *args)[0]

    def __setattr__(self, name, value):
        self.invoke(name, PROPERTYPUT, value)

    def advise(self, handler):
        """handler(dispid, args) for every event; args is a list, and a Stream handler may
        return a replacement for its data. An Epoch's one argument is a dict: gpsd's POLL
        object, with the cycle's TPV in ["tpv"][0] and its SKY in ["sky"][0]."""

        def trampoline(_ctx, dispid, args, nargs):
            values = [from_variant(args[i]) for i in range(nargs)]
            if dispid == EVENT_EPOCH:
                values = [json.loads(value) for value in values]
            replacement = handler(dispid, values)
            if dispid == EVENT_STREAM and replacement is not None:
                keep = ctypes.create_string_buffer(replacement.encode())
                self._callbacks["replacement"] = keep  # alive until the library copied it
                args[0].str = ctypes.addressof(keep)

        callback = EventCallback(trampoline)
        cookie = self._lib.qgps_advise(self._handle, callback, None)
        self._callbacks[cookie] = callback
        return cookie

    def unadvise(self, cookie):
        self._lib.qgps_unadvise(self._handle, cookie)
        self._callbacks.pop(cookie, None)

    def pump(self, milliseconds):
        return self._lib.qgps_pump(self._handle, milliseconds)

    def assign_port(self, number, device):
        return self._lib.qgps_assign_port(number, device.encode())
