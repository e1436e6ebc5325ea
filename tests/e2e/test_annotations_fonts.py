"""Text annotations where the font family "Segoe UI" does not exist, as on some Windows
installations: this module's prefix lacks the test bed's replacement for it (Wine has no such
font of its own), and the text is drawn in the generic sans-serif family instead, both while it
is typed and when it is copied."""

import pytest

from annotation_support import scenery, session, wait_caret  # noqa: F401

SELECTION = (300, 250, 700, 550)
RED = (255, 0, 0)
TEXT_AT = (330, 300)
TEXT_BOX = (325, 295, 450, 330)


@pytest.fixture(scope="module", autouse=True)
def without_segoe_ui(wine_prefix):
    wine_prefix.regedit("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n"
                        "\"Segoe UI\"=-\n")
    # Registry changes reach the prefix's processes through a fresh server.
    wine_prefix.kill_server()




def red_in_text_box(shot):
    return shot.count(TEXT_BOX, lambda rgb: rgb == RED) > 40


def test_text_falls_back_to_the_generic_sans_serif_family(desktop, session):
    overlay = session.start_by_hotkey()
    buttons = session.select(*SELECTION)
    session.click(buttons["Text"])
    desktop.click(*TEXT_AT)
    wait_caret(session, TEXT_AT, RED)
    desktop.type_text("Hallo")
    session.wait_screen("typing", red_in_text_box)
    desktop.key("Return")
    desktop.key("ctrl+c")
    session.wait_closed(overlay)
    _, picture = session.clipboard_picture("fallback-copy")
    left, top = SELECTION[:2]
    x0, y0, x1, y1 = TEXT_BOX
    red = sum(1 for y in range(y0, y1) for x in range(x0, x1)
              if picture.pixel(x - left, y - top)[:3] == RED)
    assert red > 40, "the copied text is drawn"
