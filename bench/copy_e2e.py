#!/usr/bin/env python3
"""Copying to a destination, the whole program against cp in the same run:
1,000 files of 1 MB copied to a folder on the same disk, by Ctrl+A and Ctrl+1
in Auralist (from the key to the last file in place) and by
`cp SOURCE/* DEST` (from start to exit), each three times, in turn, each begun with nothing
left to write back; the
throughput ratio is cp's time over Auralist's. The program's own log gives
the longest event-loop stall meanwhile.

    python3 bench/copy_e2e.py build/auralist [FOLDER]

FOLDER (default /var/tmp) holds the files; cp and Auralist write on the same
disk. Needs a display (DISPLAY), xdotool and wmctrl, as ./test installs them."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

BINARY = os.path.abspath(sys.argv[1])
WHERE = sys.argv[2] if len(sys.argv) > 2 else "/var/tmp"
COUNT = 1000
SIZE = 1 << 20


def window_of(pid, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], capture_output=True, text=True)
        if r.stdout.strip():
            return r.stdout.split()[0]
        time.sleep(0.1)
    raise SystemExit("no window")


def key(window, name):
    subprocess.run(["xdotool", "windowactivate", "--sync", window], check=False)
    subprocess.run(["xdotool", "key", name], check=True)


def wait_count(folder, count, timeout=120):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if len(os.listdir(folder)) >= count:
            return time.monotonic()
        time.sleep(0.02)
    raise SystemExit("only %d files arrived" % len(os.listdir(folder)))


def by_cp(source, dest):
    os.makedirs(dest)
    names = [os.path.join(source, n) for n in sorted(os.listdir(source))]
    subprocess.run(["sync"], check=False)
    start = time.monotonic()
    subprocess.run(["cp"] + names + [dest], check=True)
    return time.monotonic() - start


def by_auralist(tmp, source, dest):
    os.makedirs(dest)
    config = os.path.join(tmp, "config", "Auralist")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "Auralist.conf"), "w") as f:
        f.write("[General]\ndestinations=file://%s\nautoAdvance=false\n" % dest)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"), XDG_DATA_HOME=os.path.join(tmp, "data"),
               AURALIST_DEBUG="1", AURALIST_SITE_HOST="")
    with open(os.path.join(tmp, "out"), "wb") as out:
        proc = subprocess.Popen([BINARY, source], stdout=out, stderr=subprocess.PIPE, env=env)
    win = window_of(proc.pid)
    time.sleep(3.0)  # the intake, its headers and its record in the catalogue
    key(win, "ctrl+a")
    subprocess.run(["sync"], check=False)
    start = time.monotonic()
    key(win, "ctrl+1")
    took = wait_count(dest, COUNT) - start
    # The copies are written out before the next measure begins.
    subprocess.run(["sync"], check=False)
    time.sleep(0.5)
    subprocess.run(["wmctrl", "-i", "-c", win], check=False)
    try:
        proc.wait(20)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    errors = proc.stderr.read().decode(errors="replace")
    longest = re.findall(r"longest event-loop stall: (-?\d+) ms", errors)
    return took, (int(longest[-1]) if longest else None)


def main():
    tmp = tempfile.mkdtemp(prefix="auralist-copy-", dir=WHERE)
    try:
        source = os.path.join(tmp, "source")
        os.makedirs(source)
        block = os.urandom(SIZE)
        for i in range(COUNT):
            with open(os.path.join(source, "take %04d.wav" % i), "wb") as f:
                f.write(block[i:] + block[:i])
        subprocess.run(["sync"], check=False)
        ratios = []
        for run in range(3):
            cp = by_cp(source, os.path.join(tmp, "cp%d" % run))
            ours, stall = by_auralist(tmp, source, os.path.join(tmp, "auralist%d" % run))
            subprocess.run(["sync"], check=False)
            ratios.append(cp / ours)
            print("run %d: cp %.2f s, Auralist %.2f s (%.0f MB/s against %.0f MB/s): %.2f x cp's throughput; "
                  "longest event-loop stall %s ms" % (run + 1, cp, ours, COUNT * SIZE / ours / 1e6,
                                                      COUNT * SIZE / cp / 1e6, cp / ours, stall))
        ratios.sort()
        print("median %.2f x cp's throughput" % ratios[1])
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
