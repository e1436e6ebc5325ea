"""Uploading as a user meets it: hotkey, a dragged selection, Ctrl+D or the toolbar's
"Hochladen (Strg+D)"; the overlay closes, the progress window turns at the bottom right, the link
reaches the clipboard and a balloon says so. The upload server is a real HTTPS server on
127.0.0.1:443 (upload_server.py). capturetool puts its test picture on the screen, and uploadtool
(tests/helper/uploadtool.cpp) watches the progress windows and the clipboard every 10 ms from
inside the prefix."""

import json
import queue
import re
import subprocess
import threading
import time

import pytest

from capture_support import pattern_at, start_capturetool
from conftest import _read_line, poll
from upload_server import UploadServer, describe

# Where the test picture stands and what the tests select inside it (screen coordinates).
PATTERN = (100, 100, 900, 600)
SELECTION = ((300, 200), (620, 440))

SCREEN = (1600, 900)
# 20 pixels from the right edge and 50 above the bottom of the 1600 x 900 screen, 350 x 140.
PROGRESS_RECT = [1230, 710, 1580, 850]
WS_POPUP, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x00C00000, 0x00080000
WS_EX_TOPMOST, WS_EX_TOOLWINDOW = 0x8, 0x80

COPIED = "Link in Zwischenablage kopiert!"
FAILED = "Upload fehlgeschlagen!"
BEFORE = "vorher im Clipboard – bleibt"


# --- the pieces -----------------------------------------------------------------------------------


class Watch:
    """uploadtool watch, its JSON lines gathered by a thread as they come."""

    def __init__(self, desktop, count=1, timeout=40):
        exe = desktop.test_env.build_dir / "tests" / "uploadtool.exe"
        self.popen = desktop.start(exe, "watch", "--count", count, "--timeout", timeout * 1000,
                                   stdout=subprocess.PIPE)
        self.events = []
        self._queue = queue.Queue()
        first = _read_line(self.popen.stdout, timeout=20)
        assert first, "uploadtool watch did not start"
        self.events.append(json.loads(first))
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.popen.stdout:
            self._queue.put(json.loads(line))

    def _drain(self):
        while True:
            try:
                self.events.append(self._queue.get_nowait())
            except queue.Empty:
                return

    def wait(self, event, timeout=15.0, **fields):
        """The first event of this kind (with these fields), waiting for it if need be."""
        def found():
            self._drain()
            for e in self.events:
                if e["event"] == event and all(e.get(k) == v for k, v in fields.items()):
                    return e
            return None
        return poll(found, timeout, f"the watch event {event} {fields or ''}", interval=0.05)

    def all(self, event):
        self._drain()
        return [e for e in self.events if e["event"] == event]


def wait_balloon(desktop, predicate, timeout=8.0):
    """The text of the visible balloon of the tray that satisfies predicate."""
    def shown():
        for line in desktop.snaptool_json("tray"):
            if line["kind"] == "tooltip" and line["visible"] and predicate(line["text"]):
                return line["text"]
        return None
    return poll(shown, timeout, "a balloon")


def balloons(desktop):
    return [line["text"] for line in desktop.snaptool_json("tray")
            if line["kind"] == "tooltip" and line["visible"] and line["text"]]


def select_region(desktop, start=SELECTION[0], end=SELECTION[1]):
    """Hotkey, then a drag over the frozen screen; returns once the overlay is up."""
    desktop.key("ctrl+shift+s")
    overlay = desktop.find_window(cls="SnapwrenOverlay", visible=True, timeout=10)
    assert overlay, "the hotkey opened no overlay"
    desktop.drag(start, end)
    return overlay


def decode_png(data):
    """(width, height, rgb bytes) of a PNG, decoded by ImageMagick."""
    ppm = subprocess.run(["convert", "png:-", "-depth", "8", "ppm:-"], input=data,
                         capture_output=True, check=True, timeout=30).stdout
    fields = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
    return int(fields.group(1)), int(fields.group(2)), ppm[fields.end():]


def check_selection_pixels(png, start=SELECTION[0], end=SELECTION[1]):
    """The PNG holds exactly the test picture from the place where the drag began (give or take
    the pixel a drag may land off), as large as the drag."""
    width, height, rgb = decode_png(png)
    assert abs(width - (end[0] - start[0])) <= 2 and abs(height - (end[1] - start[1])) <= 2, \
        (width, height)

    def wrong(x0, y0, rows):
        return sum(1 for j in range(rows) for i in range(width)
                   if tuple(rgb[3 * (j * width + i):3 * (j * width + i) + 3])
                   != pattern_at(x0 + i, y0 + j))

    # Neighbouring pixels of the picture differ, so its first rows tell where it was taken.
    x0, y0 = min(((start[0] + dx, start[1] + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)),
                 key=lambda origin: wrong(*origin, 2))
    bad = wrong(x0, y0, height)
    assert bad == 0, f"{bad} of {width * height} pixels differ from the screen"


def image_part(request):
    parts = request.parts()
    assert len(parts) == 1, describe(request)
    headers, content = parts[0]
    assert headers == {"content-disposition": 'form-data; name="image"; filename="capture.png"',
                       "content-type": "image/png"}, headers
    return content


def progress_in_place(event, rect=PROGRESS_RECT):
    # WS_EX_TOOLWINDOW keeps the window off the taskbar on Windows. Wine 8's taskbar lists it all
    # the same (as it does the test picture's window); only the style is checked here.
    assert event["rect"] == rect, event
    assert event["title"] == "Snapwren"
    assert event["style"] & (WS_POPUP | WS_CAPTION | WS_SYSMENU) == WS_POPUP | WS_CAPTION | WS_SYSMENU
    assert event["exstyle"] & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW) == WS_EX_TOPMOST | WS_EX_TOOLWINDOW


def crop(shot, rect, path):
    left, top, right, bottom = rect
    subprocess.run(["convert", str(shot.path), "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                    "+repage", str(path)], check=True, timeout=30)


# --- fixtures -------------------------------------------------------------------------------------


@pytest.fixture
def server(https_server):
    upload = UploadServer(https_server)
    yield upload
    upload.release()


@pytest.fixture
def pictures(wine_prefix):
    """The Wine user's Pictures folder as a real folder inside the prefix, without the kept
    screenshots of an earlier test. Wine links it to $HOME when no XDG folders are set up;
    the failed uploads of the tests must not land in the tester's home."""
    folder = wine_prefix.user_dir / "Pictures"
    if folder.is_symlink():
        folder.unlink()
    folder.mkdir(exist_ok=True)
    kept = folder / "Snapwren"
    if kept.exists():
        for file in kept.iterdir():
            file.unlink()
    return folder


@pytest.fixture
def pattern(desktop, pictures):
    left, top, right, bottom = PATTERN
    return start_capturetool(desktop, "pattern", left, top, right - left, bottom - top)


@pytest.fixture
def app(desktop, pattern):
    desktop.set_clipboard_text(BEFORE)
    snapwren = desktop.start_snapwren()
    yield snapwren
    snapwren.stop()


# --- the tests ------------------------------------------------------------------------------------


def test_ctrl_d_uploads_the_selection_and_copies_the_link(desktop, server, app):
    server.mode = "hold"
    select_region(desktop)
    watch = Watch(desktop)
    pressed = time.monotonic()
    desktop.key("ctrl+d")

    # The overlay goes at once and the progress window takes over at the bottom right.
    gone = watch.wait("overlay-gone", timeout=5)
    progress = watch.wait("progress")
    assert time.monotonic() - pressed < 3
    assert progress["t"] - gone["t"] < 1000, (gone, progress)
    progress_in_place(progress)
    assert progress["pid"] == app.pid
    watch.wait("text", colour="black", timeout=5)
    shot = desktop.screenshot("uploading")
    crop(shot, PROGRESS_RECT, shot.path.with_name("progress-window.png"))
    # The petals turn while the upload runs (10 degrees every 50 ms).
    flower = (PROGRESS_RECT[0], PROGRESS_RECT[1] + 15, PROGRESS_RECT[0] + 80, PROGRESS_RECT[1] + 100)
    assert shot.count(flower, lambda rgb: rgb[0] > 200 and rgb[0] - rgb[2] > 20) > 200
    later = [desktop.screenshot("turning") for _ in range(2)]
    assert any(list(other.pixels(flower)) != list(shot.pixels(flower)) for other in later)

    (request,) = server.wait_requests(1)
    assert request.path == "/upload.php"
    check_selection_pixels(image_part(request))
    assert watch.all("clipboard") == []
    server.proceed()

    copied = watch.wait("clipboard", timeout=10)
    assert copied["text"] == "https://img.example/1.png"
    green = watch.wait("text", colour="green", timeout=5)
    assert green["t"] >= copied["t"], "the success state showed before the link was copied"
    closed = watch.wait("progress-gone", timeout=5)
    # 800 ms of success state; polling and a loaded machine add a little.
    assert 750 <= closed["t"] - copied["t"] <= 2000, (copied, closed)
    assert watch.all("clipboard") == [copied]

    assert wait_balloon(desktop, lambda text: text == COPIED)
    desktop.screenshot("link-copied")
    assert desktop.clipboard_text() == "https://img.example/1.png"


def kept_screenshot(desktop, pictures, sent, known=()):
    """The failure balloon names the one new file under Pictures\\Snapwren, which holds
    exactly the bytes that were to be uploaded."""
    text = wait_balloon(desktop, lambda t: t.startswith(FAILED) and all(k not in t for k in known))
    (kept,) = [f for f in (pictures / "Snapwren").iterdir() if f.name not in known]
    lines = text.split("\n")
    assert lines[:2] == [FAILED, "Screenshot gespeichert unter:"], text
    assert lines[2].lower().endswith("\\pictures\\snapwren\\" + kept.name.lower()), text
    if sent is not None:
        assert kept.read_bytes() == sent
    check_selection_pixels(kept.read_bytes())
    return kept


def test_a_failed_upload_keeps_the_screenshot_and_says_where(desktop, server, app, pictures):
    server.mode = "status-500"
    select_region(desktop)
    watch = Watch(desktop)
    desktop.key("ctrl+d")

    watch.wait("progress")
    (request,) = server.wait_requests(1)
    closed = watch.wait("progress-gone", timeout=10)
    assert all(e["colour"] != "green" for e in watch.all("text"))
    first = kept_screenshot(desktop, pictures, image_part(request))
    desktop.screenshot("failed")

    # No server at all: the connection is refused, and that screenshot is kept too.
    server.server.stop()
    select_region(desktop)
    desktop.key("ctrl+d")
    kept_screenshot(desktop, pictures, None, known=(first.name,))
    desktop.screenshot("refused")

    assert watch.all("clipboard") == [] and desktop.clipboard_text() == BEFORE
    assert closed["t"] < 5000


def test_closing_the_window_during_the_upload_leaves_the_clipboard(desktop, server, app):
    server.mode = "hold"
    select_region(desktop)
    watch = Watch(desktop)
    desktop.key("ctrl+d")
    progress = watch.wait("progress")
    watch.wait("text", colour="black", timeout=5)

    # The close box at the right end of the small caption.
    left, top, right, _ = progress["rect"]
    desktop.click(right - 12, top + 11)
    watch.wait("progress-hidden", timeout=5)
    server.wait_requests(1)

    # The upload still ends, successfully, and that changes nothing for the user.
    server.proceed()
    watch.wait("progress-gone", timeout=15)
    time.sleep(1.5)
    assert watch.all("clipboard") == []
    assert desktop.clipboard_text() == BEFORE
    assert COPIED not in balloons(desktop)
    desktop.screenshot("closed-early")


def test_a_failure_after_closing_still_says_where_the_screenshot_is(desktop, server, app,
                                                                    pictures):
    server.mode = "hold:status-500"
    select_region(desktop)
    watch = Watch(desktop)
    desktop.key("ctrl+d")
    progress = watch.wait("progress")
    left, top, right, _ = progress["rect"]
    desktop.click(right - 12, top + 11)
    watch.wait("progress-hidden", timeout=5)
    (request,) = server.wait_requests(1)

    server.proceed()
    watch.wait("progress-gone", timeout=15)
    kept_screenshot(desktop, pictures, image_part(request))
    assert desktop.clipboard_text() == BEFORE


def test_two_uploads_in_a_row_both_arrive(desktop, server, app):
    server.mode = "hold"
    watch = Watch(desktop, count=2)
    select_region(desktop)
    desktop.key("ctrl+d")
    first = watch.wait("progress")

    # The second one through the toolbar's "Hochladen (Strg+D)": 58 to 30 pixels left of the
    # selection's right edge, 12 pixels below it.
    start, end = ((700, 300), (860, 420))
    select_region(desktop, start, end)
    desktop.click(end[0] - 44, end[1] + 26)
    second = poll(lambda: [e for e in watch.all("progress") if e["hwnd"] != first["hwnd"]],
                  10, "a second progress window")[0]
    # Stacked above the first, which still runs.
    progress_in_place(second, [1230, 560, 1580, 700])
    desktop.screenshot("two-uploads")

    requests = server.wait_requests(2)
    check_selection_pixels(image_part(requests[0]))
    check_selection_pixels(image_part(requests[1]), start, end)
    assert requests[0].boundary != requests[1].boundary

    # Each outcome reaches its own window: the first link first, then the second.
    server.proceed(1)
    assert watch.wait("clipboard", timeout=10)["text"] == "https://img.example/1.png"
    watch.wait("progress-gone", hwnd=first["hwnd"], timeout=5)
    assert not [e for e in watch.all("progress-gone") if e["hwnd"] == second["hwnd"]]
    server.proceed(2)
    watch.wait("done", timeout=20)
    copies = [e["text"] for e in watch.all("clipboard")]
    assert copies == ["https://img.example/1.png", "https://img.example/2.png"], copies
    assert desktop.clipboard_text() == "https://img.example/2.png"


def test_without_auto_copy_the_balloon_shows_the_link(desktop, server, pictures):
    desktop.prefix.write_settings("[General]\nAutoCopyLink=0\n")
    desktop.set_clipboard_text(BEFORE)
    app = desktop.start_snapwren()
    try:
        select_region(desktop)
        watch = Watch(desktop)
        desktop.key("ctrl+d")
        watch.wait("text", colour="green", timeout=15)
        watch.wait("progress-gone", timeout=5)
        text = wait_balloon(desktop, lambda t: "https://img.example/1.png" in t)
        assert text == "Upload erfolgreich:\nhttps://img.example/1.png"
        assert watch.all("clipboard") == [] and desktop.clipboard_text() == BEFORE
    finally:
        app.stop()
