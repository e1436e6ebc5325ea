"""What the capture and overlay tests share: the known picture that capturetool shows, reading
32-bit BMP and PNG files, the toolbar's geometry, and small steps of a capture session."""

import json
import os
import select
import struct
import subprocess
import time
from pathlib import Path

import pytest

from conftest import Screenshot, center, poll, winpath

OVERLAY_CLASS = "SnapwrenOverlay"

# The test picture of capturetool.exe, by screen coordinates (tests/helper/capturetool.cpp).
PALETTE = [(231, 111, 81), (244, 162, 97), (233, 196, 106), (42, 157, 143), (38, 70, 83),
           (142, 202, 230)]
TILE = 40
# Where the tests put it.
PATTERN_RECT = (200, 150, 1000, 650)

PINK = (255, 182, 193)
PANEL = (50, 50, 50)


def pattern_at(x, y):
    r, g, b = PALETTE[(x // TILE + 2 * (y // TILE)) % len(PALETTE)]
    return r - x % 8, g - y % 8, b - (x + y) % 8


def darkened(rgb):
    """Black blended at 128 of 255 over a pixel."""
    return tuple(channel * 127 // 255 for channel in rgb)


def near(actual, expected, tolerance=2):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


def toolbar_shown(shot, buttons):
    """Whether the tool panel shows left of "Stift", and the action panel between "Speichern"
    and "Hochladen"."""
    stift, speichern = buttons["Stift"], buttons["Speichern"]
    return (shot.pixel(stift[0] - 1, stift[1] + 14) == PANEL and
            shot.pixel(speichern[2], speichern[1] + 14) == PANEL)


class Picture:
    """An RGBA picture, top row first."""

    def __init__(self, width, height, rgba):
        self.width = width
        self.height = height
        self.rgba = rgba

    def pixel(self, x, y):
        offset = 4 * (y * self.width + x)
        return tuple(self.rgba[offset:offset + 4])

    def mismatches(self, expected_at, origin):
        """(x, y, got, want) for every pixel whose RGB differs from expected_at(screen point) or
        whose alpha is not 255; origin is the screen point of pixel (0, 0)."""
        ox, oy = origin
        bad = []
        for y in range(self.height):
            for x in range(self.width):
                got = self.pixel(x, y)
                want = expected_at(ox + x, oy + y)
                if got[:3] != tuple(want) or got[3] != 255:
                    bad.append((x, y, got, want))
        return bad


def read_dib_bmp(path):
    """A BMP file holding a 32-bit BI_RGB DIB as the clipboard had it: every byte as stored, the
    fourth byte of a pixel taken as alpha, rows bottom-up turned top-down."""
    data = Path(path).read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    assert (size, bits, compression) == (40, 32, 0), (size, bits, compression)
    rows = []
    stride = width * 4
    for row in range(abs(height)):
        start = offset + row * stride
        line = bytearray()
        for x in range(width):
            b, g, r, a = data[start + 4 * x:start + 4 * x + 4]
            line += bytes((r, g, b, a))
        rows.append(bytes(line))
    if height > 0:
        rows.reverse()
    return Picture(width, abs(height), b"".join(rows))


def decode_with_imagemagick(path_or_bytes, fmt=None):
    """Any image decoded by ImageMagick, outside the program, as RGBA."""
    source = f"{fmt}:-" if fmt else str(path_or_bytes)
    stdin = path_or_bytes if fmt else None
    size = subprocess.run(["identify", "-format", "%w %h", source], input=stdin,
                          capture_output=True, check=True, timeout=30).stdout.split()
    rgba = subprocess.run(["convert", source, "-depth", "8", "rgba:-"], input=stdin,
                          capture_output=True, check=True, timeout=30).stdout
    return Picture(int(size[0]), int(size[1]), rgba)


def toolbar(selection, screen_width=1600, screen_height=900):
    """Button rectangles beside a selection, as the overlay lays them out."""
    left, top, right, bottom = selection
    x = right + 12
    if x + 28 > screen_width:
        x = left - 40
    y = bottom - 208
    if y < 0:
        y = 10
    if y < top:
        y = top
    names = ["Stift", "Linie", "Pfeil", "Rechteck", "Text", "Rückgängig", "Farbe"]
    buttons = {name: (x, y + 30 * k, x + 28, y + 30 * k + 28) for k, name in enumerate(names)}
    row = bottom + 12
    if row + 28 > screen_height:
        row = top - 40
        if row < 0:
            row = bottom - 32
    for k, name in enumerate(["Kopieren", "Speichern", "Hochladen", "Schließen"]):
        offset = 30 * (3 - k) + 28
        buttons[name] = (right - offset, row, right - offset + 28, row + 28)
    return buttons


def window_screenshot(desktop, name):
    """Like desktop.screenshot, but through `import -window root`, which also shows the Wine
    message boxes that `convert x:root` leaves black."""
    desktop.artifacts_dir.mkdir(parents=True, exist_ok=True)
    path = desktop.artifacts_dir / f"{name}.png"
    subprocess.run(["import", "-window", "root", str(path)], env=desktop.prefix.env, check=True,
                   capture_output=True, timeout=30)
    ppm = subprocess.run(["convert", str(path), "ppm:-"], check=True, capture_output=True,
                         timeout=30).stdout
    header = ppm.split(b"\n", 3)
    width, height = map(int, header[1].split())
    return Screenshot(path, width, height, header[3])


def start_capturetool(desktop, *args, timeout=20.0):
    """Starts capturetool.exe (stopped by its pid at the test's end) and returns its ready line."""
    exe = desktop.test_env.build_dir / "tests" / "capturetool.exe"
    popen = desktop.start(exe, *args, stdout=subprocess.PIPE)
    line = b""
    deadline = time.monotonic() + timeout
    while not line.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([popen.stdout], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        byte = os.read(popen.stdout.fileno(), 1)
        if not byte:
            break
        line += byte
    assert line.endswith(b"\n"), f"capturetool {args} did not get ready"
    return json.loads(line)


@pytest.fixture
def scenery(desktop):
    """capturetool's test picture at PATTERN_RECT for the test's length; its ready line."""
    left, top, right, bottom = PATTERN_RECT
    return start_capturetool(desktop, "pattern", left, top, right - left, bottom - top)


class Session:
    """Steps of one capture session in a running Snapwren, through the real UI."""

    def __init__(self, desktop, app):
        self.desktop = desktop
        self.app = app

    def overlays(self):
        return self.desktop.windows(cls=OVERLAY_CLASS, pid=self.app.pid)

    def wait_open(self, timeout=10.0):
        overlay = self.desktop.find_window(cls=OVERLAY_CLASS, pid=self.app.pid, visible=True,
                                           timeout=timeout)
        assert overlay, "the overlay did not open"
        return overlay

    def wait_closed(self, overlay, timeout=5.0):
        assert self.desktop.wait_window_gone(overlay["hwnd"], timeout), "the overlay stayed open"

    def start_by_hotkey(self):
        self.desktop.key("ctrl+shift+s")
        return self.wait_open()

    def select(self, left, top, right, bottom, name="selected"):
        """Drags out a selection and waits until the overlay shows its toolbar; returns the
        button rectangles."""
        self.desktop.drag((left, top), (right, bottom))
        buttons = toolbar((left, top, right, bottom))
        self.wait_screen(name, lambda shot: toolbar_shown(shot, buttons))
        return buttons

    def wait_screen(self, name, predicate, timeout=5.0):
        """Screenshots until one satisfies predicate (input reaches the overlay a moment after
        xdotool returns); returns that screenshot."""
        found = []

        def attempt():
            shot = self.desktop.screenshot(name)
            if predicate(shot):
                found.append(shot)
                return True
            return False
        poll(attempt, timeout, f"the screen to show {name}", interval=0.2)
        return found[0]

    def click(self, rect):
        self.desktop.click(*center(rect))

    def balloon(self, text, timeout=8.0):
        """Waits for a visible tray balloon with this message."""
        def shown():
            return any(line["kind"] == "tooltip" and line["visible"] and line["text"] == text
                       for line in self.desktop.snaptool_json("tray"))
        poll(shown, timeout, f"the balloon {text!r}")

    def balloon_texts(self):
        return [line["text"] for line in self.desktop.snaptool_json("tray")
                if line["kind"] == "tooltip" and line["visible"] and line["text"]]

    def clipboard_picture(self, name):
        found = self.desktop.clipboard_dib(name)
        assert found, "the clipboard holds no CF_DIB"
        header, path = found
        return header, read_dib_bmp(path)

    def save_dialog(self, timeout=5.0):
        """The open save dialog of Snapwren: {hwnd, edit} with the file-name field's hwnd."""
        def find():
            for window in self.desktop.windows(cls="#32770", pid=self.app.pid, visible=True):
                for child in self.desktop.snaptool_json("children", window["hwnd"]):
                    if child["class"] == "Edit" and child["id"] == 1148:
                        return {"hwnd": window["hwnd"], "title": window["title"],
                                "edit": child["hwnd"]}
            return None
        return poll(find, timeout, "the save dialog")

    def save_as(self, dialog, path):
        self.desktop.snaptool("settext", dialog["edit"], winpath(path))
        self.desktop.key("Return")
