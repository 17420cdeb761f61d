#!/usr/bin/env python3
"""Drives a GPS control by name from Python: a pseudo-terminal stands in for the receiver, the
control reads it like any serial port, and the fix is printed as it arrives.

    python3 examples/python/live_fix.py

It finds the library in the build tree or the installed prefix (QGPS_LIBRARY overrides).
"""

import os
import pty
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quorvane_gps import EVENT_ERROR, EVENT_STREAM, Control  # noqa: E402


def checksum(body):
    value = 0
    for character in body.encode():
        value ^= character
    return "$%s*%02X\r\n" % (body, value)


def main():
    master, slave = pty.openpty()
    device = os.ttyname(slave)
    with Control() as gps:
        gps.assign_port(150, device)
        fixes = []

        def on_event(dispid, args):
            if dispid == EVENT_ERROR:
                print("Error:", args[0])
            elif dispid == EVENT_STREAM and "$GPGGA" in args[0]:
                fixes.append(1)
                print("%s UTC  %s, %s  %s m  %s km/h  odometer %s m" % (
                    gps.GPS_Time, gps.Latitude, gps.Longitude, gps.Altitude, gps.Speed,
                    gps.Odometer))

        gps.advise(on_event)
        gps.Port = 150
        gps.Start()
        print("Engine:", gps.Engine(), " version", gps.Version())
        for second in range(5):
            minutes = 7.038 + second * 0.01
            stamp = "1235%02d" % (19 + second)
            os.write(master, (checksum("GPGGA,%s,48%06.3f,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"
                                       % (stamp, minutes)) +
                              checksum("GPRMC,%s,A,48%06.3f,N,01131.000,E,022.4,084.4,230394,,"
                                       % (stamp, minutes))).encode())
            deadline = time.time() + 2
            while len(fixes) <= second and time.time() < deadline:
                gps.pump(20)
        gps.StopGPS()
        print("distance to the antipode: %.4f m" % gps.DistanceBetween2CoordinatesMeters(
            90.0, 0.0, -90.0, 0.0))
    os.close(master)
    os.close(slave)
    return 0 if fixes else 1


if __name__ == "__main__":
    sys.exit(main())
