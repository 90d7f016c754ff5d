#!/usr/bin/python3
"""The CPU the web panel adds: runs a looper (release build) on a private JACK dummy server with
a loop playing, measures its CPU time over a window with no page open, then with two headless
Chromium pages open on the web panel.

Usage: bench/web_load.py [ZT4_BINARY] [SECONDS]   (default build/release/zt4, 20 s)
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "integration"))
import web_browser  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def measure(pid, seconds):
    start_cpu, start = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return 100 * (cpu_seconds(pid) - start_cpu) / (time.monotonic() - start)


def wait_for(path, text, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(path, errors="replace") as f:
            for line in f:
                if text in line:
                    return line
        time.sleep(0.1)
    raise SystemExit(f"no '{text}' in {path}")


def main():
    binary = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release/zt4")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
    work = tempfile.mkdtemp(prefix="zt4-webload-")
    server = f"zt4webload{os.getpid()}"
    env = dict(os.environ, JACK_DEFAULT_SERVER=server)
    jackd = subprocess.Popen(["jackd", "-n", server, "-r", "-d", "dummy", "-r", "48000", "-p",
                              "256"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    browsers = []
    looper = None
    try:
        time.sleep(2)
        log = os.path.join(work, "zt4.log")
        with open(log, "w") as out:
            looper = subprocess.Popen([binary, "--port", "0", "--web", "127.0.0.1:0"], cwd=work,
                                      env=env, stdin=subprocess.PIPE, stdout=out,
                                      stderr=subprocess.STDOUT)
        url = wait_for(log, "Web panel:").split()[-1]
        wait_for(log, "ready:")
        control = websocket.create_connection(url.replace("http", "ws") + "socket", timeout=5)
        control.send("fn Rec/Dub")
        time.sleep(2)
        control.send("fn Rec/Dub")  # a two-second loop plays on: the state changes all the time
        control.close()
        time.sleep(1)
        idle = measure(looper.pid, seconds)
        for _ in range(2):
            profile = tempfile.mkdtemp(prefix="zt4-chromium-", dir=work)
            browser, ws_url = web_browser.start_browser(profile)
            browsers.append(browser)
            page = web_browser.Page(ws_url)
            page.call("Page.navigate", url=url)
            page.wait("window.zt4 && window.zt4.updates > 0", "a page got no state")
        time.sleep(1)
        loaded = measure(looper.pid, seconds)
        print(json.dumps({"looper_cpu_percent_no_page": round(idle, 2),
                          "looper_cpu_percent_two_pages": round(loaded, 2),
                          "web_panel_adds_percent": round(loaded - idle, 2),
                          "seconds_each": seconds}))
    finally:
        for b in browsers:
            b.terminate()
            b.wait()
        if looper is not None:
            looper.terminate()
            looper.wait()
        jackd.terminate()
        jackd.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
