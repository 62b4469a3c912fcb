#!/usr/bin/env python3
"""The whole program on a generated library: the intake of ENTRIES entries
(1,000,000 unless given; one in twenty a folder, deep, mixed extensions, empty
files) timed to its last printed line against `find TREE -printf '%p\\n' >
file` in the same run; the longest wait for a key's "keycode" line while
keys go to the table every 100 ms during the intake and while it scrolls;
the program's own log of event-loop stalls (intake, header reading, find,
scrolling); and resident memory per entry beyond a start on an empty folder.

usage: bench/million_e2e.py build/auralist [ENTRIES]
AURALIST_BENCH_RUNS (3 unless given) runs; AURALIST_BENCH_KNOWN=1 drops the
folder on one catalogue every run (later runs check it against what the
catalogue knows) instead of a new catalogue each run.
Needs a display (DISPLAY) and xdotool and wmctrl, as ./test installs them.
The tree (paths averaging about 300 bytes, folders up to seven deep) is
kept in /tmp/auralist-deep-ENTRIES for the next run; the benches that use
the same tree share it."""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BINARY = os.path.abspath(sys.argv[1])
ENTRIES = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
RUNS = int(os.environ.get("AURALIST_BENCH_RUNS", "3"))


FOLDER_WORDS = ["Drum Kits", "Field Recordings", "Foley", "Ambience", "Vocal Chops", "Synth One-Shots",
                "Orchestral Hits", "Percussion Loops", "Cinematic Impacts", "Guitar Phrases"]


def make_tree(root, entries):
    """Makes root a tree of entries entries, folders nested up to seven deep
    under long names (the paths of its sounds average about 300 bytes), one
    entry in twenty a folder, mixed extensions, empty files. Returns the
    number of lines an intake of root prints."""
    marker = os.path.join(root, ".complete")
    extensions = [".wav", ".aif", ".flac", ".mp3", ".txt", ".ogg", ".WAV", ".png", ""]
    typed = 0
    if os.path.exists(marker):
        with open(marker) as f:
            return int(f.read())
    os.makedirs(root, exist_ok=True)
    folders = [(root, 0)]
    seed = 42
    for made in range(entries - 1):  # the marker is an entry too
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        parent, depth = folders[seed % len(folders)]
        if made % 20 == 0:
            while depth >= 7:
                parent, depth = os.path.dirname(parent), depth - 1
            words = FOLDER_WORDS[(seed >> 4) % len(FOLDER_WORDS)]
            folder = os.path.join(parent, "%s Vol %d - Processed %d" % (words, seed % 97, made))
            os.mkdir(folder)
            folders.append((folder, depth + 1))
        else:
            ext = extensions[(seed >> 8) % len(extensions)]
            os.close(os.open(os.path.join(parent, "Kick %d Tight%s" % (made, ext)), os.O_CREAT | os.O_WRONLY, 0o644))
            typed += 1 if ext else 0
    lines = entries + typed + 1  # every path, each type line, the marker's own
    with open(marker, "w") as f:
        f.write(str(lines))
    return lines


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Run:
    """The program started on a path, its output read as it comes."""

    def __init__(self, path, expected_lines):
        # Each run begins with a catalogue of its own, as a first drop of
        # the folder does; AURALIST_BENCH_KNOWN=1 keeps one catalogue for
        # every run, so that later runs drop a folder the catalogue knows.
        env = dict(os.environ, AURALIST_DEBUG="1")
        if os.environ.get("AURALIST_BENCH_KNOWN") != "1":
            env["XDG_DATA_HOME"] = tempfile.mkdtemp(prefix="auralist-million-data-")
        self.expected = expected_lines
        self.lines = 0
        self.done_at = None
        self.first_at = None
        self.keycodes = []  # arrival times
        # Standard output goes to a file, as find's does, so the program
        # never waits for this script to read it; the file is followed as
        # it grows.
        self.out_path = "/tmp/auralist-million-out.txt"
        out = open(self.out_path, "wb")
        self.start = time.monotonic()
        self.proc = subprocess.Popen([BINARY, path], stdout=out, stderr=subprocess.PIPE, env=env)
        out.close()
        self.errors = b""
        self.timed_log = []  # each line of the log but the keys', with its time from the start
        self.stall_log = []  # (time, ms) of each event-loop stall logged
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._read_errors, daemon=True).start()

    def _read(self):
        tail = b""
        f = open(self.out_path, "rb")
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                if self.proc.poll() is not None:
                    return
                time.sleep(0.002)
                continue
            now = time.monotonic()
            if self.first_at is None:
                self.first_at = now
            self.lines += chunk.count(b"\n")
            if self.done_at is None and self.lines >= self.expected:
                self.done_at = now
            # A "keycode = " split between two chunks is found in the tail
            # kept from the first; one wholly inside that tail was counted.
            text = tail + chunk
            found = text.count(b"keycode = ") - tail.count(b"keycode = ")
            self.keycodes += [now] * found
            tail = text[-9:]

    def _read_errors(self):
        for line in self.proc.stderr:
            self.errors += line
            if b"keycode" not in line:
                self.timed_log.append("%.3f %s" % (time.monotonic() - self.start, line.decode(errors="replace")))
            m = re.search(rb"event loop stalled (\d+) ms", line)
            if m:
                self.stall_log.append((time.monotonic(), int(m.group(1))))

    def worst_stall(self, since):
        """The longest event-loop stall logged since then (0: none over 50 ms)."""
        time.sleep(0.5)
        return max([ms for at, ms in self.stall_log if at >= since] or [0])

    def window(self):
        return window_of(self.proc)

    def close(self):
        close_window(self.proc, 20)


def sort_by_name_twice(run):
    """Clicks the Name column's header twice, a second apart (ascending,
    then descending), as a user sorts; what the log says the sorts took."""
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", run.window()], capture_output=True,
                              text=True).stdout
    at = dict(line.split("=", 1) for line in geometry.split())
    # The header of the first column, in the window's default layout.
    x, y = int(at["X"]) + 300, int(at["Y"]) + 141
    for _ in range(2):
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
        time.sleep(1.5)
    log = run.errors.decode(errors="replace")
    return "; ".join(re.findall(r"table: (sorted [^\n]*)", log)[-2:]) or "no sort logged"


def window_of(proc):
    """The program's window (the first visible one of its pid)."""
    deadline = time.time() + 20
    while time.time() < deadline:
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(proc.pid)],
                           capture_output=True, text=True)
        if r.stdout.strip():
            return r.stdout.split()[0]
        time.sleep(0.05)
    raise SystemExit("no window")


def close_window(proc, timeout):
    """Closes the window as a user would, and waits for the process."""
    subprocess.run(["wmctrl", "-i", "-c", window_of(proc)], check=False)
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def key_latencies(run, key, count, gap=0.1, until=None):
    """Sends key count times (or until until() holds), gap apart; the wait
    for each keycode line, in ms."""
    sent = []
    first = len(run.keycodes)
    while len(sent) < count and not (until and until()):
        sent.append(time.monotonic())
        subprocess.run(["xdotool", "key", key], check=True)
        time.sleep(gap)
    deadline = time.time() + 10
    while len(run.keycodes) - first < len(sent) and time.time() < deadline:
        time.sleep(0.05)
    got = run.keycodes[first:first + len(sent)]
    return [1000 * (g - s) for s, g in zip(sent, got)], len(sent) - len(got)


def main():
    root = "/tmp/auralist-deep-%d" % ENTRIES
    t = time.monotonic()
    expected = make_tree(root, ENTRIES)
    print("tree: %d entries in %s (%.0f s to make), %d intake lines expected" % (
        ENTRIES, root, time.monotonic() - t, expected))

    empty = "/tmp/auralist-million-empty"
    os.makedirs(empty, exist_ok=True)
    base = Run(empty, 0)
    base.window()
    time.sleep(2)
    base_rss = rss_kb(base.proc.pid)
    base.close()

    finds, intakes, from_first = [], [], []
    worst_key, lost_keys, rss_per_entry, stalls, longest = [], 0, [], [], []
    for i in range(RUNS):
        t = time.monotonic()
        with open("/tmp/auralist-million-find.txt", "wb") as out:
            subprocess.run(["find", root, "-printf", "%p\\n"], stdout=out, check=True)
        finds.append(time.monotonic() - t)

        run = Run(root, expected)
        w = run.window()
        subprocess.run(["xdotool", "windowactivate", "--sync", w], check=False)
        # Keys during the intake.
        lat, lost = key_latencies(run, "shift", 1000, until=lambda: run.done_at is not None)
        deadline = time.time() + 120
        while run.done_at is None and time.time() < deadline:
            time.sleep(0.01)
        if run.done_at is None:
            raise SystemExit("the intake did not end: %d of %d lines" % (run.lines, expected))
        intakes.append(run.done_at - run.start)
        from_first.append(run.done_at - run.first_at)
        time.sleep(3)  # headers are being read meanwhile
        rss_per_entry.append(1024 * (rss_kb(run.proc.pid) - base_rss) / ENTRIES)
        # Find: a few keystrokes and back, then scrolling the whole list.
        t = time.monotonic()
        subprocess.run(["xdotool", "key", "ctrl+f"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "120", "kick 12"], check=True)
        subprocess.run(["xdotool", "key", "--delay", "120", "BackSpace", "BackSpace", "BackSpace", "BackSpace"],
                       check=True)
        subprocess.run(["xdotool", "key", "Escape", "Down"], check=True)
        find_stall = run.worst_stall(t)
        scroll, lost2 = key_latencies(run, "Next", 30)
        end, lost3 = key_latencies(run, "End", 3)
        # Type-ahead with a letter no name starts with, Select All, a sort
        # by name (a click on the header twice).
        ahead, lost4 = key_latencies(run, "q", 5, gap=0.6)
        t = time.monotonic()
        for _ in range(3):
            subprocess.run(["xdotool", "key", "ctrl+a"], check=True)
            time.sleep(0.3)
            subprocess.run(["xdotool", "key", "Down"], check=True)
            time.sleep(0.3)
        select_stall = run.worst_stall(t)
        t = time.monotonic()
        sorted_in = sort_by_name_twice(run)
        sort_stall = run.worst_stall(t)
        lost3 += lost4
        print("  find typing: longest stall %d ms; type-ahead 'q': worst %.0f ms; Ctrl+A: longest stall %d ms; "
              "sort by name twice: longest stall %d ms (%s)" % (
                  find_stall, max(ahead or [0]), select_stall, sort_stall, sorted_in))
        run.close()
        worst_key.append(max(lat + scroll + end) if lat + scroll + end else 0)
        lost_keys += lost + lost2 + lost3
        log = run.errors.decode(errors="replace")
        with open("/tmp/auralist-million-log-%d.txt" % (i + 1), "w") as f:
            f.write("".join(run.timed_log))
        stalls.append(len(re.findall(r"event loop stalled (\d+) ms", log)))
        m = re.search(r"longest event-loop stall: (-?\d+) ms", log)
        longest.append(int(m.group(1)) if m else -1)
        print("run %d: find %.2f s, intake %.2f s from launch (%.2fx), %.2f s from its first line (%.2fx), %d keys during intake, worst key wait %.0f ms, "
              "stalls over 50 ms: %d, longest %d ms, %.0f bytes/entry" % (
                  i + 1, finds[-1], intakes[-1], intakes[-1] / finds[-1], from_first[-1], from_first[-1] / finds[-1],
                  len(lat), worst_key[-1],
                  stalls[-1], longest[-1], rss_per_entry[-1]))

    f, n = statistics.median(finds), statistics.median(intakes)
    n1 = statistics.median(from_first)
    print("median: find %.2f s, intake %.2f s from launch (%.2fx), %.2f s from its first line (%.2fx); "
          "worst key wait %.0f ms; longest stall %d ms; %.0f bytes resident per entry; keys lost %d" % (
              f, n, n / f, n1, n1 / f, max(worst_key), max(longest), statistics.median(rss_per_entry), lost_keys))


if __name__ == "__main__":
    main()
