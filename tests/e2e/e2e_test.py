#!/usr/bin/env python3
"""End-to-end tests: the built auralist binary on generated sounds, with the
real PulseAudio null sink and a local HTTP server on 127.0.0.1."""
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BINARY = sys.argv.pop(1)


def tone(path, seconds=0.3, freq=440):
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path,
                    "synth", str(seconds), "sine", str(freq), "vol", "0.5"], check=True)


class App:
    def __init__(self, args, env=None):
        self.out_path = tempfile.mktemp(prefix="auralist-out-")
        self.out = open(self.out_path, "wb")
        full_env = dict(os.environ)
        full_env.update(env or {})
        self.proc = subprocess.Popen([BINARY] + args, stdout=self.out, stderr=subprocess.DEVNULL, env=full_env)

    def output(self):
        with open(self.out_path, "rb") as f:
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
        w = self.window()
        subprocess.run(["xdotool", "windowactivate", "--sync", w], check=False)
        subprocess.run(["xdotool", "key", "--window", w, key], check=True)

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
        return self.proc.returncode


class Recorder:
    def __init__(self):
        self.path = tempfile.mktemp(prefix="auralist-rec-")
        self.f = open(self.path, "wb")
        self.proc = subprocess.Popen(["parec", "--latency-msec=20", "-d", "@DEFAULT_MONITOR@",
                                      "--format=s16le", "--rate=44100", "--channels=2"], stdout=self.f)

    def rms(self):
        time.sleep(1.5)  # the server hands the monitor whole blocks, late
        self.proc.send_signal(signal.SIGINT)
        self.proc.wait(5)
        self.f.close()
        r = subprocess.run(["sox", "-t", "raw", "-r", "44100", "-c", "2", "-e", "signed", "-b", "16",
                            self.path, "-n", "stat"], capture_output=True, text=True)
        for line in r.stderr.splitlines():
            if line.startswith("RMS     amplitude"):
                return float(line.split()[-1])
        return 0.0


class Browser(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="auralist-e2e-")
        self.env = {"XDG_CONFIG_HOME": os.path.join(self.dir, "config"), "AURALIST_SITE_HOST": ""}

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_plays_advances_and_stops(self):
        sounds = os.path.join(self.dir, "sounds")
        os.makedirs(sounds)
        tone(os.path.join(sounds, "a.wav"))
        tone(os.path.join(sounds, "b.flac"), freq=660)
        with open(os.path.join(sounds, "broken.wav"), "wb") as f:
            f.write(b"RIFF\x00\x00")
        open(os.path.join(sounds, "empty.wav"), "wb").close()
        tone(os.path.join(sounds, "caf\xe9.wav".encode("latin-1").decode("utf-8", "surrogateescape")))
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
