"""The real Snapwren.exe in a Wine virtual desktop on a private X server, driven with xdotool and
observed through snaptool (tests/helper/snaptool.cpp), the clipboard and screenshots. Each module
works in a copy of the template prefix that scripts/test.sh boots; each test gets a fresh desktop
in it (ending the Wine server ends every process of the prefix)."""

import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

CTRL_SHIFT = 6  # MOD_CONTROL | MOD_SHIFT
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
PINK, PANEL = (255, 182, 193), (50, 50, 50)
OVERLAY = "SnapwrenOverlay"
MENU = ["Screenshot", "Screenshot in 3 Sekunden", "Verlauf", "Einstellungen",
        "Nach Updates suchen...", "Beenden"]
REPO = Path(__file__).resolve().parents[2]
BUILD, TEMPLATE, PREFIXES, CERTS, ARTIFACTS = (Path(os.environ.get(f"SNAPWREN_{name}", "/-")) for
                                               name in ("BUILD_DIR", "TEMPLATE_PREFIX",
                                                        "PREFIXES_DIR", "CERT_DIR", "ARTIFACTS"))


def pytest_configure(config):
    if not TEMPLATE.exists():
        pytest.exit("run the end-to-end tests through `bash scripts/test.sh`", returncode=4)


def exe(name):
    return BUILD / name if name == "Snapwren.exe" else BUILD / "tests" / name


def poll(attempt, timeout=5.0, what="the condition", interval=0.1):
    """What `attempt` returns once it is truthy; fails the test after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not (value := attempt()):
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)
    return value


def winpath(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def center(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


def run(args, env, timeout=60):
    """(exit code, stdout), through a file: a Wine server it starts would hold a pipe open."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        return code, out.read().decode("utf-8", "replace")


def pattern_at(x, y):
    """The test picture of `snaptool pattern` at screen point (x, y)."""
    return 20 + x * 7 % 200, 20 + y * 5 % 200, 20 + (x + y) * 3 % 200


def darkened(rgb):
    """Black blended at 128 of 255 over a pixel."""
    return tuple(c * 127 // 255 for c in rgb)


def near(actual, expected, tolerance=2):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


class Picture:
    """RGB or RGBA pixels, top row first."""
    def __init__(self, width, height, data, channels):
        self.width, self.height, self.data, self.channels = width, height, data, channels

    def pixel(self, x, y):
        offset = self.channels * (y * self.width + x)
        return tuple(self.data[offset:offset + self.channels])

    def count(self, rect, predicate):
        return sum(1 for y in range(max(rect[1], 0), min(rect[3], self.height))
                   for x in range(max(rect[0], 0), min(rect[2], self.width))
                   if predicate(self.pixel(x, y)))

    def mismatches(self, origin, size=None):
        """The wrong size, or the pixels unlike the test picture at `origin` or not opaque."""
        if size and size != (self.width, self.height):
            return [("size", self.width, self.height)]
        return [(x, y, self.pixel(x, y)) for y in range(self.height) for x in range(self.width)
                if self.pixel(x, y)[:3] != pattern_at(origin[0] + x, origin[1] + y)
                or self.pixel(x, y)[3:] not in ((), (255,))]


def decode(source, data=None):
    """An image file, or bytes in `source` format, as RGBA decoded by ImageMagick."""
    spec = f"{source}:-" if data is not None else str(source)
    size = subprocess.run(["identify", "-format", "%w %h", spec], input=data, check=True,
                          capture_output=True).stdout.split()
    rgba = subprocess.run(["convert", spec, "-depth", "8", "rgba:-"], input=data, check=True,
                          capture_output=True).stdout
    return Picture(int(size[0]), int(size[1]), rgba, 4)


def scale(size, dpi):
    """A size at 96 DPI scaled to dpi, rounded as Windows' MulDiv rounds."""
    return (size * dpi + 48) // 96


def toolbar(selection, monitor=(0, 0, 1600, 900), dpi=96):
    """The button rectangles beside a selection, as the overlay lays them out at dpi on the
    monitor that holds the selection."""
    left, top, right, bottom = selection
    size, gap, margin = scale(28, dpi), scale(2, dpi), scale(12, dpi)
    step, flip = size + gap, size + margin
    x = right + margin if right + margin + size <= monitor[2] else left - flip
    y = bottom - 7 * step + gap
    y = max(y if y >= monitor[1] else monitor[1] + scale(10, dpi), top)
    names = ["Stift", "Linie", "Pfeil", "Rechteck", "Text", "Rückgängig", "Farbe"]
    buttons = {name: (x, y + step * k, x + size, y + step * k + size)
               for k, name in enumerate(names)}
    row = bottom + margin if bottom + flip <= monitor[3] else top - flip
    row = row if row >= monitor[1] else bottom - size - scale(4, dpi)
    for k, name in enumerate(["Kopieren", "Speichern", "Hochladen", "Schließen"]):
        buttons[name] = (right - step * (3 - k) - size, row, right - step * (3 - k), row + size)
    second = x + step if x > left else x - step  # away from the selection
    for k, name in enumerate(["Verpixeln", "Nummer", "Anheften"]):
        buttons[name] = (second, y + step * k, second + size, y + step * k + size)
    return buttons


def save_as(desktop, app, path, overwrite=False):
    """Types the path into the open save dialog's file-name field."""
    dialog, edits = desktop.dialog_edits([1148], pid=app.pid)
    if path is None:
        return desktop.answer(dialog, IDCANCEL)
    desktop.tool("settext", edits[1148], winpath(path))
    desktop.key("Return")
    if overwrite:
        desktop.answer(desktop.message_box(pid=app.pid), IDYES)


class Prefix:
    """A copy of the booted template: virtual desktop, font replacements and the test CA."""

    def __init__(self, path, display=None):
        self.path, self.dpi = path, 96
        shutil.rmtree(path, ignore_errors=True)
        subprocess.run(["cp", "-a", TEMPLATE, path], check=True)
        self.env = dict(os.environ, WINEPREFIX=str(path), DISPLAY=display or os.environ["DISPLAY"])
        self.user = next(p for p in (path / "drive_c" / "users").iterdir() if p.name != "Public")
        self.settings = self.user / "AppData" / "Roaming" / "Snapwren" / "settings.ini"

    def write_settings(self, text):
        """As Snapwren writes it: 8-bit text with CR LF line ends."""
        self.settings.parent.mkdir(parents=True, exist_ok=True)
        self.settings.write_bytes(text.replace("\n", "\r\n").encode("latin-1"))
        return self.settings

    def wine(self, *args, check=True, timeout=60):
        code, out = run(["wine", *args], self.env, timeout)
        assert code == 0 or not check, f"wine {args} exited {code}"
        return out if check else (code, out)

    def reg(self, *args):
        """`wine reg`; its programs see the change from a fresh server on."""
        self.wine("reg", *args)
        self.kill()

    def use_dpi(self, dpi):
        """Wine gives every monitor the DPI of LogPixels, read when a program starts."""
        if self.dpi != dpi:
            self.reg("add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                     "/d", str(dpi), "/f")
            self.dpi = dpi

    def kill(self):
        run(["wineserver", "-k"], self.env)
        run(["wineserver", "-w"], self.env)


@pytest.fixture(scope="module")
def prefix(request):
    prefix = Prefix(PREFIXES / f"{request.module.__name__}-{os.getpid()}")
    yield prefix
    prefix.kill()
    shutil.rmtree(prefix.path, ignore_errors=True)


class Desktop:
    """A Wine virtual desktop of 1600 x 900 with taskbar and tray on the test X server; X and
    Windows screen coordinates are the same."""

    def __init__(self, prefix, artifacts):
        self.prefix, self.env, self.artifacts = prefix, prefix.env, artifacts
        self.processes, self.shots = [], 0

    def start(self, *args, stdout=subprocess.DEVNULL):
        self.processes.append(subprocess.Popen(["wine", *map(str, args)], env=self.env,
                                               stdin=subprocess.DEVNULL, stdout=stdout,
                                               stderr=subprocess.DEVNULL))
        return self.processes[-1]

    def tool(self, *args, code=False):
        """snaptool's JSON lines (with code=True, and its exit code before them)."""
        status, out = run(["wine", exe("snaptool.exe"), *args], self.env)
        assert status in (0, 1), f"snaptool {args} exited {status}"
        lines = [json.loads(line) for line in out.splitlines()]
        return (status, lines) if code else lines

    def tool_start(self, *args):
        """A snaptool command that keeps running until the desktop ends; its first line."""
        popen = self.start(exe("snaptool.exe"), *args, stdout=subprocess.PIPE)
        line = popen.stdout.readline()
        assert line, f"snaptool {args} did not start"
        return popen, json.loads(line)

    def windows(self, wait=0.0, **filters):
        """Top-level (or with message=True message-only) windows; filters: cls, title, pid,
        visible=True. With `wait`, waits that long for the first one."""
        args = [word for key, value in filters.items() for word in
                [f"--{'class' if key == 'cls' else key}"] + ([] if value is True else [value])]
        return self.tool("windows", *args, "--wait", int(wait * 1000))

    def window(self, wait=5.0, **filters):
        return next(iter(self.windows(wait, **filters)), None)

    def gone(self, hwnd, wait=5.0):
        return self.tool("gone", hwnd, "--wait", int(wait * 1000), code=True)[0] == 0

    def message_box(self, wait=10.0, **filters):
        args = [word for key, value in filters.items() for word in (f"--{key}", value)]
        found = self.tool("msgbox", *args, "--wait", int(wait * 1000))
        assert found, f"no message box {filters} within {wait:g} s"
        return found[0]

    def dialog_edits(self, ids, **filters):
        """A visible dialog box with edit fields of all `ids`, and {id: field's hwnd}."""
        def find():
            for window in self.windows(cls="#32770", visible=True, **filters):
                edits = {c["id"]: c["hwnd"] for c in self.tool("children", window["hwnd"])
                         if c["class"] == "Edit"}
                if set(ids) <= edits.keys():
                    return window, edits
        return poll(find, 10, f"a dialog with the fields {ids}")

    def answer(self, box, button):
        """Presses a button of a message box or dialog; waits until it has closed."""
        self.tool("click", box["hwnd"], button)
        assert self.gone(box["hwnd"]), f"{box['title']!r} stayed open"

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
        self.xdotool("mousedown", 1, *[word for i in range(1, steps + 1) for word in (
            "mousemove", start[0] + (end[0] - start[0]) * i // steps,
            start[1] + (end[1] - start[1]) * i // steps)], "mouseup", 1)

    def screenshot(self, name):
        """The X screen, kept as <artifacts>/<nn>-<name>.png. (Wine's message boxes show black;
        `import` shows them, but fails now and then on a window that goes meanwhile.)"""
        self.artifacts.mkdir(parents=True, exist_ok=True)
        self.shots += 1
        ppm = subprocess.run(["convert", "x:root", "-write", self.artifacts /
                              f"{self.shots:02d}-{name}.png", "ppm:-"],
                             env=self.env, check=True, capture_output=True).stdout
        fields = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        return Picture(int(fields[1]), int(fields[2]), ppm[fields.end():], 3)

    def wait_screen(self, name, predicate, timeout=5.0):
        return poll(lambda: (lambda shot: predicate(shot) and shot)(self.screenshot(name)),
                    timeout, f"the screen to show {name}", 0.2)

    def tray_icon(self, present=True, timeout=5.0):
        """The centre of the pink flower at the taskbar's right end once it shows, or None once
        it has gone (Wine puts the first icon there)."""
        rect = self.tool("tray")[0]["rect"]
        def look():
            shot = self.screenshot("tray")
            xs = [x for x in range(rect[2] - 60, rect[2]) for y in range(rect[1], rect[3])
                  if (lambda r, g, b: r > 199 and r - g > 29 and r - b > 19)(*shot.pixel(x, y))]
            return (len(xs) > 20) == present and [
                ((min(xs) + max(xs)) // 2, center(rect)[1]) if present else None]
        return poll(look, timeout, f"the tray {'with' if present else 'without'} the flower")[0]

    def balloon(self, expected, timeout=8.0):
        """The text of a visible balloon, or the icon's tooltip, that `expected` accepts."""
        match = expected if callable(expected) else expected.__eq__
        return poll(lambda: next((t["text"] for t in self.tool("tray")[1:]
                                  if t["visible"] and t["text"] and match(t["text"])), None),
                    timeout, f"a balloon {expected}")

    def clipboard(self, target="UTF8_STRING", timeout=5):
        """What another program gets when it pastes: Wine hands its clipboard to X. A request
        sent just as the owner changes can go unanswered, and xclip then waits for ever: asked
        again, the new owner answers."""
        try:
            result = subprocess.run(["xclip", "-selection", "clipboard", "-t", target, "-o"],
                                    env=self.env, capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return result.stdout if result.returncode == 0 else None

    def clipboard_text(self):
        return (self.clipboard() or b"").decode() or None

    def set_clipboard(self, text):
        """Copied by another program (xclip, which serves it until someone else copies)."""
        xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-quiet"], env=self.env,
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        self.processes.append(xclip)
        xclip.stdin.write(text.encode()), xclip.stdin.close()
        poll(lambda: self.clipboard_text() == text, 5, "the copied text")

    def clipboard_picture(self):
        """The BMP Wine makes of CF_DIB: its header's size, height, bits and compression, and its
        pixels."""
        bmp = self.clipboard("image/bmp", timeout=30)
        size, _, height, _, bits, compression = struct.unpack_from("<IiiHHI", bmp, 14)
        return (size, height, bits, compression), decode("bmp", bmp)

    def hotkey_free(self, modifiers, key, hold=False):
        """Whether the combination was free; with `hold`, it is taken until the desktop ends."""
        if hold:
            return self.tool_start("hotkey", modifiers, key, "--hold")[1]["registered"]
        return self.tool("hotkey", modifiers, key)[0]["registered"]

    def pattern(self, rect):
        self.tool_start("pattern", rect[0], rect[1], rect[2] - rect[0], rect[3] - rect[1])

    def start_snapwren(self, wait=True):
        app = Snapwren(self, self.start(exe("Snapwren.exe")))
        if wait:
            app.wait_ready()
        return app


class Snapwren:
    """A running Snapwren.exe; `pid` is its Windows process id, read from its tray window."""

    def __init__(self, desktop, popen=None, tray=None):
        self.desktop, self.popen, self.tray = desktop, popen, tray

    @property
    def pid(self):
        return self.tray["pid"]

    def wait_ready(self):
        self.tray = self.desktop.window(10, message=True, cls="SnapwrenTrayClass")
        assert self.tray and self.popen.poll() is None, "Snapwren did not come up"

    def choose(self, icon, item, *path):
        """Chooses an item of the icon's menu by its name (MENU), or of another menu that a right
        click at `icon` opens (a pin's) by its place, with arrow keys and Enter posted to the menu
        (Wine's keyboard does not reach it), so every choice checks the menu's order; `path` goes
        on into submenus by the places of their items."""
        self.desktop.click(*icon, button=3)
        menu = self.desktop.window(10, cls="#32768", visible=True)
        keys = [0x28] * ((MENU.index(item) if isinstance(item, str) else item) + 1)  # VK_DOWN
        for place in path:  # VK_RIGHT opens the submenu on its first item
            keys += [0x27] + [0x28] * place
        for key in keys:
            self.desktop.tool("post", menu["hwnd"], 0x100, key)
        # Enter as the character that Wine's menu acts on: made from VK_RETURN while Wine still
        # counts a Ctrl as held (its release went to the closed overlay), it would be a line feed.
        self.desktop.tool("post", menu["hwnd"], 0x102, 0x0D)  # WM_CHAR

    def overlay(self, wait=10.0):
        found = self.desktop.window(wait, visible=True, pid=self.pid, cls=OVERLAY)
        assert found, "no overlay"
        return found

    def capture(self):
        """A session started with the hotkey; its overlay window."""
        self.desktop.key("ctrl+shift+s")
        return self.overlay()

    def select(self, rect, monitor=(0, 0, 1600, 900), offset=0, click=None):
        """Drags out a selection (in X coordinates: Windows ones plus `offset`), or clicks at
        `click` to select the window `rect` there, and waits until its toolbar shows; the button
        rectangles. `monitor` holds it, in X coordinates."""
        left, top, right, bottom = rect
        if click:
            self.desktop.click(*click)
        else:
            self.desktop.drag((left + offset, top), (right + offset, bottom))
        dpi = self.desktop.prefix.dpi
        buttons = toolbar((left + offset, top, right + offset, bottom), monitor, dpi)
        pen = buttons["Stift"]
        self.desktop.wait_screen("selected", lambda s: s.pixel(pen[0] - 1, center(pen)[1]) == PANEL)
        return buttons

    def closed(self, overlay):
        assert self.desktop.gone(overlay["hwnd"]), "the overlay stayed open"


@pytest.fixture
def dpi():
    """The DPI of the test's desktop; tests parametrize it to run on scaled displays."""
    return 96


@pytest.fixture
def desktop(prefix, dpi, request):
    """A fresh desktop in the module's prefix at `dpi`, without settings.ini. A hidden snaptool
    window keeps it alive: Wine ends the desktop, and the clipboard with it, about a second after
    its last program with a window."""
    prefix.use_dpi(dpi)
    shutil.rmtree(prefix.settings.parent, ignore_errors=True)
    name = re.sub(r"[^\w.-]+", "_", request.node.name)
    screen = Desktop(prefix, ARTIFACTS / request.module.__name__ / name)
    try:
        for attempt in range(2):  # now and then Wine's shell does not come up the first time
            screen.tool_start("keepalive")
            if screen.window(20, visible=True, cls="Shell_TrayWnd"):
                break
            prefix.kill()
        else:
            raise AssertionError("no taskbar")
        yield screen
    finally:
        for popen in screen.processes:
            popen.kill()
        prefix.kill()


@pytest.fixture
def snapwren(desktop):
    return desktop.start_snapwren()


@pytest.fixture
def server():
    """The test server on 127.0.0.1:443, the address Snapwren is built with (servers.py)."""
    from servers import Server
    started = Server()
    yield started
    started.stop()


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    """The reference server of server/ on 127.0.0.1:443 for the whole module (reference.py), so
    that no test of the module may start the test server beside it."""
    from reference import Reference
    started = Reference(tmp_path_factory.mktemp("reference"))
    yield started
    started.stop()
