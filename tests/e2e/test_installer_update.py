"""Updating an installed Snapwren with the installer: Snapwren's own update (the test update
server offers the next version with its installer; Yes and OK in Snapwren's prompts), and an
installer started by hand while Snapwren runs. Either way the installer waits for the running
Snapwren to be gone, installs over it and starts the new version."""

import pytest

from conftest import Snapwren, poll
from installer_support import (IDCANCEL, IDOK, IDRETRY, IDYES, STILL_RUNNING, Kit,
                               click_box_button, installers, no_menu_builder,  # noqa: F401
                               screenshot_painted, wizard)
from update_server import UpdateServer

INSTALLER_PATH = "/downloads/Snapwren-Setup-next.exe"


@pytest.fixture
def kit(desktop, no_menu_builder, installers):
    """Snapwren 1.0.0 installed silently with its defaults; uninstalled again at the end."""
    kit = Kit(desktop)
    setup = desktop.start(installers["current"], "/S")
    assert setup.wait(60) == 0
    kit.check_installed("1.0.0", autostart=True)
    yield kit
    for name in ("Snapwren.exe", "Un.exe"):
        for pid in kit.running(name):
            desktop.snaptool("kill", pid, check=False)
    desktop.start(kit.uninstaller, "/S").wait(60)
    kit.wait_uninstalled()


@pytest.fixture
def next_version(kit, test_env):
    """The version of tests/snapwren_next.exe, e.g. "1.0.1"."""
    version = kit.version(test_env.build_dir / "tests" / "snapwren_next.exe")
    assert version == "1.0.1.0"
    return version[:-2]


def start_installed(desktop, kit):
    app = Snapwren(desktop, desktop.start(kit.exe, log_name="snapwren.log"))
    app.wait_ready()
    return app


def test_snapwren_updates_itself_to_the_next_version(desktop, kit, installers, next_version,
                                                     https_server, wine_prefix):
    settings = wine_prefix.write_settings("[Settings]\nLanguage=en\n")
    kept = settings.read_bytes()
    server = UpdateServer(https_server)
    server.version_json(next_version, "https://localhost" + INSTALLER_PATH, "Neue Version")
    server.route(INSTALLER_PATH, installers["next"].read_bytes())
    server.start()

    app = start_installed(desktop, kit)
    offer = desktop.message_box(pid=app.pid, title="Update verfügbar", timeout=15)
    assert offer["text"].startswith(f"Neue Version verfügbar: {next_version}\n")
    click_box_button(desktop, offer, IDYES)
    ready = desktop.message_box(pid=app.pid, title="Update bereit", timeout=30)
    screenshot_painted(desktop, "update-ready", ready["hwnd"])
    click_box_button(desktop, ready, IDOK)
    assert app.wait_exit(15) == 0

    # The installer from the Downloads folder replaces the program and starts it again.
    updated = kit.started_snapwren(other_than=app.pid, timeout=60)
    assert kit.image(updated.pid) == f"{kit.windows_dir}\\Snapwren.exe"
    # Snapwren leaves its tray icon behind when it quits for an update; as on Windows, the shell
    # drops an icon whose program has gone once the pointer passes over it.
    for icon in desktop.tray_icons("update-done"):
        desktop.move(*icon)
    desktop.wait_tray_icons(1, name="updated")
    kit.check_installed(next_version, autostart=True)
    assert settings.read_bytes() == kept
    # The update's wizard closed by itself, and the new Snapwren finds itself up to date.
    poll(lambda: not desktop.windows(cls="#32770", visible=True), 10, "the wizard to close")
    server.wait_request("/version.json", count=2)
    assert not desktop.snaptool_json("msgbox", "--timeout", 2000, timeout=30)


def test_an_installer_started_beside_a_running_snapwren_waits_then_asks(desktop, kit, installers,
                                                                        next_version):
    app = start_installed(desktop, kit)
    (icon,) = desktop.wait_tray_icons(1)

    # Two installers of the next version while Snapwren 1.0.0 runs and nobody quits it: the
    # silent one gives up after its wait, the other asks once the wait is over.
    asking = desktop.start(installers["next"])
    silent = desktop.start(installers["next"], "/S")
    page = wizard(desktop, f"Snapwren {next_version} Installation")
    assert silent.wait(30) == 2
    kit.check_installed("1.0.0", autostart=True)
    assert app.running

    box = desktop.message_box(title=f"Snapwren {next_version} Installation", timeout=15)
    # Wine labels the buttons in its own language ("Retry", "Cancel"); Windows in the user's.
    assert (box["text"], box["icon"], [b["id"] for b in box["buttons"]]) == (
        STILL_RUNNING, "warning", [IDRETRY, IDCANCEL])
    screenshot_painted(desktop, "still-running", box["hwnd"])
    assert kit.version() == "1.0.0.0"

    app.choose(app.open_tray_menu(icon), "Beenden")
    assert app.wait_exit(10) == 0
    click_box_button(desktop, box, IDRETRY)
    assert asking.wait(30) == 0
    assert desktop.wait_window_gone(page["hwnd"])
    updated = kit.started_snapwren(other_than=app.pid)
    assert kit.image(updated.pid) == f"{kit.windows_dir}\\Snapwren.exe"
    kit.check_installed(next_version, autostart=True)
