"""What the end-to-end tests share: the built binary (its path taken from
the command line), sounds made with sox, a listing of a tree, the window
found and keys pressed with xdotool, the program run and its output read,
and the sink's monitor recorded."""
import array
import math
import os
import signal
import stat
import hashlib
import subprocess
import sys
import tempfile
import time

BINARY = os.path.abspath(sys.argv.pop(1))


def tone(path, seconds=0.3, freq=440):
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path,
                    "synth", str(seconds), "sine", str(freq), "vol", "0.5"], check=True)


def listing(root):
    """Every entry below root with what it is: a checksum of a file's
    contents, a link's target, or 'folder'."""
    out = {}
    for folder, dirs, files in os.walk(root.encode()):
        for name in dirs + files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root.encode())
            if os.path.islink(path):
                out[rel] = b"link " + os.readlink(path)
            elif os.path.isdir(path):
                out[rel] = b"folder"
            elif stat.S_ISREG(os.lstat(path).st_mode):
                with open(path, "rb") as f:
                    out[rel] = hashlib.sha256(f.read()).hexdigest().encode()
            else:
                out[rel] = b"special"
    return out


def find_window(name, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], capture_output=True, text=True)
        if r.stdout.strip():
            return r.stdout.split()[0]
        time.sleep(0.1)
    return None


def press_in(window, key):
    """A real key press (XTEST) in window, which takes the focus first."""
    subprocess.run(["xdotool", "windowactivate", "--sync", window], check=False)
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False)
    subprocess.run(["xdotool", "key", key], check=True)


class App:
    def __init__(self, args, env=None):
        self.out_path = tempfile.mktemp(prefix="auralist-out-")
        self.out = open(self.out_path, "wb")
        self.err_path = self.out_path + ".err"
        self.err = open(self.err_path, "wb")
        full_env = dict(os.environ)
        full_env.update(env or {})
        # The catalogue lives beside the test's settings, never in the
        # home folder of whoever runs the tests.
        if "XDG_DATA_HOME" not in (env or {}):
            config = full_env.get("XDG_CONFIG_HOME") or tempfile.mkdtemp(prefix="auralist-config-")
            full_env["XDG_DATA_HOME"] = os.path.join(os.path.dirname(config.rstrip("/")), "data")
        self.proc = subprocess.Popen([BINARY] + args, stdout=self.out, stderr=self.err, env=full_env)

    def output(self):
        with open(self.out_path, "rb") as f:
            return f.read()

    def errors(self):
        with open(self.err_path, "rb") as f:
            return f.read()

    def wait_for(self, needle, timeout=10, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.output().count(needle) >= count:
                return True
            time.sleep(0.05)
        return False

    def window(self):
        deadline = time.time() + 10
        while time.time() < deadline:
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.proc.pid)],
                               capture_output=True, text=True)
            if r.stdout.strip():
                return r.stdout.split()[0]
            time.sleep(0.1)
        raise AssertionError("no window")

    def key(self, key):
        press_in(self.window(), key)

    def close(self):
        if self.proc.poll() is None:
            w = self.window()
            subprocess.run(["wmctrl", "-i", "-c", w], check=False)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.out.close()
        self.err.close()
        return self.proc.returncode


class Recorder:
    """Records the default sink's monitor. A freshly started server takes a
    while to hand the monitor any data, so the recorder is only ready once
    data arrives; start the program after that."""

    def __init__(self):
        self.path = tempfile.mktemp(prefix="auralist-rec-")
        self.f = open(self.path, "wb")
        self.proc = subprocess.Popen(["parec", "--latency-msec=20", "-d", "@DEFAULT_MONITOR@",
                                      "--format=s16le", "--rate=44100", "--channels=2"], stdout=self.f)
        deadline = time.time() + 15
        while os.path.getsize(self.path) < 44100 * 4 // 10:
            if time.time() > deadline or self.proc.poll() is not None:
                self.stop()
                raise AssertionError("the sink's monitor gives no data")
            time.sleep(0.05)

    def samples(self):
        with open(self.path, "rb") as f:
            data = f.read()
        return array.array("h", data[:len(data) - len(data) % 2])

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            self.proc.wait(5)
        self.f.close()

    def rms(self, timeout=10):
        """The RMS amplitude (0 to 1) of the whole recording, taken once
        sound has arrived (the server hands the monitor whole blocks, late)
        and a little more has followed."""
        deadline = time.time() + timeout
        while time.time() < deadline and not any(abs(v) > 1000 for v in self.samples()[-44100 * 2:]):
            time.sleep(0.1)
        time.sleep(0.5)
        self.stop()
        samples = self.samples()
        if not samples:
            return 0.0
        return math.sqrt(sum(v * v for v in samples) / len(samples)) / 32768.0


def tone_breaks(samples, freq, rate=44100, margin=0.25):
    """Where a recorded continuous sine (left channel) breaks: the length
    of the stretch where it sounds, the times (in seconds into it) where it
    departs from a sine (a gap, a click, a jump), and the longest run of
    silence inside it. The
    first and last `margin` seconds are left out (the start, and the fade
    when the program is closed)."""
    left = samples[0::2]
    loud = [i for i, v in enumerate(left) if abs(v) > 3000]
    if not loud:
        return 0.0, [], 0
    a, b = loud[0] + int(margin * rate), loud[-1] - int(margin * rate)
    k = 2 * math.cos(2 * math.pi * freq / rate)
    breaks, run, longest = [], 0, 0
    for n in range(a + 2, b):
        if abs(left[n] - (k * left[n - 1] - left[n - 2])) > 300:
            breaks.append((n - loud[0]) / rate)
        run = run + 1 if abs(left[n]) < 150 else 0
        longest = max(longest, run)
    return (loud[-1] - loud[0]) / rate, breaks, longest
