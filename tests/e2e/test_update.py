"""Updates as a user meets them: the offer after start-up, the tray menu's "Nach Updates
suchen...", the download into the Downloads folder and the start of the installer. The update
server is a real HTTPS server on 127.0.0.1:443 (update_server.py); the installer it hands out is
test_installer.exe, which leaves installer-ran.txt beside itself when it runs."""

import pytest

from conftest import center, poll
from update_server import UpdateServer

IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7

INSTALLER_PATH = "/files/Snapwren-1.2.0.exe"
# The port in the address is not used: the download goes to 443 because the scheme is https.
INSTALLER_URL = "https://localhost:8443" + INSTALLER_PATH + "?channel=stable"
CHANGELOG = "Größere Schrift – schnellerer Upload, Übersetzung für ß-Wörter"

LEFT_BY_TESTS = ("Snapwren_Update.exe", "Snapwren_Update.exe.part", "installer-ran.txt")

READY_TEXT = "Download abgeschlossen!\n\nSnapwren wird jetzt beendet und das Update gestartet."


def prompt_text(version, changelog=""):
    text = f"Neue Version verfügbar: {version}\n\nJetzt herunterladen?"
    return text + (f"\n\nÄnderungen:\n{changelog}" if changelog else "")


@pytest.fixture
def installer_bytes(test_env):
    return (test_env.build_dir / "tests" / "test_installer.exe").read_bytes()


@pytest.fixture
def server(https_server):
    return UpdateServer(https_server)


@pytest.fixture
def downloads(wine_prefix):
    """The Wine user's Downloads folder as a real folder inside the prefix, without what an
    earlier test of this module left there. Wine links the profile's folders to $HOME when no
    XDG folders are configured; writing (or cleaning up) there would touch the tester's home."""
    folder = wine_prefix.user_dir / "Downloads"
    if folder.is_symlink():
        folder.unlink()
    folder.mkdir(exist_ok=True)
    for name in LEFT_BY_TESTS:
        (folder / name).unlink(missing_ok=True)
    return folder


def box_of(desktop, app, caption, timeout=15.0):
    return desktop.message_box(pid=app.pid, title=caption, timeout=timeout)


def click_button(desktop, box, button_id):
    """Clicks a message box button with the mouse, where the user would."""
    children = desktop.snaptool_json("children", box["hwnd"])
    button = next(c for c in children if c["id"] == button_id and c["visible"])
    desktop.click(*center(button["rect"]))
    assert desktop.wait_window_gone(box["hwnd"]), f"{box['caption']} stayed open"


def no_box_for(desktop, app, seconds):
    return not desktop.snaptool_json("msgbox", "--pid", app.pid, "--timeout",
                                     int(seconds * 1000), timeout=seconds + 30)


def check_from_menu(desktop, app):
    (icon,) = desktop.wait_tray_icons(1)
    app.choose(app.open_tray_menu(icon), "Nach Updates suchen...")


def start_offered(desktop, server, changelog=None, url=INSTALLER_URL):
    server.version_json("1.2.0", url, changelog)
    app = desktop.start_snapwren()
    box = box_of(desktop, app, "Update verfügbar")
    return app, box


def leftovers(downloads):
    return sorted(p.name for p in downloads.iterdir())


class TestOfferAtStartUp:
    def test_no_leaves_everything_as_it_was(self, desktop, server, downloads, installer_bytes):
        server.route(INSTALLER_PATH, installer_bytes)
        server.start()
        app, box = start_offered(desktop, server, CHANGELOG)

        assert (box["caption"], box["text"], box["icon"]) == (
            "Update verfügbar", prompt_text("1.2.0", CHANGELOG), "information")
        assert [b["id"] for b in box["buttons"]] == [IDYES, IDNO]
        assert server.requests == [{"path": "/version.json", "agent": "Snapwren-Updater/1.0"}]
        desktop.screenshot("offer-with-changelog")

        click_button(desktop, box, IDNO)
        assert no_box_for(desktop, app, 2)
        assert app.running
        assert server.paths() == ["/version.json"]
        assert leftovers(downloads) == []
        # The tray still answers after the offer was turned down.
        (icon,) = desktop.wait_tray_icons(1)
        assert app.open_tray_menu(icon)[0]["text"] == "Screenshot"
        desktop.key("Escape")

    def test_yes_downloads_and_ok_starts_the_installer(self, desktop, server, downloads,
                                                       installer_bytes):
        server.route(INSTALLER_PATH, installer_bytes)
        server.start()
        app, box = start_offered(desktop, server)
        assert box["text"] == prompt_text("1.2.0")
        desktop.screenshot("offer-without-changelog")

        click_button(desktop, box, IDYES)
        ready = box_of(desktop, app, "Update bereit")
        assert (ready["text"], ready["icon"]) == (READY_TEXT, "information")
        assert [b["id"] for b in ready["buttons"]] == [IDOK, IDCANCEL]
        desktop.screenshot("update-ready")
        download = server.requests[-1]
        assert download == {"path": INSTALLER_PATH + "?channel=stable",
                            "agent": "Snapwren-Updater/1.0"}
        assert (downloads / "Snapwren_Update.exe").read_bytes() == installer_bytes
        assert leftovers(downloads) == ["Snapwren_Update.exe"]

        click_button(desktop, ready, IDOK)
        mark = poll(lambda: (downloads / "installer-ran.txt").exists(), 15,
                    "the installer's mark") and (downloads / "installer-ran.txt")
        assert mark.read_text(encoding="utf-8").strip().endswith(
            "\\Downloads\\Snapwren_Update.exe")
        assert app.wait_exit(15) == 0
        desktop.wait_tray_icons(0, name="after-update-quit")


class TestCancel:
    def test_keeps_snapwren_and_the_file_and_a_later_download_replaces_it(
            self, desktop, server, downloads, installer_bytes):
        server.route(INSTALLER_PATH, installer_bytes)
        server.start()
        app, box = start_offered(desktop, server, CHANGELOG)
        click_button(desktop, box, IDYES)
        ready = box_of(desktop, app, "Update bereit")
        click_button(desktop, ready, IDCANCEL)

        assert no_box_for(desktop, app, 2)
        assert app.running
        installer = downloads / "Snapwren_Update.exe"
        assert installer.read_bytes() == installer_bytes
        assert not (downloads / "installer-ran.txt").exists()

        # The menu offers the same update again; its download replaces the file.
        newer = installer_bytes + b"\0" * 4096
        server.route(INSTALLER_PATH, newer)
        check_from_menu(desktop, app)
        box = box_of(desktop, app, "Update verfügbar")
        assert box["text"] == prompt_text("1.2.0", CHANGELOG)
        click_button(desktop, box, IDYES)
        click_button(desktop, box_of(desktop, app, "Update bereit"), IDCANCEL)
        assert installer.read_bytes() == newer
        assert leftovers(downloads) == ["Snapwren_Update.exe"]
        assert app.running


def answer_of_menu_check(desktop, app, caption, shot=None):
    """Runs the menu's check, returns its message box and closes it with OK."""
    check_from_menu(desktop, app)
    box = box_of(desktop, app, caption)
    assert [b["id"] for b in box["buttons"]] == [IDOK]
    if shot:
        desktop.screenshot(shot)
    click_button(desktop, box, IDOK)
    return box


def version_document_of_size(size):
    """A version.json for 1.0.0 padded with change notes to exactly `size` bytes."""
    head, tail = b'{"version": "1.0.0", "url": "", "changelog": "', b'"}'
    return head + b"x" * (size - len(head) - len(tail)) + tail


class TestMenuCheck:
    def test_reports_each_outcome(self, desktop, server):
        # No server at start-up: the background check fails without a word.
        app = desktop.start_snapwren()
        assert no_box_for(desktop, app, 3)
        # WinHTTP connects only when the request is sent, so a missing server fails there.
        box = answer_of_menu_check(desktop, app, "Update-Fehler")
        assert (box["text"], box["icon"]) == ("Request senden fehlgeschlagen", "warning")

        server.start()
        server.version_json("1.0.0", INSTALLER_URL, "")
        box = answer_of_menu_check(desktop, app, "Kein Update", shot="no-update")
        assert (box["text"], box["icon"]) == ("Du hast bereits die neueste Version!",
                                              "information")
        assert server.requests[-1] == {"path": "/version.json", "agent": "Snapwren-Updater/1.0"}

        server.unroute("/version.json")
        box = answer_of_menu_check(desktop, app, "Update-Fehler", shot="status-404")
        assert (box["text"], box["icon"]) == ("HTTP Status: 404", "warning")

        server.route("/version.json", b'{"url": "https://localhost/a.exe", "changelog": "x"}')
        assert answer_of_menu_check(desktop, app, "Update-Fehler")["text"] == \
            "Ungültige Serverantwort"

        # version.json may take up to 64 KiB; one byte more is not a version document.
        server.route("/version.json", version_document_of_size(64 * 1024))
        answer_of_menu_check(desktop, app, "Kein Update")
        server.route("/version.json", version_document_of_size(64 * 1024 + 1))
        assert answer_of_menu_check(desktop, app, "Update-Fehler")["text"] == \
            "Ungültige Serverantwort"
        assert app.running


class TestFailedDownload:
    def test_starts_nothing_and_leaves_nothing(self, desktop, server, downloads,
                                               installer_bytes):
        # A failing check at start-up shows nothing either.
        server.route("/version.json", b"<html>Not Found</html>", status=404)
        server.start()
        app = desktop.start_snapwren()
        server.wait_request("/version.json")
        assert no_box_for(desktop, app, 2)

        server.version_json("1.2.0", INSTALLER_URL)

        def download_fails_with(text, name):
            check_from_menu(desktop, app)
            click_button(desktop, box_of(desktop, app, "Update verfügbar"), IDYES)
            error = box_of(desktop, app, "Update-Fehler")
            desktop.screenshot(name)
            assert (error["text"], error["icon"]) == (text, "error")
            click_button(desktop, error, IDOK)
            assert leftovers(downloads) == []
            assert app.running

        # No route for the installer: the server answers 404 with a small error page.
        download_fails_with("Download fehlgeschlagen", "download-404")
        assert server.paths()[-1] == INSTALLER_PATH + "?channel=stable"

        # The server dies after a third of the announced bytes.
        server.route(INSTALLER_PATH, installer_bytes, send=len(installer_bytes) // 3)
        download_fails_with("Download fehlgeschlagen", "download-broken-off")

        # Status 200 with nothing in it is no installer either.
        server.route(INSTALLER_PATH, b"")
        download_fails_with("Download fehlgeschlagen", "download-empty")

        server.version_json("1.2.0", "")
        download_fails_with("Ungültige Download-URL", "download-no-url")
        assert not (downloads / "installer-ran.txt").exists()

    def test_installer_gone_before_ok_keeps_snapwren_running(self, desktop, server, downloads,
                                                             installer_bytes):
        server.route(INSTALLER_PATH, installer_bytes)
        server.start()
        app, box = start_offered(desktop, server)
        click_button(desktop, box, IDYES)
        ready = box_of(desktop, app, "Update bereit")
        # Something (a virus scanner, the user) removes the download while the question waits.
        (downloads / "Snapwren_Update.exe").unlink()
        click_button(desktop, ready, IDOK)

        error = box_of(desktop, app, "Update-Fehler")
        assert (error["text"], error["icon"]) == ("Update konnte nicht gestartet werden", "error")
        desktop.screenshot("start-failed")
        click_button(desktop, error, IDOK)
        assert no_box_for(desktop, app, 1)
        assert app.running
