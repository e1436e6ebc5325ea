"""A capture session as a user meets it: the hotkey freezes the screen into the overlay, a drag
selects, Ctrl+C puts exactly that region on the clipboard for any other program, and the
toolbar saves it through the real save dialog. The scenery is snaptool's test picture, so that
every copied or saved pixel can be checked against what the screen showed."""

import subprocess
import time

from conftest import (IDCANCEL, IDOK, IDYES, PANEL, PINK, WHITE, center, darkened, decode, near,
                      pattern_at, poll, winpath)

PATTERN = (100, 100, 1000, 700)


def test_hotkey_drag_and_ctrl_c_copy_exactly_the_region(desktop, snapwren):
    desktop.pattern(PATTERN)
    overlay = snapwren.capture()
    assert overlay["rect"] == [0, 0, 1600, 900], "the overlay covers the screen"
    frozen = desktop.screenshot("frozen")
    assert all(near(frozen.pixel(x, y), darkened(pattern_at(x, y))) for x, y in [(300, 300),
                                                                                  (950, 600)])
    buttons = snapwren.select((300, 250, 600, 450))
    shot = desktop.screenshot("selection")
    assert shot.pixel(450, 350) == pattern_at(450, 350), "inside the selection is clear"
    assert near(shot.pixel(700, 350), darkened(pattern_at(700, 350))), "outside is dark"
    assert shot.pixel(300, 300) == PINK and shot.pixel(599, 300) == PINK, "the border"
    assert shot.pixel(buttons["Speichern"][2], buttons["Speichern"][1] + 14) == PANEL
    assert shot.count(buttons["Kopieren"], lambda rgb: min(rgb) > 200) > 10, "the copy icon"
    assert shot.count((305, 230, 380, 248), lambda rgb: rgb == WHITE) > 20, "the size label"

    desktop.key("ctrl+c")
    snapwren.closed(overlay)
    desktop.balloon("Bild ist in der Zwischenablage.")
    header, picture = desktop.clipboard_picture("copied")
    assert (header["header"], header["width"], header["height"], header["bits"],
            header["compression"]) == (40, 300, 200, 32, 0)
    assert header["size"] >= 300 * 200 * 4 + 40
    assert not picture.mismatches((300, 250)), "every pixel as on the screen, and opaque"
    # What another program gets when it pastes through the X clipboard.
    bmp = subprocess.run(["xclip", "-selection", "clipboard", "-t", "image/bmp", "-o"],
                         env=desktop.env, capture_output=True, check=True, timeout=30).stdout
    pasted = decode("bmp", bmp)
    assert (pasted.width, pasted.height) == (300, 200) and not pasted.mismatches((300, 250))


def save_dialog(desktop, app):
    """The open save dialog: its window and its file-name field."""
    def find():
        for window in desktop.tool("windows", "--class", "#32770", "--pid", app.pid, "--visible"):
            for child in desktop.tool("children", window["hwnd"]):
                if child["class"] == "Edit" and child["id"] == 1148:
                    return window, child["hwnd"]
        return None
    return poll(find, 10, "the save dialog")


def save_as(desktop, app, path, overwrite=False):
    _, field = save_dialog(desktop, app)
    desktop.tool("settext", field, winpath(path))
    desktop.key("Return")
    if overwrite:
        prompt = desktop.message_box(pid=app.pid)
        assert IDYES in prompt["buttons"], prompt
        desktop.answer(prompt, IDYES)


def test_toolbar_save_through_the_dialog_and_when_it_fails(desktop, snapwren, tmp_path):
    desktop.pattern(PATTERN)
    desktop.set_clipboard("unberührt")
    overlay = snapwren.capture()
    buttons = snapwren.select((410, 330, 710, 530))
    desktop.click(*center(buttons["Speichern"]))
    desktop.answer(save_dialog(desktop, snapwren)[0], IDCANCEL)
    shot = desktop.screenshot("after-cancel")
    assert shot.pixel(410, 400) == PINK and shot.pixel(560, 430) == pattern_at(560, 430)

    desktop.click(*center(buttons["Speichern"]))
    save_as(desktop, snapwren, tmp_path / "bild")
    snapwren.closed(overlay)
    desktop.balloon("Screenshot gespeichert!")
    saved = decode(tmp_path / "bild.png")  # the dialog appends the extension
    assert (saved.width, saved.height) == (300, 200) and not saved.mismatches((410, 330))
    assert desktop.clipboard_text() == "unberührt"

    # Another program holds the file open without sharing, so writing it fails.
    locked = tmp_path / "gesperrt.png"
    desktop.tool_start("lock", winpath(locked))
    overlay = snapwren.capture()
    buttons = snapwren.select((300, 200, 500, 350))
    desktop.click(*center(buttons["Speichern"]))
    save_as(desktop, snapwren, locked, overwrite=True)
    box = desktop.message_box(pid=snapwren.pid, title="Snapwren")
    assert (box["text"], box["icon"]) == ("Fehler beim Speichern!", "error")
    desktop.answer(box, IDOK)
    desktop.key("ctrl+s")  # the same failure, without a word
    save_as(desktop, snapwren, locked, overwrite=True)
    time.sleep(1.5)
    assert not desktop.tool("windows", "--class", "#32770", "--pid", snapwren.pid, "--visible")
    assert desktop.screenshot("still-open").pixel(300, 300) == PINK, "the editor stays open"
    desktop.click(*center(buttons["Kopieren"]))
    snapwren.closed(overlay)
    _, picture = desktop.clipboard_picture("copy-button")
    assert (picture.width, picture.height) == (200, 150) and not picture.mismatches((300, 200))
