"""Annotations through the real UI: tools chosen on the toolbar and drawn with the mouse, the
real colour dialog (cancelled once, then blue), undo, text typed on the keyboard, and the copy on
the clipboard, which must show exactly what was drawn over the test picture and nothing else.
Then text where the font family "Segoe UI" is missing, as on some Windows installations."""

import pytest

from conftest import IDCANCEL, IDOK, center, pattern_at, poll

SELECTION = (300, 250, 700, 550)
RED, BLUE = (255, 0, 0), (0, 0, 255)
PEN = ((320, 280), (420, 320))
LINE = ((320, 350), (460, 350))
WIDE_RECTANGLE = ((600, 470), (780, 530))  # reaches past the selection: cut off in the copy
UNDONE_LINE = ((320, 500), (460, 500))
TEXT_AT = (330, 420)
CHANGED = [(315, 275, 425, 325), (315, 345, 465, 356), (595, 465, 785, 535),
           (325, 415, 420, 450)]


def pick_colour(desktop, app, rgb):
    """In the colour dialog: the values into its Red, Green and Blue fields, then OK (or Cancel
    when rgb is None)."""
    def find():
        for window in desktop.tool("windows", "--class", "#32770", "--pid", app.pid, "--visible"):
            edits = {c["id"]: c["hwnd"] for c in desktop.tool("children", window["hwnd"])}
            if {706, 707, 708} <= edits.keys():
                return window, edits
        return None
    window, edits = poll(find, 10, "the colour dialog")
    for edit, value in zip((706, 707, 708), rgb or (0, 0, 0)):
        desktop.tool("settext", edits[edit], value)
    desktop.answer(window, IDOK if rgb else IDCANCEL)


def typed_text(desktop, app, buttons, text, colour):
    desktop.click(*center(buttons["Text"]))
    desktop.click(*TEXT_AT)
    desktop.xdotool("type", "--delay", 30, text)
    box = (TEXT_AT[0], TEXT_AT[1], TEXT_AT[0] + 90, TEXT_AT[1] + 30)
    desktop.wait_screen("typing", lambda s: s.count(box, lambda rgb: rgb == colour) > 40)
    desktop.key("Return")


def red_or_blue_count(picture, box, colour):
    return picture.count((box[0] - 300, box[1] - 250, box[2] - 300, box[3] - 250),
                         lambda rgba: rgba[:3] == colour)


def test_tools_colour_dialog_undo_and_typed_text_reach_the_clipboard(desktop, snapwren):
    desktop.pattern((200, 200, 900, 650))
    overlay = snapwren.capture()
    buttons = snapwren.select(SELECTION)
    swatch = center(buttons["Farbe"])
    desktop.click(*swatch)
    pick_colour(desktop, snapwren, None)
    for tool, stroke in [("Stift", PEN), ("Linie", LINE)]:
        desktop.click(*center(buttons[tool]))
        desktop.drag(*stroke)
    shot = desktop.wait_screen("red", lambda s: s.pixel(390, 350) == RED)
    assert shot.pixel(*swatch) == RED, "cancelling kept the colour"

    desktop.click(*swatch)
    pick_colour(desktop, snapwren, BLUE)
    desktop.click(*center(buttons["Rechteck"]))
    desktop.drag(*WIDE_RECTANGLE)
    desktop.click(*center(buttons["Linie"]))
    desktop.drag(*UNDONE_LINE)
    desktop.wait_screen("before-undo", lambda s: s.pixel(390, 500) == BLUE)
    desktop.click(*center(buttons["Rückgängig"]))
    desktop.wait_screen("undone", lambda s: s.pixel(390, 500) == pattern_at(390, 500))
    typed_text(desktop, snapwren, buttons, "Hallo", BLUE)
    assert desktop.screenshot("annotated").pixel(760, 470) == BLUE, "shown past the selection"

    desktop.key("ctrl+c")
    snapwren.closed(overlay)
    _, picture = desktop.clipboard_picture("annotated")
    assert (picture.width, picture.height) == (400, 300)
    assert red_or_blue_count(picture, CHANGED[0], RED) > 50, "the pen stroke"
    assert picture.pixel(90, 100)[:3] == RED, "the line"
    assert picture.pixel(350, 220)[:3] == BLUE and picture.pixel(399, 220)[:3] == BLUE
    assert picture.pixel(399, 250)[:3] == pattern_at(699, 500), "its right side cut off"
    assert red_or_blue_count(picture, CHANGED[3], BLUE) > 60, "the typed text"
    bad = [(x, y) for x, y, _ in picture.mismatches((300, 250))
           if not any(l <= x + 300 < r and t <= y + 250 < b for l, t, r, b in CHANGED)]
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
    typed_text(desktop, app, app.select(SELECTION), "Hallo", RED)
    desktop.key("ctrl+c")
    app.closed(overlay)
    _, picture = desktop.clipboard_picture("fallback")
    assert red_or_blue_count(picture, CHANGED[3], RED) > 40
