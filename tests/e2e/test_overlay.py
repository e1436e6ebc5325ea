"""The overlay editor through the real UI: resizing a selection past its opposite edge (nothing
can be exported then), resizing and moving it back, and a session that opens with the
remembered selection."""

import re
import time

import pytest

from capture_support import (PINK, Session, darkened, near, pattern_at,  # noqa: F401
                             scenery, toolbar, toolbar_shown)



def copied_region_matches(session, name, rect):
    left, top, right, bottom = rect
    header, picture = session.clipboard_picture(name)
    assert (header["width"], header["height"]) == (right - left, bottom - top)
    bad = picture.mismatches(pattern_at, (left, top))
    assert not bad, f"{len(bad)} pixels differ, first {bad[:3]}"


def test_resize_past_the_edge_exports_nothing_until_it_is_undone(desktop, snapwren, scenery):
    desktop.wait_tray_icons(1)
    session = Session(desktop, snapwren)
    desktop.set_clipboard_text("unberührt")
    overlay = session.start_by_hotkey()
    session.select(300, 250, 600, 450)

    # The left handle dragged 50 pixels past the right edge: a width of -50.
    desktop.drag((300, 350), (650, 350))
    white = (255, 255, 255)
    # The toolbar keeps its place (it follows the right edge); the left handle has moved.
    shot = session.wait_screen("inverted", lambda s: s.pixel(650, 350) == white)
    assert toolbar_shown(shot, toolbar((650, 250, 600, 450)))
    assert near(shot.pixel(450, 350), darkened(pattern_at(450, 350))), "no clear area"
    assert near(shot.pixel(606, 320), darkened(pattern_at(606, 320)))
    assert shot.pixel(600, 350) != PINK and shot.pixel(599, 300) != PINK, "no border"
    assert shot.pixel(300, 350) != white, "the handle left its old place"
    assert shot.count((600, 226, 700, 245), lambda rgb: rgb == (255, 255, 255)) == 0, \
        "no size label"

    desktop.key("ctrl+c")
    desktop.key("ctrl+s")
    desktop.key("ctrl+d")
    time.sleep(1.5)
    assert session.overlays(), "the editor stays open"
    assert not desktop.windows(cls="#32770", pid=snapwren.pid, visible=True), "no save dialog"
    assert desktop.clipboard_text() == "unberührt"

    # The same handle back to x = 350, then a move by (-50, -50) from inside.
    desktop.drag((650, 350), (350, 350))
    session.wait_screen("resized", lambda s: s.pixel(350, 350) == white)
    desktop.drag((450, 350), (400, 300))
    moved = toolbar((300, 200, 550, 400))
    shot = session.wait_screen("moved", lambda s: toolbar_shown(s, moved))
    assert shot.pixel(300, 260) == PINK
    assert shot.pixel(450, 300) == pattern_at(450, 300)
    # Each drag step repainted only what it changed; a repaint of the whole overlay, as
    # uncovering it asks for, shows exactly the same screen.
    desktop.snaptool("redraw", overlay["hwnd"])
    time.sleep(0.5)
    again = desktop.screenshot("repainted")
    if again.rgb_bytes() != shot.rgb_bytes():
        differing = [(x, y) for x, y, rgb in again.pixels((0, 0, again.width, again.height))
                     if rgb != shot.pixel(x, y)]
        pytest.fail(f"{len(differing)} pixels differ, first {differing[:3]}")

    desktop.key("ctrl+c")
    session.wait_closed(overlay)
    copied_region_matches(session, "moved", (300, 200, 550, 400))


def test_remembered_selection_opens_the_next_session(desktop, scenery):
    desktop.prefix.write_settings("[General]\nRememberSelection=1\n")
    app = desktop.start_snapwren()
    desktop.wait_tray_icons(1)
    session = Session(desktop, app)

    overlay = session.start_by_hotkey()
    session.select(320, 260, 620, 460)
    text = desktop.prefix.read_settings().decode("latin-1")
    assert re.search(r"Left=320\r\nTop=260\r\nRight=620\r\nBottom=460\r\n", text), text
    desktop.key("Escape")
    session.wait_closed(overlay)

    overlay = session.start_by_hotkey()
    shot = session.wait_screen("remembered", lambda s: toolbar_shown(s, toolbar((320, 260, 620,
                                                                                460))))
    assert shot.pixel(470, 360) == pattern_at(470, 360)
    assert near(shot.pixel(700, 360), darkened(pattern_at(700, 360)))
    desktop.key("ctrl+c")
    session.wait_closed(overlay)
    copied_region_matches(session, "remembered", (320, 260, 620, 460))
    app.stop()
