"""Annotations through the real UI: each tool drawn with the mouse, a text with umlauts typed,
one stroke undone, a colour picked in the real colour dialog (and the dialog cancelled once),
then copied; the clipboard image must show exactly what was drawn over the test picture. Esc
and Ctrl+C during text entry end the session cleanly."""

import pytest

from annotation_support import (IDCANCEL, colour_dialog, count_colour, inside,  # noqa: F401
                                pick_colour, post_chars, scenery, session, wait_caret)
from capture_support import pattern_at, toolbar
from conftest import poll

SELECTION = (300, 250, 700, 550)
RED = (255, 0, 0)
BLUE = (0, 0, 255)

# Where each stroke is drawn (screen coordinates) and the box it may change in the copy.
PEN = ((320, 280), (420, 320))
LINE = ((320, 350), (460, 350))
ARROW = ((320, 420), (460, 420))
RECTANGLE = ((500, 280), (640, 380))
# Reaches past the selection's right edge: cut off in the copy.
WIDE_RECTANGLE = ((600, 470), (780, 530))
UNDONE_LINE = ((320, 500), (460, 500))
TEXT_AT = (330, 445)
TEXT = "Grüße ä€"

CHANGED_BOXES = [(315, 275, 425, 325), (315, 345, 465, 356), (315, 410, 465, 431),
                 (495, 275, 645, 385), (595, 465, 785, 535), (325, 440, 480, 485)]




def blue_in(box):
    return lambda shot: shot.count(box, lambda rgb: rgb == BLUE) > 30


def typed_in_red(shot):
    """Letters, not only the caret, right of where the text entry began."""
    return shot.count((345, 440, 400, 475), lambda rgb: rgb == RED) > 20


def choose_and_drag(desktop, session, buttons, tool, stroke):
    session.click(buttons[tool])
    desktop.drag(*stroke)


def type_text_at(desktop, point, text):
    """With the Text tool chosen: a click starts the entry, then the keys."""
    desktop.click(*point)
    desktop.type_text(text)


def enter_text_at(session, overlay, point, text, rgb):
    """Like type_text_at, for text that the test bed's keymap lacks (see post_chars)."""
    session.desktop.click(*point)
    wait_caret(session, point, rgb)
    post_chars(session.desktop, overlay, text)


def test_each_tool_undo_colour_and_text_reach_the_clipboard(desktop, session):
    overlay = session.start_by_hotkey()
    buttons = session.select(*SELECTION)
    swatch = buttons["Farbe"]
    swatch_centre = ((swatch[0] + swatch[2]) // 2, (swatch[1] + swatch[3]) // 2)

    # The colour dialog cancelled: the colour stays red.
    session.click(buttons["Farbe"])
    dialog = colour_dialog(desktop, session.app.pid)
    desktop.snaptool("settext", dialog["edits"][706], "0")
    desktop.press_button(dialog["hwnd"], IDCANCEL)
    assert desktop.wait_window_gone(dialog["hwnd"])

    choose_and_drag(desktop, session, buttons, "Stift", PEN)
    choose_and_drag(desktop, session, buttons, "Linie", LINE)
    shot = session.wait_screen("red-strokes", lambda s: s.pixel(390, 350) == RED)
    assert shot.pixel(*swatch_centre) == RED, "cancelling kept the colour"

    session.click(buttons["Farbe"])
    pick_colour(desktop, colour_dialog(desktop, session.app.pid), BLUE)
    session.wait_screen("blue-swatch", lambda s: s.pixel(*swatch_centre) == BLUE)

    choose_and_drag(desktop, session, buttons, "Pfeil", ARROW)
    choose_and_drag(desktop, session, buttons, "Rechteck", RECTANGLE)
    desktop.drag(*WIDE_RECTANGLE)
    choose_and_drag(desktop, session, buttons, "Linie", UNDONE_LINE)
    session.wait_screen("before-undo", lambda s: s.pixel(390, 500) == BLUE)
    session.click(buttons["Rückgängig"])
    session.wait_screen("after-undo", lambda s: s.pixel(390, 500) == pattern_at(390, 500))

    session.click(buttons["Text"])
    enter_text_at(session, overlay, TEXT_AT, TEXT, BLUE)
    # The typed text shows while it is being entered, before Enter.
    session.wait_screen("typing", blue_in((395, 440, 440, 485)))
    desktop.key("Return")
    shot = session.wait_screen("annotated", blue_in((395, 440, 440, 485)))
    assert shot.pixel(390, 350) == RED and shot.pixel(390, 420) == BLUE
    assert shot.pixel(760, 470) == BLUE, "on the overlay a stroke shows past the selection"

    desktop.key("ctrl+c")
    session.wait_closed(overlay)
    header, picture = session.clipboard_picture("annotated-copy")
    assert (picture.width, picture.height) == (400, 300)
    origin = SELECTION[:2]

    def at(x, y):
        return picture.pixel(x - origin[0], y - origin[1])[:3]

    assert count_colour(picture, origin, CHANGED_BOXES[0], RED) > 50, "pen stroke"
    assert at(390, 350) == RED, "line"
    assert at(390, 420) == BLUE and at(452, 423) == BLUE, "arrow with its filled head"
    assert at(500, 330) == BLUE and at(570, 280) == BLUE, "rectangle outline"
    assert at(570, 330) == pattern_at(570, 330), "hollow rectangle"
    assert at(650, 470) == BLUE and at(699, 470) == BLUE and at(600, 500) == BLUE
    assert at(699, 500) == pattern_at(699, 500), "the wide rectangle's right side is cut off"
    assert count_colour(picture, origin, CHANGED_BOXES[5], BLUE) > 60, "the typed text"
    # Everything else, the undone line included, is the screen as it was.
    bad = [m for m in picture.mismatches(pattern_at, origin)
           if not any(inside((m[0] + origin[0], m[1] + origin[1]), box)
                      for box in CHANGED_BOXES)]
    assert not bad, f"{len(bad)} pixels differ outside the annotations, first {bad[:3]}"


def test_typed_umlauts_arrive(desktop, session):
    """ä, ö, ü, ß and € typed on the keyboard arrive as WM_CHAR and are drawn: "äöü" has the
    ink of "aou" and the dots above it, "ß€" two glyphs side by side."""
    overlay = session.start_by_hotkey()
    buttons = session.select(*SELECTION)
    session.click(buttons["Farbe"])
    pick_colour(desktop, colour_dialog(desktop, session.app.pid), BLUE)
    session.click(buttons["Text"])
    for point, text in [((320, 270), "aou"), ((320, 330), "äöü"), ((320, 390), "ß€")]:
        enter_text_at(session, overlay, point, text, BLUE)
        desktop.key("Return")
    desktop.key("ctrl+c")
    session.wait_closed(overlay)
    _, picture = session.clipboard_picture("umlauts")

    def mask(x0, y0):
        return [[picture.pixel(x0 - 300 + x, y0 - 250 + y)[:3] == BLUE for x in range(60)]
                for y in range(28)]

    plain, umlauts = mask(320, 270), mask(320, 330)
    # The x-height: the first row where "aou" has ink.
    top = next(y for y, row in enumerate(plain) if any(row))
    body = sum(sum(row) for row in plain[top:])
    assert abs(sum(sum(row) for row in umlauts[top:]) - body) <= body // 5, "a, o and u"
    dots = sum(sum(row) for row in umlauts[:top])
    assert dots >= 6, "the dots above them arrived"
    columns = [x for x in range(320, 380) for y in range(390, 418)
               if picture.pixel(x - 300, y - 250)[:3] == BLUE]
    assert columns and max(columns) - min(columns) >= 20, "ß and € drawn side by side"


def test_escape_during_text_entry_discards_it_and_ends_the_session(desktop, session):
    desktop.set_clipboard_text("unberührt")
    overlay = session.start_by_hotkey()
    buttons = session.select(*SELECTION)
    session.click(buttons["Text"])
    type_text_at(desktop, TEXT_AT, "weg")
    session.wait_screen("typing", typed_in_red)
    desktop.key("Escape")
    session.wait_closed(overlay)
    assert desktop.clipboard_text() == "unberührt"
    assert session.app.running
    # The next session starts with no annotations.
    overlay = session.start_by_hotkey()
    session.select(*SELECTION)
    shot = desktop.screenshot("next-session")
    assert shot.count((325, 440, 400, 475), lambda rgb: rgb == RED) == 0
    desktop.key("Escape")
    session.wait_closed(overlay)


def test_ctrl_c_during_text_entry_copies_and_ends_cleanly(desktop, session):
    overlay = session.start_by_hotkey()
    buttons = session.select(*SELECTION)
    choose_and_drag(desktop, session, buttons, "Linie", LINE)
    session.click(buttons["Text"])
    type_text_at(desktop, TEXT_AT, "abc")
    session.wait_screen("typing", typed_in_red)
    desktop.key("ctrl+c")
    session.wait_closed(overlay)
    _, picture = session.clipboard_picture("ctrl-c-in-text")
    assert picture.pixel(390 - 300, 350 - 250)[:3] == RED
    # Nothing hangs: the program answers the hotkey again.
    overlay = session.start_by_hotkey()
    desktop.key("Escape")
    session.wait_closed(overlay)
    assert session.app.running
