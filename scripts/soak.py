#!/usr/bin/env python3
"""Soak run: the window (offscreen) and the command-line monitor against a simulator whose faults
change at random, with an older unit's listener checked beside them.

    soak.py MINUTES [--bin DIR] [--seed N] [--report FILE]

Reports recoveries, the longest time without a good pass, the programs' memory at start and end,
and every error (a program that ended, a value that differs from what the simulator serves).
"""
import argparse
import contextlib
import json
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

# What the simulator serves in the identification block; any other value on a good pass means a
# damaged answer was taken for a correct one.
EXPECTED = {"0": "740", "1": "300", "2": "000004242", "4": "0"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def wait_for_line(path, prefix, proc, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            with open(path) as f:
                for line in f:
                    if line.startswith(prefix):
                        return line[len(prefix):].strip()
        except OSError:
            pass
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    return None


class Soak:
    def __init__(self, args):
        self.args = args
        self.bin = args.bin
        self.rng = random.Random(args.seed)
        self.work = tempfile.mkdtemp(prefix="kt-soak-")
        self.port = free_port()
        self.sim = None
        self.errors = []
        self.faults = []
        self.passes = []  # monotonic times of good passes seen by the monitor
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.legacy_runs = 0
        self.monitor_ends = 0
        self.damaged_runs = 0
        self.damaged_passes = 0
        self.legacy_failures = 0

    def error(self, text):
        with self.lock:
            self.errors.append(f"{time.strftime('%H:%M:%S')} {text}")
        print("error:", text, file=sys.stderr, flush=True)

    # ---- the simulator, restarted with a new fault plan for every segment ----
    def start_sim(self, fault_args):
        out = os.path.join(self.work, "sim.out")
        err = open(os.path.join(self.work, "sim.err"), "a")
        cmd = [os.path.join(self.bin, "kt740sim"), "--tcp", f"127.0.0.1:{self.port}", "--firmware", "300",
               "--serial", "4242", "--exit-with-parent"] + fault_args
        self.sim = subprocess.Popen(cmd, stdout=open(out, "w"), stderr=err)
        if wait_for_line(out, "listening tcp ", self.sim) is None:
            self.error(f"the simulator did not start: {' '.join(fault_args)}")

    def stop_sim(self):
        if self.sim and self.sim.poll() is None:
            self.sim.terminate()
            try:
                self.sim.wait(10)
            except subprocess.TimeoutExpired:
                self.sim.kill()
                self.sim.wait()
        self.sim = None

    def plan(self):
        kind = self.rng.choice(["clean", "exceptions", "late", "drops", "silence", "damaged", "clean"])
        if kind == "exceptions":
            return kind, ["--exception-every", str(self.rng.randint(2, 9))]
        if kind == "late":
            return kind, ["--delay-ms", str(self.rng.choice([150, 400, 900, 1500, 3500]))]
        if kind == "drops":
            return kind, ["--drop-after", str(self.rng.randint(3, 40))]
        return kind, []

    # ---- the command-line monitor: one JSON line per pass ----
    def monitor_thread(self):
        while not self.stop.is_set():
            self.monitor = subprocess.Popen(
                [os.path.join(self.bin, "ktmon740-cli"), "monitor", f"tcp://127.0.0.1:{self.port}", "--json"],
                stdout=subprocess.PIPE, stderr=open(os.path.join(self.work, "monitor.err"), "a"), text=True)
            for line in self.monitor.stdout:
                try:
                    p = json.loads(line)
                except ValueError:
                    self.error(f"monitor printed a line that is not JSON: {line[:80]!r}")
                    continue
                values = p.get("values", {})
                for reg, want in EXPECTED.items():
                    got = values.get(reg, {}).get("value")
                    if got is not None and got != want:
                        self.error(f"pass {p.get('pass')}: register {reg} shows {got!r}, the unit has {want!r}")
                with self.lock:
                    self.passes.append(time.monotonic())
            code = self.monitor.wait()
            if self.stop.is_set():
                break
            # Exit 1 with its reason is the tool's answer to a unit it cannot identify or that
            # stayed silent for 45 s (as the window disconnects); anything else is a fault.
            if code == 1:
                with self.lock:
                    self.monitor_ends += 1
            else:
                self.error(f"ktmon740-cli monitor ended with {code}")
            time.sleep(1)

    @contextlib.contextmanager
    def pty_sim(self, name, kind, args):
        """A simulator on a pseudo-terminal for the block: yields its device, or None (said as an
        error) when it did not start; it is ended on the way out."""
        out = os.path.join(self.work, f"{name}.out")
        sim = subprocess.Popen([os.path.join(self.bin, "kt740sim")] + args + ["--exit-with-parent"],
                               stdout=open(out, "w"), stderr=subprocess.DEVNULL)
        try:
            pty = wait_for_line(out, f"listening {kind} ", sim)
            if pty is None:
                self.error(f"the {name} simulator did not start")
            yield pty
        finally:
            sim.terminate()
            sim.wait()

    # ---- damaged answers: a serial unit whose answers carry a bad CRC now and then ----
    def damaged_check(self, seconds):
        every = self.rng.randint(2, 9)
        with self.pty_sim("serial", "rtu", ["--rtu", "--firmware", "300", "--serial", "4242",
                                            "--bad-crc-every", str(every)]) as pty:
            if pty is None:
                return
            self.damaged_runs += 1
            mon = subprocess.Popen([os.path.join(self.bin, "ktmon740-cli"), "monitor", f"serial:{pty}", "--json"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            timer = threading.Timer(seconds, mon.terminate)
            timer.start()
            passes = 0
            for line in mon.stdout:
                try:
                    p = json.loads(line)
                except ValueError:
                    self.error(f"serial monitor printed a line that is not JSON: {line[:80]!r}")
                    continue
                passes += 1
                for reg, want in EXPECTED.items():
                    got = p.get("values", {}).get(reg, {}).get("value")
                    if got is not None and got != want:
                        self.error(f"bad CRC every {every}: register {reg} shows {got!r}, the unit has {want!r}")
            timer.cancel()
            code = mon.wait()
            self.damaged_passes += passes
            if code not in (0, -signal.SIGTERM) or passes == 0:
                self.error(f"serial monitor with a bad CRC every {every}: exit {code}, {passes} passes")

    # ---- an older unit beside them: frames through the listener ----
    def legacy_check(self):
        with self.pty_sim("legacy", "legacy", ["--legacy", "--noise-every", str(self.rng.randint(2, 7)),
                                               "--partial-every", str(self.rng.randint(3, 9))]) as pty:
            if pty is None:
                return
            try:
                self.legacy_runs += 1
                r = subprocess.run([os.path.join(self.bin, "ktmon740-cli"), "legacy", f"serial:{pty}", "--frames", "20",
                                    "--json"], capture_output=True, text=True, timeout=120)
                frames = [l for l in r.stdout.splitlines() if l.strip()]
                if r.returncode != 0 or len(frames) < 20:
                    self.legacy_failures += 1
                    self.error(f"legacy listener: exit {r.returncode}, {len(frames)} frames: {r.stderr.strip()[:200]}")
            except subprocess.TimeoutExpired:
                self.legacy_failures += 1
                self.error("legacy listener: no end after 120 s")

    def run(self):
        minutes = self.args.minutes
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", HOME=self.work, XDG_CONFIG_HOME=self.work)
        self.start_sim([])
        gui = subprocess.Popen([os.path.join(self.bin, "ktmon740"), "--connect", f"tcp://127.0.0.1:{self.port}"],
                               env=env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.work, "gui.err"), "w"))
        mon = threading.Thread(target=self.monitor_thread, daemon=True)
        mon.start()
        time.sleep(20)  # both connected and past their first passes
        rss_start = {"ktmon740": rss_kib(gui.pid), "ktmon740-cli": rss_kib(self.monitor.pid)}
        started = time.monotonic()
        end = started + minutes * 60
        segment = 0
        while time.monotonic() < end:
            segment += 1
            kind, fault_args = self.plan()
            self.stop_sim()
            self.start_sim(fault_args)
            length = min(self.rng.randint(30, 150), max(1, int(end - time.monotonic())))
            self.faults.append(kind)
            if kind == "silence" and length > 10:
                time.sleep(self.rng.randint(3, length // 3))
                quiet = self.rng.randint(5, 60)
                self.sim.send_signal(signal.SIGUSR2)
                time.sleep(quiet)
                if self.sim.poll() is None:
                    self.sim.send_signal(signal.SIGUSR2)
                time.sleep(max(0, length - quiet - length // 3))
            elif kind == "damaged":
                self.damaged_check(length)
            else:
                time.sleep(length)
            if segment % 5 == 0:
                self.legacy_check()
            if gui.poll() is not None:
                self.error(f"the window ended (exit {gui.returncode})")
                break
            print(f"{time.strftime('%H:%M:%S')} segment {segment}: {kind} {' '.join(fault_args)}", flush=True)
        # A clean unit at the end: both must be back on good passes.
        self.stop_sim()
        self.start_sim([])
        back = time.monotonic()
        time.sleep(30)
        with self.lock:
            recovered = any(t > back for t in self.passes)
        if not recovered:
            self.error("no good pass within 30 s of a clean unit at the end")
        rss_end = {"ktmon740": rss_kib(gui.pid), "ktmon740-cli": rss_kib(self.monitor.pid)}
        gui_alive = gui.poll() is None

        self.stop.set()
        gui.terminate()
        try:
            gui.wait(20)
        except subprocess.TimeoutExpired:
            self.error("the window did not end within 20 s of SIGTERM")
            gui.kill()
        if gui.returncode not in (0, -signal.SIGTERM):
            self.error(f"the window ended with {gui.returncode}")
        self.monitor.terminate()
        self.monitor.wait()
        self.stop_sim()

        with self.lock:
            times = [t for t in self.passes if t >= started]
        gaps = [b - a for a, b in zip(times, times[1:])]
        longest = max(gaps) if gaps else float(minutes * 60)
        recoveries = sum(1 for g in gaps if g > 5.0)
        report = {
            "minutes": minutes,
            "seed": self.args.seed,
            "segments": len(self.faults),
            "fault plan": {k: self.faults.count(k) for k in sorted(set(self.faults))},
            "good passes": len(times),
            "recoveries (a good pass after more than 5 s without one)": recoveries,
            "longest time without a good pass (s)": round(longest, 1),
            "RSS at start (KiB)": rss_start,
            "RSS at end (KiB)": rss_end,
            "window alive at the end": gui_alive,
            "monitor ended by an unreachable unit and started again": self.monitor_ends,
            "serial runs with damaged answers": self.damaged_runs,
            "good passes through damaged answers": self.damaged_passes,
            "legacy listener runs": self.legacy_runs,
            "legacy listener failures": self.legacy_failures,
            "errors": self.errors,
        }
        text = json.dumps(report, indent=2)
        print(text)
        if self.args.report:
            with open(self.args.report, "w") as f:
                f.write(text + "\n")
        return 0 if not self.errors and gui_alive else 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("minutes", type=float)
    ap.add_argument("--bin", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "bin"))
    ap.add_argument("--seed", type=int, default=int(time.time()))
    ap.add_argument("--report")
    args = ap.parse_args()
    return Soak(args).run()


if __name__ == "__main__":
    sys.exit(main())
