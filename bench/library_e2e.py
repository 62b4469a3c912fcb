#!/usr/bin/env python3
"""The catalogue on a generated library of ENTRIES entries (1,000,000 unless
given; the tree of million_e2e.py, kept in /tmp/auralist-deep-ENTRIES):

- recording: an intake of the tree into an empty catalogue; the time from
  the intake's last printed line until the catalogue has written it all;
- the database file's size per record;
- reopening: a start without paths, which shows the folder from the
  catalogue; the time to the full table, against `find TREE -printf '%p\\n'
  > file` in the same run, and the background check that follows; then the
  same cold, the page cache dropped (`echo 3 > /proc/sys/vm/drop_caches`, as
  root) before each side, as a user meets it the next morning;
- resident memory per entry once the reopened list is shown and checked;
- a favourite on about 10,000 sounds selected with Shift+Page Down, until it
  is committed;
- event-loop stalls over 50 ms throughout, from the program's own log.

usage: bench/library_e2e.py build/auralist [ENTRIES]
Needs a display (DISPLAY) and xdotool and wmctrl, as ./test installs them."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from million_e2e import close_window, make_tree, rss_kb, window_of  # noqa: E402

BINARY = os.path.abspath(sys.argv[1])
ENTRIES = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000


class Run:
    def __init__(self, args, env):
        self.log = []
        self.start = time.monotonic()
        self.lines = 0
        self.last_line_at = None
        self.out_path = tempfile.mktemp(prefix="auralist-library-out-")
        out = open(self.out_path, "wb")
        self.proc = subprocess.Popen([BINARY] + args, stdout=out, stderr=subprocess.PIPE, env=env)
        out.close()
        threading.Thread(target=self._errors, daemon=True).start()
        threading.Thread(target=self._out, daemon=True).start()

    def _errors(self):
        for line in self.proc.stderr:
            self.log.append((time.monotonic(), line.decode(errors="replace").rstrip()))

    def _out(self):
        f = open(self.out_path, "rb")
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                if self.proc.poll() is not None:
                    return
                time.sleep(0.002)
                continue
            self.lines += chunk.count(b"\n")
            self.last_line_at = time.monotonic()

    def wait_log(self, pattern, timeout=120):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for at, line in list(self.log):
                m = re.search(pattern, line)
                if m:
                    return at, m
            time.sleep(0.02)
        raise SystemExit("no %r in the log:\n%s" % (pattern, "\n".join(l for _, l in self.log[-20:])))

    def window(self):
        return window_of(self.proc)

    def close(self):
        close_window(self.proc, 60)
        os.unlink(self.out_path)

    def stalls(self):
        return [int(m.group(1)) for _, l in self.log for m in [re.search(r"event loop stalled (\d+) ms", l)] if m]


def drop_caches():
    """Empties the page cache (root only); False when it cannot."""
    subprocess.run(["sync"], check=False)
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def main():
    root = "/tmp/auralist-deep-%d" % ENTRIES
    expected = make_tree(root, ENTRIES)
    data = tempfile.mkdtemp(prefix="auralist-library-data-")
    env = dict(os.environ, AURALIST_DEBUG="1", XDG_DATA_HOME=data,
               XDG_CONFIG_HOME=os.path.join(data, "config"), AURALIST_SITE_HOST="")
    empty = os.path.join(data, "empty")
    os.makedirs(empty)
    # The catalogue alone: the generated files are empty, so the analysis
    # would only record a million failures (bench/analysis_bench.cpp and
    # bench/analysis_e2e.py measure it).
    os.makedirs(os.path.join(data, "config", "Auralist"))
    with open(os.path.join(data, "config", "Auralist", "Auralist.conf"), "w") as f:
        f.write("[General]\nanalyseSounds=false\n")
    base = Run([empty], dict(env, XDG_DATA_HOME=os.path.join(data, "base")))
    base.window()
    time.sleep(2)
    base_rss = rss_kb(base.proc.pid)
    base.close()
    db = os.path.join(data, "Auralist", "library.db")
    if os.path.exists(db):
        os.unlink(db)

    # Recording an intake.
    run = Run([root], env)
    run.window()
    deadline = time.time() + 180
    while run.lines < expected and time.time() < deadline:
        time.sleep(0.01)
    intake_end = run.last_line_at
    at, m = run.wait_log(r"catalogue: recorded (\d+) sounds in (\d+) ms", 180)
    recorded = int(m.group(1))
    record_after = at - intake_end
    time.sleep(3)  # the header facts reach the catalogue too
    stalls_intake = run.stalls()
    run.close()
    size = sum(os.path.getsize(db + s) for s in ("", "-wal") if os.path.exists(db + s))

    # Reopening, three times, each against find in the same run.
    reopen, finds, walks, checks = [], [], [], []
    stalls_reopen, rss = [], []
    for i in range(3):
        t = time.monotonic()
        with open("/tmp/auralist-library-find.txt", "wb") as out:
            subprocess.run(["find", root, "-printf", "%p\\n"], stdout=out, check=True)
        finds.append(time.monotonic() - t)
        run = Run([], env)
        at, m = run.wait_log(r"library: (\d+) sounds shown in (\d+) ms")
        reopen.append(at - run.start)
        at2, _ = run.wait_log(r"catalogue: checked (\d+) sounds in (\d+) ms", 180)
        checks.append(at2 - at)
        _, w = run.wait_log(r"catalogue: walked (\d+) sounds in (\d+) ms")
        walks.append(int(w.group(2)) / 1000)
        time.sleep(2)
        rss.append(1024 * (rss_kb(run.proc.pid) - base_rss) / ENTRIES)
        if i == 2:
            # About 10,000 rows selected with the keyboard (Shift+Page Down
            # from the top), then Ctrl+D.
            win = run.window()
            subprocess.run(["xdotool", "windowactivate", "--sync", win], check=False)
            subprocess.run(["xdotool", "key", "--delay", "2", "Home"] + ["shift+Next"] * 420, check=True)
            keys_at = time.monotonic() - run.start
            print("  %6.2f s  (rows selected, Ctrl+D sent)" % keys_at)
            subprocess.run(["xdotool", "key", "ctrl+d"], check=True)
            _, fav = run.wait_log(r"catalogue: favourite of (\d+) saved in (\d+) ms")
        stalls_reopen += run.stalls()
        closing = time.monotonic()
        run.close()
        for at, line in run.log:
            if (i == 0 and ("catalogue:" in line or "library:" in line)) or "stalled" in line:
                print("  run %d %6.2f s%s  %s" % (i + 1, at - run.start, " (closing)" if at >= closing else "", line))

    print("records: %d; database %.0f bytes/record" % (recorded, size / max(recorded, 1)))
    print("recording: finished %.2f s after the intake's last line; stalls over 50 ms during the intake: %s" % (
        record_after, stalls_intake or "none"))
    for i in range(3):
        print("reopen %d: full table %.2f s from launch, find %.2f s (%.2fx); background check: walk %.2f s, "
              "whole check %.2f s after the table (%.2fx find); %.0f bytes/entry" % (
                  i + 1, reopen[i], finds[i], reopen[i] / finds[i], walks[i], checks[i], checks[i] / finds[i], rss[i]))
    print("favourite of %s sounds saved in %s ms" % (fav.group(1), fav.group(2)))
    # Cold: the page cache dropped before find and before the start.
    for i in range(2):
        if not drop_caches():
            print("cold reopening: not measured (dropping the page cache needs root)")
            break
        t = time.monotonic()
        with open("/tmp/auralist-library-find.txt", "wb") as out:
            subprocess.run(["find", root, "-printf", "%p\\n"], stdout=out, check=True)
        cold_find = time.monotonic() - t
        drop_caches()
        run = Run([], env)
        at, _ = run.wait_log(r"library: (\d+) sounds shown in (\d+) ms")
        cold = at - run.start
        run.wait_log(r"catalogue: checked (\d+) sounds in (\d+) ms", 300)
        run.close()
        print("cold reopen %d: full table %.2f s from launch, find %.2f s (%.2fx)" % (
            i + 1, cold, cold_find, cold / cold_find))
    print("stalls over 50 ms while reopening: %s" % (stalls_reopen or "none"))
    shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    main()
