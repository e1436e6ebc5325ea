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
    for file in (prefix.user / "Downloads").iterdir():
        file.unlink()
    return prefix.user / "Downloads"


@pytest.fixture
def installer():
    return exe("snaptool.exe").read_bytes()  # its stand-in mode when named Snapwren_Update.exe


def box(desktop, app, caption):
    return desktop.message_box(15, pid=app.pid, title=caption)


def no_box(desktop, app, seconds=2):
    return not desktop.tool("msgbox", "--pid", app.pid, "--wait", seconds * 1000)


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

    app.choose(desktop.tray_icon(), 2)
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
    app.choose(desktop.tray_icon(), 2)
    desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
    desktop.answer(box(desktop, app, "Update bereit"), IDOK)
    assert app.popen.wait(15) == 0
    mark = poll(lambda: (downloads / "installer-ran.txt").exists() and
                (downloads / "installer-ran.txt").read_text(), 15, "the installer to run")
    assert mark.endswith("\\Downloads\\Snapwren_Update.exe")
    assert (downloads / "Snapwren_Update.exe").read_bytes() == installer + bytes(4096)
    desktop.tray_icon(False)


def test_the_menus_check_and_failed_downloads_say_what_went_wrong(desktop, server, downloads,
                                                                   installer):
    server.version_json("1.2.0", URL, installer=installer, signed=False)
    app = desktop.start_snapwren()
    assert no_box(desktop, app, 3) and server.paths() == ["/version.json"], \
        "an unsigned offer at start-up says nothing"

    def answer(caption, text, download=False):
        app.choose(desktop.tray_icon(), 2)
        if download:
            desktop.answer(box(desktop, app, "Update verfügbar"), IDYES)
        shown = box(desktop, app, caption)
        assert shown["text"] == text
        desktop.answer(shown, IDOK)
        assert list(downloads.iterdir()) == [] and app.popen.poll() is None

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
    server.version_json("1.2.0", "")
    answer("Update-Fehler", "Ungültige Download-URL", True)

    # Something (a virus scanner, the user) removes the download while the question waits.
    server.routes[PATH] = (200, installer)
    server.version_json("1.2.0", URL, installer=installer)
    app.choose(desktop.tray_icon(), 2)
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
