#!/usr/bin/env python3
"""Sound on a busy machine: an 8 s sine played by Auralist and by paplay,
one after the other in each run, while busy loops and a niced fuzzing run
load the machine; the sink's monitor is recorded and every silent gap
inside the tone is counted.

usage: bench/busy_e2e.py build/auralist [RUNS]
Needs a display, a PulseAudio server with a null sink as the default (as
./test starts them), sox, parec and wmctrl; the fuzz build of scripts/fuzz."""
import array
import os
import subprocess
import sys
import tempfile
import time

BINARY = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
RATE = 44100


def gaps(raw, min_ms=2.0):
    """Silent runs (every sample of both channels below 1/1000 of full
    scale) longer than min_ms between the tone's first and last loud frame."""
    s = array.array("h", raw)
    left = s[0::2]
    loud = [i for i in range(0, len(left), 50) if abs(left[i]) > 3000]
    if not loud:
        return None
    first, last = loud[0], loud[-1]
    found, run = [], 0
    for i in range(first, last):
        if abs(left[i]) < 33:
            run += 1
        else:
            if run > RATE * min_ms / 1000:
                found.append(1000.0 * run / RATE)
            run = 0
    return found


def record(command, seconds, close_window=False):
    raw = tempfile.mktemp(suffix=".raw")
    with open(raw, "wb") as out:
        rec = subprocess.Popen(["parec", "--latency-msec=20", "-d", "test_null.monitor", "--format=s16le",
                                "--rate=%d" % RATE, "--channels=2"], stdout=out)
    time.sleep(0.5)
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    if close_window:
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(proc.pid)], capture_output=True,
                           text=True)
        for w in r.stdout.split()[:1]:
            subprocess.run(["wmctrl", "-i", "-c", w])
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
    time.sleep(0.3)
    rec.send_signal(2)
    rec.wait()
    with open(raw, "rb") as f:
        data = f.read()
    os.unlink(raw)
    return gaps(data)


def main():
    tmp = tempfile.mkdtemp(prefix="auralist-busy-")
    tone = os.path.join(tmp, "sine.wav")
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", tone, "synth", "8", "sine", "441",
                    "vol", "0.5"], check=True)
    load = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(3)]
    fuzz = subprocess.Popen(["nice", "-n", "10", "scripts/fuzz", "4000"], env=dict(os.environ, TARGETS="sound_decode"),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(5)
    results = {"auralist": [], "paplay": []}
    try:
        for run in range(RUNS):
            env_conf = os.path.join(tmp, "config%d" % run)
            os.environ["XDG_CONFIG_HOME"] = env_conf
            a = record([BINARY, tone], 9.0, close_window=True)
            p = record(["paplay", tone], 0.0)
            results["auralist"].append(a)
            results["paplay"].append(p)
            print("run %2d: auralist %s, paplay %s" % (run + 1, a, p), flush=True)
    finally:
        for l in load:
            l.kill()
        fuzz.terminate()
        subprocess.run(["pkill", "-P", str(fuzz.pid)])
    for who, rs in results.items():
        broken = [r for r in rs if r is None or r]
        worst = max([max(r) for r in rs if r] or [0])
        print("%s: %d of %d runs unbroken; longest gap %.1f ms" % (who, len(rs) - len(broken), len(rs), worst))


if __name__ == "__main__":
    main()
