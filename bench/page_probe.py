#!/usr/bin/python3
"""How a live map page keeps up, in headless Chromium driven through its DevTools protocol.

    page_probe.py URL SECONDS

Loads URL, lets it run SECONDS in real time, and prints one line of JSON: the vehicles listed,
the frames drawn and the longest and 99th-percentile time between them (measured by a script
this probe adds to the page), and how old each vehicle's last fix is by the page's own clock
(the fleet benchmark stamps each fix with the moment it was published, so with 1 Hz vehicles a
page that keeps up shows none much older than a second; ages are taken within a day, as the
benchmark's fixes carry the time of day they were published on the simulated drive's date).
Chromium reaches nothing but 127.0.0.1.
"""

import json
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket  # Debian's python3-websocket

FRAMES = """
window.probeFrames = [];
let probeLast = performance.now();
(function probeTick(now) {
  window.probeFrames.push(now - probeLast);
  probeLast = now;
  requestAnimationFrame(probeTick);
})(performance.now());
"""

MEASURE = """
(() => {
  const gaps = window.probeFrames.slice(1).sort((a, b) => a - b);
  const rows = [...document.querySelectorAll('#vehicles tbody tr')];
  const ages = rows.filter((row) => row.dataset.time)
                   .map((row) => ((Date.now() - Date.parse(row.dataset.time)) / 1000) % 86400)
                   .sort((a, b) => a - b);
  const at = (list, share) => list.length ? list[Math.min(list.length - 1, Math.floor(share * list.length))] : null;
  return JSON.stringify({vehicles: rows.length, frames: gaps.length,
                         frame_p99_ms: at(gaps, 0.99), frame_max_ms: at(gaps, 1),
                         fix_age_p50_s: at(ages, 0.5), fix_age_p99_s: at(ages, 0.99),
                         fix_age_max_s: at(ages, 1)});
})()
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    url, seconds = sys.argv[1], float(sys.argv[2])
    port = free_port()
    with tempfile.TemporaryDirectory() as profile:
        browser = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update",
             "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
             f"--remote-debugging-port={port}", f"--user-data-dir={profile}",
             "--window-size=1280,800", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            target = None
            for _ in range(100):
                try:
                    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list") as answer:
                        pages = [t for t in json.load(answer) if t["type"] == "page"]
                    if pages:
                        target = pages[0]
                        break
                except OSError:
                    pass
                time.sleep(0.1)
            devtools = websocket.create_connection(target["webSocketDebuggerUrl"])
            calls = iter(range(1, 1000))

            def call(method, **params):
                number = next(calls)
                devtools.send(json.dumps({"id": number, "method": method, "params": params}))
                while True:
                    reply = json.loads(devtools.recv())
                    if reply.get("id") == number:
                        return reply.get("result", {})

            call("Page.enable")
            call("Page.addScriptToEvaluateOnNewDocument", source=FRAMES)
            call("Page.navigate", url=url)
            time.sleep(seconds)
            result = call("Runtime.evaluate", expression=MEASURE, returnByValue=True)
            print(result["result"]["value"])
        finally:
            browser.terminate()
            browser.wait()


if __name__ == "__main__":
    main()
