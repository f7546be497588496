#!/usr/bin/env python3
"""Random user actions against the real program on an X server of its own.

  stress.py TAVRIN TAVRIN-RENDER PING-WINDOW CLOSE-WINDOW [--actions N] [--seed S]
            [--check-every K]

Run it under xvfb-run and scripts/with-sound-server.sh (tests/stress/run.sh
does both). After every action the program must answer a window-manager ping
within 10 s; every K actions the canvas must show what tavrin-render makes of
the picture at the slider positions the actions led to. Prints the actions by
kind, the findings and the time; exit status 1 on any finding.
"""
import argparse, collections, os, random, shutil, subprocess, sys, tempfile, time

# Places on the control panel, from its top-left corner; the panel keeps its size.
MENUS = {"File": (20, 8), "Edit": (57, 8), "View": (97, 8), "Help": (140, 8), "About": (186, 8),
         "Min": (228, 8)}
RESET, MEMORY = (92, 187), (232, 187)
# Slider: (y or x of its line, left/up arrow, right/down arrow, min, max, vertical)
SLIDERS = [
    ("x-slice", (25, 88), (245, 88), 1, 30),
    ("y-slice", (25, 104), (245, 104), 0, 30),
    ("tavrin-x", (25, 120), (245, 120), 0, 1),
    ("tavrin-y", (25, 136), (245, 136), 0, 1),
    ("lock-xy", (25, 152), (245, 152), 0, 1),
    ("x-position", (6, 31), (308, 31), -1500, 1500),
    ("y-position", (326, 29), (326, 257), -1500, 1500),
    ("angle", (6, 256), (308, 256), 0, 360),
]
INITIAL = [1, 0, 0, 0, 0, 0, 0, 0]


def run(*args, check=False, timeout=20):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True,
                          check=check, timeout=timeout)


def xdo(*args):
    return run("xdotool", *args).stdout.split()


class Stress:
    def __init__(self, opts):
        self.o = opts
        self.rng = random.Random(opts.seed)
        self.work = tempfile.mkdtemp()
        self.counts = collections.Counter()
        self.findings = []
        self.pings = []
        self.values = list(INITIAL)
        self.memory = [1, 0, 0, 0, 0, 0, 0, 0]
        self.picture = os.path.join(self.work, "in.bmp")
        run("convert", "-size", "97x61", "gradient:#d02010-#1030e0", "-fill", "#f0e040",
            "-draw", "rectangle 6,4 40,20", "-fill", "#20a050", "-draw", "circle 70,40 80,44",
            "-type", "TrueColor", "BMP3:" + self.picture, check=True)
        shutil.copy(self.picture, os.path.join(self.work, "same.bmp"))
        with open(os.path.join(self.work, "bad.bmp"), "wb") as bad:
            bad.write(b"BM" + bytes(self.rng.randrange(256) for _ in range(200)))
        self.log = open(os.path.join(self.work, "tavrin.log"), "w")
        # What the program remembers stays in the run's own folder.
        home = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                    XDG_DATA_HOME=os.path.join(self.work, "data"))
        self.program = subprocess.Popen([opts.tavrin, self.picture], stdout=self.log,
                                        stderr=subprocess.STDOUT, env=home)
        self.canvas = self.panel = None
        for _ in range(300):
            windows = xdo("search", "--onlyvisible", "--name", "^Tavrin$")
            if len(windows) == 2:
                break
            time.sleep(0.1)
        for w in windows:
            geometry = dict(line.split("=") for line in xdo("getwindowgeometry", "--shell", w))
            if geometry["WIDTH"] == "97":
                self.canvas = w
            else:
                self.panel = w
                self.panel_at = (int(geometry["X"]), int(geometry["Y"]))
        if not self.canvas or not self.panel:
            sys.exit("the canvas and the control panel did not both appear")

    # -- the user's actions ---------------------------------------------------
    def click_panel(self, point, button=1):
        x, y = self.panel_at
        xdo("mousemove", x + point[0], y + point[1], "click", button)

    def slider_click(self):
        i = self.rng.randrange(len(SLIDERS))
        _, less, more, low, high = SLIDERS[i]
        up = self.rng.random() < 0.5
        for _ in range(self.rng.randint(1, 3)):
            self.click_panel(more if up else less)
            self.values[i] = min(high, max(low, self.values[i] + (1 if up else -1)))

    def slider_key(self):
        # Keys go to the slider last clicked; click its arrow first, then keys.
        i = self.rng.randrange(5)  # the row of small sliders: ranges easy to track
        _, less, more, low, high = SLIDERS[i]
        self.click_panel(more)
        self.values[i] = min(high, self.values[i] + 1)
        key = self.rng.choice(["Left", "Right", "Home", "End"])
        xdo("key", key)
        self.values[i] = {"Left": max(low, self.values[i] - 1), "Right": min(high, self.values[i] + 1),
                          "Home": low, "End": high}[key]

    def slider_drag(self):
        # Dragging a thumb moves by an amount hard to know: back to a known
        # state with Reset afterwards.
        x, y = self.panel_at
        sx, sy = SLIDERS[self.rng.randrange(5)][1]
        xdo("mousemove", x + sx + 30, y + sy, "mousedown", 1, "mousemove_relative", "--",
            str(self.rng.randint(-60, 60)), "0", "mouseup", 1)
        self.reset()

    def reset(self):
        self.click_panel(RESET)
        self.values = list(INITIAL)
        self.memory = list(self.values)

    def memory_swap(self):
        self.click_panel(MEMORY)
        self.values, self.memory = self.memory, self.values

    def menu(self):
        self.click_panel(MENUS[self.rng.choice(["File", "Edit"])])
        xdo("key", self.rng.choice(["Right", "Left", "Down", "space"]), "Escape", "Escape", "Escape")

    def canvas_popup(self):
        xdo("mousemove", "--window", self.canvas, 40, 30, "click", 3)
        xdo("key", "Escape")

    def window_menu(self):
        xdo("windowfocus", "--sync", self.canvas)
        if self.rng.random() < 0.5:
            xdo("key", "alt+space")
        else:
            xdo("mousemove", "--window", self.canvas, 40, 30, "keydown", "shift", "click", 3,
                "keyup", "shift")
        xdo("key", "Escape")

    def help_about(self):
        self.click_panel(MENUS[self.rng.choice(["Help", "About"])])
        self.close_extra_windows()

    def open_file(self):
        name = self.rng.choice(["same.bmp", "bad.bmp", "missing.bmp"])
        if self.o.verbose:
            print("open", name)
        xdo("windowfocus", "--sync", self.panel)
        xdo("key", "ctrl+o")
        self.answer_dialog(os.path.join(self.work, name))
        if name == "same.bmp":
            self.reset()  # the slider positions of a new picture: back to known ones

    def save_as(self):
        name = self.rng.choice([os.path.join(self.work, "out.bmp"),
                                os.path.join(self.work, "no-such-folder", "out.bmp")])
        xdo("windowfocus", "--sync", self.panel)
        xdo("key", "ctrl+shift+s")
        self.answer_dialog(name)

    def answer_dialog(self, name):
        for _ in range(50):
            if self.extra_windows():
                break
            time.sleep(0.05)
        xdo("key", "ctrl+a")
        xdo("type", "--delay", "2", name)
        xdo("key", "Return")
        time.sleep(0.2)
        self.close_extra_windows()

    def min_restore(self):
        # No window manager runs to restore the canvas: its own window menu does.
        self.click_panel(MENUS["Min"])
        xdo("mousemove", "--window", self.canvas, 40, 30)
        xdo("windowfocus", "--sync", self.canvas)
        xdo("key", "alt+space")
        xdo("key", "r")
        for _ in range(50):
            if self.panel in xdo("search", "--onlyvisible", "--name", "^Tavrin$"):
                break
            time.sleep(0.05)
        else:
            self.find("the control panel did not come back after Min")

    def canvas_drag(self):
        dx, dy = self.rng.randint(-40, 40), self.rng.randint(-40, 40)
        xdo("mousemove", "--window", self.canvas, 20, 20, "mousedown", 1, "mousemove_relative",
            "--", str(dx), str(dy), "mouseup", 1)

    # -- helpers ----------------------------------------------------------------
    def find(self, finding):
        self.findings.append(finding)
        print("finding: " + finding, flush=True)

    def extra_windows(self):
        # Dialogs, message boxes (titled like the program), Help, About.
        return [w for w in xdo("search", "--onlyvisible", "--name", ".")
                if w not in (self.canvas, self.panel)]

    def close_extra_windows(self):
        for _ in range(10):
            extra = self.extra_windows()
            if not extra:
                return
            for w in extra:
                xdo("windowfocus", w)
                xdo("key", "Escape")
                run(self.o.close_window, w)
            time.sleep(0.05)

    def ping(self):
        start = time.monotonic()
        result = run(self.o.ping_window, self.panel, 10000, timeout=30)
        self.pings.append(time.monotonic() - start)
        return result.returncode == 0

    def canvas_shows_render(self):
        self.close_extra_windows()
        xdo("windowmove", self.canvas, 0, 0)
        expected = os.path.join(self.work, "expected.bmp")
        options = [f"--{name}={value}" for (name, *_), value in zip(SLIDERS, self.values)]
        run(self.o.render, self.picture, expected, "--render", *options, check=True)
        shot = os.path.join(self.work, "shot.png")
        for _ in range(30):
            run("import", "-window", "root", "-crop", "97x61+0+0", "+repage", shot)
            diff = run("compare", "-metric", "AE", expected, shot, "null:").stderr.strip()
            if diff == "0":
                return True
            time.sleep(0.1)
        shutil.copy(shot, f"stress-canvas-{len(self.findings) + 1}.png")
        shutil.copy(expected, f"stress-expected-{len(self.findings) + 1}.bmp")
        self.find(f"canvas differs from the render at {self.values}: {diff} pixels"
                  f"{self.nearest_match(shot)}")
        return False

    def nearest_match(self, shot):
        """What one slider off would explain the canvas, to tell a wrong
        picture from a step the driver lost count of."""
        probe = os.path.join(self.work, "probe.bmp")
        for i, (name, _, _, low, high) in enumerate(SLIDERS):
            for value in range(max(low, self.values[i] - 12), min(high, self.values[i] + 12) + 1):
                values = list(self.values)
                values[i] = value
                options = [f"--{n}={v}" for (n, *_), v in zip(SLIDERS, values)]
                run(self.o.render, self.picture, probe, "--render", *options)
                if run("compare", "-metric", "AE", probe, shot, "null:").stderr.strip() == "0":
                    return f" (shows {name} {value})"
        return " (no single slider explains it)"

    def go(self):
        kinds = {
            "slider click": (self.slider_click, 30), "slider key": (self.slider_key, 20),
            "slider drag": (self.slider_drag, 5), "reset": (self.reset, 6),
            "memory": (self.memory_swap, 6), "menu": (self.menu, 6),
            "canvas popup": (self.canvas_popup, 4), "window menu": (self.window_menu, 4),
            "help/about": (self.help_about, 3), "open": (self.open_file, 2),
            "save as": (self.save_as, 2), "min/restore": (self.min_restore, 2),
            "canvas drag": (self.canvas_drag, 6),
        }
        names = list(kinds)
        weights = [kinds[n][1] for n in names]
        started = time.monotonic()
        for step in range(1, self.o.actions + 1):
            kind = self.rng.choices(names, weights)[0]
            kinds[kind][0]()
            self.counts[kind] += 1
            if self.o.verbose:
                print(step, kind, self.values, flush=True)
            if self.program.poll() is not None:
                self.find(f"the program ended with {self.program.returncode} after {kind}")
                break
            if not self.ping():
                self.find(f"no answer within 10 s after action {step} ({kind})")
                break
            if step % self.o.check_every == 0:
                self.close_extra_windows()
                self.canvas_shows_render()
                print(f"{step} actions, {time.monotonic() - started:.0f} s, "
                      f"{len(self.findings)} findings", flush=True)
        self.close_extra_windows()
        run(self.o.close_window, self.panel)
        try:
            status = self.program.wait(timeout=15)
            if status != 0:
                self.find(f"status {status} at the normal close")
        except subprocess.TimeoutExpired:
            self.program.kill()
            self.find("the program did not end when its control panel closed")
        self.log.close()
        with open(os.path.join(self.work, "tavrin.log")) as log:
            reports = [line for line in log if "ERROR: AddressSanitizer" in line
                       or "runtime error:" in line or "LeakSanitizer" in line]
        self.findings += [r.strip() for r in reports]  # printed below
        elapsed = time.monotonic() - started
        print(f"\n{sum(self.counts.values())} actions in {elapsed:.0f} s (seed {self.o.seed})")
        for kind, n in self.counts.most_common():
            print(f"  {kind:14} {n}")
        self.pings.sort()
        if self.pings:
            print(f"ping: median {1000 * self.pings[len(self.pings) // 2]:.0f} ms, "
                  f"max {1000 * self.pings[-1]:.0f} ms (with the tool's start)")
        print(f"findings: {len(self.findings)}")
        for finding in self.findings:
            print("  " + finding)
        if self.findings:
            shutil.copy(os.path.join(self.work, "tavrin.log"), "stress-tavrin.log")
        shutil.rmtree(self.work, ignore_errors=True)
        return 1 if self.findings else 0


def main():
    parser = argparse.ArgumentParser()
    for name in ("tavrin", "render", "ping_window", "close_window"):
        parser.add_argument(name)
    parser.add_argument("--actions", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=14)
    parser.add_argument("--check-every", type=int, default=250)
    parser.add_argument("--verbose", action="store_true", help="print every action")
    sys.exit(Stress(parser.parse_args()).go())


if __name__ == "__main__":
    main()
