"""Updates as a user meets them: the offer after start-up, the tray menu's "Nach Updates
suchen...", the download into the Downloads folder, its check against the signed SHA-256 and the
start of the installer. The update server is the test server on 127.0.0.1:443; the installer it
hands out is snaptool.exe, which, started as Snapwren_Update.exe, leaves installer-ran.txt beside
itself."""

import pytest

from conftest import IDCANCEL, IDNO, IDOK, IDYES, exe, poll

PATH = "/files/Snapwren-1.2.0.exe"
# The port in the address is not used: the download goes to 443 because the scheme is https.
URL = "https://localhost:8443" + PATH + "?channel=stable"
CHANGELOG = "Größere Schrift – schnellerer Upload"
READY = "Download abgeschlossen!\n\nSnapwren wird jetzt beendet und das Update gestartet."
UNVERIFIED = "Das Update konnte nicht verifiziert werden: Die Signatur fehlt oder ist ungültig."
ALTERED = "Der Download ist beschädigt oder wurde verändert. Das Update wurde nicht gestartet."


@pytest.fixture
def downloads(prefix):
    folder = prefix.user / "AppData" / "Local" / "Snapwren"
    folder.mkdir(parents=True, exist_ok=True)
    for file in folder.iterdir():
        file.unlink()
    return folder


@pytest.fixture
def installer():
    return exe("snaptool.exe").read_bytes()  # its stand-in mode when named Snapwren_Update.exe


def box(desktop, app, caption):
    return desktop.message_box(15, pid=app.pid, title=caption)


def no_box(desktop, app, seconds=2):
    return not desktop.tool("msgbox", "--pid", app.pid, "--wait", seconds * 1000)


def capture_and_close(desktop, app):
    overlay = app.capture()
    desktop.key("Escape")
    app.closed(overlay)


def test_offer_no_then_yes_cancel_then_a_newer_download_and_ok(desktop, server, downloads,
                                                               installer):
    server.routes[PATH] = (200, installer)
    server.version_json("1.2.0", URL, CHANGELOG, installer)
    app = desktop.start_snapwren()
    offer = box(desktop, app, "Update verfügbar")
    assert (offer["text"], offer["buttons"]) == (
        "Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?\n\nÄnderungen:\n" + CHANGELOG,
        [IDYES, IDNO])
    assert [(r.path, r.headers["user-agent"]) for r in server.requests] == [
        ("/version.json", "Snapwren-Updater/1.0")]
    desktop.answer(offer, IDNO)
    assert no_box(desktop, app) and server.paths() == ["/version.json"]
    assert list(downloads.iterdir()) == []

    app.choose(desktop.tray_icon(), "Nach Updates suchen...")
    desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
    ready = box(desktop, app, "Update bereit")
    assert (ready["text"], ready["buttons"]) == (READY, [IDOK, IDCANCEL])
    assert server.paths()[-1] == PATH + "?channel=stable"
    desktop.answer(ready, IDCANCEL)
    assert no_box(desktop, app) and app.popen.poll() is None
    assert [(f.name, f.read_bytes()) for f in downloads.iterdir()] == [
        ("Snapwren_Update.exe", installer)]

    server.routes[PATH] = (200, installer + bytes(4096))
    server.version_json("1.2.0", URL, CHANGELOG, installer + bytes(4096))
    app.choose(desktop.tray_icon(), "Nach Updates suchen...")
    desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
    desktop.answer(box(desktop, app, "Update bereit"), IDOK)
    assert app.popen.wait(15) == 0
    mark = poll(lambda: (downloads / "installer-ran.txt").exists() and
                (downloads / "installer-ran.txt").read_text(), 15, "the installer to run")
    assert mark.endswith("\\AppData\\Local\\Snapwren\\Snapwren_Update.exe")
    assert (downloads / "Snapwren_Update.exe").read_bytes() == installer + bytes(4096)
    desktop.tray_icon(False)


def test_the_menus_check_and_failed_downloads_say_what_went_wrong(desktop, server, downloads,
                                                                   installer):
    server.version_json("1.2.0", URL, installer=installer, signed=False)
    app = desktop.start_snapwren()
    assert no_box(desktop, app, 3) and server.paths() == ["/version.json"], \
        "an unsigned offer at start-up says nothing"

    def answer(caption, text, download=False):
        app.choose(desktop.tray_icon(), "Nach Updates suchen...")
        if download:
            desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
        shown = box(desktop, app, caption)
        assert shown["text"] == text
        desktop.answer(shown, IDOK)
        assert list(downloads.iterdir()) == []
    assert app.popen.poll() is None

    answer("Update-Fehler", UNVERIFIED)
    server.version_json("1.0.0")
    answer("Kein Update", "Du hast bereits die neueste Version!")
    del server.routes["/version.json"]
    answer("Update-Fehler", "HTTP Status: 404")
    server.routes["/version.json"] = (200, b'{"url": "https://localhost/a.exe"}')
    answer("Update-Fehler", "Ungültige Serverantwort")
    # version.json may take up to 64 KiB; one byte more is not a version document.
    server.version_json("1.0.0")
    signed = server.routes["/version.json"][1]
    for size, caption, text in [(2**16, "Kein Update", "Du hast bereits die neueste Version!"),
                                (2**16 + 1, "Update-Fehler", "Ungültige Serverantwort")]:
        server.routes["/version.json"] = (200, signed.ljust(size))
        answer(caption, text)

    server.version_json("1.2.0", URL, installer=installer)
    # An error page (only its status refuses it), the server gone on the way, nothing in it.
    for route in ((404, b"not found"), (200, installer, len(installer) // 3), (200, b"")):
        server.routes[PATH] = route
        answer("Update-Fehler", "Download fehlgeschlagen", True)
    # One byte other than signed: deleted, nothing started.
    server.routes[PATH] = (200, installer[:99] + bytes([installer[99] ^ 1]) + installer[100:])
    answer("Update-Fehler", ALTERED, True)
    # More than the signed length: cut at the first byte beyond it, while the rest still trickles.
    server.routes[PATH] = (200, installer + bytes(4096))
    server.holds = {PATH: len(installer) + 1}
    answer("Update-Fehler", ALTERED, True)
    server.holds = {}
    server.released.set()

    # Something (a virus scanner, the user) removes the download while the question waits.
    server.routes[PATH] = (200, installer)
    server.version_json("1.2.0", URL, installer=installer)
    app.choose(desktop.tray_icon(), "Nach Updates suchen...")
    desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
    ready = box(desktop, app, "Update bereit")
    (downloads / "Snapwren_Update.exe").unlink()
    desktop.answer(ready, IDOK)
    error = box(desktop, app, "Update-Fehler")
    assert error["text"] == "Update konnte nicht gestartet werden"
    desktop.answer(error, IDOK)
    assert no_box(desktop, app, 1) and app.popen.poll() is None
    # WinHTTP connects only when the request is sent, so a missing server fails there.
    server.stop()
    answer("Update-Fehler", "Request senden fehlgeschlagen")


def test_the_tray_answers_during_a_slow_check_and_download_and_abbrechen_or_quitting_ends_it(
        desktop, server, downloads, installer):
    server.routes[PATH] = (200, installer)
    server.version_json("1.0.0")
    half = len(installer) // 2
    server.holds = {"/version.json": 0, PATH: half}
    app = desktop.start_snapwren()
    icon = desktop.tray_icon()
    # The start-up check is still on its way: the menu's check joins it, and so hears its outcome.
    app.choose(icon, "Nach Updates suchen...")
    capture_and_close(desktop, app)
    server.released.set()
    desktop.answer(box(desktop, app, "Kein Update"), IDOK)
    assert no_box(desktop, app)
    assert server.paths() == ["/version.json"], "no second check"

    del server.holds["/version.json"]
    server.released.clear()
    server.version_json("1.2.0", URL, installer=installer)
    app.choose(icon, "Nach Updates suchen...")
    desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
    window = desktop.window(10, cls="SnapwrenDownload", visible=True)
    assert (window["rect"], window["title"], window["pid"]) == ([1230, 710, 1580, 850], "Snapwren",
                                                               app.pid)
    mb = lambda n: f"{n * 10 // 2**20 // 10},{n * 10 // 2**20 % 10} MB"  # noqa: E731
    shown = f"Update wird heruntergeladen: {mb(half)} von {mb(len(installer))}"
    poll(lambda: {c["class"]: c["title"] for c in desktop.tool("children", window["hwnd"])} ==
         {"Static": shown, "Button": "Abbrechen"}, 10, shown)
    left, top = window["client"]
    pink = lambda rgb: rgb[0] > 200 and rgb[0] - rgb[2] > 20  # noqa: E731
    bar = lambda shot, x0, x1: shot.count((left + x0, top + 55, left + x1, top + 56), pink)  # noqa
    desktop.wait_screen("half-downloaded", lambda s: (bar(s, 25, 120), bar(s, 250, 320)) == (95, 0))
    capture_and_close(desktop, app)
    assert [f.name for f in downloads.iterdir()] == ["Snapwren_Update.exe.part"]
    desktop.answer(window, IDCANCEL)
    # Marked at once; the name goes when the worker lets go of the file, with the next byte.
    poll(lambda: not list(downloads.iterdir()), 10, "the partial file to go")
    server.released.set()
    assert no_box(desktop, app), "nothing starts"
    assert list(downloads.iterdir()) == []
    assert app.popen.poll() is None

    server.released.clear()
    app.choose(icon, "Nach Updates suchen...")
    desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
    poll(lambda: list(downloads.iterdir()), 10, "the partial file")
    app.choose(icon, "Beenden")
    assert app.popen.wait(15) == 0
    poll(lambda: not list(downloads.iterdir()), 10, "the partial file to go")
