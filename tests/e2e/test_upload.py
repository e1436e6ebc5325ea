"""Uploading as a user meets it: Ctrl+D or the toolbar's "Hochladen (Strg+D)" closes the overlay,
a progress window turns at the bottom right, the link reaches the clipboard and a balloon says so;
a failure keeps the screenshot under Pictures\\Snapwren and says where. The server is the test
server on 127.0.0.1:443. First, UploadPng itself against every answer the server can give: the
upload unit tests' server cases, run here with the server up."""

import re
import socket
import time

import pytest

from conftest import center, decode, exe, poll, run, scale
from servers import Server, untrusted_context

PATTERN = (100, 100, 900, 600)
FIRST, SECOND = (300, 200, 620, 440), (640, 300, 860, 420)
BEFORE = "vorher im Clipboard – bleibt"
COPIED, FAILED = "Link in Zwischenablage kopiert!", "Upload fehlgeschlagen!"
LINK = "https://img.example/1.png"


def test_upload_png_against_every_answer_and_an_untrusted_server(prefix, server, tmp_path):
    untrusted = Server(port=0, context=untrusted_context(tmp_path))
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        refused = probe.getsockname()[1]
    env = dict(prefix.env, SNAPWREN_UPLOAD_SERVER="1", SNAPWREN_UPLOAD_REFUSED_PORT=str(refused),
               SNAPWREN_UPLOAD_UNTRUSTED_PORT=str(untrusted.port))
    code, output = run(["wine", exe("unit_upload.exe"),
                        "--gtest_filter=UploadPng.*:UploadServer.*"], env, timeout=180)
    untrusted.stop()
    assert code == 0 and "[  PASSED  ]" in output and "SKIPPED" not in output, output[-3000:]
    assert untrusted.requests == [], "nothing reaches a server whose certificate is not trusted"
    first = server.requests[0]
    assert (first.path, first.headers["user-agent"]) == ("/upload.php", "Snapwren/1.0")
    assert first.image() == bytes((i * 7 + i // 256) & 0xFF for i in range(70000))
    boundaries = {r.boundary for r in server.requests}
    assert len(boundaries) == len(server.requests), "a new boundary for every upload"
    assert all(re.fullmatch(r"----SnapwrenBoundary[0-9A-Za-z]{16}", b) for b in boundaries)
    assert all(r.method == "POST" and int(r.headers["content-length"]) == len(r.body) and
               "transfer-encoding" not in r.headers for r in server.requests)


def new_window(desktop, *known):
    """A progress window (shown or hidden) other than those known."""
    return poll(lambda: [w for w in desktop.windows(cls="SnapwrenProgress")
                         if w["hwnd"] not in [k["hwnd"] for k in known]], 10, "a new window")[0]


def upload(desktop, app, rect, button=False):
    overlay = app.capture()
    buttons = app.select(rect)
    if button:
        desktop.click(*center(buttons["Hochladen"]))
    else:
        desktop.key("ctrl+d")
    app.closed(overlay)


def shows_the_selection(png, rect):
    return not decode("png", png).mismatches(rect[:2], (rect[2] - rect[0], rect[3] - rect[1]))


def start(desktop):
    desktop.pattern(PATTERN)
    desktop.set_clipboard(BEFORE)
    return desktop.start_snapwren()


@pytest.fixture
def app(desktop):
    return start(desktop)


def kept_screenshot(desktop, known, sent, rect, reason):
    """The new file under Pictures\\Snapwren that the failure balloon names."""
    text = desktop.balloon(lambda t: t.startswith(FAILED) and all(k not in t for k in known))
    (kept,) = [f for f in (desktop.prefix.user / "Pictures" / "Snapwren").iterdir()
               if f.name not in known]
    assert text.split("\n")[:3] == [FAILED, reason, "Screenshot gespeichert unter:"], text
    assert text.lower().endswith("\\pictures\\snapwren\\" + kept.name.lower()), text
    assert sent is None or kept.read_bytes() == sent
    assert shows_the_selection(kept.read_bytes(), rect)
    return kept.name


def test_uploads_each_with_a_window_of_its_own_their_outcomes_and_closing_early(desktop, server,
                                                                               app):
    server.mode, server.later = "hold", {2: "status-500"}
    upload(desktop, app, FIRST)
    first = new_window(desktop)
    assert (first["rect"], first["title"], first["pid"]) == ([1230, 710, 1580, 850], "Snapwren",
                                                             app.pid)
    assert first["style"] & 0x80C80000 == 0x80C80000, "popup with caption and close box"
    assert first["exstyle"] & 0x88 == 0x88, "topmost, and no taskbar button on Windows"
    flower = (1230, 725, 1310, 810)
    shots = [desktop.screenshot("uploading") for _ in range(3)]
    assert shots[0].count(flower, lambda rgb: rgb[0] > 200 and rgb[0] - rgb[2] > 20) > 200
    assert any(s.data != shots[0].data for s in shots[1:]), "the petals turn"

    # The second one through the button, and its window closed while it runs.
    upload(desktop, app, SECOND, button=True)
    second = new_window(desktop, first)
    assert second["rect"] == [1230, 560, 1580, 700], "stacked above the first"
    desktop.tool("post", second["hwnd"], 0x10)  # WM_CLOSE, as from its close box
    poll(lambda: [w["hwnd"] for w in desktop.windows(cls="SnapwrenProgress", visible=True)] ==
         [first["hwnd"]], 5, "the closed window to hide")
    requests = server.uploads(2)
    assert shows_the_selection(requests[0].image(), FIRST)
    assert shows_the_selection(requests[1].image(), SECOND)
    assert desktop.clipboard_text() == BEFORE

    server.allowed = 1
    poll(lambda: desktop.clipboard_text() == LINK, 15, "the link", interval=0.02)
    assert desktop.gone(first["hwnd"]), "closes by itself after showing its success"
    assert new_window(desktop)["hwnd"] == second["hwnd"], "the other upload runs on"
    desktop.balloon(COPIED)
    # Failed after it was closed: the balloon still says where the screenshot is.
    server.allowed = 2
    assert desktop.gone(second["hwnd"], 15)
    kept = kept_screenshot(desktop, (), requests[1].image(), SECOND,
                           "Server antwortete mit Status 500")

    # Closed early and then successful: nothing changes for the user.
    upload(desktop, app, FIRST)
    desktop.tool("post", new_window(desktop)["hwnd"], 0x10)
    server.allowed = 3
    poll(lambda: not desktop.windows(cls="SnapwrenProgress"), 15, "the window to go")
    time.sleep(1.5)
    assert desktop.clipboard_text() == LINK

    server.stop()  # no server at all: the connection is refused, and that one is kept too
    upload(desktop, app, FIRST)
    kept_screenshot(desktop, (kept,), None, FIRST, "Senden fehlgeschlagen (Fehlercode: 12029)")
    assert desktop.clipboard_text() == LINK


def test_without_auto_copy_the_balloon_shows_the_link(desktop, server):
    desktop.prefix.write_settings("[General]\nAutoCopyLink=0\n")
    upload(desktop, start(desktop), FIRST)
    assert desktop.balloon(lambda t: "img.example" in t) == "Upload erfolgreich:\n" + LINK
    assert desktop.clipboard_text() == BEFORE


@pytest.mark.parametrize("dpi", [144])
def test_progress_window_on_a_scaled_display(desktop, server, dpi):
    server.mode = "hold"
    upload(desktop, start(desktop), FIRST)
    window = new_window(desktop)
    # 1.5 times as large and as far from the edges; the flower and the text too.
    assert window["rect"] == [1045, 615, 1570, 825]
    left, top = window["client"]
    shot = desktop.screenshot("uploading")
    flower = (left + 15, top + 15, left + 90, top + 105)
    assert shot.count(flower, lambda rgb: rgb[0] > 200 and rgb[0] - rgb[2] > 20) > 450
    dark = lambda rgb: sum(rgb) < 200
    text = [y for y in range(top, top + scale(80, dpi))
            if shot.count((left + scale(70, dpi), y, left + 500, y + 1), dark)]
    assert scale(9, dpi) <= len(text) <= scale(16, dpi), "the text, as high as its font"
    server.allowed = 1
    poll(lambda: desktop.clipboard_text() == LINK, 15, "the link")
