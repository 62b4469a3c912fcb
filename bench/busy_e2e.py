#!/usr/bin/env python3
"""Sound on a busy machine: an 8 s sine played by Auralist and by paplay,
one after the other in each run, under each load in turn; the sink's
monitor is recorded and every silent gap inside the tone is counted.

The loads:
  stress  stress-ng loading the processors, memory and the disk at once
          (--cpu 2 --vm 1 --vm-bytes 1G --hdd 1)
  busy    two busy loops and a niced fuzzing run (a niced busy loop where
          the fuzz build of scripts/fuzz is not there)

usage: bench/busy_e2e.py build/auralist [RUNS] [LOAD,...]
Needs a display, a PulseAudio server with a null sink as the default (as
./test starts them), sox, parec, wmctrl and stress-ng."""
import array
import os
import subprocess
import sys
import tempfile
import time

BINARY = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
LOADS = sys.argv[3].split(",") if len(sys.argv) > 3 else ["stress", "busy"]
RATE = 44100
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


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
    err_path = raw + ".err"
    err = open(err_path, "wb")
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=err,
                            env=dict(os.environ, AURALIST_DEBUG="1"))
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
    err.close()
    with open(raw, "rb") as f:
        data = f.read()
    os.unlink(raw)
    found = gaps(data)
    if found is None:
        # Nothing heard at all: what the program said, to tell its miss
        # from the recorder's.
        with open(err_path, "rb") as f:
            print("nothing heard (%d bytes recorded); the program said:\n%s"
                  % (len(data), f.read()[-2000:].decode(errors="replace")), flush=True)
    os.unlink(err_path)
    return found


def start_load(name):
    if name == "stress":
        return [subprocess.Popen(["stress-ng", "--cpu", "2", "--vm", "1", "--vm-bytes", "1G", "--hdd", "1",
                                  "--timeout", "3600s", "--quiet"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)]
    procs = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(2)]
    if os.path.exists(os.path.join(ROOT, "build-fuzz")):
        procs.append(subprocess.Popen(["nice", "-n", "10", os.path.join(ROOT, "scripts/fuzz"), "4000"],
                                      env=dict(os.environ, TARGETS="sound_decode"), cwd=ROOT,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      start_new_session=True))
    else:
        procs.append(subprocess.Popen(["nice", "-n", "10", "sh", "-c", "while :; do :; done"],
                                      start_new_session=True))
    return procs


def stop_load(procs):
    for p in procs:
        try:
            os.killpg(p.pid, 9)
        except (ProcessLookupError, PermissionError):
            p.kill()
        p.wait()


def main():
    tmp = tempfile.mkdtemp(prefix="auralist-busy-")
    tone = os.path.join(tmp, "sine.wav")
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", tone, "synth", "8", "sine", "441",
                    "vol", "0.5"], check=True)
    summary = []
    for load_name in LOADS:
        load = start_load(load_name)
        time.sleep(3)
        results = {"auralist": [], "paplay": []}
        try:
            for run in range(RUNS):
                os.environ["XDG_CONFIG_HOME"] = os.path.join(tmp, "config%d" % run)
                os.environ["XDG_DATA_HOME"] = os.path.join(tmp, "data%d" % run)
                a = record([BINARY, tone], 9.0, close_window=True)
                p = record(["paplay", tone], 0.0)
                results["auralist"].append(a)
                results["paplay"].append(p)
                print("%s run %2d: auralist %s, paplay %s" % (load_name, run + 1, a, p), flush=True)
        finally:
            stop_load(load)
        for who, rs in results.items():
            broken = [r for r in rs if r is None or r]
            worst = max([max(r) for r in rs if r] or [0])
            summary.append("%-6s %-8s %2d of %2d runs unbroken; longest gap %.1f ms"
                           % (load_name, who, len(rs) - len(broken), len(rs), worst))
    print("\n".join(summary))


if __name__ == "__main__":
    main()
