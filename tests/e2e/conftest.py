"""The end-to-end test bed: the real Snapwren.exe in a Wine virtual desktop on a private X server,
driven like a user with xdotool and observed through snaptool (tests/helper/snaptool.cpp), the
clipboard and screenshots.

scripts/test.sh hands over the build directory, a booted template prefix, a folder for prefix
copies, the test certificates, the artifacts folder and DISPLAY. Each module works in its own copy
of the template; each test gets a fresh virtual desktop in it (ending the Wine server after the
test ends every process of the prefix, the shell and its tray included).
"""

import dataclasses
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

MOD_ALT, MOD_CONTROL, MOD_SHIFT = 1, 2, 4
CTRL_SHIFT = MOD_CONTROL | MOD_SHIFT
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
PINK, PANEL, WHITE = (255, 182, 193), (50, 50, 50), (255, 255, 255)
OVERLAY = "SnapwrenOverlay"
REPO = Path(__file__).resolve().parents[2]


def poll(attempt, timeout=5.0, what="the condition", interval=0.1):
    """Calls `attempt` until it returns something truthy and returns that; fails the test after
    `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = attempt()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def winpath(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def center(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


def run(args, env, timeout=60):
    """(exit code, stdout, stderr). Output goes through files: a Wine program may start the Wine
    server, which inherits its handles and would keep a pipe open for ever."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run([str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=err, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read()


def stop(popen):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        if popen.poll() is not None:
            return
        os.kill(popen.pid, sig)
        try:
            popen.wait(5)
        except subprocess.TimeoutExpired:
            pass


# --- pictures ------------------------------------------------------------------------------------

def pattern_at(x, y):
    """The test picture that `snaptool pattern` shows, at screen point (x, y)."""
    return 20 + x * 7 % 200, 20 + y * 5 % 200, 20 + (x + y) * 3 % 200


def darkened(rgb):
    """Black blended at 128 of 255 over a pixel."""
    return tuple(c * 127 // 255 for c in rgb)


def near(actual, expected, tolerance=2):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


class Picture:
    """RGB or RGBA pixels, top row first."""

    def __init__(self, width, height, data, channels, path=None):
        self.width, self.height, self.data, self.channels, self.path = (
            width, height, data, channels, path)

    def pixel(self, x, y):
        offset = self.channels * (y * self.width + x)
        return tuple(self.data[offset:offset + self.channels])

    def count(self, rect, predicate):
        left, top, right, bottom = rect
        return sum(1 for y in range(max(top, 0), min(bottom, self.height))
                   for x in range(max(left, 0), min(right, self.width))
                   if predicate(self.pixel(x, y)))

    def mismatches(self, origin, expected=pattern_at):
        """Pixels that differ from expected(screen point), or whose alpha is not 255."""
        ox, oy = origin
        return [(x, y, self.pixel(x, y)) for y in range(self.height) for x in range(self.width)
                if self.pixel(x, y)[:3] != expected(ox + x, oy + y)
                or self.pixel(x, y)[3:] not in ((), (255,))]


def decode(source, data=None):
    """Any image file (or bytes of `source` format) as RGBA, decoded by ImageMagick."""
    spec = f"{source}:-" if data is not None else str(source)
    size = subprocess.run(["identify", "-format", "%w %h", spec], input=data, check=True,
                          capture_output=True, timeout=30).stdout.split()
    rgba = subprocess.run(["convert", spec, "-depth", "8", "rgba:-"], input=data, check=True,
                          capture_output=True, timeout=30).stdout
    return Picture(int(size[0]), int(size[1]), rgba, 4)


def read_dib(path):
    """A BMP holding the clipboard's 32-bit BI_RGB DIB, every byte as stored: the fourth byte of
    a pixel is taken as alpha, which a program that pastes it may do too."""
    data = Path(path).read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    rows = [b"".join(bytes((r, g, b, a)) for b, g, r, a in struct.iter_unpack(
        "4B", data[offset + row * width * 4:offset + (row + 1) * width * 4]))
        for row in range(height)]
    return Picture(width, height, b"".join(reversed(rows)), 4, path)


def toolbar(selection, screen=(1600, 900)):
    """The button rectangles beside a selection, as the overlay lays them out."""
    left, top, right, bottom = selection
    x = right + 12 if right + 40 <= screen[0] else left - 40
    y = max(bottom - 208 if bottom >= 208 else 10, top)
    names = ["Stift", "Linie", "Pfeil", "Rechteck", "Text", "Rückgängig", "Farbe"]
    buttons = {name: (x, y + 30 * k, x + 28, y + 30 * k + 28) for k, name in enumerate(names)}
    row = bottom + 12 if bottom + 40 <= screen[1] else top - 40 if top >= 40 else bottom - 32
    for k, name in enumerate(["Kopieren", "Speichern", "Hochladen", "Schließen"]):
        buttons[name] = (right - 118 + 30 * k, row, right - 90 + 30 * k, row + 28)
    return buttons


# --- the run and its prefixes --------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class TestEnv:
    __test__ = False
    build: Path
    template: Path
    prefixes: Path
    certs: Path
    artifacts: Path

    def exe(self, name):
        return self.build / name if name == "Snapwren.exe" else self.build / "tests" / name


@pytest.fixture(scope="session")
def test_env():
    names = ["SNAPWREN_BUILD_DIR", "SNAPWREN_TEMPLATE_PREFIX", "SNAPWREN_PREFIXES_DIR",
             "SNAPWREN_CERT_DIR", "SNAPWREN_ARTIFACTS", "DISPLAY"]
    if not all(os.environ.get(name) for name in names):
        pytest.exit("run the end-to-end tests through `bash scripts/test.sh`", returncode=4)
    return TestEnv(*(Path(os.environ[name]) for name in names[:5]))


class Prefix:
    """A copy of the booted template prefix: virtual desktop, font replacements and the test CA
    are in it."""

    def __init__(self, test_env, path, display=None):
        self.test_env, self.path = test_env, Path(path)
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run(["cp", "-a", str(test_env.template), str(self.path)], check=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        if display:
            self.env["DISPLAY"] = display
        users = [p for p in (self.path / "drive_c" / "users").iterdir() if p.name != "Public"]
        self.user = users[0]
        self.settings = self.user / "AppData" / "Roaming" / "Snapwren" / "settings.ini"

    def write_settings(self, text):
        """settings.ini as Snapwren writes it: 8-bit text with CR LF line ends."""
        self.settings.parent.mkdir(parents=True, exist_ok=True)
        self.settings.write_bytes(text.replace("\n", "\r\n").encode("latin-1"))
        return self.settings

    def wine_code(self, *args, timeout=60):
        code, out, _ = run(["wine", *args], self.env, timeout)
        return code, out.decode("utf-8", "replace")

    def wine(self, *args, timeout=60):
        code, out = self.wine_code(*args, timeout=timeout)
        assert code == 0, f"wine {args} exited {code}"
        return out

    def reg(self, *args):
        """`wine reg ...`; registry changes reach the prefix's programs through a fresh server."""
        self.wine("reg", *args)
        self.kill()

    def kill(self):
        run(["wineserver", "-k"], self.env)
        run(["wineserver", "-w"], self.env)


@pytest.fixture(scope="module")
def prefix(test_env, request):
    prefix = Prefix(test_env, test_env.prefixes / f"{request.module.__name__}-{os.getpid()}")
    yield prefix
    prefix.kill()
    shutil.rmtree(prefix.path, ignore_errors=True)


# --- the desktop ---------------------------------------------------------------------------------

class Desktop:
    """One Wine virtual desktop ("shell", 1600 x 900, with taskbar and tray) on the test X server;
    X and Windows screen coordinates are the same."""

    def __init__(self, prefix, artifacts):
        self.prefix, self.env, self.artifacts = prefix, prefix.env, artifacts
        self.processes = []
        self.shots = 0

    def start(self, *args, stdout=subprocess.DEVNULL):
        popen = subprocess.Popen(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=stdout, stderr=subprocess.DEVNULL)
        self.processes.append(popen)
        return popen

    def tool(self, *args, timeout=60):
        """snaptool's JSON lines; exit 1 (nothing found) gives []."""
        code, out, err = run(["wine", self.prefix.test_env.exe("snaptool.exe"), *args], self.env,
                             timeout)
        assert code in (0, 1), f"snaptool {args} exited {code}: {err!r}"
        return [json.loads(line) for line in out.decode("utf-8").splitlines()]

    def tool_start(self, *args):
        """A snaptool command that keeps running (stopped with the desktop); its first line."""
        popen = self.start(self.prefix.test_env.exe("snaptool.exe"), *args, stdout=subprocess.PIPE)
        line = popen.stdout.readline()
        assert line, f"snaptool {args} did not start"
        return popen, json.loads(line)

    def call(self, *args, timeout=60):
        return run(["wine", self.prefix.test_env.exe("snaptool.exe"), *args], self.env,
                   timeout)[0]

    def window(self, wait=5.0, **filters):
        """The first matching window within `wait` seconds, or None. Filters: cls, title, pid,
        visible=True, message=True (message-only windows)."""
        args = []
        for key, value in filters.items():
            args += [f"--{'class' if key == 'cls' else key}"] + ([] if value is True else [value])
        found = self.tool("windows", *args, "--wait", int(wait * 1000))
        return found[0] if found else None

    def gone(self, hwnd, wait=5.0):
        return self.call("gone", hwnd, "--wait", int(wait * 1000)) == 0

    def message_box(self, wait=10.0, **filters):
        args = [part for k, v in filters.items() for part in (f"--{k}", v)]
        found = self.tool("msgbox", *args, "--wait", int(wait * 1000))
        assert found, f"no message box {filters} within {wait:g} s"
        return found[0]

    def answer(self, box, button):
        """Presses a button of a message box or dialog and waits until it has closed."""
        self.tool("click", box["hwnd"], button)
        assert self.gone(box["hwnd"]), f"{box['title']!r} stayed open"

    def menu(self):
        return poll(lambda: self.tool("menu", "--wait", 5000), 10, "a popup menu")

    # --- input (xdotool on the test X server)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=30)

    def move(self, x, y):
        self.xdotool("mousemove", x - 3, y, "mousemove", x, y)  # a move, not a jump

    def click(self, x, y, button=1, repeat=1):
        self.move(x, y)
        self.xdotool("click", "--repeat", repeat, "--delay", 80, button)

    def key(self, *keys):
        self.xdotool("key", "--delay", 50, *keys)

    def drag(self, start, end, steps=8):
        self.move(*start)
        self.xdotool("mousedown", 1)
        for i in range(1, steps + 1):
            self.xdotool("mousemove", start[0] + (end[0] - start[0]) * i // steps,
                         start[1] + (end[1] - start[1]) * i // steps)
        self.xdotool("mouseup", 1)

    # --- what the screen shows

    def screenshot(self, name):
        """The X screen, kept as <artifacts>/<nn>-<name>.png. (It shows Wine's message boxes
        black; `import`, which shows them, fails now and then on a window that goes meanwhile.)"""
        self.artifacts.mkdir(parents=True, exist_ok=True)
        self.shots += 1
        path = self.artifacts / f"{self.shots:02d}-{name}.png"
        ppm = subprocess.run(["convert", "x:root", "-write", str(path), "ppm:-"],
                             env=self.env, check=True, capture_output=True, timeout=30).stdout
        fields = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        return Picture(int(fields[1]), int(fields[2]), ppm[fields.end():], 3, path)

    def wait_screen(self, name, predicate, timeout=5.0):
        return poll(lambda: (lambda shot: shot if predicate(shot) else None)(self.screenshot(name)),
                    timeout, f"the screen to show {name}", interval=0.2)

    def tray_icons(self):
        """Centres of the pink flowers in the taskbar, right to left as Wine adds them."""
        taskbar = self.tool("tray")[0]["rect"]
        shot = self.screenshot("tray")
        columns = sorted({x for x in range(taskbar[0], taskbar[2])
                          for y in range(taskbar[1], taskbar[3])
                          if (lambda r, g, b: r >= 200 and r - g >= 30 and r - b >= 20)(
                              *shot.pixel(x, y))})
        groups = []
        for x in columns:
            if groups and x - groups[-1][-1] <= 2:
                groups[-1].append(x)
            else:
                groups.append([x])
        return [((g[0] + g[-1]) // 2, (taskbar[1] + taskbar[3]) // 2) for g in groups
                if len(g) >= 5]

    def wait_tray_icons(self, count, timeout=5.0):
        seen = []

        def attempt():
            seen[:] = self.tray_icons()
            return len(seen) == count
        poll(attempt, timeout, f"{count} flower(s) in the tray")
        return seen

    def balloon(self, predicate, timeout=8.0):
        """The text of a visible balloon (or the icon's tooltip) that `predicate` accepts."""
        match = predicate if callable(predicate) else lambda text: text == predicate
        return poll(lambda: next((t["text"] for t in self.tool("tray")[1:]
                                  if t["visible"] and t["text"] and match(t["text"])), None),
                    timeout, f"a balloon {predicate}")

    # --- clipboard and hotkeys

    def clipboard_text(self):
        return self.tool("clip-text")[0]["text"]

    def set_clipboard(self, text):
        self.tool("clip-set", text)

    def clipboard_picture(self, name):
        self.artifacts.mkdir(parents=True, exist_ok=True)
        path = self.artifacts / f"{name}.bmp"
        (header,) = self.tool("clip-dib", winpath(path))
        return header, read_dib(path)

    def hotkey_free(self, modifiers, key):
        return self.tool("hotkey", modifiers, key)[0]["registered"]

    def hold_hotkey(self, modifiers, key):
        assert self.tool_start("hotkey", modifiers, key, "--hold")[1]["registered"]

    def pattern(self, rect):
        left, top, right, bottom = rect
        return self.tool_start("pattern", left, top, right - left, bottom - top)[1]

    def start_snapwren(self, wait=True):
        app = Snapwren(self, self.start(self.prefix.test_env.exe("Snapwren.exe")))
        if wait:
            app.wait_ready()
        return app


class Snapwren:
    """A started Snapwren.exe; `pid` is its Windows process id, read from its tray window."""

    def __init__(self, desktop, popen=None, tray=None):
        self.desktop, self.popen, self.tray = desktop, popen, tray

    @property
    def pid(self):
        return self.tray["pid"]

    def wait_ready(self, timeout=10.0):
        self.tray = self.desktop.window(timeout, message=True, cls="SnapwrenTrayClass")
        assert self.tray and self.popen.poll() is None, "Snapwren did not come up"

    def menu(self, icon):
        self.desktop.click(*icon, button=3)
        return self.desktop.menu()

    def choose(self, icon, text):
        item = next(i for i in self.menu(icon) if i["text"] == text)
        self.desktop.click(*center(item["rect"]))

    def overlay(self, wait=10.0):
        found = self.desktop.window(wait, visible=True, pid=self.pid, cls=OVERLAY)
        assert found, "no overlay"
        return found

    def capture(self):
        """Starts a session with the hotkey; the overlay's window."""
        self.desktop.key("ctrl+shift+s")
        return self.overlay()

    def select(self, rect, screen=(1600, 900), offset=0):
        """Drags out a selection and waits until its toolbar shows; the button rectangles (X
        coordinates: Windows ones plus `offset`)."""
        left, top, right, bottom = rect
        self.desktop.drag((left + offset, top), (right + offset, bottom))
        buttons = toolbar((left + offset, top, right + offset, bottom), screen)
        stift = buttons["Stift"]
        self.desktop.wait_screen("selected", lambda s: s.pixel(stift[0] - 1, stift[1] + 14) == PANEL)
        return buttons

    def closed(self, overlay):
        assert self.desktop.gone(overlay["hwnd"]), "the overlay stayed open"


@pytest.fixture
def desktop(prefix, test_env, request):
    """A fresh virtual desktop in the module's prefix, without settings.ini. A hidden snaptool
    window keeps it alive: Wine ends the desktop, and the clipboard with it, about a second after
    its last process with a window."""
    shutil.rmtree(prefix.settings.parent, ignore_errors=True)
    name = re.sub(r"[^\w.-]+", "_", request.node.name)
    screen = Desktop(prefix, test_env.artifacts / request.module.__name__ / name)
    try:
        screen.tool_start("keepalive")
        assert screen.window(20, visible=True, cls="Shell_TrayWnd"), "no taskbar"
        yield screen
    finally:
        for popen in reversed(screen.processes):
            stop(popen)
        prefix.kill()


@pytest.fixture
def snapwren(desktop):
    return desktop.start_snapwren()


@pytest.fixture
def server(test_env):
    """The test server on 127.0.0.1:443, the address Snapwren is built with (servers.py)."""
    from servers import Server
    started = Server(test_env.certs)
    yield started
    started.stop()
