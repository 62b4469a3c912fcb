#!/usr/bin/env python3
"""A scripted session of the built program: an intake, a find, playback, a
deletion, a favourite, a copy and its undo. The event lines it prints on
stdout are compared byte for byte with session.lines, recorded once, so
that a change of structure that changes what the program does is caught."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import App, find_window, listing, press_in, tone  # noqa: E402  (takes the binary from argv)

EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "session.lines")


def run_session():
    d = tempfile.mkdtemp(prefix="auralist-session-")
    try:
        sounds = os.path.join(d, "sounds")
        kept = os.path.join(d, "Kept")
        os.makedirs(sounds)
        os.makedirs(kept)
        # Long enough that nothing ends on its own while the script runs.
        for name, freq in (("a kick.wav", 220), ("b snare.wav", 330), ("c hat.wav", 440), ("d tom.wav", 550)):
            tone(os.path.join(sounds, name), seconds=60, freq=freq)
        config = os.path.join(d, "config", "Auralist")
        os.makedirs(config)
        with open(os.path.join(config, "Auralist.conf"), "w") as f:
            f.write("[General]\ndestinations=file://%s\n" % kept)
        env = {"XDG_CONFIG_HOME": os.path.join(d, "config"), "AURALIST_SITE_HOST": ""}

        def settle(test, timeout=10):
            deadline = time.time() + timeout
            while time.time() < deadline and not test():
                time.sleep(0.05)

        app = App([sounds], env)
        try:
            window = find_window("^sounds .+ 4 sounds .+ Auralist$", timeout=15)
            assert window, app.output()
            assert app.wait_for(b"format: wav\n", count=4), app.output()

            def key(k, needle=None, count=1):
                press_in(window, k)
                if needle:
                    assert app.wait_for(needle, count=count), (k, app.output())
                else:
                    time.sleep(0.4)

            # Playback: stop, start, the next sound, back.
            key("space", b"keycode = 32\n", 1)
            assert app.wait_for(b"failed\n", count=1), app.output()
            key("space", b"keycode = 32\n", 2)
            key("Down")
            key("Up")
            # A find that keeps two of the four, then the list again.
            key("ctrl+f")
            subprocess.run(["xdotool", "type", "--delay", "30", "a"], check=True)
            time.sleep(0.6)
            key("Tab")
            key("Down")
            key("ctrl+f")
            subprocess.run(["xdotool", "key", "BackSpace"], check=True)
            time.sleep(0.6)
            key("Tab")
            # A favourite, a copy and its undo.
            key("ctrl+d")
            key("ctrl+1")
            settle(lambda: os.path.exists(os.path.join(kept, "b snare.wav")))
            key("ctrl+z")
            settle(lambda: not os.path.exists(os.path.join(kept, "b snare.wav")))
            # A deletion, approved.
            before = listing(sounds)
            press_in(window, "Delete")
            panel = find_window("^Delete Sound$")
            assert panel, "no delete panel"
            assert app.wait_for(b"failed\n", count=2), app.output()
            press_in(panel, "Return")
            settle(lambda: listing(sounds) != before)
            time.sleep(0.5)
            key("space", b"keycode = 32\n", 3)
            assert app.wait_for(b"failed\n", count=3), app.output()
        finally:
            app.close()
        # What is left on the disk is part of what the session did.
        left = b"".join(b"left: " + os.path.relpath(p, d).encode() + b"\n"
                        for p in sorted(os.path.join(f, n) for f in (sounds, kept) for n in os.listdir(f)))
        return app.output().replace(d.encode(), b"<dir>") + left
    finally:
        shutil.rmtree(d, ignore_errors=True)


class Session(unittest.TestCase):
    def test_event_lines_are_as_recorded(self):
        with open(EXPECTED, "rb") as f:
            expected = f.read()
        self.assertEqual(run_session().decode(errors="replace"), expected.decode(errors="replace"))


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--record":
        with open(EXPECTED, "wb") as out:
            out.write(run_session())
        sys.exit(0)
    unittest.main(verbosity=2)
