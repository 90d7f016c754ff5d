#!/usr/bin/python3
"""What OSC feedback costs and how fast it is: runs a looper (release build) on a private JACK
dummy server with a loop playing; measures the OSC thread's and the whole looper's CPU time over
a window with no subscriber, then with two oscdump subscribers; then times level changes made
over UDP until oscdump prints them (the feedback latency: the change, the next 10 ms snapshot,
the datagram, oscdump's line).

Usage: bench/osc_load.py [ZT4_BINARY] [SECONDS]   (default build/release/zt4, 20 s)
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_load import TICKS, cpu_seconds, wait_for  # noqa: E402


def thread_cpu_seconds(pid, name):
    total = 0.0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                text = f.read()
        except FileNotFoundError:
            continue
        if text[text.index("(") + 1:text.rindex(")")] == name:
            fields = text.rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / TICKS
    return total


def measure(pid, seconds):
    start, cpu, osc = time.monotonic(), cpu_seconds(pid), thread_cpu_seconds(pid, "zt4-osc")
    time.sleep(seconds)
    elapsed = time.monotonic() - start
    return (100 * (cpu_seconds(pid) - cpu) / elapsed,
            100 * (thread_cpu_seconds(pid, "zt4-osc") - osc) / elapsed)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def osc_message(path, types="", *args):
    def pad(b):
        return b + b"\0" * (4 - len(b) % 4)
    out = pad(path.encode()) + pad(("," + types).encode())
    for t, a in zip(types, args):
        out += a.to_bytes(4, "big", signed=True) if t == "i" else pad(a.encode())
    return out


class Dump:
    """oscdump subscribed on a port of its own; its lines with the time each arrived."""

    def __init__(self, osc_port):
        self.port = free_port()
        self.lines = []
        self.proc = subprocess.Popen(["oscdump", "-L", str(self.port)], stdout=subprocess.PIPE,
                                     text=True)
        threading.Thread(target=self.read, daemon=True).start()
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for _ in range(50):
            sock.sendto(osc_message("/zt4/subscribe", "i", self.port), ("127.0.0.1", osc_port))
            time.sleep(0.1)
            if self.lines:
                return
        raise SystemExit("oscdump got nothing")

    def read(self):
        for line in self.proc.stdout:
            self.lines.append((time.monotonic(), line))

    def wait(self, text, since, timeout=5):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for t, line in list(self.lines):
                if t >= since and text in line:
                    return t
            time.sleep(0.001)
        return None


def main():
    binary = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release/zt4")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 20
    work = tempfile.mkdtemp(prefix="zt4-oscload-")
    server = f"zt4oscload{os.getpid()}"
    env = dict(os.environ, JACK_DEFAULT_SERVER=server)
    jackd = subprocess.Popen(["jackd", "-n", server, "-r", "-d", "dummy", "-r", "48000", "-p",
                              "256"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    looper = None
    dumps = []
    try:
        time.sleep(2)
        log = os.path.join(work, "zt4.log")
        with open(log, "w") as out:
            looper = subprocess.Popen([binary, "-d", work, "-p", "0", "--web", "off", "--osc",
                                       "127.0.0.1:0"], stdout=out, stderr=subprocess.STDOUT,
                                      stdin=subprocess.PIPE, env=env)
        udp_port = int(wait_for(log, "ready:").split("UDP port ")[1].split(",")[0])
        osc_port = int(wait_for(log, "OSC: ").rsplit(":", 1)[1].rstrip("/\n"))
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        for command, pause in (("Rec/Dub", 2.0), ("Rec/Dub", 0.5), ("Rec/Dub", 0.5)):
            udp.sendto(f"<command>{command}</command>".encode(), ("127.0.0.1", udp_port))
            time.sleep(pause)
        idle, idle_osc = measure(looper.pid, seconds)
        dumps = [Dump(osc_port), Dump(osc_port)]
        busy, busy_osc = measure(looper.pid, seconds)
        print(f"looper CPU with a loop playing: {idle:.1f}% with no OSC subscriber "
              f"(OSC thread {idle_osc:.2f}%), {busy:.1f}% with two (OSC thread {busy_osc:.2f}%)")
        osc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        senders = {
            # The main loop takes a UDP command after its nap of up to 50 ms.
            "UDP <command>": lambda level: udp.sendto(
                f"<command>Track Level -0{level}</command>".encode(), ("127.0.0.1", udp_port)),
            # OSC wakes the main loop at once.
            "OSC /zt4/track/1/level": lambda level: osc.sendto(
                osc_message("/zt4/track/1/level", "i", -level), ("127.0.0.1", osc_port)),
        }
        for name, send in senders.items():
            latencies = []
            for i in range(20):
                level = 1 + i % 9
                since = time.monotonic()
                send(level)
                arrived = dumps[0].wait(f"/zt4/track/1/level f -{level}.000000", since)
                if arrived is not None:
                    latencies.append(1000 * (arrived - since))
                time.sleep(0.2)
            if latencies:
                print(f"feedback latency, level change by {name} to oscdump line: median "
                      f"{statistics.median(latencies):.1f} ms, max {max(latencies):.1f} ms "
                      f"({len(latencies)} of 20 seen)")
    finally:
        for d in dumps:
            d.proc.terminate()
        if looper is not None:
            looper.terminate()
            looper.wait()
        jackd.terminate()
        jackd.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
