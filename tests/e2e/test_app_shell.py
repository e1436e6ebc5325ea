"""Snapwren's shell as a user meets it: the tray icon with its tooltip and menu, the single
instance, quitting, the global hotkey, and the icon's return after the shell restarts."""

import pytest

from conftest import ERROR_HOTKEY_ALREADY_REGISTERED, MOD_CONTROL, MOD_SHIFT, VK

CTRL_SHIFT = MOD_CONTROL | MOD_SHIFT
IDOK = 1
TRAY_ICON_ID = 1

HOTKEY_TAKEN_AT_START = ("Hotkey konnte nicht registriert werden.\n"
                         "Möglicherweise wird er bereits von einer anderen Anwendung verwendet.")


def menu_summary(items):
    return [("-" if item["separator"] else item["text"], item["id"]) for item in items]


class TestFirstStart:
    def test_shows_flower_icon_with_tooltip(self, desktop, snapwren):
        assert snapwren.tray_window["title"] == "Snapwren"
        watcher = desktop.find_window(cls=snapwren.WATCHER_CLASS, pid=snapwren.pid)
        assert watcher and not watcher["visible"], "the shell watcher must be a hidden window"

        (icon,) = desktop.wait_tray_icons(1, name="icon")
        taskbar = desktop.taskbar_rect()
        assert icon[0] > taskbar[2] - 40, f"icon {icon} is not at the taskbar's right end"

        assert desktop.tray_tooltip(icon) == "Snapwren"
        desktop.screenshot("tooltip")

    def test_second_start_says_so_and_leaves_the_first_running(self, desktop, snapwren):
        desktop.wait_tray_icons(1)
        second = desktop.start_snapwren(wait=False)

        box = desktop.message_box(title="Snapwren")
        assert box["pid"] != snapwren.pid
        assert (box["caption"], box["text"], box["icon"]) == (
            "Snapwren", "Snapwren läuft bereits!", "information")
        assert [b["id"] for b in box["buttons"]] == [IDOK]
        desktop.screenshot("already-running")

        desktop.press_button(box, IDOK)
        assert second.wait_exit() == 0
        assert snapwren.running
        assert desktop.find_window(cls=snapwren.TRAY_CLASS, message_only=True)["pid"] == \
            snapwren.pid
        desktop.wait_tray_icons(1, name="one-icon-after-second-start")


class TestTrayMenu:
    @pytest.mark.parametrize("settings, settings_label", [
        (None, "Einstellungen"),
        ("[General]\nLanguage=1\n", "Settings"),
    ], ids=["german", "english"])
    def test_lists_entries_in_order(self, desktop, settings, settings_label):
        if settings:
            desktop.prefix.write_settings(settings)
        app = desktop.start_snapwren()
        (icon,) = desktop.wait_tray_icons(1)

        items = app.open_tray_menu(icon)
        desktop.screenshot("menu")
        assert menu_summary(items) == [
            ("Screenshot", 1), (settings_label, 3), ("Nach Updates suchen...", 4), ("-", 0),
            ("Beenden", 2)]
        assert not any(item["checked"] or item["default"] for item in items)

        desktop.dismiss_menu()
        assert app.running

    def test_quit_ends_with_exit_code_0_and_frees_the_hotkey(self, desktop, snapwren):
        (icon,) = desktop.wait_tray_icons(1)
        items = snapwren.open_tray_menu(icon)
        snapwren.choose(items, "Beenden")
        assert snapwren.wait_exit() == 0
        assert desktop.try_hotkey(CTRL_SHIFT, VK["S"])["registered"]
        # Gone from the notification area too, not left for the pointer to wipe away.
        desktop.wait_tray_icons(0, name="after-quit")


class TestHotkey:
    def test_default_is_ctrl_shift_s(self, desktop, snapwren):
        taken = desktop.try_hotkey(CTRL_SHIFT, VK["S"])
        assert taken == {"registered": False, "error": ERROR_HOTKEY_ALREADY_REGISTERED}
        assert desktop.try_hotkey(CTRL_SHIFT, VK["D"])["registered"]

    def test_follows_settings_file(self, desktop):
        desktop.prefix.write_settings("[Hotkeys]\nModifiers=6\nKey=80\n")
        desktop.start_snapwren()
        assert not desktop.try_hotkey(CTRL_SHIFT, VK["P"])["registered"]
        assert desktop.try_hotkey(CTRL_SHIFT, VK["S"])["registered"]

    def test_taken_at_start_warns_and_runs_on(self, desktop):
        desktop.hold_hotkey(CTRL_SHIFT, VK["S"])
        app = desktop.start_snapwren(wait=False)

        box = desktop.message_box(title="Snapwren", timeout=10)
        assert (box["caption"], box["text"], box["icon"]) == (
            "Snapwren", HOTKEY_TAKEN_AT_START, "warning")
        desktop.screenshot("hotkey-taken")
        desktop.press_button(box, IDOK)

        app.wait_ready()
        assert box["pid"] == app.pid
        (icon,) = desktop.wait_tray_icons(1, name="running-without-hotkey")
        assert menu_summary(app.open_tray_menu(icon))[0] == ("Screenshot", 1)
        desktop.dismiss_menu()
        assert app.running


class TestShellRestart:
    def remove_icon_and_announce_new_shell(self, desktop, app):
        (before,) = desktop.wait_tray_icons(1, name="before")
        desktop.snaptool("tray-delete", app.tray_window["hwnd"], TRAY_ICON_ID)
        desktop.wait_tray_icons(0, name="removed")
        desktop.snaptool("broadcast", "TaskbarCreated")
        (after,) = desktop.wait_tray_icons(1, name="restored")
        return after

    def test_icon_comes_back_and_answers(self, desktop, snapwren):
        icon = self.remove_icon_and_announce_new_shell(desktop, snapwren)
        assert desktop.tray_tooltip(icon) == "Snapwren"
        items = snapwren.open_tray_menu(icon)
        assert menu_summary(items)[0] == ("Screenshot", 1)
        desktop.dismiss_menu()

    def test_double_click_on_restored_icon_starts_capture(self, desktop, snapwren):
        icon = self.remove_icon_and_announce_new_shell(desktop, snapwren)
        desktop.double_click(*icon)
        overlay = desktop.find_window(cls="SnapwrenOverlay", pid=snapwren.pid, visible=True)
        desktop.screenshot("double-click")
        assert overlay, "no overlay after a double click on the restored icon"
        desktop.key("Escape")

