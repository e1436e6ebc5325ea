"""The settings window as the tray menu opens it, with keys from the real keyboard: the recorded
combination is saved and becomes the hotkey at once, or is reported as taken; at 144 and 192 DPI
the window and its rows are 1.5 and 2 times as large and answer there. What the window does with
each click and key is checked in the unit tests."""

import pytest

from conftest import CTRL_SHIFT, IDOK, OVERLAY, PINK, poll, scale

HOTKEYS_TAB, FIELD, SAVE = (197, 37), (230, 117), (295, 377)
FIELD_RECT = (30, 100, 430, 135)  # pink while it records
TAKEN = "Hotkey konnte nicht registriert werden.\nMöglicherweise wird er bereits verwendet."


def ini(key):
    return ("[General]\r\nAutoCopyLink=1\r\nCaptureCursor=0\r\nRememberSelection=0\r\n"
            "Language=0\r\nSaveHistory=1\r\nCaptureDelay=3\r\n"
            "\r\n[Selection]\r\nLeft=0\r\nTop=0\r\nRight=0\r\nBottom=0\r\n\r\n"
            f"[Hotkeys]\r\nModifiers=6\r\nKey={ord(key)}\r\n"
            "\r\n[Upload]\r\nUploadUrl=https://localhost/upload.php\r\nUploadToken=\r\n").encode()


def record(desktop, app, keys, hold=None, dpi=96):
    """Opens the window from the tray menu, records `keys` and presses Save."""
    icon = desktop.tray_icon()
    app.choose(icon, "Einstellungen")
    window = desktop.window(cls="SnapwrenSettings", visible=True)
    assert window and window["title"] == "Einstellungen"
    left, top, right, bottom = window["rect"]
    assert (right - left, bottom - top) == (scale(470, dpi), scale(445, dpi))
    left, top = window["client"]
    # The address field's edit control sits inside its frame, at the DPI's size and place.
    edits = {c["id"]: c for c in desktop.tool("children", window["hwnd"]) if c["class"] == "Edit"}
    assert edits[1007]["rect"] == [left + scale(210, dpi) + scale(6, dpi),
                                   top + scale(262, dpi) + scale(4, dpi),
                                   left + scale(430, dpi) - scale(6, dpi),
                                   top + scale(287, dpi) - scale(4, dpi)]
    desktop.screenshot(f"settings-general-{dpi}")
    for x, y in (HOTKEYS_TAB, FIELD):
        desktop.click(left + scale(x, dpi), top + scale(y, dpi))
    field = [origin + scale(v, dpi) for origin, v in zip((left, top) * 2, FIELD_RECT)]
    recording = lambda shot: shot.count(field, PINK.__eq__)  # noqa: E731
    # Snapwren reads keys and clicks when it gets to them: only what it has drawn shows that
    # they have arrived.
    desktop.wait_screen("recording", recording)
    desktop.key(keys)
    desktop.wait_screen(f"recorded-{keys}", lambda shot: not recording(shot))
    if hold:  # only now: a combination held elsewhere never reaches the window
        assert desktop.hotkey_free(CTRL_SHIFT, ord(hold), hold=True)
    desktop.click(left + scale(SAVE[0], dpi), top + scale(SAVE[1], dpi))
    return window


@pytest.mark.parametrize("dpi", [96, 144, 192])
def test_recorded_combinations_are_saved_become_the_hotkey_or_are_reported_taken(desktop,
                                                                                  snapwren, dpi):
    window = record(desktop, snapwren, "ctrl+shift+p", dpi=dpi)
    assert desktop.gone(window["hwnd"]) and desktop.prefix.settings.read_bytes() == ini("P")
    # The window is gone before Snapwren handles the change that it posted on its way out.
    poll(lambda: desktop.hotkey_free(CTRL_SHIFT, ord("S")), 5, "the old hotkey's release")
    desktop.key("ctrl+shift+p")
    overlay = snapwren.overlay()
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"])
    desktop.key("ctrl+shift+s")
    assert desktop.window(1.5, cls=OVERLAY) is None

    window = record(desktop, snapwren, "ctrl+shift+q", hold="Q", dpi=dpi)
    warning = desktop.message_box(pid=snapwren.pid, title="Snapwren")
    assert warning["text"] == TAKEN
    desktop.answer(warning, IDOK)
    assert desktop.gone(window["hwnd"]) and desktop.prefix.settings.read_bytes() == ini("Q")
    assert desktop.hotkey_free(CTRL_SHIFT, ord("P")), "no hotkey until the next change"
