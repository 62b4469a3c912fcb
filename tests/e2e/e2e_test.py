#!/usr/bin/env python3
"""End-to-end tests: the built auralist binary on generated sounds, with the
real PulseAudio null sink and a local HTTP server on 127.0.0.1."""
import array
import hashlib
import http.server
import math
import os
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest

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


class Browser(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="auralist-e2e-")
        self.env = {"XDG_CONFIG_HOME": os.path.join(self.dir, "config"), "AURALIST_SITE_HOST": ""}

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_plays_advances_and_stops(self):
        sounds = os.path.join(self.dir, "sounds")
        os.makedirs(sounds)
        tone(os.path.join(sounds, "a.wav"), seconds=1)
        tone(os.path.join(sounds, "b.flac"), seconds=1, freq=660)
        with open(os.path.join(sounds, "broken.wav"), "wb") as f:
            f.write(b"RIFF\x00\x00")
        open(os.path.join(sounds, "empty.wav"), "wb").close()
        tone(os.path.join(sounds, "caf\xe9.wav".encode("latin-1").decode("utf-8", "surrogateescape")), seconds=1)
        rec = Recorder()
        app = App([sounds], self.env)
        try:
            # Every sound plays to its end, one after the other; broken files
            # are reported and stop the run until the user moves on.
            self.assertTrue(app.wait_for(b"done\n", timeout=15), app.output())
            self.assertGreater(rec.rms(), 0.01)
            out = app.output()
            self.assertIn(b"format: wav\n", out)
            self.assertIn(b"format: flac\n", out)
            self.assertIn(sounds.encode() + b"/caf\xe9.wav\n", out)
        finally:
            self.assertEqual(app.close(), 0)

    def assert_unbroken(self, rec, what, seconds, margin=0.25, app=None):
        """The recording holds at least `seconds` of a 441 Hz sine without
        a break or a silence; the figures are printed for the README. With
        the app (run with AURALIST_DEBUG), a failure says how many underruns
        the player itself counted, to tell its gaps from the server's."""
        length, breaks, silence = tone_breaks(rec.samples(), 441, margin=margin)
        print("\n%s: %.3f s of tone, %d breaks, longest silence %d frames" % (what, length, len(breaks), silence),
              file=sys.stderr)
        if breaks or silence >= 3:
            player = re.findall(rb"player: \d+ underruns in this run", app.errors()) if app else []
            print("breaks at %s s into the tone; %s" % (", ".join("%.4f" % b for b in breaks[:8]),
                                                      player[-1].decode() if player else "no count from the player"),
                  file=sys.stderr)
        self.assertGreater(length, seconds)
        self.assertEqual(breaks, [])
        self.assertLess(silence, 3)

    def test_two_folders_at_launch_are_one_intake_with_one_clean_start(self):
        drums = os.path.join(self.dir, "Drums")
        keys = os.path.join(self.dir, "Keys")
        os.makedirs(drums)
        os.makedirs(keys)
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", os.path.join(drums, "a.wav"),
                        "synth", "2", "sine", "441"], check=True)
        # Silent, so that the first sound's end is where the tone ends.
        for i in range(150):
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", os.path.join(keys, "k%03d.wav" % i),
                            "trim", "0", "0.05"], check=True)
        rec = Recorder()
        app = App([drums, os.path.join(self.dir, "no such folder"), keys], self.env)
        try:
            self.assertIsNotNone(find_window("^Drums \\+ 1 more .+ 151 sounds .+ Auralist$", timeout=15))
            self.assertTrue(app.wait_for(b"done\n", timeout=15), app.output())
            time.sleep(0.3)
            rec.stop()
            out = app.output()
            # The first sound started once, and played whole.
            self.assertNotIn(b"failed\n", out)
            self.assertEqual(out.count(os.path.join(drums, "a.wav").encode() + b"\n"), 1)
            self.assert_unbroken(rec, "first sound of two folders", 1.4)
            self.assertIn(b"no such folder: no such file or folder\n", app.errors())
        finally:
            self.assertEqual(app.close(), 0)

    def test_loops_without_a_gap_even_while_the_window_stalls(self):
        # 1 s of a 441 Hz sine loops seamlessly: any break at one of ten
        # wraps, or while the window's thread is held for a second (F12,
        # with the debug log on), shows in the recording.
        sound = os.path.join(self.dir, "sine 441.wav")
        tone(sound, seconds=1, freq=441)
        rec = Recorder()
        app = App([sound], dict(self.env, AURALIST_DEBUG="1"))
        try:
            w = app.window()
            subprocess.run(["xdotool", "windowactivate", "--sync", w], check=False)
            subprocess.run(["xdotool", "key", "ctrl+l"], check=True)
            time.sleep(2.5)
            if app.output().count(b"done\n") < 2:
                # The first pass ended before looping was on: play again.
                rec.stop()
                rec = Recorder()
                app.key("space")
            start = app.output().count(b"done\n")
            for _ in range(2):
                subprocess.run(["xdotool", "key", "F12"], check=True)
                time.sleep(2)
            self.assertTrue(app.wait_for(b"done\n", count=start + 10, timeout=20), app.output())
        finally:
            self.assertEqual(app.close(), 0)
            rec.stop()
        self.assertEqual(app.output().count(b"format: wav\n"), 1)
        self.assertEqual(app.errors().count(b"holding the window's thread"), 2, app.errors())
        self.assert_unbroken(rec, "loop", 9.5)

    def test_each_sound_follows_the_last_without_a_gap(self):
        # Three seconds of one sine cut into three files: played through,
        # they must sound as one.
        sounds = os.path.join(self.dir, "thirds")
        os.makedirs(sounds)
        for name in ("1.wav", "2.wav", "3.wav"):
            tone(os.path.join(sounds, name), seconds=1, freq=441)
        rec = Recorder()
        app = App([sounds], dict(self.env, AURALIST_DEBUG="1"))
        try:
            self.assertTrue(app.wait_for(b"done\n", count=3, timeout=15), app.output())
            time.sleep(0.5)
        finally:
            self.assertEqual(app.close(), 0)
            rec.stop()
        self.assert_unbroken(rec, "auto-advance", 2.95, margin=0.05, app=app)

    def test_space_stops_and_restarts(self):
        sounds = os.path.join(self.dir, "long")
        os.makedirs(sounds)
        tone(os.path.join(sounds, "long.wav"), seconds=3)
        app = App([sounds], self.env)
        try:
            app.window()
            time.sleep(0.5)
            app.key("space")
            self.assertTrue(app.wait_for(b"failed\n"), app.output())
            self.assertIn(b"keycode = 32\n", app.output())
            app.key("space")
            self.assertTrue(app.wait_for(b"keycode = 32\n", count=2))
            self.assertTrue(app.wait_for(b"done\n", timeout=10), app.output())
        finally:
            self.assertEqual(app.close(), 0)

    def test_deletes_exactly_the_confirmed_file(self):
        # The only sound has a name that is not UTF-8; around it, what a
        # scan must survive: a link loop, a FIFO, a long path, a name with
        # a line feed, a crowded folder.
        tree = os.path.join(self.dir, "tree").encode()
        os.makedirs(os.path.join(tree, b"loop", b"inner"))
        os.symlink(os.path.join(tree, b"loop"), os.path.join(tree, b"loop", b"inner", b"back"))
        os.mkfifo(os.path.join(tree, b"pipe.wav.fifo"))
        deep = tree
        while len(deep) < 3900:
            deep = os.path.join(deep, b"d" * 200)
        os.makedirs(deep)
        with open(os.path.join(deep, b"deep.txt"), "wb") as f:
            f.write(b"deep")
        with open(os.path.join(tree, b"line\nfeed.txt"), "wb") as f:
            f.write(b"x")
        crowd = os.path.join(tree, b"crowd")
        os.makedirs(crowd)
        for i in range(10000):
            open(os.path.join(crowd, b"n%05d.txt" % i), "wb").close()
        odd = os.path.join(tree, b"caf\xe9 take.wav")
        tone(os.fsdecode(odd), seconds=2)
        before = listing(os.fsdecode(tree))

        app = App([os.fsdecode(tree)], self.env)
        try:
            self.assertTrue(app.wait_for(b"format: wav\n"), app.output()[-500:])
            self.assertIn(odd + b"\n", app.output())
            app.key("Delete")
            panel = find_window("^Delete Sound$")
            self.assertIsNotNone(panel, "no delete panel")
            press_in(panel, "Return")
            deadline = time.time() + 10
            while os.path.lexists(odd) and time.time() < deadline:
                time.sleep(0.1)
            after = listing(os.fsdecode(tree))
            del before[os.path.relpath(odd, tree)]
            self.assertEqual(after, before)
        finally:
            self.assertEqual(app.close(), 0)

    def test_file_gone_between_scan_and_play_and_bad_settings(self):
        sounds = os.path.join(self.dir, "gone")
        os.makedirs(sounds)
        for name in ("a.wav", "b.wav", "c.wav"):
            tone(os.path.join(sounds, name), seconds=3)
        # A settings file that is not one: the app starts and quits cleanly.
        conf = os.path.join(self.dir, "config", "Auralist")
        os.makedirs(conf)
        with open(os.path.join(conf, "Auralist.conf"), "wb") as f:
            f.write(b"\x00\xff[General\nmoveToTrash=\x80\x81\n=== garbage")
        app = App([sounds], self.env)
        try:
            self.assertTrue(app.wait_for(b"format: wav\n", count=3))
            paths = [l for l in app.output().splitlines() if l.endswith(b".wav")]
            # The second row's file is removed behind the app's back; the
            # arrow selects it, space stops and space plays it: reported,
            # and the app goes on.
            os.remove(paths[1])
            app.key("Down")
            app.key("space")
            self.assertTrue(app.wait_for(b"failed\n"), app.output())
            app.key("space")
            self.assertTrue(app.wait_for(b"unable to load sound " + paths[1] + b"\n"), app.output())
            app.key("Down")
            app.key("space")
            self.assertTrue(app.wait_for(b"keycode = 32\n", count=3), app.output())
            self.assertIsNone(app.proc.poll())
        finally:
            self.assertEqual(app.close(), 0)

    def test_sound_server_missing_at_start_then_killed(self):
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700)
        penv = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        # Without a display the server cannot autolaunch a session bus, so it
        # never competes with the test's own server for its bus name.
        for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            penv.pop(name, None)

        def start_server():
            # A server can fail to come up on a busy machine: try twice, and
            # say what it said if it never does.
            log = os.path.join(self.dir, "pulse.log")
            for _ in range(2):
                with open(log, "wb") as err:
                    server = subprocess.Popen(
                        ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "-n",
                         "--load=module-native-protocol-unix auth-anonymous=1",
                         "--load=module-null-sink sink_name=private_null", "--load=module-always-sink"],
                        env=penv, stdout=subprocess.DEVNULL, stderr=err)
                deadline = time.time() + 20
                while time.time() < deadline and server.poll() is None:
                    if subprocess.run(["pactl", "info"], env=penv, capture_output=True).returncode == 0:
                        return server
                    time.sleep(0.1)
                server.kill()
                server.wait()
            with open(log, "rb") as f:
                raise AssertionError("private sound server did not start: %r" % f.read()[-2000:])

        sound = os.path.join(self.dir, "take.wav")
        tone(sound, seconds=2)
        app = App([sound], dict(self.env, XDG_RUNTIME_DIR=runtime))
        server = None
        try:
            # No server: told once, and the app goes on.
            alert = find_window("^Sound Output$")
            self.assertIsNotNone(alert, "no word of the missing sound output")
            press_in(alert, "Return")
            self.assertTrue(app.wait_for(b"failed\n"))
            # The server comes: space plays to the end.
            server = start_server()
            app.key("space")
            self.assertTrue(app.wait_for(b"done\n", timeout=10), app.output())
            # Killed while a sound plays: told, and it plays once it is back.
            app.key("space")
            time.sleep(0.5)
            server.kill()
            server.wait()
            self.assertTrue(app.wait_for(b"failed\n", count=2, timeout=10), app.output())
            alert = find_window("^Sound Output$")
            self.assertIsNotNone(alert, "no word of the lost sound output")
            press_in(alert, "Return")
            server = start_server()
            # The backend looks for the server again every few seconds;
            # until it has, space only fails again, quietly.
            for _ in range(4):
                time.sleep(2)
                app.key("space")
                if app.wait_for(b"done\n", count=2, timeout=8):
                    break
            self.assertEqual(app.output().count(b"done\n"), 2, app.output())
            self.assertIsNone(find_window("^Sound Output$", timeout=0.5), "told twice of one failure")
            self.assertIsNone(app.proc.poll())
        finally:
            self.assertEqual(app.close(), 0)
            if server:
                server.kill()
                server.wait()

    def test_special_files_and_an_unwritable_settings_file(self):
        # A FIFO and a device named like sounds are listed but never opened
        # for playback (that would block); a settings file that cannot be
        # written does not stop the app from quitting cleanly.
        specials = os.path.join(self.dir, "specials")
        os.makedirs(specials)
        os.mkfifo(os.path.join(specials, "pipe.wav"))
        names = [b"pipe.wav"]
        if os.geteuid() == 0:
            os.mknod(os.path.join(specials, "null.wav"), stat.S_IFCHR | 0o600, os.makedev(1, 3))
            names.append(b"null.wav")
        os.makedirs(os.path.join(self.dir, "config", "Auralist", "Auralist.conf"))
        before = listing(specials)
        app = App([specials], self.env)
        try:
            self.assertTrue(app.wait_for(b"unable to load sound ", timeout=10), app.output())
            app.key("End")
            app.key("space")
            app.key("space")
            self.assertTrue(app.wait_for(b"keycode = 32\n", count=2), app.output())
            out = app.output()
            for name in names:
                self.assertIn(os.path.join(specials.encode(), name) + b"\n", out)
            self.assertIsNone(app.proc.poll())
        finally:
            self.assertEqual(app.close(), 0)
        self.assertEqual(listing(specials), before)

    def test_sound_truncated_while_it_plays(self):
        sound = os.path.join(self.dir, "shrinking.wav")
        tone(sound, seconds=4)
        app = App([sound], self.env)
        try:
            app.window()
            time.sleep(0.7)
            with open(sound, "r+b") as f:
                f.truncate(1000)
            # It ends early, as the file now does, and the app goes on.
            self.assertTrue(app.wait_for(b"done\n", timeout=10), app.output())
            app.key("space")
            self.assertTrue(app.wait_for(b"done\n", count=2, timeout=10), app.output())
            self.assertIsNone(app.proc.poll())
        finally:
            self.assertEqual(app.close(), 0)

    def test_each_track_follows_the_last_and_looping_repeats(self):
        sounds = os.path.join(self.dir, "pair")
        os.makedirs(sounds)
        tone(os.path.join(sounds, "one.wav"), seconds=0.3)
        tone(os.path.join(sounds, "two.aiff"), seconds=0.3, freq=550)
        app = App([sounds], self.env)
        try:
            # Both play to their end, one after the other, then it stops.
            self.assertTrue(app.wait_for(b"done\n", count=2, timeout=15), app.output())
            time.sleep(1.5)
            self.assertEqual(app.output().count(b"done\n"), 2)
            # Looping on: the last track plays again and again.
            w = app.window()
            subprocess.run(["xdotool", "windowactivate", "--sync", w], check=False)
            subprocess.run(["xdotool", "key", "ctrl+l"], check=True)
            app.key("space")
            self.assertTrue(app.wait_for(b"done\n", count=5, timeout=15), app.output())
        finally:
            self.assertEqual(app.close(), 0)


class MatchedLoudness(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="auralist-e2e-")
        config = os.path.join(self.dir, "config", "Auralist")
        os.makedirs(config)
        with open(os.path.join(config, "Auralist.conf"), "w") as f:
            f.write("[General]\nmatchLoudness=true\n")
        self.env = {"XDG_CONFIG_HOME": os.path.join(self.dir, "config"), "AURALIST_SITE_HOST": ""}

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_two_sounds_12_db_apart_are_heard_alike(self):
        sounds = os.path.join(self.dir, "sounds")
        os.makedirs(sounds)
        for name, db in (("a loud.wav", -10), ("b quiet.wav", -22)):
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", os.path.join(sounds, name),
                            "synth", "2", "sine", "1000", "vol", "%ddB" % db], check=True)
        rec = Recorder()
        app = App([sounds], self.env)
        try:
            self.assertTrue(app.wait_for(b"done\n", timeout=20), app.output())
            time.sleep(0.5)
            rec.stop()
        finally:
            self.assertEqual(app.close(), 0)
        left = rec.samples()[0::2]
        loud = [i for i, v in enumerate(left) if abs(v) > 300]
        self.assertTrue(loud, "nothing was heard")
        start = loud[0]

        def level(a, b):
            part = left[start + int(a * 44100):start + int(b * 44100)]
            return 10 * math.log10(sum(v * v for v in part) / len(part) / 32768.0 ** 2)
        # Each sound's middle: the first from 0.2 to 1.8 s, the second
        # from 2.2 to 3.8 s (one follows the other without a gap).
        first, second = level(0.2, 1.8), level(2.2, 3.8)
        print("\nmatched loudness: %.2f and %.2f dB RMS (the files are 12 dB apart)" % (first, second),
              file=sys.stderr)
        self.assertLess(abs(first - second), 1.0)
        # At the target: a 1 kHz sine at -20 LUFS is -20 dB in peak, -23 in RMS.
        self.assertLess(abs(first - (-23.0)), 1.5)


class DamagedMp3(unittest.TestCase):
    def test_decoder_chatter_is_one_line_per_file(self):
        d = tempfile.mkdtemp(prefix="auralist-mp3-")
        clean = os.path.join(d, "clean.mp3")
        r = subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", clean, "synth", "1", "sine", "440"],
                           capture_output=True)
        if r.returncode != 0:
            shutil.rmtree(d, ignore_errors=True)
            self.skipTest("sox cannot write MP3 here")
        with open(clean, "rb") as f:
            data = f.read()
        # Garbage in the middle of the stream: the decoder resyncs, noisily.
        damaged = []
        for i in range(2):
            path = os.path.join(d, "damaged %d.mp3" % i)
            with open(path, "wb") as f:
                f.write(data[:2000] + bytes(range(256)) * 12 + data[2000:6000] + bytes(3000) + data[6000:])
            damaged.append(path)
        app = App(damaged, {"XDG_CONFIG_HOME": os.path.join(d, "config"), "AURALIST_SITE_HOST": ""})
        try:
            self.assertTrue(app.wait_for(b"done\n", count=2, timeout=15), app.output())
        finally:
            self.assertEqual(app.close(), 0)
            err = app.errors()
            shutil.rmtree(d, ignore_errors=True)
        # Standard output is as ever; standard error names each damaged
        # file at most once and carries no stream of notes.
        self.assertEqual(app.output().count(b"format: mp3\n"), 2)
        for path in damaged:
            self.assertLessEqual(err.count(path.encode()), 1, err)
        self.assertEqual([l for l in err.splitlines() if l.startswith(b"Note:")], [], err)
        self.assertLessEqual(len([l for l in err.splitlines() if b"Note:" in l]), 2, err)


class CommandLine(unittest.TestCase):
    def run_app(self, args, env=None):
        return subprocess.run([BINARY] + args, capture_output=True, timeout=30,
                              env=dict(os.environ, **(env or {})))

    def test_help_version_and_unknown_options_answer_without_a_window(self):
        no_display = {"DISPLAY": "", "WAYLAND_DISPLAY": ""}
        r = self.run_app(["--help"], no_display)
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.stdout.startswith(b"Usage: auralist "), r.stdout)
        for text in (b"--version", b"Auralist.conf", b"AURALIST_SITE_HOST", b"XDG_CONFIG_HOME"):
            self.assertIn(text, r.stdout)
        self.assertEqual(self.run_app(["-h"], no_display).stdout, r.stdout)
        r = self.run_app(["--version"], no_display)
        self.assertEqual((r.returncode, r.stdout), (0, b"Auralist 20040426\n"))
        for bad, word in ((["--bogus"], "--bogus"), (["-x", "somewhere"], "-x"),
                          (["-platform", "offscreen", "--nope"], "--nope")):
            r = self.run_app(bad, no_display)
            self.assertEqual(r.returncode, 2, bad)
            self.assertEqual(r.stdout, b"")
            self.assertIn(b"unknown option '" + word.encode() + b"'", r.stderr)

    def test_double_dash_opens_files_named_like_options_and_qt_options_work(self):
        d = tempfile.mkdtemp(prefix="auralist-cli-")
        # A sound named exactly like the option, known by its type code.
        tone(os.path.join(d, "take.wav"), seconds=0.2)
        os.rename(os.path.join(d, "take.wav"), os.path.join(d, "--help"))
        os.setxattr(os.path.join(d, "--help"), "user.com.apple.FinderInfo", b"WAVE" + bytes(28))
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"), "AURALIST_SITE_HOST": ""}
        old = os.getcwd()
        os.chdir(d)
        try:
            app = App(["-style", "Fusion", "--", "--help"], env)
            try:
                self.assertTrue(app.wait_for(b"done\n", timeout=15), app.output())
                # Started normally, standard output has the event lines only.
                self.assertEqual(app.output(), b"format: WAVE\ndone\n")
            finally:
                self.assertEqual(app.close(), 0)
        finally:
            os.chdir(old)
            shutil.rmtree(d, ignore_errors=True)


class Catalogue(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="auralist-catalogue-")
        self.env = {"XDG_CONFIG_HOME": os.path.join(self.dir, "config"), "AURALIST_SITE_HOST": ""}

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_the_catalogue_survives_a_kill_damage_and_an_unwritable_folder(self):
        import sqlite3
        sounds = os.path.join(self.dir, "Drums")
        os.makedirs(sounds)
        for name in ("a.wav", "b.wav", "c.wav"):
            tone(os.path.join(sounds, name), seconds=0.2)
        db = os.path.join(self.dir, "data", "Auralist", "library.db")

        def query(sql):
            with sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=5) as c:
                return c.execute(sql).fetchall()

        def wait_query(sql, expected, timeout=10):
            deadline = time.time() + timeout
            while time.time() < deadline:
                try:
                    if query(sql) == expected:
                        return True
                except sqlite3.Error:
                    pass
                time.sleep(0.05)
            return False

        # An intake is remembered; a favourite is saved within a second and
        # survives kill -9 right after it.
        app = App([sounds], self.env)
        try:
            self.assertTrue(app.wait_for(b"done\n", timeout=15),
                            (app.output(), app.errors()[-3000:], app.proc.poll()))
            self.assertTrue(wait_query("SELECT count(*) FROM sounds", [(3,)]))
            app.key("ctrl+Home")
            app.key("ctrl+d")
            self.assertTrue(wait_query("SELECT count(*) FROM sounds WHERE favourite = 1", [(1,)], timeout=1))
        finally:
            app.proc.send_signal(signal.SIGKILL)
            app.proc.wait()
            app.out.close()
            app.err.close()
        # Started without paths: the folder comes back from the catalogue,
        # without an intake's lines and without playing.
        app = App([], self.env)
        try:
            self.assertIsNotNone(find_window("^Drums .+ 3 sounds .+ Auralist$", timeout=10))
            time.sleep(1)
            self.assertNotIn(b"format: ", app.output())
            self.assertNotIn(b"done", app.output())
            self.assertEqual(query("SELECT count(*) FROM sounds WHERE favourite = 1"), [(1,)])
        finally:
            self.assertEqual(app.close(), 0)

        # Junk in its place: set aside, the backup restored, the user told.
        with open(db, "wb") as f:
            f.write(b"not a database at all" * 100)
        for suffix in ("-wal", "-shm"):
            if os.path.exists(db + suffix):
                os.unlink(db + suffix)
        app = App([sounds], self.env)
        try:
            alert = find_window("^Library (Restored|Started Again)$", timeout=15)
            self.assertIsNotNone(alert, "the damage was not told")
            press_in(alert, "Return")
            self.assertTrue(app.wait_for(b"done\n", timeout=15), app.output())
            aside = [n for n in os.listdir(os.path.dirname(db)) if ".damaged-" in n]
            self.assertTrue(aside, os.listdir(os.path.dirname(db)))
            with open(os.path.join(os.path.dirname(db), sorted(aside)[0]), "rb") as f:
                self.assertTrue(f.read().startswith(b"not a database"))
            self.assertTrue(wait_query("SELECT count(*) FROM sounds", [(3,)]))
        finally:
            self.assertEqual(app.close(), 0)

        # A data folder that cannot hold the catalogue: the browser as ever.
        blocked = os.path.join(self.dir, "blocked")
        with open(blocked, "w") as f:
            f.write("a file where the folder would be")
        app = App([sounds], dict(self.env, XDG_DATA_HOME=blocked))
        try:
            self.assertTrue(app.wait_for(b"done\n", timeout=15), app.output())
            self.assertIn(os.path.join(sounds, "a.wav").encode() + b"\n", app.output())
        finally:
            self.assertEqual(app.close(), 0)

    def test_stems_alike_in_size_and_ends_are_two_sounds(self):
        import sqlite3
        # Two stems of one session: the same length, 1.6 s of silence at
        # each end, a bass tone in one and noise in the other; and a true
        # copy of the bass.
        session = os.path.join(self.dir, "Session")
        os.makedirs(session)
        bass = os.path.join(session, "Bass stem.wav")
        drums = os.path.join(session, "Drums stem.wav")
        for path, kind in ((bass, "sine 220"), (drums, "whitenoise")):
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", "1"] + kind.split()
                           + ["vol", "0.4", "pad", "1.6", "1.6"], check=True)
        shutil.copyfile(bass, os.path.join(session, "Bass copy.wav"))
        self.assertEqual(os.path.getsize(bass), os.path.getsize(drums))
        db = os.path.join(self.dir, "data", "Auralist", "library.db")

        def contents():
            try:
                with sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=5) as c:
                    return c.execute("SELECT CAST(path AS TEXT), content FROM sounds ORDER BY path").fetchall()
            except sqlite3.Error:
                return []

        app = App([session], self.env)
        try:
            deadline = time.time() + 30
            while time.time() < deadline and not (len(contents()) == 3 and all(c for _, c in contents())):
                time.sleep(0.1)
            found = dict(contents())
            self.assertEqual(len(found), 3, found)
            self.assertTrue(all(found.values()), found)
            # The copy is the bass; the drums are a sound of their own.
            self.assertEqual(found[os.path.join(session, "Bass copy.wav")], found[bass])
            self.assertNotEqual(found[drums], found[bass])
            with sqlite3.connect("file:%s?mode=ro" % db, uri=True, timeout=5) as c:
                loudness = c.execute("SELECT count(DISTINCT round(loudness, 3)) FROM analysis").fetchone()[0]
            self.assertEqual(loudness, 2)
        finally:
            self.assertEqual(app.close(), 0)


class WholeLibrarySearch(unittest.TestCase):
    def test_a_query_in_all_sounds_finds_across_folders(self):
        d = tempfile.mkdtemp(prefix="auralist-search-")
        a = os.path.join(d, "Pack A")
        b = os.path.join(d, "Pack B")
        os.makedirs(a)
        os.makedirs(b)
        for folder, name, freq in ((a, "kick a.wav", 440), (a, "snare a.wav", 440), (b, "hat b.wav", 440),
                                   (b, "kick b.wav", 1760)):
            tone(os.path.join(folder, name), seconds=1.0, freq=freq)
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"), "AURALIST_SITE_HOST": ""}
        try:
            app = App([a, b], env)
            try:
                self.assertTrue(app.wait_for(b"done\n", timeout=15, count=4), app.output())
            finally:
                self.assertEqual(app.close(), 0)
            # Started again on every sound of the catalogue.
            conf = os.path.join(d, "config", "Auralist", "Auralist.conf")
            with open(conf) as f:
                lines = [line for line in f.read().splitlines() if not line.startswith("lastShown")]
            lines.insert(lines.index("[General]") + 1, "lastShownList=all")
            with open(conf, "w") as f:
                f.write("\n".join(lines) + "\n")
            app = App([], env)
            rec = None
            try:
                window = find_window("^All Sounds .+ 4 sounds .+ Auralist$", timeout=10)
                self.assertIsNotNone(window, app.output())
                press_in(window, "ctrl+f")
                subprocess.run(["xdotool", "type", "--delay", "20", 'kick path:"pack b"'], check=True)
                press_in(window, "Return")
                rec = Recorder()
                # The first (and only) match plays: the kick of the other
                # folder, the one at 1,760 Hz.
                press_in(window, "Home")
                press_in(window, "Return")
                self.assertTrue(app.wait_for(b"done\n", timeout=10), app.output())
                time.sleep(0.3)
                rec.stop()
                left = rec.samples()[0::2]
                loud = [i for i, v in enumerate(left) if abs(v) > 1000]
                self.assertTrue(loud, "nothing was heard")
                part = left[loud[0] + 4410:loud[0] + 4410 * 5]
                crossings = sum(1 for x, y in zip(part, part[1:]) if (x < 0) != (y < 0))
                heard = crossings / 2 / (len(part) / 44100)
                print("\nwhole-library search: heard %.0f Hz (the match is at 1760 Hz)" % heard, file=sys.stderr)
                self.assertLess(abs(heard - 1760), 60)
            finally:
                if rec:
                    rec.stop()
                self.assertEqual(app.close(), 0)
        finally:
            shutil.rmtree(d, ignore_errors=True)


class Triage(unittest.TestCase):
    def test_keys_copy_move_rename_and_undo_on_the_disk(self):
        d = tempfile.mkdtemp(prefix="auralist-triage-")
        tree = os.path.join(d, "tree")
        sounds = os.path.join(tree, "sounds")
        kicks = os.path.join(tree, "Kicks")
        os.makedirs(sounds)
        os.makedirs(kicks)
        for name in ("a kick.wav", "b snare.wav"):
            tone(os.path.join(sounds, name), seconds=0.3)
        config = os.path.join(d, "config", "Auralist")
        os.makedirs(config)
        with open(os.path.join(config, "Auralist.conf"), "w") as f:
            f.write("[General]\ndestinations=file://%s\nautoAdvance=false\n" % kicks.replace(" ", "%20"))
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"), "AURALIST_SITE_HOST": "", "AURALIST_DEBUG": "1"}

        def settle(expected, timeout=10):
            deadline = time.time() + timeout
            while time.time() < deadline and listing(tree) != expected:
                time.sleep(0.05)
            return listing(tree)

        try:
            app = App([sounds], env)
            try:
                window = find_window("^sounds .+ 2 sounds .+ Auralist$", timeout=15)
                self.assertIsNotNone(window, app.output())
                self.assertTrue(app.wait_for(b"done\n", timeout=10), app.output())
                before = listing(tree)
                a = before[b"sounds/a kick.wav"]
                # Ctrl+1 copies the selected sound to the first destination.
                press_in(window, "ctrl+1")
                copied = dict(before)
                copied[b"Kicks/a kick.wav"] = a
                self.assertEqual(settle(copied), copied)
                # Ctrl+Shift+1 moves it there: the name is taken, so " 2".
                press_in(window, "ctrl+shift+1")
                moved = dict(copied)
                del moved[b"sounds/a kick.wav"]
                moved[b"Kicks/a kick 2.wav"] = a
                self.assertEqual(settle(moved), moved)
                # Undone twice: moved back, then the copy goes.
                press_in(window, "ctrl+z")
                self.assertEqual(settle(copied), copied)
                press_in(window, "ctrl+z")
                self.assertEqual(settle(before), before)
                # F2 renames in place; the extension stays.
                press_in(window, "F2")
                time.sleep(0.3)
                subprocess.run(["xdotool", "type", "--delay", "20", "808"], check=True)
                press_in(window, "Return")
                renamed = dict(before)
                del renamed[b"sounds/a kick.wav"]
                renamed[b"sounds/808.wav"] = a
                self.assertEqual(settle(renamed), renamed)
                press_in(window, "ctrl+z")
                self.assertEqual(settle(before), before)
            finally:
                self.assertEqual(app.close(), 0)
            stalls = re.findall(rb"longest event-loop stall: (-?\d+) ms", app.errors())
            self.assertTrue(stalls, app.errors())
            print("\ntriage: longest event-loop stall %s ms" % stalls[-1].decode(), file=sys.stderr)
        finally:
            shutil.rmtree(d, ignore_errors=True)


class Quitting(unittest.TestCase):
    """A signal quits as closing the window does, and the program starts and
    quits cleanly again and again."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="auralist-quit-")
        self.env = {"XDG_CONFIG_HOME": os.path.join(self.dir, "config"), "AURALIST_SITE_HOST": "",
                    "AURALIST_DEBUG": "1"}
        self.sounds = os.path.join(self.dir, "sounds")
        os.makedirs(self.sounds)
        for name, freq in (("a.wav", 441), ("b.wav", 551), ("c.wav", 661)):
            tone(os.path.join(self.sounds, name), seconds=2, freq=freq)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_sigterm_and_sigint_save_and_close_everything(self):
        import sqlite3
        db = os.path.join(self.dir, "data", "Auralist", "library.db")
        conf = os.path.join(self.dir, "config", "Auralist", "Auralist.conf")
        for number in (signal.SIGTERM, signal.SIGINT):
            if os.path.exists(conf):
                os.remove(conf)
            app = App([self.sounds], self.env)
            try:
                self.assertTrue(app.wait_for(b"format: wav\n", timeout=15), app.errors()[-2000:])
                app.key("ctrl+End")
                app.key("ctrl+d")
                time.sleep(0.5)
                start = time.time()
                app.proc.send_signal(number)
                code = app.proc.wait(10)
                took = time.time() - start
            finally:
                if app.proc.poll() is None:
                    app.proc.kill()
                    app.proc.wait()
            print("\nquit on signal %d in %.0f ms" % (number, took * 1000), file=sys.stderr)
            self.assertEqual(code, 0, app.errors()[-2000:])
            self.assertIn(b"quitting on signal %d" % number, app.errors())
            self.assertLess(took, 5)
            # The settings were saved and the catalogue closed with its
            # journal emptied; the favourite is in it (the second Ctrl+D
            # takes it back).
            with open(conf) as f:
                self.assertIn("windowSize", f.read())
            wal = db + "-wal"
            self.assertTrue(not os.path.exists(wal) or os.path.getsize(wal) == 0)
            with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as c:
                self.assertEqual(c.execute("SELECT count(*) FROM sounds WHERE favourite = 1").fetchall(),
                                 [(1 if number == signal.SIGTERM else 0,)])
            self.assertFalse(os.path.exists(db + ".marks"))

    def test_starts_and_quits_many_times(self):
        # More in scripts/soak (AURALIST_STARTS); each start plays, quits on
        # a signal at a different moment, and never aborts.
        starts = int(os.environ.get("AURALIST_STARTS", "12"))
        for i in range(starts):
            app = App([self.sounds], self.env)
            try:
                self.assertTrue(app.wait_for(b"format: wav\n", timeout=20), (i, app.errors()[-2000:]))
                time.sleep((i % 4) * 0.05)
                app.proc.send_signal(signal.SIGTERM)
                code = app.proc.wait(10)
            finally:
                if app.proc.poll() is None:
                    app.proc.kill()
                    app.proc.wait()
            self.assertEqual(code, 0, (i, app.errors()[-2000:]))
            self.assertNotIn(b"Assertion", app.errors())


class Launch(unittest.TestCase):
    def test_named_folder_plays_behind_a_launch_time_alert(self):
        d = tempfile.mkdtemp(prefix="auralist-launch-")
        sounds = os.path.join(d, "sounds")
        os.makedirs(sounds)
        tone(os.path.join(sounds, "a.wav"), seconds=0.5)
        # A port where nothing listens: the check fails at once.
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
        probe.close()
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"), "AURALIST_SITE_HOST": "127.0.0.1:%d" % port}
        app = App([sounds], env)
        try:
            alert = find_window("^Software Update$", timeout=20)
            self.assertIsNotNone(alert, "no alert for the failed check")
            # The alert is up, and the folder was taken in and played first.
            self.assertTrue(app.wait_for(b"done\n", timeout=10), app.output())
            self.assertIn(os.path.join(sounds, "a.wav").encode() + b"\n", app.output())
            self.assertIsNotNone(find_window("^Software Update$", timeout=1))
            # The title names the folder and counts its sounds.
            self.assertIsNotNone(find_window("^sounds .+ 1 sound .+ Auralist$", timeout=5))
            press_in(alert, "Return")
        finally:
            self.assertEqual(app.close(), 0)
            shutil.rmtree(d, ignore_errors=True)


READ_ACCESSIBLE = r"""
import time, pyatspi
def walk(node, seen, depth=0):
    if node is None or depth > 40:
        return
    try:
        role, name = node.getRoleName(), node.name
        description = node.description or ""
        states = node.getState().getStates()
        checkable = pyatspi.STATE_CHECKABLE in states
        checked = pyatspi.STATE_CHECKED in states
    except Exception:
        return
    seen.append("%s\t%s\t%s\t%s" % (role, name, description.replace("\t", "\\t"),
                                     ("checkable" if checkable else "") + (" checked" if checked else "")))
    if role in ("table", "table column header"):
        try:
            e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            seen.append("EXTENT|%s|%s|%d|%d" % (role, name, e.x, e.width))
        except Exception:
            pass
    for i in range(min(node.childCount, 200)):
        walk(node.getChildAtIndex(i), seen, depth + 1)
deadline = time.time() + 20
while True:
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    apps = [a for a in apps if a is not None and a.name.lower() == "auralist"]
    seen = []
    if apps:
        walk(apps[0], seen)
    # Once the list is in and playing, the table has cells and the time
    # shows.
    if (any(line.startswith("table cell\t") for line in seen)
            and any(line.startswith("label\tTime\t0:") for line in seen)) or time.time() > deadline:
        print("\n".join(seen))
        break
    time.sleep(0.5)
"""


@unittest.skipUnless(os.path.exists("/usr/libexec/at-spi-bus-launcher") and shutil.which("dbus-run-session"),
                     "at-spi2-core and dbus are needed")
class ScreenReader(unittest.TestCase):
    def test_controls_and_table_have_names_a_screen_reader_says(self):
        d = tempfile.mkdtemp(prefix="auralist-a11y-")
        sounds = os.path.join(d, "sounds")
        os.makedirs(sounds)
        tone(os.path.join(sounds, "kick 1.wav"), seconds=30)
        script = os.path.join(d, "read.py")
        with open(script, "w") as f:
            f.write(READ_ACCESSIBLE)
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(d, "config"), AURALIST_SITE_HOST="",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        inner = ('/usr/libexec/at-spi-bus-launcher --launch-immediately & '
                 '"$0" "$1" >/dev/null 2>&1 & app=$!; '
                 '/usr/bin/python3 "$2"; kill $app; wait $app')
        try:
            r = subprocess.run(["dbus-run-session", "--", "sh", "-c", inner, BINARY, sounds, script],
                               env=env, capture_output=True, text=True, timeout=60)
            rows = [line.split("\t") for line in r.stdout.splitlines() if line.count("\t") == 3]
            seen = set((row[0], row[1]) for row in rows)
            described = {(row[0], row[1]): row[2] for row in rows}
            states = {(row[0], row[1]): row[3] for row in rows}
            for name in ("First", "Previous", "Play", "Stop", "Next", "Last"):
                self.assertIn(("push button", name), seen, r.stdout[-3000:])
            self.assertIn(("table", "Sounds"), seen, r.stdout[-3000:])
            self.assertIn(("text", "Find"), seen, r.stdout[-3000:])
            self.assertIn(("label", "Version"), seen, r.stdout[-3000:])
            self.assertIn(("table cell", "kick 1.wav"), seen, r.stdout[-3000:])
            self.assertIn(("table column header", "Name"), seen, r.stdout[-3000:])
            # At the first size, what a sound is judged by shows without
            # scrolling sideways.
            extents = {}
            for line in r.stdout.splitlines():
                if line.startswith("EXTENT|"):
                    _, role, name, x, width = line.split("|")
                    extents.setdefault((role, name), (int(x), int(width)))
            table = [v for k, v in extents.items() if k[0] == "table"]
            self.assertTrue(table, r.stdout[-3000:])
            left, right = table[0][0], table[0][0] + table[0][1]
            for title in ("Name", "Length", "Loudness", "Type", "BPM", "Note", "Favourite"):
                x, width = extents.get(("table column header", title), (-1, 0))
                self.assertTrue(width > 0 and x >= left and x + width <= right,
                                "%s at %d+%d, the table %d..%d" % (title, x, width, left, right))
            # Where the sound is and which one plays, not only the labels'
            # names; the Loop button says whether it is on.
            self.assertRegex(described.get(("label", "Time"), ""), r"^0:\d\d\.\d / 0:30\.0$", r.stdout[-3000:])
            self.assertEqual(described.get(("label", "Current sound")), "kick 1.wav", r.stdout[-3000:])
            # (A check box: a button that is on or off; off, not looping.)
            self.assertIn(("check box", "Loop"), seen, r.stdout[-3000:])
            self.assertNotIn("checked", states[("check box", "Loop")])
            # Menu items are named by their text alone.
            names = [row[1] for row in rows if row[0] in ("menu item", "check menu item")]
            if names:
                self.assertIn("Delete Sound\u2026", names, r.stdout[-3000:])
                self.assertFalse([n for n in names if "\t" in n or "Del" == n[-3:]], names)
        finally:
            shutil.rmtree(d, ignore_errors=True)


class VersionHandler(http.server.BaseHTTPRequestHandler):
    body = b""
    paths = []

    def do_GET(self):
        VersionHandler.paths.append(self.path)
        self.send_response(200)
        self.send_header("Content-Length", str(len(self.body)))
        self.end_headers()
        self.wfile.write(self.body)

    def log_message(self, *args):
        pass


class UpdateCheck(unittest.TestCase):
    def test_launch_check_records_last_update_check(self):
        d = tempfile.mkdtemp(prefix="auralist-upd-")
        server = http.server.HTTPServer(("127.0.0.1", 0), VersionHandler)
        VersionHandler.body = b'{ version = 20040426; url = "http://127.0.0.1/"; }'
        threading.Thread(target=server.serve_forever, daemon=True).start()
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"),
               "AURALIST_SITE_HOST": "127.0.0.1:%d" % server.server_port}
        app = App([], env)
        try:
            app.window()
            conf = os.path.join(d, "config", "Auralist", "Auralist.conf")
            deadline = time.time() + 10
            while time.time() < deadline and not os.path.exists(conf):
                time.sleep(0.1)
            with open(conf) as f:
                text = f.read()
            self.assertIn("[General]", text)
            self.assertRegex(text, r"lastUpdateCheck=\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4}")
            self.assertEqual(VersionHandler.paths, ["/software/osx/Auralist/version.dict"])
        finally:
            self.assertEqual(app.close(), 0)
            server.shutdown()
            shutil.rmtree(d, ignore_errors=True)

    def test_slow_update_server_keeps_the_wait_bounded(self):
        d = tempfile.mkdtemp(prefix="auralist-upd-")

        class Slow(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                time.sleep(60)

            def log_message(self, *args):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Slow)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"),
               "AURALIST_SITE_HOST": "127.0.0.1:%d" % server.server_port}
        start = time.time()
        app = App([], env)
        try:
            alert = find_window("^Software Update$", timeout=20)
            self.assertIsNotNone(alert, "no alert after the time-out")
            self.assertLess(time.time() - start, 15)
            press_in(alert, "Return")
        finally:
            self.assertEqual(app.close(), 0)
            server.shutdown()
            shutil.rmtree(d, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
