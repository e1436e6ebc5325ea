"""Uploads to the reference server (nginx with PHP-FPM on 127.0.0.1:443) at the address and with
the key the user set, and the history in the tray menu: a refused key keeps the screenshot, a
link is found again after the clipboard changed and after a restart, an upload is deleted from
the server, and a damaged index gives an empty history."""

from conftest import IDYES, poll
from test_upload import FAILED, shows_the_selection, upload

RECT = (300, 200, 620, 440)
ADDRESS = "https://localhost:443/upload.php"  # set at run time; the build has no port


def path(link):
    return "/" + link.split("/", 3)[3]


def history(desktop):
    return desktop.prefix.user / "AppData" / "Local" / "Snapwren" / "history"


def choose(desktop, app, *path):
    """The tray menu's item, once no balloon stands over the icon."""
    poll(lambda: not any(t["visible"] and t["text"] for t in desktop.tool("tray")[1:]), 20,
         "the balloon to go")
    app.choose(desktop.tray_icon(), *path)


def set_upload(desktop, app, address, key):
    """Types the address and key into the settings window's fields and saves."""
    choose(desktop, app, "Einstellungen")
    window = desktop.window(10, cls="SnapwrenSettings", visible=True)
    fields = {c["id"]: c["hwnd"] for c in desktop.tool("children", window["hwnd"])}
    desktop.tool("settext", fields[1007], address)
    desktop.tool("settext", fields[1008], key)
    left, top = window["client"]
    desktop.click(left + 295, top + 377)
    assert desktop.gone(window["hwnd"])


def test_key_history_link_again_deletion_restart_and_a_damaged_index(desktop, reference):
    desktop.pattern((100, 100, 900, 600))
    # The address of the file is the one used: here one the server does not have.
    desktop.prefix.write_settings("[Upload]\nUploadUrl=https://localhost/falsch.php\n")
    app = desktop.start_snapwren()
    upload(desktop, app, RECT)
    text = desktop.balloon(lambda t: t.startswith(FAILED))
    assert text.split("\n")[1] == "Server antwortete mit Status 404", text
    set_upload(desktop, app, ADDRESS, "")  # without a key, while the server has none
    upload(desktop, app, RECT)
    first = poll(lambda: (desktop.clipboard_text() or "").startswith("https://localhost") and
                 desktop.clipboard_text(), 15, "a link")
    key = reference.make_key("anna")
    set_upload(desktop, app, ADDRESS, "falsch")
    upload(desktop, app, RECT)
    text = desktop.balloon(lambda t: t.startswith(FAILED) and "Schlüssel" in t)
    assert text.split("\n")[1] == "Upload-Schlüssel abgelehnt" and "falsch" not in text, text
    kept = text.rsplit("\n", 1)[1]
    assert len(reference.stored()) == 1, "nothing stored without the right key"

    set_upload(desktop, app, ADDRESS, key)
    settings = desktop.prefix.settings.read_text()
    assert f"UploadUrl={ADDRESS}\n" in settings and f"UploadToken={key}\n" in settings
    upload(desktop, app, RECT)
    link = poll(lambda: (desktop.clipboard_text() or first) != first and desktop.clipboard_text(),
                15, "the link")
    status, _, image = reference.request("GET", path(link))
    assert status == 200 and shows_the_selection(image, RECT)
    # Newest first: the upload, the refused one kept as a file, the upload without a key and
    # the first failed one.
    index = poll(lambda: (history(desktop) / "index.txt").exists() and
                 len((history(desktop) / "index.txt").read_text().splitlines()) == 5 and
                 (history(desktop) / "index.txt").read_text().splitlines(), 10, "the index")
    assert "\tuploaded\t0\t" in index[1] and kept.split("\\")[-1] in index[2], index

    app.popen.kill(), app.popen.wait(10)  # a restart keeps the history
    app = desktop.start_snapwren()
    desktop.set_clipboard("something else")
    choose(desktop, app, "Verlauf", 0, 0)  # the upload's "Link kopieren"
    poll(lambda: desktop.clipboard_text() == link, 10, "the link from the history")

    choose(desktop, app, "Verlauf", 0, 2)  # "Vom Server löschen"
    box = desktop.message_box(pid=app.pid, title="Snapwren")
    assert box["text"] == "Diesen Screenshot vom Server löschen?\n" + link
    desktop.answer(box, IDYES)
    desktop.balloon("Screenshot vom Server gelöscht.")
    status, _, _ = reference.request("GET", path(link))
    assert status == 404 and len(reference.stored()) == 1
    assert "\tuploaded\t1\t" in (history(desktop) / "index.txt").read_text().splitlines()[1]

    app.popen.kill(), app.popen.wait(10)
    (history(desktop) / "index.txt").write_text("SnapwrenHistory\t1\nkaputt\n")
    app = desktop.start_snapwren()
    overlay = app.capture()
    app.select(RECT)
    desktop.key("ctrl+c")
    app.closed(overlay)
    assert (history(desktop) / "index.damaged.txt").read_text() == "SnapwrenHistory\t1\nkaputt\n"
    index = poll(lambda: "\tcopied\t" in (history(desktop) / "index.txt").read_text() and
                 (history(desktop) / "index.txt").read_text().splitlines(), 10, "a new index")
    assert len(index) == 2, "the damaged entries are gone, the new one is there"
