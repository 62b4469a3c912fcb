#!/usr/bin/env python3
"""End-to-end tests of the library and the rest: the catalogue, the search
over every folder, triage on the disk, quitting, starting, the window read
by a screen reader and the update check against a local HTTP server."""
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from support import BINARY, App, Recorder, find_window, listing, press_in, tone  # noqa: E402


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
                    return c.execute("SELECT CAST(p.path AS TEXT), s.content FROM sounds s JOIN sound_paths p ON p.id = s.id ORDER BY p.path").fetchall()
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
