"""The Windows installer (installer/snapwren.nsi, built by scripts/build-installer.sh) as a user
meets it under Wine: the wizard, the Start-menu entry, the start at sign-in, the entry among the
installed programs and the uninstaller, which leaves nothing behind. Each test starts and ends
without an installation."""

import pytest

from conftest import poll
from installer_support import (IDCANCEL, IDOK, IDRETRY, RUN_KEY, STILL_RUNNING, UNINSTALL_KEY,
                               Kit, button_text, click_box_button, click_control, control,
                               installers, no_menu_builder, screenshot_painted,
                               tick_component, wizard)  # noqa: F401

SETTINGS = "[Settings]\nAutoCopyLink=1\nLanguage=en\n"


@pytest.fixture
def kit(desktop, no_menu_builder):
    kit = Kit(desktop)
    assert not kit.install_dir.exists() and kit.registry(UNINSTALL_KEY) is None
    yield kit
    # A failed test must not hand its installation to the next one.
    if kit.uninstaller.exists():
        for name in ("Snapwren.exe", "Un.exe"):
            for pid in kit.running(name):
                desktop.snaptool("kill", pid, check=False)
        desktop.start(kit.uninstaller, "/S").wait(60)
        kit.wait_uninstalled()


def start_from_start_menu(desktop):
    """Start, Programs, Snapwren: Wine's taskbar lists the shortcuts of the Start-menu folder."""
    taskbar = desktop.taskbar_rect()
    desktop.click(taskbar[0] + 25, (taskbar[1] + taskbar[3]) // 2)
    menu = poll(lambda: desktop.windows(cls="#32768", visible=True), 5, "the Start menu")[0]
    left, top, right, _ = menu["rect"]
    desktop.move((left + right) // 2, top + 12)  # "Programs", its first entry
    programs = poll(lambda: [w for w in desktop.windows(cls="#32768", visible=True)
                             if w["hwnd"] != menu["hwnd"]], 5, "the Programs menu")[0]
    desktop.screenshot("start-menu")
    left, top, right, _ = programs["rect"]
    desktop.click((left + right) // 2, top + 12)


def test_install_start_from_the_start_menu_and_uninstall_through_the_wizards(desktop, kit,
                                                                            installers):
    profile_before = kit.files()
    registry_before = kit.registry_mentions()

    setup = desktop.start(installers["current"])
    page = wizard(desktop, "Snapwren 1.0.0 Installation")
    assert button_text(desktop, page, IDOK) == "&Installieren"
    desktop.screenshot("components")
    click_control(desktop, page, IDOK)

    # The finish page offers to start Snapwren; without it, the Start menu does.
    run_now = control(desktop, page, text="Snapwren jetzt starten")
    desktop.click(run_now["rect"][0] + 7, (run_now["rect"][1] + run_now["rect"][3]) // 2)
    desktop.screenshot("finish")
    click_control(desktop, page, IDOK)
    assert setup.wait(30) == 0
    assert not kit.running("Snapwren.exe")
    kit.check_installed("1.0.0", autostart=True)

    start_from_start_menu(desktop)
    app = kit.started_snapwren()
    assert kit.image(app.pid) == f"{kit.windows_dir}\\Snapwren.exe"
    (icon,) = desktop.wait_tray_icons(1)
    settings = desktop.prefix.write_settings(SETTINGS)

    # Uninstalling while Snapwren runs asks to quit it first; Cancel changes nothing.
    desktop.start(kit.uninstaller)
    page = wizard(desktop, "Snapwren deinstallieren")
    desktop.screenshot("uninstall-components")
    click_control(desktop, page, IDOK)
    box = desktop.message_box(title="Snapwren deinstallieren", timeout=10)
    # Wine labels the buttons in its own language ("Retry", "Cancel"); Windows in the user's.
    assert (box["text"], box["icon"], [b["id"] for b in box["buttons"]]) == (
        STILL_RUNNING, "warning", [IDRETRY, IDCANCEL])
    screenshot_painted(desktop, "uninstall-still-running", box["hwnd"])
    click_box_button(desktop, box, IDCANCEL)
    assert control(desktop, page, control_id=1037, text="Abbruch der Deinstallation")
    click_control(desktop, page, IDCANCEL)
    poll(lambda: not kit.running("Un.exe"), 15, "the cancelled uninstaller to end")
    kit.check_installed("1.0.0", autostart=True)
    assert kit.running("Snapwren.exe") == [app.pid]

    # Again, this time with the settings: Snapwren is quit from its tray menu while the
    # question waits, and Retry goes on.
    desktop.start(kit.uninstaller)
    page = wizard(desktop, "Snapwren deinstallieren")
    tick_component(desktop, page, 1)  # "Einstellungen löschen"
    desktop.screenshot("uninstall-with-settings")
    click_control(desktop, page, IDOK)
    box = desktop.message_box(title="Snapwren deinstallieren", timeout=10)
    app.choose(app.open_tray_menu(icon), "Beenden")
    assert kit.wait_exit(app.pid) == 0
    click_box_button(desktop, box, IDRETRY)
    poll(lambda: button_text(desktop, page, IDOK) == "&Beenden" and
         not kit.install_dir.exists(), 15, "the uninstaller to finish")
    desktop.screenshot("uninstalled")
    click_control(desktop, page, IDOK)
    kit.wait_uninstalled()

    assert not settings.exists() and not settings.parent.exists()
    # NSIS runs the uninstaller from a copy in the temporary folder and marks that copy for
    # deletion at the next restart (Windows refuses that mark to a standard user, so there the
    # copy waits for the temporary folder's own clean-up). That copy is all that is left.
    left = [p for p in kit.files() if p not in profile_before]
    assert all(p.startswith("Temp/~nsu") for p in left), left
    assert kit.registry_mentions() == registry_before


def test_silent_install_sign_in_update_and_uninstall_that_keeps_the_settings(desktop, kit,
                                                                            installers):
    settings = desktop.prefix.write_settings(SETTINGS)
    kept = settings.read_bytes()
    setup = desktop.start(installers["current"], "/S")
    assert setup.wait(60) == 0
    # A first silent installation starts nothing: whoever deploys it decides when.
    assert not kit.running("Snapwren.exe")
    kit.check_installed("1.0.0", autostart=True)

    # A sign-in: Wine's wineboot, run on its own, starts what the user's Run key names.
    desktop.start("wineboot")
    app = kit.started_snapwren()
    assert kit.image(app.pid) == f"{kit.windows_dir}\\Snapwren.exe"
    desktop.wait_tray_icons(1, name="started-at-sign-in")

    # A silent installation over it is an update: it waits for the running Snapwren to end
    # (asked to by its tray window's WM_CLOSE here) and starts it again.
    update = desktop.start(installers["current"], "/S")
    desktop.snaptool("close", app.tray_window["hwnd"])
    assert kit.wait_exit(app.pid) == 0
    assert update.wait(60) == 0
    restarted = kit.started_snapwren(other_than=app.pid)
    kit.check_installed("1.0.0", autostart=True)
    desktop.snaptool("close", restarted.tray_window["hwnd"])
    assert kit.wait_exit(restarted.pid) == 0

    desktop.start(kit.uninstaller, "/S").wait(30)
    kit.wait_uninstalled()
    assert settings.read_bytes() == kept
    assert kit.registry(UNINSTALL_KEY) is None and "Snapwren" not in (kit.registry(RUN_KEY) or {})
    assert not kit.shortcut.exists() and not kit.programs.exists()
