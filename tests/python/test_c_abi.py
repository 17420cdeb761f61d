"""The control from Python through ctypes: the way a scripting host drives it."""

import ctypes
import os
import pty
import socket
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python"))
from quorvane_gps import (EVENT_EPOCH, EVENT_ERROR, EVENT_STREAM, PROPERTYPUT,  # noqa: E402
                          Control, DispatchError, load)

LIB = load()
GGA = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"


class ByName(unittest.TestCase):
    def setUp(self):
        self.gps = Control(LIB)

    def tearDown(self):
        self.gps.close()

    def test_settable_properties_round_trip(self):
        for name, value in [("Port", 7), ("TxPort", 5001), ("RxPort", -15536), ("ServerIP", 2),
                            ("PortSettings", "9600,n,8,1"), ("Broadcast", True),
                            ("BroadcastAddress", "localhost"),
                            ("AllTalkers", True), ("VerifyChecksum", True)]:
            setattr(self.gps, name, value)
            self.assertEqual(getattr(self.gps, name), value, name)
        self.gps.Port = "12"  # a numeric string for an integer
        self.assertEqual(self.gps.Port, 12)
        self.assertEqual(self.gps.version(), "5.4.88")  # names in any case

    def test_time_zone_put_changes_its_argument(self):
        os.environ["TZ"] = "NPT-5:45"
        try:
            _, args = self.gps.invoke("TimeZone", PROPERTYPUT, "anything")
            self.assertEqual(args, ["NPT"])
            self.assertEqual(self.gps.TimeZone, "-5.75")
        finally:
            del os.environ["TZ"]

    def test_errors_are_codes(self):
        with self.assertRaises(AttributeError):
            self.gps.NoSuchMember
        with self.assertRaises(DispatchError) as caught:
            self.gps.Port = "COM1"
        self.assertEqual(caught.exception.code, -3)
        with self.assertRaises(DispatchError) as caught:
            self.gps.DistanceBetween2CoordinatesMeters(1.0, 2.0)
        self.assertEqual(caught.exception.code, -2)
        with self.assertRaises(DispatchError) as caught:
            self.gps.Latitude = "1"
        self.assertEqual(caught.exception.code, -5)

    def test_a_number_beyond_sixteen_bits_is_refused_not_wrapped(self):
        with self.assertRaises(DispatchError) as caught:
            self.gps.Port = 70000
        self.assertEqual(caught.exception.code, -4)
        self.assertIn("Port: value out of range", str(caught.exception))
        self.assertEqual(self.gps.Port, 0)

    def test_a_dropped_control_gives_back_what_it_held(self):
        before = len(os.listdir("/proc/self/fd"))
        for _ in range(200):
            Control(LIB)
        import gc
        gc.collect()
        self.assertLess(len(os.listdir("/proc/self/fd")), before + 10)

    def test_distance_with_integers_for_doubles(self):
        self.assertAlmostEqual(self.gps.DistanceBetween2CoordinatesMeters(0, 0, 0, 1),
                               111189.566, places=3)

    def test_events_by_reference_through_a_pseudo_terminal(self):
        master, slave = pty.openpty()
        listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        listener.bind(("127.0.0.1", 0))
        listener.settimeout(2)
        try:
            events = []

            def handler(dispid, args):
                events.append((dispid, args[0]))
                return "replaced\r\n" if dispid == EVENT_STREAM else None

            self.gps.advise(handler)
            self.gps.Start()  # no port yet
            self.assertEqual(events, [(EVENT_ERROR, "Invalid port number")])
            self.gps.StopGPS()
            self.assertEqual(self.gps.assign_port(160, os.ttyname(slave)), 0)
            self.gps.Port = 160
            self.gps.Broadcast = True
            self.gps.BroadcastAddress = "127.0.0.1"
            self.gps.TxPort = ctypes.c_int16(listener.getsockname()[1]).value
            self.gps.Start()
            self.assertTrue(self.gps.Engine())
            self.assertEqual(listener.recv(100), b"")
            os.write(master, GGA.encode())
            for _ in range(100):
                if len(events) > 1:
                    break
                self.gps.pump(10)
            self.assertEqual(events[1], (EVENT_STREAM, GGA))
            self.assertEqual(self.gps.Latitude, "48.1173")
            self.assertEqual(listener.recv(100), b"replaced\r\n")
        finally:
            listener.close()
            os.close(master)
            os.close(slave)

    def test_each_reporting_cycle_comes_as_one_dict(self):
        master, slave = pty.openpty()
        try:
            epochs = []
            self.gps.advise(lambda dispid, args: epochs.append(args[0])
                            if dispid == EVENT_EPOCH else None)
            self.assertEqual(self.gps.assign_port(161, os.ttyname(slave)), 0)
            self.gps.Port = 161
            self.gps.Start()
            # The cycle of 12:35:19 ends when a sentence of another time comes.
            os.write(master, (GGA + "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,"
                              "230394,003.1,W*6A\r\n" + GGA.replace("123519", "123520")).encode())
            for _ in range(100):
                if epochs:
                    break
                self.gps.pump(10)
            tpv = epochs[0]["tpv"][0]
            self.assertEqual(tpv["time"], "1994-03-23T12:35:19.000Z")
            self.assertEqual((tpv["mode"], tpv["lat"], tpv["altMSL"]), (3, 48.1173, 545.4))
            self.assertAlmostEqual(tpv["speed"], 22.4 * 1852 / 3600, places=3)
            self.assertEqual(epochs[0]["sky"][0]["uSat"], 8)
            self.gps.StopGPS()  # the cycle under way is the last
            self.assertEqual(epochs[1]["tpv"][0]["time"], "1994-03-23T12:35:20.000Z")
        finally:
            os.close(master)
            os.close(slave)

    def test_optional_arguments_may_be_left_out(self):
        path = "/tmp/qgps-python-record.kml"
        self.gps.StartKMLRecord(path)
        self.assertTrue(self.gps.isRecording)
        self.gps.StopKMLRecord()
        with open(path, "rb") as kml:
            self.assertIn(b"  <name></name>\r\n", kml.read())
        os.remove(path)


class Hosting(unittest.TestCase):
    def test_unload_follows_the_live_controls(self):
        LIB.DllCanUnloadNow.restype = ctypes.c_int32
        self.assertEqual(LIB.DllCanUnloadNow(), 0)
        controls = [Control(LIB) for _ in range(50)]
        self.assertEqual(LIB.DllCanUnloadNow(), 1)
        for control in controls:
            control.close()
        self.assertEqual(LIB.DllCanUnloadNow(), 0)


if __name__ == "__main__":
    unittest.main()
