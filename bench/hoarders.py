#!/usr/bin/python3
"""gps-monitor's memory while clients that never read hold on to it.

    hoarders.py GPS_MONITOR NMEA_SIMULATE

Replays a simulated day fast with the live map and gpsd's protocol served, lets the receiver's
track fill, then opens 512 map pages (WebSocket connections that never read, each sent the track
at once) and 500 gpsd clients that flood ?POLL; and never read. Prints one line of JSON:
gps-monitor's resident memory before them, its peak while they hoard, after they are gone, and
the budget the servers' queues share: the peak should stay under the memory before, the budget
and what the connections themselves cost (CONNECTION_COST each), and the memory should come back
once they are gone. Everything stays on 127.0.0.1, bounded in count and time.
"""

import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
import time

PAGES = 512
GPSD_CLIENTS = 500
QUEUE_BUDGET = 64 * 1024 * 1024  # the process's one budget for every client queue
HOARD_SECONDS = 10
# What a connection costs the program whatever its client does (its socket, the HTTP and
# WebSocket state, a read buffer): the program's own, beside the queues' budget.
CONNECTION_COST = 32 * 1024


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def memory(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def await_port(port, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    sys.exit(f"nothing listens on {port}")


def hoarder(port):
    client = socket.socket()
    # A reader that reads nothing: the kernel keeps little for it, the rest waits in the server.
    client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    client.connect(("127.0.0.1", port))
    client.setblocking(False)
    return client


def send_some(client, data):
    try:
        client.send(data)
    except OSError:
        pass


def main():
    monitor_path, simulate_path = sys.argv[1], sys.argv[2]
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))
    with tempfile.TemporaryDirectory() as scratch:
        day = os.path.join(scratch, "day.nmea")
        subprocess.run([simulate_path, "--duration", "86400", "--output", day], check=True)
        web, gpsd = free_port(), free_port()
        monitor = subprocess.Popen(
            [monitor_path, "--replay", day, "--speed", "2000", "--tiles", "none",
             "--web", f"127.0.0.1:{web}", "--serve-gpsd", f"127.0.0.1:{gpsd}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            await_port(web)
            await_port(gpsd)
            time.sleep(12)  # the receiver's track fills (its last 20,000 points)
            before = memory(monitor.pid, "VmRSS")
            upgrade = (f"GET /live HTTP/1.1\r\nHost: 127.0.0.1:{web}\r\nUpgrade: websocket\r\n"
                       "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       f"Sec-WebSocket-Version: 13\r\nOrigin: http://127.0.0.1:{web}\r\n\r\n")
            pages = [hoarder(web) for _ in range(PAGES)]
            for page in pages:
                send_some(page, upgrade.encode())
            clients = [hoarder(gpsd) for _ in range(GPSD_CLIENTS)]
            for client in clients:
                send_some(client, b'?WATCH={"enable":true};')
            polls = b"?POLL;" * 10000
            deadline = time.monotonic() + HOARD_SECONDS
            peak = before
            while time.monotonic() < deadline:
                for client in clients:
                    send_some(client, polls)
                peak = max(peak, memory(monitor.pid, "VmRSS"))
                time.sleep(0.1)
            for connection in pages + clients:
                connection.close()
            time.sleep(3)
            after = memory(monitor.pid, "VmRSS")
        finally:
            monitor.terminate()
            monitor.wait()
    mib = 1024 * 1024
    allowance = (PAGES + GPSD_CLIENTS) * CONNECTION_COST
    print(json.dumps({"pages": PAGES, "gpsd_clients": GPSD_CLIENTS,
                      "rss_before_mib": round(before / mib, 1),
                      "rss_peak_mib": round(peak / mib, 1),
                      "rss_after_mib": round(after / mib, 1),
                      "queue_budget_mib": QUEUE_BUDGET // mib,
                      "connections_mib": round(allowance / mib, 1),
                      "within_budget": peak <= before + QUEUE_BUDGET + allowance,
                      "given_back": after <= before + 8 * mib}))


if __name__ == "__main__":
    main()
