"""Annotations through the real UI: tools chosen on the toolbar and drawn with the mouse, the real
colour dialog (cancelled once, then blue), text typed on the keyboard, and the copy on the
clipboard, which shows what was drawn over the test picture and nothing else; at 144 DPI too,
with wider strokes and larger type. Then text where the font family "Segoe UI" is missing, as on
some Windows installations."""

import pytest

from conftest import IDCANCEL, IDOK, center, scale

SELECTION = (300, 250, 700, 550)
RED, BLUE = (255, 0, 0), (0, 0, 255)
TEXT_AT = (330, 420)


def changed(dpi=96):
    """Where the pen, the line and the text may change pixels."""
    return [(315, 275, 425, 325), (315, 345, 465, 356),
            (325, 415, 325 + scale(95, dpi), 415 + scale(35, dpi))]


def pick_colour(desktop, app, rgb):
    """The colour dialog's Red, Green and Blue fields set, then OK; Cancel when rgb is None."""
    window, edits = desktop.dialog_edits([706, 707, 708], pid=app.pid)
    for edit, value in zip((706, 707, 708), rgb or (0, 0, 0)):
        desktop.tool("settext", edits[edit], value)
    desktop.answer(window, IDOK if rgb else IDCANCEL)


def type_text(desktop, buttons, colour):
    desktop.click(*center(buttons["Text"]))
    desktop.click(*TEXT_AT)
    desktop.xdotool("type", "--delay", 30, "Hallo")
    desktop.wait_screen("typing", lambda s: s.count(changed()[2], lambda rgb: rgb == colour) > 40)
    desktop.key("Return")


def count(picture, box, colour):
    return picture.count((box[0] - 300, box[1] - 250, box[2] - 300, box[3] - 250),
                         lambda rgba: rgba[:3] == colour)


@pytest.mark.parametrize("dpi", [96, 144])
def test_tools_colour_dialog_and_typed_text_reach_the_clipboard(desktop, snapwren, dpi):
    desktop.pattern((200, 200, 900, 650))
    overlay = snapwren.capture()
    buttons = snapwren.select(SELECTION)
    desktop.click(*center(buttons["Farbe"]))
    pick_colour(desktop, snapwren, None)
    for tool, stroke in [("Stift", ((320, 280), (420, 320))), ("Linie", ((320, 350), (460, 350)))]:
        desktop.click(*center(buttons[tool]))
        desktop.drag(*stroke)
    shot = desktop.wait_screen("red", lambda s: s.pixel(390, 350) == RED)
    assert shot.pixel(*center(buttons["Farbe"])) == RED, "cancelling kept the colour"
    desktop.click(*center(buttons["Farbe"]))
    pick_colour(desktop, snapwren, BLUE)
    type_text(desktop, buttons, BLUE)
    desktop.key("ctrl+c")
    snapwren.closed(overlay)
    _, picture = desktop.clipboard_picture()
    assert count(picture, changed()[0], RED) > 50 and picture.pixel(90, 100)[:3] == RED
    line = [y for y in range(340, 361) if picture.pixel(390 - 300, y - 250)[:3] == RED]
    assert len(line) == scale(3, dpi), "the line's width"
    text = [y for y in range(410, 470) if count(picture, (325, y, 430, y + 1), BLUE)]
    assert scale(14, dpi) <= len(text) <= scale(18, dpi), "the typed text, as high as its font"
    bad = [(x, y) for x, y, _ in picture.mismatches((300, 250), (400, 300))
           if not any(l <= x + 300 < r and t <= y + 250 < b for l, t, r, b in changed(dpi))]
    assert not bad, f"{len(bad)} pixels differ outside the annotations, first {bad[:3]}"


@pytest.fixture
def without_segoe_ui(prefix):
    key = r"HKCU\Software\Wine\Fonts\Replacements"
    prefix.reg("delete", key, "/v", "Segoe UI", "/f")
    yield
    prefix.reg("add", key, "/v", "Segoe UI", "/d", "Liberation Sans", "/f")


def test_text_without_segoe_ui_falls_back_to_sans_serif(without_segoe_ui, desktop):
    app = desktop.start_snapwren()
    desktop.pattern((200, 200, 900, 650))
    overlay = app.capture()
    type_text(desktop, app.select(SELECTION), RED)
    desktop.key("ctrl+c")
    app.closed(overlay)
    assert count(desktop.clipboard_picture()[1], changed()[2], RED) > 40
