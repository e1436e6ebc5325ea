"""Snapwren's shell as a user meets it: the flower in the tray with its tooltip and menu, the
single instance, the global hotkey, quitting, and the icon's return after the shell restarts."""

from conftest import CTRL_SHIFT, IDOK, OVERLAY

MENU = [("Screenshot", 1), ("Einstellungen", 3), ("Nach Updates suchen...", 4), ("", 0),
        ("Beenden", 2)]
TAKEN_AT_START = ("Hotkey konnte nicht registriert werden.\n"
                  "Möglicherweise wird er bereits von einer anderen Anwendung verwendet.")


def test_tray_icon_menu_single_instance_and_quit(desktop, snapwren):
    (icon,) = desktop.wait_tray_icons(1)
    desktop.move(*icon)
    desktop.balloon("Snapwren")  # the icon's tooltip
    items = snapwren.choose(icon, None)
    assert [(i["text"], i["id"]) for i in items] == MENU and items[3]["separator"]
    assert not any(i["marked"] for i in items)
    desktop.click(800, 300)  # dismissed without a choice

    second = desktop.start_snapwren(wait=False)
    box = desktop.message_box(title="Snapwren")
    assert box["pid"] != snapwren.pid
    assert (box["text"], box["buttons"]) == ("Snapwren läuft bereits!", [IDOK])
    desktop.answer(box, IDOK)
    assert second.popen.wait(10) == 0 and snapwren.popen.poll() is None

    assert not desktop.hotkey_free(CTRL_SHIFT, ord("S")), "Ctrl+Shift+S by default"
    snapwren.choose(icon, "Beenden")
    assert snapwren.popen.wait(10) == 0
    assert desktop.hotkey_free(CTRL_SHIFT, ord("S")), "the hotkey is released"
    desktop.wait_tray_icons(0)


def test_hotkey_of_the_file_taken_elsewhere_warns_and_the_tray_still_works(desktop):
    desktop.prefix.write_settings("[General]\nLanguage=1\n[Hotkeys]\nModifiers=6\nKey=80\n")
    desktop.hold_hotkey(CTRL_SHIFT, ord("P"))
    app = desktop.start_snapwren(wait=False)
    box = desktop.message_box(title="Snapwren")
    assert box["text"] == TAKEN_AT_START
    desktop.answer(box, IDOK)
    app.wait_ready()
    assert box["pid"] == app.pid and desktop.hotkey_free(CTRL_SHIFT, ord("S"))
    (icon,) = desktop.wait_tray_icons(1)
    assert [i["text"] for i in app.choose(icon, None)][1] == "Settings"
    desktop.click(800, 300)
    app.choose(icon, "Screenshot")
    overlay = app.overlay()
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"]) and app.popen.poll() is None


def test_icon_returns_after_the_shell_restarts_and_answers(desktop, snapwren):
    desktop.wait_tray_icons(1)
    desktop.tool("tray-delete", snapwren.tray["hwnd"], 1)
    desktop.wait_tray_icons(0)
    desktop.tool("broadcast", "TaskbarCreated")
    (icon,) = desktop.wait_tray_icons(1)
    desktop.click(*icon, repeat=2)
    overlay = snapwren.overlay()
    assert overlay["rect"] == [0, 0, 1600, 900] and overlay["exstyle"] & 0x88 == 0x88, overlay
    desktop.key("Escape")
    assert desktop.gone(overlay["hwnd"]) and desktop.window(0, cls=OVERLAY) is None
