#!/usr/bin/env python3
"""End-to-end tests of the browser: the built auralist binary on generated
sounds, with the real PulseAudio null sink: playback, deletion, bad input,
matched loudness and the command line."""
import math
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import (BINARY, App, Recorder, find_window, listing, press_in,  # noqa: E402
                     tone, tone_breaks)


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


if __name__ == "__main__":
    unittest.main(verbosity=2)
