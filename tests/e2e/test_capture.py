"""A capture session as a user meets it: the hotkey, the tray icon's double click and the menu's
"Screenshot" freeze the screen into the overlay; a drag selects; Ctrl+C and the toolbar's Copy
put exactly that region on the clipboard, Save writes it as a PNG file; Esc, a right click,
Ctrl+X and "Schließen" leave everything as it was.

The scenery is capturetool's test picture: a window of known pixels at a known place, so that
every copied or saved pixel can be checked against what the screen showed."""

import subprocess
import time

import pytest

from capture_support import (PANEL, PINK, Session, darkened, decode_with_imagemagick, near,
                             pattern_at, scenery, start_capturetool,  # noqa: F401
                             window_screenshot)
from conftest import center, winpath

IDOK, IDCANCEL, IDYES = 1, 2, 6


@pytest.fixture
def session(desktop, snapwren, scenery):
    desktop.wait_tray_icons(1)
    return Session(desktop, snapwren)


def assert_region_copied(session, name, rect):
    left, top, right, bottom = rect
    header, picture = session.clipboard_picture(name)
    assert (header["width"], header["height"], header["bitcount"], header["compression"],
            header["header_size"]) == (right - left, bottom - top, 32, 0, 40)
    assert header["size"] >= (right - left) * (bottom - top) * 4 + 40
    bad = picture.mismatches(pattern_at, (left, top))
    assert not bad, f"{len(bad)} pixels differ from the screen, first {bad[:3]}"
    return picture


class TestCopy:
    def test_hotkey_drag_and_ctrl_c_copy_exactly_the_region(self, desktop, session):
        desktop.set_clipboard_text("vorher")
        overlay = session.start_by_hotkey()
        assert overlay["rect"] == [0, 0, 1600, 900], "the overlay covers the whole screen"
        frozen = desktop.screenshot("frozen")
        for x, y in [(300, 300), (950, 600)]:
            assert near(frozen.pixel(x, y), darkened(pattern_at(x, y))), (x, y)

        # A second press of the hotkey while the overlay is open is refused.
        desktop.key("ctrl+shift+s")
        time.sleep(1.0)
        assert [w["hwnd"] for w in session.overlays()] == [overlay["hwnd"]]

        selection = (300, 250, 600, 450)
        buttons = session.select(*selection)
        shot = desktop.screenshot("selection")
        assert shot.pixel(450, 350) == pattern_at(450, 350), "inside the selection is clear"
        assert near(shot.pixel(700, 350), darkened(pattern_at(700, 350))), "outside is dark"
        assert shot.pixel(300, 300) == PINK and shot.pixel(599, 300) == PINK, "pink border"
        assert shot.pixel(buttons["Stift"][0] - 1, buttons["Stift"][1] + 14) == PANEL
        assert shot.count(buttons["Kopieren"], lambda rgb: min(rgb) > 200) > 10, "copy icon"
        assert shot.count((305, 230, 380, 248), lambda rgb: rgb == (255, 255, 255)) > 20, \
            "size label above the selection"

        desktop.key("ctrl+c")
        session.wait_closed(overlay)
        session.balloon("Bild ist in der Zwischenablage.")
        assert_region_copied(session, "ctrl-c", selection)

        # What another program gets when it pastes through the X clipboard: a BMP that
        # ImageMagick decodes to the same, fully opaque pixels.
        bmp = subprocess.run(["xclip", "-selection", "clipboard", "-t", "image/bmp", "-o"],
                             env=desktop.prefix.env, capture_output=True, check=True,
                             timeout=30).stdout
        pasted = decode_with_imagemagick(bmp, "bmp")
        assert (pasted.width, pasted.height) == (300, 200)
        bad = pasted.mismatches(pattern_at, (300, 250))
        assert not bad, f"{len(bad)} pasted pixels differ, first {bad[:3]}"

    def test_toolbar_copy_and_save_buttons(self, desktop, session, tmp_path):
        overlay = session.start_by_hotkey()
        buttons = session.select(250, 200, 520, 380)
        session.click(buttons["Kopieren"])
        session.wait_closed(overlay)
        session.balloon("Bild ist in der Zwischenablage.")
        assert_region_copied(session, "copy-button", (250, 200, 520, 380))

        desktop.set_clipboard_text("unberührt")
        overlay = session.start_by_hotkey()
        selection = (410, 330, 710, 530)
        buttons = session.select(*selection)
        session.click(buttons["Speichern"])
        dialog = session.save_dialog()
        (shown,) = [w for w in desktop.windows(cls="#32770", pid=session.app.pid, visible=True)
                    if w["hwnd"] == dialog["hwnd"]]
        shot = window_screenshot(desktop, "save-dialog")
        assert shot.count(shown["rect"], lambda rgb: min(rgb) > 180) > 20000, "dialog painted"
        desktop.press_button(dialog["hwnd"], IDCANCEL)
        assert desktop.wait_window_gone(dialog["hwnd"])
        # Cancel returns to the editor as it was: same selection, toolbar still there.
        shot = desktop.screenshot("after-cancel")
        assert session.overlays() and session.overlays()[0]["visible"]
        assert shot.pixel(410, 400) == PINK
        assert shot.pixel(560, 430) == pattern_at(560, 430)

        session.click(buttons["Speichern"])
        dialog = session.save_dialog()
        target = tmp_path / "bild"
        session.save_as(dialog, target)
        session.wait_closed(overlay)
        session.balloon("Screenshot gespeichert!")
        saved = target.with_suffix(".png")
        assert saved.exists(), "the dialog appends .png to a name without extension"
        picture = decode_with_imagemagick(saved)
        assert (picture.width, picture.height) == (300, 200)
        bad = picture.mismatches(pattern_at, (410, 330))
        assert not bad, f"{len(bad)} saved pixels differ, first {bad[:3]}"
        assert desktop.clipboard_text() == "unberührt", "saving leaves the clipboard alone"


class TestSaveFailure:
    def test_button_reports_it_and_ctrl_s_stays_silent(self, desktop, session, tmp_path):
        # Another program holds the file open without sharing, so writing it fails.
        target = tmp_path / "gesperrt.png"
        start_capturetool(desktop, "lock", winpath(target))
        overlay = session.start_by_hotkey()
        selection = (300, 200, 500, 350)
        buttons = session.select(*selection)

        session.click(buttons["Speichern"])
        session.save_as(session.save_dialog(), target)
        # The file exists (the lock made it): the dialog asks before overwriting.
        prompt = desktop.message_box(pid=session.app.pid)
        assert IDYES in [button["id"] for button in prompt["buttons"]], prompt
        desktop.press_button(prompt, IDYES)
        box = desktop.message_box(pid=session.app.pid, title="Snapwren")
        assert (box["caption"], box["text"], box["icon"]) == (
            "Snapwren", "Fehler beim Speichern!", "error")
        (shown,) = [w for w in desktop.windows(cls="#32770", pid=session.app.pid, visible=True)
                    if w["hwnd"] == box["hwnd"]]
        shot = window_screenshot(desktop, "save-failed")
        assert shot.count(shown["rect"], lambda rgb: min(rgb) > 180) > 10000, \
            "the message box is painted"
        desktop.press_button(box, IDOK)
        assert desktop.wait_window_gone(box["hwnd"])
        assert session.overlays(), "the editor stays open to try again"

        desktop.key("ctrl+s")
        session.save_as(session.save_dialog(), target)
        prompt = desktop.message_box(pid=session.app.pid)
        desktop.press_button(prompt, IDYES)
        time.sleep(1.5)
        assert not desktop.windows(cls="#32770", pid=session.app.pid, visible=True), \
            "Ctrl+S fails without a message"
        shot = desktop.screenshot("after-silent-failure")
        assert shot.pixel(300, 300) == PINK, "selection unchanged"
        assert shot.pixel(400, 300) == pattern_at(400, 300)

        # The editor still works: a copy goes through.
        desktop.key("ctrl+c")
        session.wait_closed(overlay)
        assert_region_copied(session, "after-failure", selection)


class TestCancel:
    def test_esc_right_click_close_button_and_ctrl_x_touch_nothing(self, desktop, session):
        desktop.set_clipboard_text("unberührt")

        overlay = session.start_by_hotkey()
        desktop.key("Escape")  # before any selection
        session.wait_closed(overlay)

        overlay = session.start_by_hotkey()
        session.select(300, 200, 500, 400)
        desktop.right_click(400, 300)
        session.wait_closed(overlay)

        overlay = session.start_by_hotkey()
        buttons = session.select(300, 200, 500, 400)
        desktop.move(*center(buttons["Schließen"]))
        shot = desktop.screenshot("close-hovered")
        assert shot.count(buttons["Schließen"], lambda rgb: near(rgb, PINK, 8)) > 10, \
            "the hovered icon turns pink"
        session.click(buttons["Schließen"])
        session.wait_closed(overlay)

        overlay = session.start_by_hotkey()
        session.select(300, 200, 500, 400)
        desktop.key("ctrl+x")
        session.wait_closed(overlay)

        assert desktop.clipboard_text() == "unberührt"
        assert "CF_DIB" not in desktop.clipboard_formats()
        assert "Bild ist in der Zwischenablage." not in session.balloon_texts()
        assert session.app.running


class TestTriggers:
    def test_tray_double_click_and_menu_entry_start_a_session(self, desktop, session):
        (icon,) = desktop.wait_tray_icons(1)
        desktop.double_click(*icon)
        overlay = session.wait_open()
        desktop.screenshot("double-click")
        desktop.key("Escape")
        session.wait_closed(overlay)

        items = session.app.open_tray_menu(icon)
        session.app.choose(items, "Screenshot")
        overlay = session.wait_open()
        desktop.key("Escape")
        session.wait_closed(overlay)
        assert session.app.running


class TestPointer:
    # Wine differs from Windows here: GetCursorInfo reports the foreground thread's cursor, and
    # cursor handles only work in the process that loaded them (GetIconInfo fails with 1402 for
    # another program's cursor). So under Wine the pointer gets into the picture only while it
    # shows one of Snapwren's own cursors: here, over Snapwren's tray menu when "Screenshot" is
    # clicked. On Windows every program's cursor is drawn.
    def test_capture_cursor_puts_the_pointer_into_the_picture(self, desktop, scenery):
        desktop.prefix.write_settings("[General]\nCaptureCursor=1\n")
        app = desktop.start_snapwren()
        (icon,) = desktop.wait_tray_icons(1)
        session = Session(desktop, app)

        items = app.open_tray_menu(icon)
        item = next(i for i in items if i["text"] == "Screenshot")
        pointer = center(item["rect"])
        desktop.move(*pointer)
        time.sleep(0.5)
        # Xvfb screenshots never show the pointer: this is the screen without it.
        before = desktop.screenshot("menu-before")
        desktop.click(*pointer)
        overlay = session.wait_open()

        px, py = pointer
        region = (px - 60, py - 30, px + 60, py + 40)
        session.select(*region)
        desktop.key("ctrl+c")
        session.wait_closed(overlay)
        # Whether Wine has taken the clicked menu off the screen by the time of the capture is
        # a race, so a pixel counts as unchanged when it matches the screen with the menu or
        # the screen after the session, without it.
        after = desktop.screenshot("after")
        _, picture = session.clipboard_picture("with-pointer")

        near_pointer, elsewhere = 0, 0
        for y in range(picture.height):
            for x in range(picture.width):
                sx, sy = region[0] + x, region[1] + y
                if picture.pixel(x, y)[:3] in (before.pixel(sx, sy), after.pixel(sx, sy)):
                    continue
                if px - 1 <= sx < px + 32 and py - 1 <= sy < py + 32:
                    near_pointer += 1
                else:
                    elsewhere += 1
        assert near_pointer > 30, "the arrow is drawn with its hotspot on the pointer"
        assert elsewhere <= near_pointer // 10, (near_pointer, elsewhere)
        app.stop()
