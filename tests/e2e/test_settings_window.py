"""The settings window as a user meets it: opened from the tray menu, its two pages, switches,
language list and hotkey field, driven by real mouse clicks and key presses, and what Save,
Cancel and the close box leave in settings.ini and in the registered hotkey."""

import json
import re
import subprocess

from conftest import (ERROR_HOTKEY_ALREADY_REGISTERED, MOD_CONTROL, MOD_SHIFT, VK, Screenshot,
                      _read_line, center, poll)

CTRL_SHIFT = MOD_CONTROL | MOD_SHIFT
VK_F5 = 0x74
IDOK = 1
CB_GETCURSEL = 0x147
CB_GETITEMHEIGHT = 0x154

SETTINGS_CLASS = "SnapwrenSettings"
OVERLAY_CLASS = "SnapwrenOverlay"
HOTKEY_TAKEN_AFTER_CHANGE = ("Hotkey konnte nicht registriert werden.\n"
                             "Möglicherweise wird er bereits verwendet.")
NOT_SAVED = ("Die Einstellungen konnten nicht gespeichert werden.\n"
             "Sie gelten nur, bis Snapwren beendet wird.")

# Client rectangles of the window's elements (left, top, right, bottom).
GENERAL_TAB = (20, 20, 130, 55)
HOTKEYS_TAB = (135, 20, 260, 55)
AUTO_COPY_ROW = (30, 80, 430, 105)
CAPTURE_CURSOR_ROW = (30, 115, 430, 140)
HOTKEY_FIELD = (30, 100, 430, 135)
SAVE_BUTTON = (250, 340, 340, 375)
CANCEL_BUTTON = (350, 340, 440, 375)

BACKGROUND = (30, 30, 35)
SURFACE = (45, 45, 52)
HOVER = (55, 55, 62)
BORDER = (70, 70, 80)
ACCENT = (255, 182, 193)
ACCENT_HOVER = (200, 140, 150)


def settings_ini(auto_copy=1, capture_cursor=0, language=0, modifiers=6, key=83):
    """settings.ini byte for byte as Snapwren writes it (the selection is never touched here)."""
    return ("[General]\r\n"
            f"AutoCopyLink={auto_copy}\r\nCaptureCursor={capture_cursor}\r\n"
            f"RememberSelection=0\r\nLanguage={language}\r\n"
            "\r\n[Selection]\r\nLeft=0\r\nTop=0\r\nRight=0\r\nBottom=0\r\n"
            f"\r\n[Hotkeys]\r\nModifiers={modifiers}\r\nKey={key}\r\n").encode("ascii")


class SettingsWindow:
    """One open settings window, addressed in its own client coordinates."""

    def __init__(self, desktop, app, window):
        self.desktop = desktop
        self.app = app
        self.window = window
        self.hwnd = window["hwnd"]
        self.origin = self._tool("client", self.hwnd)["origin"]

    @classmethod
    def open(cls, desktop, app, label="Einstellungen"):
        """Right-clicks the tray icon and chooses the settings entry."""
        (icon,) = desktop.wait_tray_icons(1)
        app.choose(app.open_tray_menu(icon), label)
        window = desktop.find_window(cls=SETTINGS_CLASS, pid=app.pid, visible=True)
        assert window, "the settings window did not open"
        return cls(desktop, app, window)

    def _tool(self, *args):
        return settingstool(self.desktop, *args)

    def screen(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def click(self, x, y):
        self.desktop.click(*self.screen(x, y))

    def click_in(self, rect):
        self.click(*center(rect))

    def hover(self, rect):
        self.desktop.move(*self.screen(*center(rect)))

    def shot(self, name):
        return WindowShot(self, self.desktop.screenshot(name))

    def language_list(self):
        (combo,) = [child for child in self.desktop.snaptool_json("children", self.hwnd)
                    if child["class"] == "ComboBox"]
        return combo

    def language_selection(self):
        (answer,) = self.desktop.snaptool_json("send", self.language_list()["hwnd"], CB_GETCURSEL)
        result = answer["result"]
        return result - (1 << 64) if result >= 1 << 63 else result

    def choose_language(self, index):
        """Opens the drop-down list with a click and clicks the item."""
        combo = self.language_list()
        (height,) = self.desktop.snaptool_json("send", combo["hwnd"], CB_GETITEMHEIGHT, 0)
        self.desktop.click(*center(combo["rect"]))
        dropped = self.desktop.find_window(cls="ComboLBox", pid=self.app.pid, visible=True)
        assert dropped, "the language list did not drop down"
        left, top, right, _ = dropped["rect"]
        self.desktop.click((left + right) // 2, top + 2 + height["result"] * index +
                           height["result"] // 2)
        poll(lambda: self.language_selection() == index, message=f"language item {index}")

    def close_box(self):
        return self._tool("closebox", self.hwnd)["point"]

    def foreground(self):
        return self._tool("foreground")["hwnd"]

    def is_open(self):
        return any(w["hwnd"] == self.hwnd for w in self.desktop.windows(cls=SETTINGS_CLASS))

    def wait_closed(self):
        assert self.desktop.wait_window_gone(self.hwnd), "the settings window stayed open"


class WindowShot:
    """A screenshot read in the settings window's client coordinates."""

    def __init__(self, window, shot):
        self.window = window
        self.shot = shot

    def pixel(self, x, y):
        return self.shot.pixel(*self.window.screen(x, y))

    def count(self, rect, colour):
        left, top, right, bottom = rect
        screen_rect = (*self.window.screen(left, top), *self.window.screen(right, bottom))
        return self.shot.count(screen_rect, lambda rgb: rgb == colour)

    def check_mark(self, row):
        """True when the switch in this row shows its accent check mark."""
        left, top = row[0], row[1]
        return self.count((left, top + 2, left + 20, top + 22), ACCENT) > 10

    def field_border(self):
        return self.pixel(HOTKEY_FIELD[0], (HOTKEY_FIELD[1] + HOTKEY_FIELD[3]) // 2)


def settingstool_exe(desktop):
    return desktop.test_env.snaptool_exe.with_name("settingstool.exe")


def settingstool(desktop, *args):
    """Runs tests/helper/settingstool.cpp once and returns its JSON answer."""
    result = subprocess.run(["wine", str(settingstool_exe(desktop)), *[str(a) for a in args]],
                            env=desktop.prefix.env, capture_output=True, timeout=30,
                            stdin=subprocess.DEVNULL)
    assert result.returncode == 0, f"settingstool {args} exited {result.returncode}"
    return json.loads(result.stdout.decode("utf-8").splitlines()[0])


def start_front_window(desktop):
    """A window of another program that takes the foreground; stopped with the desktop."""
    popen = desktop.start(settingstool_exe(desktop), "front", stdout=subprocess.PIPE)
    line = _read_line(popen.stdout, timeout=20)
    assert line, "settingstool front printed nothing"
    return json.loads(line)["hwnd"]


def screenshot_box(desktop, box, name):
    """A screenshot showing the message box painted, kept as <artifacts>/box-<name>.png.

    Taken with `import -window root`: in Xvfb, `convert x:root` (the test bed's screenshots)
    showed a box standing over the settings window as a black rectangle for as long as it
    stayed open, while `import` and Wine's own screen DC showed it painted."""
    desktop.artifacts_dir.mkdir(parents=True, exist_ok=True)
    path = desktop.artifacts_dir / f"box-{name}.png"
    (rect,) = [w["rect"] for w in desktop.windows(cls="#32770", pid=box["pid"])
               if w["hwnd"] == box["hwnd"]]
    area = (rect[2] - rect[0]) * (rect[3] - rect[1])

    def painted():
        subprocess.run(["import", "-window", "root", str(path)], env=desktop.prefix.env,
                       check=True, capture_output=True, timeout=30)
        ppm = subprocess.run(["convert", str(path), "ppm:-"], check=True, capture_output=True,
                             timeout=30).stdout
        fields = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        shot = Screenshot(path, int(fields.group(1)), int(fields.group(2)), ppm[fields.end():])
        return shot if shot.count(rect, lambda rgb: rgb == (0, 0, 0)) < area // 10 else None
    return poll(painted, message="the message box painted")


def hotkey_taken(desktop, modifiers, key):
    return desktop.try_hotkey(modifiers, key) == {
        "registered": False, "error": ERROR_HOTKEY_ALREADY_REGISTERED}


class TestOpening:
    def test_opens_centred_comes_to_front_again_and_lights_up_under_the_mouse(self, desktop,
                                                                             snapwren):
        window = SettingsWindow.open(desktop, snapwren)
        assert window.window["title"] == "Einstellungen"
        assert window.window["rect"] == [565, 240, 1035, 660], "470 x 420, centred on 1600 x 900"
        assert window.window["owner"] == snapwren.tray_window["hwnd"]
        assert window.foreground() == window.hwnd

        # Wine draws its own caption and ignores the request for a dark title bar, so only the
        # client area is compared with what Windows would show.
        shot = window.shot("general-page")
        assert shot.pixel(5, 200) == BACKGROUND
        assert shot.pixel(15, 200) == BORDER  # the card's edge
        assert shot.pixel(75, GENERAL_TAB[3] - 2) == ACCENT  # the active tab's underline
        assert shot.pixel(256, 346) == ACCENT  # Save
        assert shot.pixel(356, 346) == SURFACE  # Cancel
        assert shot.check_mark(AUTO_COPY_ROW) and not shot.check_mark(CAPTURE_CURSOR_ROW)
        assert window.language_list()["visible"] and window.language_selection() == 0

        front = start_front_window(desktop)
        poll(lambda: window.foreground() == front, message="the other program in front")
        again = SettingsWindow.open(desktop, snapwren)
        assert again.hwnd == window.hwnd
        assert len(desktop.windows(cls=SETTINGS_CLASS)) == 1
        poll(lambda: window.foreground() == window.hwnd, message="the settings window in front")
        desktop.screenshot("in-front-again")

        window.hover(SAVE_BUTTON)
        poll(lambda: window.shot("save-hovered").pixel(256, 346) == ACCENT_HOVER,
             message="Save in its hover colour")
        window.hover(CAPTURE_CURSOR_ROW)  # over the label: the box lights up
        shot = poll(lambda: (lambda s: s if s.pixel(40, 119) == HOVER else None)(
            window.shot("row-hovered")), message="the switch box in its hover colour")
        assert shot.pixel(256, 346) == ACCENT
        assert shot.pixel(40, 84) == SURFACE  # the other switch stays as it is
        window.hover(HOTKEYS_TAB)
        poll(lambda: window.shot("tab-hovered").pixel(145, 50) == HOVER,
             message="the inactive tab in its hover colour")

        desktop.move(1300, 200)  # out of the window
        shot = poll(lambda: (lambda s: s if s.pixel(145, 50) == BACKGROUND else None)(
            window.shot("left")), message="no highlight after the mouse left")
        assert shot.pixel(40, 119) == SURFACE and shot.pixel(256, 346) == ACCENT


class TestDiscarding:
    def test_switches_flip_on_their_row_and_cancel_or_close_box_keep_everything(self, desktop):
        original = settings_ini()
        desktop.prefix.write_settings(original.decode("ascii"))
        app = desktop.start_snapwren()
        window = SettingsWindow.open(desktop, app)

        window.click(400, 92)  # on the first row's label, far from its box
        window.click(400, 127)
        shot = window.shot("both-flipped")
        assert not shot.check_mark(AUTO_COPY_ROW) and shot.check_mark(CAPTURE_CURSOR_ROW)

        window.choose_language(1)
        window.click_in(HOTKEYS_TAB)
        poll(lambda: not window.language_list()["visible"], message="the list hidden")
        # The list had the keyboard focus; the keys must reach the field all the same. (Wine
        # hands the focus to the parent when the focused list is hidden; the click on the field
        # takes it for the window anyway, so this does not rest on that.)
        window.click_in(HOTKEY_FIELD)
        poll(lambda: window.shot("recording").field_border() == ACCENT, message="recording")
        desktop.key("ctrl+shift+p")
        poll(lambda: window.shot("new-combination").field_border() == ACCENT_HOVER,
             message="the combination taken")
        window.click_in(GENERAL_TAB)
        poll(lambda: window.language_list()["visible"], message="the list shown again")
        assert window.language_selection() == 1
        shot = window.shot("general-again")
        assert not shot.check_mark(AUTO_COPY_ROW) and shot.check_mark(CAPTURE_CURSOR_ROW)

        window.click_in(CANCEL_BUTTON)
        window.wait_closed()
        assert desktop.prefix.read_settings() == original
        assert hotkey_taken(desktop, CTRL_SHIFT, VK["S"])
        assert not hotkey_taken(desktop, CTRL_SHIFT, VK["P"])

        window = SettingsWindow.open(desktop, app, "Einstellungen")
        shot = window.shot("reopened-after-cancel")
        assert shot.check_mark(AUTO_COPY_ROW) and not shot.check_mark(CAPTURE_CURSOR_ROW)
        assert window.language_selection() == 0
        window.click(400, 92)
        window.choose_language(1)
        desktop.click(*window.close_box())
        window.wait_closed()
        assert desktop.prefix.read_settings() == original
        assert hotkey_taken(desktop, CTRL_SHIFT, VK["S"])

        window = SettingsWindow.open(desktop, app, "Einstellungen")
        shot = window.shot("reopened-after-close-box")
        assert shot.check_mark(AUTO_COPY_ROW) and window.language_selection() == 0


class TestHotkeyRecording:
    @staticmethod
    def record(desktop, app, *keys, xdotool=None):
        """Opens the window, starts recording on the hotkeys page, presses the keys, saves."""
        window = SettingsWindow.open(desktop, app)
        window.click_in(HOTKEYS_TAB)
        window.click_in(HOTKEY_FIELD)
        poll(lambda: window.shot("recording").field_border() == ACCENT,
             message="the field waiting for a key")
        if keys:
            desktop.key(*keys)
        if xdotool:
            desktop.xdotool(*xdotool)
        # Idle again, with the mouse still over the field.
        poll(lambda: window.shot("recorded").field_border() == ACCENT_HOVER,
             message="recording to end")
        window.click_in(SAVE_BUTTON)
        window.wait_closed()

    def test_recorded_combination_is_saved_and_replaces_the_old_hotkey(self, desktop, snapwren):
        # A lone Ctrl leaves the field waiting: only then does the combination after it count.
        self.record(desktop, snapwren, "ctrl", "ctrl+shift+p")
        assert desktop.prefix.read_settings() == settings_ini(modifiers=6, key=VK["P"])
        poll(lambda: hotkey_taken(desktop, CTRL_SHIFT, VK["P"]), message="Ctrl+Shift+P taken")
        assert not hotkey_taken(desktop, CTRL_SHIFT, VK["S"])

        desktop.key("ctrl+shift+p")
        overlay = desktop.find_window(cls=OVERLAY_CLASS, pid=snapwren.pid, visible=True)
        desktop.screenshot("overlay-from-new-hotkey")
        assert overlay, "the new hotkey started no capture"
        desktop.key("Escape")
        assert desktop.wait_window_gone(overlay["hwnd"])
        desktop.key("ctrl+shift+s")
        assert desktop.find_window(cls=OVERLAY_CLASS, pid=snapwren.pid, timeout=1.5) is None, \
            "the old hotkey still started a capture"

    def test_bare_key_function_key_esc_and_released_modifier(self, desktop, snapwren):
        self.record(desktop, snapwren, "q")
        assert desktop.prefix.read_settings() == settings_ini(modifiers=0, key=VK["Q"])
        poll(lambda: hotkey_taken(desktop, 0, VK["Q"]), message="a bare Q taken")

        # F5 is taken; Esc while recording keeps it; Esc while idle leaves the window open.
        window = SettingsWindow.open(desktop, snapwren)
        window.click_in(HOTKEYS_TAB)
        window.click_in(HOTKEY_FIELD)
        desktop.key("F5")
        poll(lambda: window.shot("f5").field_border() == ACCENT_HOVER, message="F5 taken")
        window.click_in(HOTKEY_FIELD)
        poll(lambda: window.shot("recording-again").field_border() == ACCENT,
             message="recording again")
        desktop.key("Escape")
        poll(lambda: window.shot("esc").field_border() == ACCENT_HOVER, message="Esc to end it")
        desktop.key("Escape")
        assert window.is_open()
        window.click_in(SAVE_BUTTON)
        window.wait_closed()
        assert desktop.prefix.read_settings() == settings_ini(modifiers=0, key=VK_F5)
        poll(lambda: hotkey_taken(desktop, 0, VK_F5), message="F5 taken")
        assert not hotkey_taken(desktop, 0, VK["Q"])

        # Shift let go before P: only the Ctrl still held counts.
        self.record(desktop, snapwren, xdotool=["keydown", "ctrl", "keydown", "shift", "keyup",
                                                "shift", "key", "p", "keyup", "ctrl"])
        assert desktop.prefix.read_settings() == settings_ini(modifiers=MOD_CONTROL, key=VK["P"])
        poll(lambda: hotkey_taken(desktop, MOD_CONTROL, VK["P"]), message="Ctrl+P taken")

    def test_combination_another_program_holds_gets_the_short_warning(self, desktop, snapwren):
        window = SettingsWindow.open(desktop, snapwren)
        window.click_in(HOTKEYS_TAB)
        window.click_in(HOTKEY_FIELD)
        desktop.key("ctrl+shift+p")
        poll(lambda: window.shot("recorded").field_border() == ACCENT_HOVER,
             message="recording to end")
        # Taken only now: once held elsewhere, the keys would never reach the window.
        desktop.hold_hotkey(CTRL_SHIFT, VK["P"])
        window.click_in(SAVE_BUTTON)

        box = desktop.message_box(pid=snapwren.pid, title="Snapwren")
        assert (box["caption"], box["text"], box["icon"]) == (
            "Snapwren", HOTKEY_TAKEN_AFTER_CHANGE, "warning")
        screenshot_box(desktop, box, "taken-warning")
        desktop.press_button(box, IDOK)
        window.wait_closed()
        assert desktop.prefix.read_settings() == settings_ini(modifiers=6, key=VK["P"])
        assert not hotkey_taken(desktop, CTRL_SHIFT, VK["S"]), "the old hotkey must be released"
        assert snapwren.running


class TestLanguage:
    def test_english_chosen_in_the_list_speaks_from_the_next_opening(self, desktop, snapwren):
        window = SettingsWindow.open(desktop, snapwren)
        window.choose_language(1)
        assert SettingsWindow.open(desktop, snapwren).hwnd == window.hwnd  # still German
        window.click_in(SAVE_BUTTON)
        window.wait_closed()
        assert desktop.prefix.read_settings() == settings_ini(language=1)

        window = SettingsWindow.open(desktop, snapwren, "Settings")
        assert window.window["title"] == "Settings"
        assert window.language_selection() == 1
        window.shot("general-page-english")
        window.click_in(HOTKEYS_TAB)
        window.shot("hotkeys-page-english")
        window.click_in(CANCEL_BUTTON)
        window.wait_closed()

    def test_unknown_language_number_selects_nothing_and_saves_minus_one(self, desktop):
        desktop.prefix.write_settings("[General]\nLanguage=7\n")
        app = desktop.start_snapwren()
        window = SettingsWindow.open(desktop, app, "Settings")
        assert window.window["title"] == "Settings"
        assert window.language_selection() == -1
        window.shot("no-language-selected")
        window.click_in(SAVE_BUTTON)
        window.wait_closed()
        assert desktop.prefix.read_settings() == settings_ini(language=-1)
        SettingsWindow.open(desktop, app, "Settings")


class TestSaveFailure:
    def test_unwritable_file_is_reported_and_the_old_one_kept(self, desktop, snapwren):
        original = settings_ini()
        desktop.prefix.write_settings(original.decode("ascii"))
        # The file is written beside itself first; a folder in that place makes the write fail.
        blocker = desktop.prefix.settings_dir / "settings.ini.tmp"
        blocker.mkdir()

        window = SettingsWindow.open(desktop, snapwren)
        window.click(400, 127)
        window.click_in(HOTKEYS_TAB)
        window.click_in(HOTKEY_FIELD)
        desktop.key("ctrl+shift+p")
        poll(lambda: window.shot("recorded").field_border() == ACCENT_HOVER,
             message="recording to end")
        window.click_in(SAVE_BUTTON)

        box = desktop.message_box(pid=snapwren.pid, title="Snapwren")
        assert (box["caption"], box["text"], box["icon"]) == ("Snapwren", NOT_SAVED, "warning")
        screenshot_box(desktop, box, "not-saved")
        desktop.press_button(box, IDOK)
        window.wait_closed()
        assert desktop.prefix.read_settings() == original
        assert blocker.is_dir()

        # Nothing the user chose is lost for this run: the hotkey and the switch are in force.
        poll(lambda: hotkey_taken(desktop, CTRL_SHIFT, VK["P"]), message="Ctrl+Shift+P taken")
        window = SettingsWindow.open(desktop, snapwren)
        assert window.shot("reopened").check_mark(CAPTURE_CURSOR_ROW)
