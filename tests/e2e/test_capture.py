"""A capture session as a user meets it: the hotkey freezes the screen, a drag selects, Ctrl+C puts
exactly that region on the clipboard for any other program, and the toolbar saves it through the
real save dialog. Every copied or saved pixel is checked against snaptool's test picture. On
scaled displays (144 and 192 DPI) the border, handles, size label and buttons grow, and the copy
is still the very pixels of the screen."""

import time

import pytest

from conftest import (IDOK, PINK, center, darkened, decode, near, pattern_at, save_as, scale,
                      winpath)

PATTERN = (100, 100, 1000, 700)


@pytest.mark.parametrize("dpi", [96, 144, 192])
def test_hotkey_drag_and_ctrl_c_copy_exactly_the_region(desktop, snapwren, dpi):
    desktop.pattern(PATTERN)
    overlay = snapwren.capture()
    assert overlay["rect"] == [0, 0, 1600, 900], "the overlay covers the screen"
    buttons = snapwren.select((300, 250, 600, 450))
    shot = desktop.screenshot("selection")
    assert shot.pixel(450, 350) == pattern_at(450, 350), "inside the selection is clear"
    assert near(shot.pixel(800, 350), darkened(pattern_at(800, 350))), "outside is dark"
    white = lambda rgb: rgb == (255, 255, 255)
    assert shot.count((290, 300, 312, 301), lambda rgb: rgb == PINK) == scale(2, dpi), "border"
    assert shot.count((280, 430, 320, 470), white) == (scale(8, dpi) - 2 * scale(1, dpi)) ** 2
    # White label text starts 20 pixels above the selection, in the default font at the DPI
    # (Wine's bitmap System font grows only in height).
    rows = {y for y in range(150, 250) for x in range(312, 420) if white(shot.pixel(x, y))}
    assert min(rows) >= 250 - scale(20, dpi) and max(rows) - min(rows) + 1 >= scale(9, dpi)
    if dpi == 96:
        desktop.key("ctrl+c")
    else:  # the row of 42 and 56 pixel buttons answers at its scaled place
        desktop.click(*center(buttons["Kopieren"]))
    snapwren.closed(overlay)
    desktop.balloon("Bild ist in der Zwischenablage.")
    header, picture = desktop.clipboard_picture()
    assert header == (40, 200, 32, 0), "bottom-up, 32 bits, BI_RGB"
    assert not picture.mismatches((300, 250), (300, 200)), "as on the screen, and opaque"


def test_toolbar_save_through_the_dialog_and_when_it_fails(desktop, snapwren, tmp_path):
    desktop.pattern(PATTERN)
    desktop.set_clipboard("unberührt")
    overlay = snapwren.capture()
    buttons = snapwren.select((410, 330, 710, 530))
    desktop.click(*center(buttons["Speichern"]))
    save_as(desktop, snapwren, None)
    assert desktop.screenshot("after-cancel").pixel(410, 400) == PINK, "the editor as it was"
    desktop.click(*center(buttons["Speichern"]))
    save_as(desktop, snapwren, tmp_path / "bild")
    snapwren.closed(overlay)
    desktop.balloon("Screenshot gespeichert!")
    # The dialog appends the extension to a name without one.
    assert not decode(tmp_path / "bild.png").mismatches((410, 330), (300, 200))
    assert desktop.clipboard_text() == "unberührt"

    # Another program holds the file open without sharing, so writing it fails.
    locked = tmp_path / "gesperrt.png"
    desktop.tool_start("lock", winpath(locked))
    overlay = snapwren.capture()
    buttons = snapwren.select((300, 200, 500, 350))
    desktop.click(*center(buttons["Speichern"]))
    save_as(desktop, snapwren, locked, overwrite=True)
    box = desktop.message_box(pid=snapwren.pid, title="Snapwren")
    assert box["text"] == "Fehler beim Speichern!"
    desktop.answer(box, IDOK)
    desktop.key("ctrl+s")  # the same failure, without a word
    save_as(desktop, snapwren, locked, overwrite=True)
    time.sleep(1.5)
    assert not desktop.windows(cls="#32770", pid=snapwren.pid, visible=True)
    desktop.click(*center(buttons["Kopieren"]))  # the editor stayed open
    snapwren.closed(overlay)
    assert not desktop.clipboard_picture()[1].mismatches((300, 200), (200, 150))


@pytest.mark.parametrize("dpi", [144])
def test_magnifier_shows_and_copies_the_colour_and_arrow_keys_move_the_selection(desktop, snapwren,
                                                                                dpi):
    desktop.pattern(PATTERN)
    overlay = snapwren.capture()
    pointer, colour = (500, 400), pattern_at(500, 400)
    desktop.move(*pointer)
    # Below right of the pointer: a frame, then 15 screen pixels of 8 (scaled) with the centre
    # one eighth from the frame's inside.
    left, top = (c + scale(20, dpi) + scale(1, dpi) + 7 * scale(8, dpi) for c in pointer)
    square = (left, top, left + scale(8, dpi), top + scale(8, dpi))
    desktop.wait_screen("magnifier", lambda s: s.count(square, lambda p: p != colour) == 0)
    desktop.key("c")
    text = "#%02X%02X%02X" % colour
    desktop.balloon(f"Farbe kopiert: {text}")
    assert desktop.clipboard_text() == text
    snapwren.select((300, 250, 600, 450))
    # Ten right, the bottom edge one down, the left edge one left; then copied.
    desktop.key("shift+Right", "ctrl+Down", "ctrl+shift+Left", "ctrl+c")
    snapwren.closed(overlay)
    assert not desktop.clipboard_picture()[1].mismatches((309, 250), (301, 201))
