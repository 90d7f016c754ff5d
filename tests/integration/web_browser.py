#!/usr/bin/python3
"""Drives the web panel in headless Chromium through the DevTools protocol, as a player's phone
would: records a loop on track 1, sets its level through the panel keys and saves screenshots of
the phone and tablet layouts.

Usage: web_browser.py URL SHOT_DIR
Prints one "result: ..." line per finding and "browser test passed" at the end; exits 1 with
"failed: ..." when a step does not happen before its deadline.
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket

PHONE = (390, 844)
TABLET = (1180, 820)


class Failed(Exception):
    pass


class Page:
    def __init__(self, ws_url):
        self.ws = websocket.create_connection(ws_url, timeout=30)
        self.next_id = 0

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise Failed(f"{method}: {reply['error']}")
                return reply.get("result", {})

    def js(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise Failed(f"script error in {expression!r}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait(self, expression, what, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.js(expression)
            if value:
                return value
            time.sleep(0.02)
        raise Failed(f"{what} (waited {timeout} s for {expression})")

    def layout(self, size):
        width, height = size
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=width < 800)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))


def start_browser(profile):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if chromium is None:
        raise Failed("chromium is missing (scripts/deps installs it)")
    browser = subprocess.Popen(
        [chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-extensions", "--remote-debugging-port=0", "--remote-debugging-address=127.0.0.1",
         f"--user-data-dir={profile}", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port_file = os.path.join(profile, "DevToolsActivePort")
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            with open(port_file) as f:
                lines = f.read().split()
            if lines:
                port = int(lines[0])
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list") as r:
                    targets = json.load(r)
                pages = [t for t in targets if t.get("type") == "page"]
                if pages:
                    return browser, pages[0]["webSocketDebuggerUrl"]
        time.sleep(0.1)
    browser.kill()
    raise Failed("chromium did not open its DevTools port")


def strip(n, field):
    return f"document.getElementById('strip{n}').dataset.{field}"


def line(n):
    return f"document.getElementById('l{n}').textContent"


def tap(page, selector):
    """Taps the element: a touch at its centre, as a finger would."""
    box = page.js(f"(() => {{ const e = document.querySelector('{selector}');"
                  "e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect();"
                  "return [r.x + r.width / 2, r.y + r.height / 2]; })()")
    x, y = box
    point = [{"x": x, "y": y}]
    page.call("Input.dispatchTouchEvent", type="touchStart", touchPoints=point)
    page.call("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])


def run(url, shots):
    profile = tempfile.mkdtemp(prefix="zt4-chromium-")
    browser, ws_url = start_browser(profile)
    try:
        page = Page(ws_url)
        page.call("Page.enable")
        page.call("Runtime.enable")
        page.call("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=1)
        page.layout(PHONE)
        page.call("Page.navigate", url=url)
        page.wait("window.zt4 && window.zt4.updates > 0", "the page got no state from the looper")
        size = page.js("document.documentElement.outerHTML.length")
        print(f"result: page {size} characters")
        page.wait(f"{strip(1, 'state')} === 'empty'", "track 1 is not empty at the start")

        # Rec/Dub: the strip turns to recording; the time from the tap to the page showing it.
        tap(page, 'button[data-fn="Rec/Dub"]')
        page.wait(f"{strip(1, 'state')} === 'recording'", "track 1 did not start recording")
        latency = page.js(f"{strip(1, 'changed')} - window.zt4.sent")
        print(f"result: tap to recording shown {latency:.0f} ms")
        page.wait(f"Number({strip(1, 'length')}) > 48000", "track 1 did not record a second")
        tap(page, 'button[data-fn="Rec/Dub"]')
        word = page.wait(f"['overdubbing', 'playing'].includes({strip(1, 'state')}) && "
                         f"{strip(1, 'state')}", "track 1 did not close its loop")
        latency = page.js(f"{strip(1, 'changed')} - window.zt4.sent")
        print(f"result: tap to {word} shown {latency:.0f} ms")
        length = page.wait(f"document.querySelector('#strip1 .len').textContent.endsWith('s') && "
                           "document.querySelector('#strip1 .len').textContent",
                           "track 1 shows no length")
        print(f"result: track 1 {word}, length {length}")
        page.wait("window.zt4.waves[0].some(v => v !== 0)", "track 1 has no waveform")

        # Track Level through the panel keys: track key 1, the encoder to "Level", select, down 3.
        tap(page, 'button[data-key="2080"]')
        page.wait(f"{line(0)}.includes('Track 1')", "track key 1 did not open the track menu")
        for _ in range(12):
            tap(page, 'button[data-enc="1"]')
        page.wait(f"{line(1)}.trim() === 'Level'", "the encoder did not reach Level")
        tap(page, 'button[data-key="1080"]')
        page.wait(f"{line(0)}.includes('Track 1 Level') && {line(1)}.trim() === '0'",
                  "select did not open the level entry")
        for _ in range(3):
            tap(page, 'button[data-enc="-1"]')
        page.wait(f"{line(1)}.trim() === '-3'", "the encoder did not turn the level down")
        page.wait(f"document.querySelector('#strip1 .lv').textContent === 'Lvl -3'",
                  "the strip does not show the new level")
        print("result: Track Level set to -3 through the panel keys")
        errors = page.js("window.zt4.errors")
        if errors:
            raise Failed(f"the looper refused messages: {errors}")

        # Malformed socket messages: each answered with an error, nothing changes.
        before = page.js("JSON.stringify([state.sel, state.tr.map(r => [r[0], r[1], r[3]])])")
        bad = ["fn No Such Function", "key 9999", "enc 99", "hello", "fn Track Erase\u0001",
               "key", "fn " + "x" * 100]
        page.js("(() => { for (const m of %s) ws.send(m); })()" % json.dumps(bad))
        page.wait("window.zt4.errors.length === %d" % len(bad), "bad messages were not refused")
        time.sleep(0.2)
        after = page.js("JSON.stringify([state.sel, state.tr.map(r => [r[0], r[1], r[3]])])")
        if after != before:
            raise Failed(f"bad messages changed the looper: {before} -> {after}")
        print(f"result: {len(bad)} malformed messages refused, nothing changed")

        tap(page, 'button[data-key="1080"]')  # leave the entry: the status screen again
        page.wait(f"!{line(0)}.includes('Track 1 Level')", "select did not leave the entry")
        page.js("window.scrollTo(0, 0)")
        os.makedirs(shots, exist_ok=True)
        page.screenshot(os.path.join(shots, "web-phone.png"))
        page.layout(TABLET)
        page.wait("innerWidth === %d" % TABLET[0], "the tablet layout did not apply")
        page.js("window.scrollTo(0, 0)")
        page.screenshot(os.path.join(shots, "web-tablet.png"))
        print(f"result: screenshots in {shots}")
    finally:
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait()
        shutil.rmtree(profile, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    try:
        run(sys.argv[1], sys.argv[2])
    except Failed as e:
        print(f"failed: {e}")
        return 1
    print("browser test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
