#!/usr/bin/env python3
"""Copying to a destination, the whole program against cp in the same run:
1,000 files of 1 MB copied to a folder on the same disk, by Ctrl+A and Ctrl+1
in Auralist (from the key to the last file in place) and by
`cp SOURCE/* DEST` (from start to exit), nine times each in one run of the
program (Ctrl+N copies to the N-th destination), taking turns at going
first, each begun with nothing left to write back and its copies removed
once timed; the throughput ratio is cp's time over Auralist's, over all the
runs together, for the fastest of each, and the median of the runs' own.
The program's own log gives the time its file thread took and the longest
event-loop stall meanwhile.

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
RUNS = 9  # as many as there are destinations


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


def settle(folder):
    """Removes a measure's copies and waits for the disk to be idle again."""
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    subprocess.run(["sync"], check=False)
    time.sleep(1.0)


def by_cp(source, dest):
    os.makedirs(dest)
    names = [os.path.join(source, n) for n in sorted(os.listdir(source))]
    subprocess.run(["sync"], check=False)
    start = time.monotonic()
    subprocess.run(["cp"] + names + [dest], check=True)
    took = time.monotonic() - start
    settle(dest)
    return took


class Auralist:
    """One run of the program on the source, with a destination for each
    measure: Ctrl+A once, then Ctrl+N copies to the N-th."""

    def __init__(self, tmp, source, dests):
        config = os.path.join(tmp, "config", "Auralist")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "Auralist.conf"), "w") as f:
            f.write("[General]\ndestinations=\"%s\"\nautoAdvance=false\n"
                    % "\\r\\n".join("file://" + d for d in dests))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"), XDG_DATA_HOME=os.path.join(tmp, "data"),
                   AURALIST_DEBUG="1", AURALIST_SITE_HOST="")
        self.log = os.path.join(tmp, "log")
        with open(os.path.join(tmp, "out"), "wb") as out, open(self.log, "wb") as err:
            self.proc = subprocess.Popen([BINARY, source], stdout=out, stderr=err, env=env)
        self.win = window_of(self.proc.pid)
        time.sleep(3.0)  # the intake, its headers and its record in the catalogue
        key(self.win, "ctrl+a")

    def copy(self, n, dest):
        os.makedirs(dest, exist_ok=True)
        subprocess.run(["sync"], check=False)
        start = time.monotonic()
        key(self.win, "ctrl+%d" % n)
        took = wait_count(dest, COUNT) - start
        time.sleep(0.2)  # the job's end is logged
        inside = re.findall(r"files: Copying \d+ in (\d+) ms", open(self.log, errors="replace").read())
        settle(dest)
        return took, (int(inside[-1]) / 1000 if inside else None)

    def close(self):
        subprocess.run(["wmctrl", "-i", "-c", self.win], check=False)
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        longest = re.findall(r"longest event-loop stall: (-?\d+) ms", open(self.log, errors="replace").read())
        return int(longest[-1]) if longest else None


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
        dests = [os.path.join(tmp, "auralist%d" % run) for run in range(RUNS)]
        program = Auralist(tmp, source, dests)
        cps, ours = [], []
        for run in range(RUNS):
            cp_dest = os.path.join(tmp, "cp%d" % run)
            if run % 2 == 0:
                cp = by_cp(source, cp_dest)
                took, inside = program.copy(run + 1, dests[run])
            else:
                took, inside = program.copy(run + 1, dests[run])
                cp = by_cp(source, cp_dest)
            cps.append(cp)
            ours.append(took)
            print("run %d: cp %.2f s, Auralist %.2f s (its file thread %s s; %.0f MB/s against %.0f MB/s): "
                  "%.2f x cp's throughput"
                  % (run + 1, cp, took, "%.2f" % inside if inside is not None else "?", COUNT * SIZE / took / 1e6,
                     COUNT * SIZE / cp / 1e6, cp / took), flush=True)
        print("longest event-loop stall meanwhile: %s ms" % program.close())
        print("fastest: cp %.2f s, Auralist %.2f s: %.2f x" % (min(cps), min(ours), min(cps) / min(ours)))
        ratios = sorted(c / o for c, o in zip(cps, ours))
        print("median of the runs' ratios %.2f x cp's throughput" % ratios[len(ratios) // 2])
        # This disk's speed swings by 2-4x from one copy to the next, whoever
        # copies, so the sums over the runs are the fairer measure.
        print("all runs: cp %.2f s, Auralist %.2f s: %.2f x cp's throughput"
              % (sum(cps), sum(ours), sum(cps) / sum(ours)))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
