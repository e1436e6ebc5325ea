"""Steps shared by the annotation tests: the colour dialog, and where annotations may differ
from the test picture in a copied image."""

import pytest

from capture_support import Session, scenery  # noqa: F401
from conftest import poll

# Wine's colour dialog, opened full: the Red, Green and Blue edits.
RED_EDIT, GREEN_EDIT, BLUE_EDIT = 706, 707, 708
IDOK, IDCANCEL = 1, 2


@pytest.fixture
def session(desktop, snapwren, scenery):
    """An annotation session's start: the test picture up and Snapwren in the tray."""
    desktop.wait_tray_icons(1)
    return Session(desktop, snapwren)


def colour_dialog(desktop, pid, timeout=5.0):
    """The open colour dialog of the process: {hwnd, edits: {id: hwnd}}."""
    def find():
        for window in desktop.windows(cls="#32770", pid=pid, visible=True):
            edits = {child["id"]: child["hwnd"]
                     for child in desktop.snaptool_json("children", window["hwnd"])
                     if child["class"] == "Edit"}
            if {RED_EDIT, GREEN_EDIT, BLUE_EDIT} <= edits.keys():
                return {"hwnd": window["hwnd"], "edits": edits}
        return None
    return poll(find, timeout, "the colour dialog")


def pick_colour(desktop, dialog, rgb):
    for edit, value in zip((RED_EDIT, GREEN_EDIT, BLUE_EDIT), rgb):
        desktop.snaptool("settext", dialog["edits"][edit], value)
    desktop.press_button(dialog["hwnd"], IDOK)
    assert desktop.wait_window_gone(dialog["hwnd"]), "the colour dialog stayed open"


def inside(point, box, margin=0):
    x, y = point
    left, top, right, bottom = box
    return left - margin <= x < right + margin and top - margin <= y < bottom + margin


def count_colour(picture, origin, box, rgb):
    """Pixels of exactly this colour in box (screen coordinates) of a copied picture whose
    pixel (0, 0) is the screen point origin."""
    ox, oy = origin
    left, top, right, bottom = box
    return sum(1 for y in range(top, bottom) for x in range(left, right)
               if picture.pixel(x - ox, y - oy)[:3] == tuple(rgb))






def post_chars(desktop, overlay, text):
    """The WM_CHAR messages that a keyboard with these characters sends, posted to the overlay.

    Wine differs here: xdotool types a character missing from the test bed's US keymap (ä, ß,
    €) by binding it to a spare keycode for one key press and unbinding it at once, and Wine
    reads the keymap only when it takes the key from the X queue. The text entry takes one
    message per repaint of the whole overlay, so it gets there after the unbinding and the
    character is lost (keys bound beforehand with xmodmap give WM_KEYDOWN without WM_CHAR).
    On Windows the layout turns these keys into WM_CHAR with the character, which is what the
    program reads; so that is what reaches it here."""
    units = text.encode("utf-16-le")
    codes = [f"{int.from_bytes(units[i:i + 2], 'little'):x}" for i in range(0, len(units), 2)]
    exe = desktop.prefix.test_env.build_dir / "tests" / "annotationtool.exe"
    desktop.prefix.run("wine", exe, "chars", overlay["hwnd"], *codes)


def wait_caret(session, point, rgb):
    """Waits until the text entry's caret shows at point: the entry has taken the click, and
    messages posted now come after it."""
    x, y = point
    # The caret blinks, and it is drawn over each fresh frame a moment after the frame shows:
    # many screenshots miss it, and a busy machine makes the frames slow.
    session.wait_screen("caret", lambda shot: shot.count((x, y, x + 8, y + 26),
                                                         lambda got: got == tuple(rgb)) >= 8,
                        timeout=15.0)
