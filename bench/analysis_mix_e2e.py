#!/usr/bin/env python3
"""The analysis in the real program on a mix like a collector's folder, beside
`loudgain` (loudness, range and true peak) on the same files in as many
processes as cores, warm cache, in the same run.

The mix (made with sox in /tmp/auralist-mix and kept): FLAC and Ogg one-shots
under 2 s (mono and stereo, 44.1 and 48 kHz, 16 and 24 bits), WAV loops of
2 to 8 s at known tempi, and Ogg files minutes long.

usage: bench/analysis_mix_e2e.py build/auralist [RUNS]
Needs a display (DISPLAY) and a sound server, as ./test provides; installs
sox and loudgain (Debian's) when they are missing."""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from million_e2e import close_window, window_of  # noqa: E402

BINARY = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 2
ROOT = "/tmp/auralist-mix"
NOTES = ["C", "D", "E", "F", "G", "A", "B"]


def one_shot(rng, path):
    seconds = rng.uniform(0.15, 1.9)
    rate = rng.choice([44100, 48000])
    channels = rng.choice([1, 2])
    bits = [] if path.endswith(".ogg") else ["-b", str(rng.choice([16, 24]))]
    kind = rng.randrange(4)
    note = "%s%d" % (rng.choice(NOTES), rng.randrange(2, 6))
    if kind == 0:
        synth = ["synth", "%.3f" % seconds, "pluck", note]
    elif kind == 1:
        synth = ["synth", "%.3f" % seconds, "sine", "%d-%d" % (rng.randrange(90, 200), rng.randrange(30, 60))]
    elif kind == 2:
        synth = ["synth", "%.3f" % seconds, rng.choice(["whitenoise", "pinknoise", "brownnoise"])]
    else:
        synth = ["synth", "%.3f" % seconds, "square", note, "sine", note]
    fade = ["fade", "q", "0.002", "%.3f" % seconds, "%.3f" % (seconds * 0.9)]
    return ["sox", "-n", "-r", str(rate), "-c", str(channels)] + bits + [path] + synth + fade + ["gain", "-3"]


def loop(rng, path):
    bpm = rng.choice([80, 90, 100, 110, 120, 128, 140, 160, 174])
    beat = 60.0 / bpm
    beats = rng.choice([4, 8, 16])
    hit = ["synth", "%.4f" % beat, "sine", "%d-%d" % (rng.randrange(100, 180), 40), "fade", "q", "0.001",
           "%.4f" % beat, "%.4f" % (beat * 0.8)]
    return ["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path] + hit + ["repeat", str(beats - 1), "gain", "-3"]


def long_ogg(rng, path):
    seconds = rng.randrange(120, 240)
    return ["sox", "-n", "-r", "44100", "-c", "2", path, "synth", str(seconds), "pinknoise", "synth", "sine",
            "amod", "%.2f" % rng.uniform(1, 4), "synth", "square", "amod", "%.1f" % rng.uniform(40, 200),
            "gain", "-6"]


def make_mix():
    marker = os.path.join(ROOT, ".complete")
    if os.path.exists(marker):
        return
    shutil.rmtree(ROOT, ignore_errors=True)
    rng = random.Random(36)
    jobs = []
    for i in range(700):
        jobs.append(one_shot(rng, os.path.join(ROOT, "one-shots", "flac", "hit %03d.flac" % i)))
        jobs.append(one_shot(rng, os.path.join(ROOT, "one-shots", "ogg", "fx %03d.ogg" % i)))
    for i in range(250):
        jobs.append(loop(rng, os.path.join(ROOT, "loops", "loop %03d.wav" % i)))
    for i in range(12):
        jobs.append(long_ogg(rng, os.path.join(ROOT, "long", "ambience %02d.ogg" % i)))
    for folder in ("one-shots/flac", "one-shots/ogg", "loops", "long"):
        os.makedirs(os.path.join(ROOT, folder), exist_ok=True)
    with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        for r in pool.map(lambda j: subprocess.run(j, capture_output=True), jobs):
            if r.returncode != 0:
                raise SystemExit("sox failed: " + r.stderr.decode(errors="replace"))
    with open(marker, "w") as f:
        f.write("done")


def sound_files():
    out = []
    for d, _, names in os.walk(ROOT):
        out += [os.path.join(d, n) for n in names if not n.startswith(".")]
    return sorted(out)


def seconds_of(files):
    r = subprocess.run(["soxi", "-D"] + files, capture_output=True, text=True)
    return sum(float(x) for x in r.stdout.split() if re.match(r"^[0-9.]+$", x))


def warm(files):
    for f in files:
        with open(f, "rb") as h:
            while h.read(1 << 20):
                pass


def loudgain(files):
    """loudgain over every file, split into as many processes as cores."""
    cores = os.cpu_count() or 2
    parts = [files[i::cores] for i in range(cores)]
    start = time.monotonic()
    procs = [subprocess.Popen(["loudgain", "-q", "-s", "s", "-O"] + p, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL) for p in parts]
    for p in procs:
        p.wait()
    return time.monotonic() - start


def auralist():
    """The program's own time from the analysis's start to its last result."""
    data = tempfile.mkdtemp(prefix="auralist-mix-data-")
    env = dict(os.environ, AURALIST_DEBUG="1", XDG_DATA_HOME=data, XDG_CONFIG_HOME=os.path.join(data, "config"),
               AURALIST_SITE_HOST="")
    log = []
    proc = subprocess.Popen([BINARY, ROOT], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)

    def read():
        for line in proc.stderr:
            log.append(line.decode(errors="replace").rstrip())
    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    window_of(proc)
    done = None
    deadline = time.time() + 900
    while done is None and time.time() < deadline:
        for line in list(log):
            m = re.search(r"analysis: (\d+) sounds analysed in (\d+) ms", line)
            if m:
                done = (int(m.group(1)), int(m.group(2)) / 1000)
        time.sleep(0.1)
    close_window(proc, 60)
    reader.join(5)
    shutil.rmtree(data, ignore_errors=True)
    if done is None:
        raise SystemExit("the analysis did not finish:\n" + "\n".join(log[-20:]))
    return done


def install_tools():
    if shutil.which("sox") and shutil.which("loudgain") and shutil.which("soxi"):
        return
    deps = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "deps.sh")
    subprocess.run(["sh", deps], env=dict(os.environ, EXTRA_PACKAGES="sox libsox-fmt-all loudgain"), check=True)


def main():
    install_tools()
    make_mix()
    files = sound_files()
    audio = seconds_of(files)
    print("the mix: %d files, %.1f minutes of sound" % (len(files), audio / 60))
    for run in range(RUNS):
        warm(files)
        lg = loudgain(files)
        count, ours = auralist()
        print("run %d: loudgain %.1f s (%.0f x real time); Auralist %d sounds in %.1f s (%.0f x real time):"
              " %.2f x loudgain's throughput" % (run + 1, lg, audio / lg, count, ours, audio / ours, lg / ours))


if __name__ == "__main__":
    main()
