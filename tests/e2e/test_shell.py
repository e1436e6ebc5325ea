"""Snapwren's shell as a user meets it: the flower in the tray with its tooltip and menu, the
single instance, the global hotkey, quitting, and the icon's return after the shell restarts."""

from conftest import CTRL_SHIFT, IDOK, OVERLAY

TAKEN_AT_START = ("Hotkey konnte nicht registriert werden.\n"
                  "Möglicherweise wird er bereits von einer anderen Anwendung verwendet.")


def test_tray_icon_single_instance_the_shells_restart_and_quit(desktop, snapwren):
    icon = desktop.tray_icon()
    desktop.move(*icon)
    desktop.balloon("Snapwren")  # the icon's tooltip
    second = desktop.start_snapwren(wait=False)
    box = desktop.message_box(title="Snapwren")
    assert box["pid"] != snapwren.pid
    assert (box["text"], box["buttons"]) == ("Snapwren läuft bereits!", [IDOK])
    desktop.answer(box, IDOK)
    assert second.popen.wait(10) == 0 and snapwren.popen.poll() is None

    # The shell restarts without the icon and says so to every window: the icon is back.
    desktop.tool("tray-delete", snapwren.tray["hwnd"], 1)
    desktop.tray_icon(False)
    desktop.tool("broadcast", "TaskbarCreated")
    icon = desktop.tray_icon()
    desktop.click(*icon, repeat=2)
    overlay = snapwren.overlay()
    assert overlay["rect"] == [0, 0, 1600, 900] and overlay["exstyle"] & 0x88 == 0x88, overlay
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"]) and desktop.window(0, cls=OVERLAY) is None

    assert not desktop.hotkey_free(CTRL_SHIFT, ord("S")), "Ctrl+Shift+S by default"
    snapwren.choose(icon, "Beenden")
    assert snapwren.popen.wait(10) == 0
    assert desktop.hotkey_free(CTRL_SHIFT, ord("S")), "the hotkey is released"
    desktop.tray_icon(False)


def test_hotkey_of_the_file_taken_elsewhere_warns_and_the_tray_still_works(desktop):
    desktop.prefix.write_settings("[Hotkeys]\nModifiers=6\nKey=80\n")
    assert desktop.hotkey_free(CTRL_SHIFT, ord("P"), hold=True)
    app = desktop.start_snapwren(wait=False)
    box = desktop.message_box(title="Snapwren")
    assert box["text"] == TAKEN_AT_START
    desktop.answer(box, IDOK)
    app.wait_ready()
    assert box["pid"] == app.pid and desktop.hotkey_free(CTRL_SHIFT, ord("S"))
    icon = desktop.tray_icon()
    app.choose(icon, "Screenshot")
    overlay = app.overlay()
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"]) and app.popen.poll() is None



def test_delayed_capture_counts_down_in_the_tooltip_and_the_hotkey_captures_at_once(desktop):
    desktop.prefix.write_settings("[General]\nCaptureDelay=4\n")
    app = desktop.start_snapwren()
    icon = desktop.tray_icon()
    app.choose(icon, "Screenshot in 3 Sekunden")  # the place; its text says 4 here
    desktop.move(*icon)
    desktop.balloon(lambda t: t in ("Screenshot in 3 Sekunden", "Screenshot in 2 Sekunden"))
    # It can only come late, never early: none within the first two of the four seconds.
    assert desktop.window(2, cls=OVERLAY) is None
    overlay = app.overlay(15)
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"])
    desktop.move(*icon)
    desktop.balloon("Snapwren")  # the countdown is over

    app.choose(icon, "Screenshot in 3 Sekunden")
    desktop.key("ctrl+shift+s")  # at once, and the countdown ends
    overlay = app.overlay(3)
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"])
    assert desktop.window(6, cls=OVERLAY) is None, "no capture after the ended countdown"
