#!/usr/bin/env python3
"""The setpoint assistant as a user meets it: Debian's chromium, headless, driven through
chromedriver's WebDriver protocol (plain HTTP and JSON, no client library). Each case picks the
model and CT, types the system values, and reads back what the page shows; the expected texts
come from the same calculation done here.

    setpoint_assistant_browser.py PAGE.html
"""
import json
import math
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request
from decimal import ROUND_HALF_UP, Decimal
from pathlib import Path

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
DEADLINE = time.monotonic() + 100  # the whole run; ctest's time-out is the backstop

# ---- the calculation, as the page's help text describes it ----

DETENTS = [2, 4, 6, 8, 10, 20, 40, 60, 80, 100]
VN_LEVELS = {
    0: [20, 60, 100, 130, 170, 200, 340, 800, 1200, 1700, 2000],
    1: [100, 300, 500, 650, 850, 1000, 1700, 4000, 6000, 8500, 10000],
    2: [20, 60, 100, 130, 170, 200, 340, 800, 1200, 1700, 2000],
}
MULTIPLIERS = {0: [1, 5], 1: [1, 2], 2: [1, 5]}
CT_FULL_SCALE = {"zsct": 5, "tr50": 30}


def fmt(x, digits):
    """Number formatting of the en-US locale: grouped thousands, halves rounded away from 0."""
    if not math.isfinite(x):
        return "--"
    q = Decimal(x).quantize(Decimal(1).scaleb(-digits), rounding=ROUND_HALF_UP)
    return f"{q:,.{digits}f}"


def expected(case):
    """What the page must show for `case`: results rows, messages, trip levels, Vn levels."""
    model, vll, ilt, ct, ctp = case["model"], case["vll"], case["ilt"], case["ct"], case.get("ctp")
    full = CT_FULL_SCALE.get(ct) or (ctp if 5 <= ctp <= 5000 else math.nan)
    problems = []
    if not vll > 0:
        problems.append("Enter the system voltage.")
    if not ilt > 0:
        problems.append("Enter the let-through current.")
    if not full > 0:
        problems.append("The CT primary must be between 5 and 5000 A.")
    if problems:
        return {"results": [], "message": " ".join(problems), "levels": [], "vn": []}

    vln = vll / math.sqrt(3)
    r = vln / ilt
    max_pickup = ilt * 0.20
    levels, chosen = [], None
    for pct in DETENTS:
        amps = full * pct / 100
        fits = amps <= max_pickup + 1e-9
        if fits:
            chosen = pct
        levels.append([f"{pct} %", fmt(amps, 2) + " A", fmt(amps / ilt * 100, 1) + " %", "\u2713" if fits else ""])
    pickup = math.nan if chosen is None else full * chosen / 100
    v_at_pickup = pickup * r
    results = [
        ["Line-to-neutral voltage", fmt(vln, 0) + " V"],
        ["NGR resistance (V\u2097\u2099 / let-through)", fmt(r, 1) + " \u03a9"],
        ["Resistor power at let-through", fmt(vln * ilt / 1000, 1) + " kW"],
        ["Maximum pickup (20 % of let-through)", fmt(max_pickup, 2) + " A"],
        ["CT full scale", fmt(full, 2) + " A"],
        ["Suggested GF trip level", "--" if chosen is None else f"{chosen} % of CT rating ({fmt(pickup, 2)} A)"],
        ["NGR voltage at that pickup", fmt(v_at_pickup, 0) + " V"],
    ]
    message = ""
    if chosen is None:
        message = ("Even the lowest trip level (2 % of the CT rating) is above 20 % of the let-through "
                   "current: choose a smaller CT or a higher let-through current.")
    best = None
    for m in MULTIPLIERS[model]:
        for level in VN_LEVELS[model]:
            v = level * m
            if v <= v_at_pickup and (best is None or v > best[2]):
                best = (level, m, v)
    vn = []
    for m in MULTIPLIERS[model]:
        for level in VN_LEVELS[model]:
            v = level * m
            mark = best is not None and best[0] == level and best[1] == m
            note = "suggested" if mark else ("above line-to-neutral" if v > vln else "")
            vn.append([f"{level} V", f"\u00d7{m}", fmt(v, 0) + " V", note])
    return {"results": results, "message": message, "levels": levels, "vn": vn}


CASES = [
    # The page as it opens.
    {"name": "defaults", "model": 0, "vll": 4160, "ilt": 5, "ct": "zsct", "typed": False},
    {"name": "KT-740HV on 13.8 kV with a KT-TR50", "model": 1, "vll": 13800, "ilt": 10, "ct": "tr50"},
    {"name": "KT-740AU with another CT", "model": 2, "vll": 11000, "ilt": 25, "ct": "other", "ctp": 50},
    {"name": "a large CT on a small resistor", "model": 0, "vll": 600, "ilt": 2, "ct": "tr50"},
    {"name": "a CT primary out of range", "model": 0, "vll": 4160, "ilt": 5, "ct": "other", "ctp": 3},
    {"name": "a 5000 A CT at its limit", "model": 1, "vll": 34500, "ilt": 400, "ct": "other", "ctp": 5000},
]

# ---- WebDriver over HTTP ----


class Driver:
    def __init__(self):
        self.port = free_port()
        self.profile = tempfile.mkdtemp(prefix="kt-chromium-")
        self.proc = subprocess.Popen([CHROMEDRIVER, f"--port={self.port}"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        self.base = f"http://127.0.0.1:{self.port}"
        while True:
            try:
                if self.call("GET", "/status")["ready"]:
                    break
            except (urllib.error.URLError, ConnectionError):
                pass
            check_deadline("chromedriver did not start")
            time.sleep(0.05)
        args = ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", f"--user-data-dir={self.profile}", "--lang=en-US"]
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
            "binary": CHROMIUM, "args": args}}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        timeout = max(1.0, DEADLINE - time.monotonic())
        try:
            with urllib.request.urlopen(req, timeout=timeout) as answer:
                return json.load(answer)["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError(f"{method} {path}: {e.read().decode(errors='replace')}") from None

    def s(self, method, path, body=None):
        return self.call(method, f"/session/{self.session}{path}", body)

    def find(self, css):
        found = self.s("POST", "/element", {"using": "css selector", "value": css})
        return next(iter(found.values()))

    def type_into(self, css, text):
        element = self.find(css)
        self.s("POST", f"/element/{element}/clear", {})
        self.s("POST", f"/element/{element}/value", {"text": text})

    def choose(self, select_css, value):
        self.s("POST", f"/element/{self.find(select_css)}/click", {})
        self.s("POST", f"/element/{self.find(f'{select_css} option[value={value!r}]')}/click", {})

    def table(self, css):
        """The rows of a table body as the user reads them (rendered text of each cell)."""
        return self.s("POST", "/execute/sync", {
            "script": "return [...document.querySelectorAll(arguments[0] + ' tr')]"
                      ".map(tr => [...tr.cells].map(td => td.innerText));",
            "args": [css]})

    def text(self, css):
        return self.s("GET", f"/element/{self.find(css)}/text")

    def close(self):
        try:
            self.s("DELETE", "")
        except Exception:  # the browser may already be gone; the process group goes below
            pass
        try:
            os.killpg(self.proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        self.proc.wait(timeout=10)
        shutil.rmtree(self.profile, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def check_deadline(what):
    if time.monotonic() > DEADLINE:
        raise RuntimeError(f"time is up: {what}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    page = Path(sys.argv[1]).resolve()
    for tool in (CHROMIUM, CHROMEDRIVER):
        if not os.access(tool, os.X_OK):
            sys.exit(f"{tool} is missing: scripts/setup.sh installs chromium and chromium-driver")
    url = "file://" + urllib.parse.quote(str(page))
    driver = Driver()
    failures = 0
    try:
        for case in CASES:
            driver.s("POST", "/url", {"url": url})  # a fresh page for every case
            if case.get("typed", True):
                driver.choose("#model", str(case["model"]))
                driver.choose("#ct", case["ct"])
                driver.type_into("#vll", str(case["vll"]))
                driver.type_into("#ilt", str(case["ilt"]))
                if "ctp" in case:
                    driver.type_into("#ctp", str(case["ctp"]))
            want = expected(case)
            got = {"results": driver.table("#results"), "message": driver.text("#messages"),
                   "levels": driver.table("#levels"), "vn": driver.table("#vn")}
            other_ct_shown = driver.s("POST", "/execute/sync", {
                "script": "return getComputedStyle(document.getElementById('otherRow')).display !== 'none';",
                "args": []})
            for key in want:
                if got[key] != want[key]:
                    failures += 1
                    print(f"FAIL {case['name']}: {key}\n  page:     {got[key]}\n  expected: {want[key]}")
            if other_ct_shown != (case["ct"] == "other"):
                failures += 1
                print(f"FAIL {case['name']}: the CT primary field is {'shown' if other_ct_shown else 'hidden'}")
            check_deadline(case["name"])
    finally:
        driver.close()
    print(f"setpoint assistant: {len(CASES)} cases, {failures} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
