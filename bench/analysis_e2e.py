#!/usr/bin/env python3
"""The analysis in the real program on COUNT one-second sounds (10,000 unless
given; generated in /tmp/auralist-analysis-COUNT and kept): Auralist takes
the folder in and plays through it (each sound followed by the next) while
the analysis pool works through every sound. From the program's own debug
log: the time from the start of the analysis to its last result, every
event-loop stall over 50 ms, and the player's underruns over the whole run
(a frame the sound server wanted and did not get).

usage: bench/analysis_e2e.py build/auralist [COUNT]
Needs a display (DISPLAY) and a sound server, as ./test provides."""
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from million_e2e import close_window, window_of  # noqa: E402

BINARY = os.path.abspath(sys.argv[1])
COUNT = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
RATE = 44100


def make_sounds(root, count):
    marker = os.path.join(root, ".complete")
    if os.path.exists(marker):
        return
    os.makedirs(root, exist_ok=True)
    rng = random.Random(7)
    # Sixty different sounds, each linked under many names (making every
    # one in Python would take minutes; the analysis reads each name anew).
    kinds = 60
    for i in range(min(count, kinds)):
        kind = i % 3
        f = 55.0 * 2 ** (rng.randrange(48) / 12)
        frames = []
        for n in range(RATE):
            t = n / RATE
            if kind == 0:  # a decaying tone
                v = 0.5 * math.exp(-3 * t) * math.sin(2 * math.pi * f * t)
            elif kind == 1:  # a noise burst
                v = 0.4 * math.exp(-8 * t) * (rng.random() * 2 - 1)
            else:  # four hits: a short loop
                s = t % 0.25
                v = 0.6 * math.exp(-s * 40) * math.sin(2 * math.pi * 150 * s)
            frames.append(int(v * 32767))
        with wave.open(os.path.join(root, "sound %05d.wav" % i), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(struct.pack("<%dh" % len(frames), *frames))
    for i in range(kinds, count):
        os.link(os.path.join(root, "sound %05d.wav" % (i % kinds)), os.path.join(root, "sound %05d.wav" % i))
    with open(marker, "w") as f:
        f.write("done")


def wait_for(log, pattern, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        for _, line in list(log):
            m = re.search(pattern, line)
            if m:
                return m.group(1), m.group(2)
        time.sleep(0.1)
    return None


def main():
    root = "/tmp/auralist-analysis-%d" % COUNT
    make_sounds(root, COUNT)
    data = tempfile.mkdtemp(prefix="auralist-analysis-data-")
    env = dict(os.environ, AURALIST_DEBUG="1", XDG_DATA_HOME=data, XDG_CONFIG_HOME=os.path.join(data, "config"),
               AURALIST_SITE_HOST="")
    log = []
    start = time.monotonic()
    proc = subprocess.Popen([BINARY, root], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)

    def read():
        for line in proc.stderr:
            log.append((time.monotonic() - start, line.decode(errors="replace").rstrip()))
    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    window_of(proc)
    done = None
    deadline = time.time() + 600
    while done is None and time.time() < deadline:
        for at, line in list(log):
            m = re.search(r"analysis: (\d+) sounds analysed in (\d+) ms", line)
            if m:
                done = (int(m.group(1)), int(m.group(2)))
        time.sleep(0.2)
    # Then Find Similar on the first row (Ctrl+Shift+F) and Find Duplicates
    # (Ctrl+Shift+D), each timed by the program.
    win = window_of(proc)
    subprocess.run(["xdotool", "windowactivate", "--sync", win], check=False)
    subprocess.run(["xdotool", "key", "Home", "ctrl+shift+f"], check=False)
    similar = wait_for(log, r"catalogue: similar among (\d+) in (\d+) ms")
    subprocess.run(["xdotool", "key", "Escape", "ctrl+shift+d"], check=False)
    duplicates = wait_for(log, r"analysis: duplicates among (\d+) found in (\d+) ms")
    close_window(proc, 60)
    reader.join(5)
    shutil.rmtree(data, ignore_errors=True)
    stalls = [int(m.group(1)) for _, l in log for m in [re.search(r"event loop stalled (\d+) ms", l)] if m]
    underruns = [int(m.group(1)) for _, l in log for m in [re.search(r"player: (\d+) underruns", l)] if m]
    if done is None:
        raise SystemExit("the analysis did not finish:\n" + "\n".join(l for _, l in log[-20:]))
    print("analysed %d one-second sounds in %.1f s (%.0f sounds/s, %.0f x real time)" % (
        done[0], done[1] / 1000, done[0] / (done[1] / 1000), done[0] / (done[1] / 1000)))
    print("stalls over 50 ms: %s; player underruns over the run: %s" % (stalls or "none", underruns or "not logged"))
    if similar:
        print("Find Similar among %s analysed sounds: %s ms in the catalogue" % similar)
    if duplicates:
        print("Find Duplicates among %s sounds: %s ms" % duplicates)


if __name__ == "__main__":
    main()
