#!/usr/bin/env python3
"""The window never waits: three measurements of the whole program.

1. Keys during an update check against a server that answers after 9 s:
   the wait for each key's "keycode" line (keys every 100 ms for 8 s).
2. Standard output a pipe that nobody reads, filled by an intake of
   20,000 files: the longest event-loop stall in the program's own log
   (AURALIST_DEBUG) while keys arrive, and how long closing the window
   takes to end the process.
3. The same close with a reader: the time to end.

usage: bench/waits_e2e.py build/auralist
Needs a display (DISPLAY), xdotool and wmctrl, as ./test installs them."""
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

BINARY = os.path.abspath(sys.argv[1])


def window_of(pid, timeout=20):
    deadline = time.time() + timeout
    while time.time() < deadline:
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], capture_output=True, text=True)
        if r.stdout.strip():
            return r.stdout.split()[0]
        time.sleep(0.1)
    raise SystemExit("no window")


def key(window, name="a"):
    subprocess.run(["xdotool", "key", "--window", window, name], check=False)


def close_and_time(proc, window):
    start = time.monotonic()
    subprocess.run(["wmctrl", "-i", "-c", window], check=False)
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None
    return time.monotonic() - start


def slow_update_check(tmp):
    class Slow(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            time.sleep(9)
            body = b'{ version = 20040426; url = "http://127.0.0.1/"; }'
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Slow)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"),
               AURALIST_SITE_HOST="127.0.0.1:%d" % server.server_port)
    out_path = os.path.join(tmp, "out1")
    with open(out_path, "wb") as out:
        proc = subprocess.Popen([BINARY], stdout=out, stderr=subprocess.DEVNULL, env=env)
    win = window_of(proc.pid)
    waits = []
    for _ in range(80):
        before = open(out_path, "rb").read().count(b"keycode = ")
        sent = time.monotonic()
        key(win)
        while open(out_path, "rb").read().count(b"keycode = ") <= before and time.monotonic() - sent < 10:
            time.sleep(0.002)
        waits.append(time.monotonic() - sent)
        time.sleep(max(0.0, 0.1 - (time.monotonic() - sent)))
    took = close_and_time(proc, win)
    server.shutdown()
    return waits, took


def blocked_stdout(tmp, read):
    folder = os.path.join(tmp, "many")
    if not os.path.isdir(folder):
        for d in range(20):
            sub = os.path.join(folder, "d%02d" % d)
            os.makedirs(sub)
            for i in range(1000):
                open(os.path.join(sub, "sound %04d with a longish name.wav" % i), "wb").close()
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config2"), AURALIST_DEBUG="1")
    r, w = os.pipe()
    proc = subprocess.Popen([BINARY, folder], stdout=w, stderr=subprocess.PIPE, env=env)
    os.close(w)
    if read:
        threading.Thread(target=lambda: [None for _ in iter(lambda: os.read(r, 65536), b"")], daemon=True).start()
    win = window_of(proc.pid)
    for _ in range(30):
        key(win, "Down")
        time.sleep(0.1)
    took = close_and_time(proc, win)
    errors = proc.stderr.read().decode(errors="replace")
    os.close(r)
    longest = re.findall(r"longest event-loop stall: (-?\d+) ms", errors)
    return took, (int(longest[-1]) if longest else None)


def main():
    tmp = tempfile.mkdtemp(prefix="auralist-waits-")
    try:
        waits, took = slow_update_check(tmp)
        waits.sort()
        print("keys during a 9 s update check: median %.1f ms, worst %.1f ms over %d keys; close took %.2f s"
              % (1000 * waits[len(waits) // 2], 1000 * waits[-1], len(waits), took or -1))
        for read in (False, True):
            took, longest = blocked_stdout(tmp, read)
            print("stdout %s: longest event-loop stall %s ms; close to process end %s s"
                  % ("read" if read else "a pipe nobody reads", longest,
                     "%.2f" % took if took is not None else "did not end"))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
