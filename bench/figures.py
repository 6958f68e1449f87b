#!/usr/bin/env python3
"""Figures of the real program on a virtual display: start-up, memory, the tick period, and how long
Open and Save of large files hold the ticks up. Prints a table; asserts nothing."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")


def run(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


class Display:
    def __enter__(self):
        # Xvfb picks a free display number itself; servers starting at the same moment can still
        # collide, and then one of them exits: start again.
        for _ in range(10):
            r, w = os.pipe()
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten",
                                          "tcp", "-noreset"], pass_fds=[w], stderr=subprocess.DEVNULL)
            os.close(w)
            number = os.read(r, 16).decode().strip()
            os.close(r)
            os.environ["DISPLAY"] = ":" + number
            if number and run("xdpyinfo").returncode == 0:
                break
            self.xvfb.kill()
            self.xvfb.wait()
        self.wm = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        return self

    def __exit__(self, *exc):
        self.wm.terminate()
        self.xvfb.terminate()


class Program:
    """A copy of kestrane with the tick-logging sensor library beside it."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kestrane-bench-")
        shutil.copy(os.path.join(BUILD, "kestrane"), self.dir)
        shutil.copy(os.path.join(BUILD, "fixtures", "ticklog", "Sensor.dll"), self.dir)
        self.log = os.path.join(self.dir, "ticks")
        env = dict(os.environ, KESTRANE_TICKLOG=self.log)
        self.started = time.monotonic()
        self.proc = subprocess.Popen([os.path.join(self.dir, "kestrane")], env=env)
        self.window = self.wait_window()
        self.visible_after = time.monotonic() - self.started

    def wait_window(self, title="^Kestrane$", timeout=20):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            r = run("xdotool", "search", "--onlyvisible", "--name", title)
            if r.stdout.strip():
                return r.stdout.split()[0]
            time.sleep(0.005)
        raise RuntimeError("no window " + title)

    def memory(self):
        fields = {}
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                k, _, v = line.partition(":")
                fields[k] = v.strip()
        return fields["VmRSS"], fields["VmHWM"]

    def keys(self, *keys):
        run("xdotool", "windowactivate", "--sync", self.window)
        for k in keys:
            run("xdotool", "key", k)
            time.sleep(0.3)

    def choose_file(self, menu_key, path):
        """File > Open or Save, type the path, Enter; returns when Enter was sent (monotonic ns)."""
        self.keys("alt+f", menu_key)
        self.wait_window("^(Open|Save As|Save)$")
        time.sleep(0.3)
        run("xdotool", "type", "--delay", "5", path)
        sent = time.monotonic_ns()
        run("xdotool", "key", "Return")
        return sent

    def quit(self):
        self.keys("alt+f", "q")
        self.proc.wait(timeout=60)
        with open(self.log) as f:
            ticks = [int(x) for x in f]
        shutil.rmtree(self.dir)
        return ticks[2:]  # the calibration and the constructor's read are not ticks


def periods(ticks, start=0, end=None):
    sel = [t for t in ticks if t >= start and (end is None or t <= end)]
    return [(b - a) / 1e6 for a, b in zip(sel, sel[1:])]


def stats(ms):
    ms = sorted(ms)
    return f"median {statistics.median(ms):.1f} ms, p99 {ms[int(len(ms) * 0.99) - 1]:.1f} ms, max {ms[-1]:.1f} ms ({len(ms)} ticks)"


def write_files(folder):
    lines = "".join(f"{i:07d} the quick brown fox jumps over the lazy dog, again and again and again.\n"
                    for i in range(20_000_000 // 81))
    big = os.path.join(folder, "20MB.txt")
    with open(big, "w") as f:
        f.write(lines)
    words = os.path.join(folder, "5MB-one-line.txt")
    with open(words, "w") as f:
        f.write(("kestrane " * (5_000_000 // 9)).rstrip())
    return big, words


def main():
    out = []
    with Display():
        starts = []
        for _ in range(5):
            p = Program()
            starts.append(p.visible_after * 1000)
            time.sleep(1)
            rss, _ = p.memory()
            p.quit()
        out.append(f"start-up to a visible window: median {statistics.median(starts):.0f} ms of {len(starts)}; "
                   f"resident memory 1 s later: {rss}")

        p = Program()
        time.sleep(10)
        ticks = p.quit()
        out.append("tick period, idle 10 s: " + stats(periods(ticks)))

        p = Program()
        time.sleep(1)
        p.keys("alt+f", "o")
        p.wait_window("^Open$")
        opened = time.monotonic_ns()
        time.sleep(10)
        closed = time.monotonic_ns()
        p.keys("Escape")
        ticks = p.quit()
        out.append("tick period, Open dialog open 10 s: " + stats(periods(ticks, opened, closed)))

        folder = tempfile.mkdtemp(prefix="kestrane-bench-files-")
        try:
            for path in write_files(folder):
                size = os.path.getsize(path) / 1e6
                p = Program()
                time.sleep(1)
                sent = p.choose_file("o", path)
                time.sleep(3)
                _, peak_open = p.memory()
                typed = time.monotonic_ns()
                run("xdotool", "key", "x")
                time.sleep(3)
                run("xdotool", "key", "BackSpace")
                time.sleep(3)
                saved = path + ".saved"
                sent_save = p.choose_file("s", saved)
                end = time.monotonic_ns() + 2_000_000_000
                while time.monotonic_ns() < end and not os.path.exists(saved):
                    time.sleep(0.05)
                time.sleep(2)
                _, peak_save = p.memory()
                ticks = p.quit()
                stall_open = max(periods(ticks, sent - 200_000_000, typed))
                stall_key = max(periods(ticks, typed, sent_save - 10**9))
                stall_save = max(periods(ticks, sent_save - 200_000_000))
                same = open(saved, "rb").read() == open(path, "rb").read().replace(b"\n", b"\r\n")
                out.append(f"{os.path.basename(path)} ({size:.0f} MB): Open holds the ticks {stall_open:.0f} ms "
                           f"(peak memory {peak_open}); a keystroke {stall_key:.0f} ms; Save {stall_save:.0f} ms (peak {peak_save}); "
                           f"saved bytes {'as loaded' if same else 'DIFFER'}")
        finally:
            shutil.rmtree(folder)
    print("\n".join(out))


if __name__ == "__main__":
    main()
