"""The Windows installer (installer/snapwren.nsi, built by scripts/build-installer.sh) as a user
meets it under Wine: the wizard, the Start-menu entry, the start at sign-in, the entry among the
installed programs, the uninstaller, and updates: Snapwren's own, and an installer started while
Snapwren runs. Each test starts and ends without an installation. The installers are built once
from the build's Snapwren.exe (1.0.0) and from tests/snapwren_next.exe (1.0.1)."""

import subprocess

import pytest

from conftest import (IDCANCEL, IDOK, IDRETRY, IDYES, REPO, Snapwren, center, poll,
                      winpath)
from servers import Server

UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Snapwren"
RUN = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
STILL_RUNNING = ("Snapwren läuft noch.\n\nZum Fortfahren Snapwren über „Beenden“ im Tray-Menü "
                 "schließen und dann „Wiederholen“ wählen.")
SETTINGS = "[General]\nLanguage=1\n"


@pytest.fixture(scope="module")
def installers(test_env):
    """{"1.0.0": path, "1.0.1": path}, built with the documented command."""
    built = {}
    for version, exe in [("1.0.0", "Snapwren.exe"), ("1.0.1", "snapwren_next.exe")]:
        result = subprocess.run(["bash", REPO / "scripts" / "build-installer.sh", "--exe",
                                 test_env.exe(exe), "--outdir", test_env.prefixes / "installers"],
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, result.stderr
        built[version] = result.stdout.strip().splitlines()[-1]
    return built


class Kit:
    """One prefix's view of a Snapwren installation."""

    def __init__(self, desktop):
        self.desktop, self.user = desktop, desktop.prefix.user
        self.folder = self.user / "AppData" / "Local" / "Programs" / "Snapwren"
        self.windows_folder = rf"C:\users\{self.user.name}\AppData\Local\Programs\Snapwren"
        self.shortcut = (self.user / "AppData" / "Roaming" / "Microsoft" / "Windows" /
                         "Start Menu" / "Programs" / "Snapwren.lnk")

    def registry(self, key):
        """{name: data} of a key, None when it is missing."""
        code, out = self.desktop.prefix.wine_code("reg", "query", key)
        if code:
            return None
        return {parts[0]: parts[2] if len(parts) > 2 else "" for parts in
                (line.strip().split(None, 2) for line in out.splitlines() if line[:4] == "    ")}

    def mentions(self):
        """Every line of the user's registry that names Snapwren."""
        export = self.desktop.prefix.path / "hkcu.reg"
        self.desktop.prefix.wine("regedit", "/E", winpath(export), "HKEY_CURRENT_USER")
        text = export.read_bytes().decode("utf-16")
        return sorted(line for line in text.splitlines() if "snapwren" in line.lower())

    def files(self):
        return sorted(str(p.relative_to(self.user)) for p in self.user.rglob("*"))

    def running(self, other_than=None, timeout=30.0):
        """The Snapwren whose tray window appears, started by something else than the test."""
        found = poll(lambda: [w for w in self.desktop.tool("windows", "--message", "--class",
                                                           "SnapwrenTrayClass")
                              if w["pid"] != other_than], timeout, "a running Snapwren")
        (process,) = self.desktop.tool("processes", "Snapwren.exe")
        assert process["path"] == self.windows_folder + r"\Snapwren.exe"
        return Snapwren(self.desktop, tray=found[0])

    def ended(self, app):
        return self.desktop.gone(app.tray["hwnd"], 15)

    def check_installed(self, version, autostart=True):
        assert sorted(p.name for p in self.folder.iterdir()) == ["Snapwren.exe", "Uninstall.exe"]
        exe = self.windows_folder + r"\Snapwren.exe"
        built = {"1.0.0": "Snapwren.exe", "1.0.1": "snapwren_next.exe"}[version]
        assert (self.folder / "Snapwren.exe").read_bytes() == \
            self.desktop.prefix.test_env.exe(built).read_bytes()
        # The link names its target in ANSI and its working folder in UTF-16.
        link = self.shortcut.read_bytes()
        assert exe.encode() in link and self.windows_folder.encode("utf-16-le") in link
        uninstaller = self.windows_folder + r"\Uninstall.exe"
        entry = self.registry(UNINSTALL)
        assert {k: entry[k] for k in ("DisplayName", "DisplayVersion", "InstallLocation",
                                      "UninstallString", "QuietUninstallString",
                                      "DisplayIcon")} == {
            "DisplayName": "Snapwren", "DisplayVersion": version,
            "InstallLocation": self.windows_folder, "UninstallString": f'"{uninstaller}"',
            "QuietUninstallString": f'"{uninstaller}" /S', "DisplayIcon": exe + ",0"}
        assert (self.registry(RUN) or {}).get("Snapwren") == (f'"{exe}"' if autostart else None)

    def uninstalled(self):
        """The uninstaller runs from a copy in the temporary folder and removes the entry among
        the installed programs last: only then is it done."""
        poll(lambda: not self.folder.exists() and not self.desktop.tool("processes", "Un.exe")
             and self.registry(UNINSTALL) is None, 30, "the uninstaller to finish")


@pytest.fixture
def kit(desktop):
    kit = Kit(desktop)
    assert not kit.folder.exists()
    yield kit
    if (kit.folder / "Uninstall.exe").exists():  # a failed test leaves no installation behind
        desktop.prefix.wine_code("taskkill", "/F", "/IM", "Snapwren.exe")
        desktop.start(kit.folder / "Uninstall.exe", "/S").wait(60)
        kit.uninstalled()


def wizard(desktop, caption):
    return poll(lambda: next((w for w in desktop.tool("windows", "--class", "#32770",
                                                      "--visible")
                              if w["title"].strip() == caption and w["owner"] == "0x0"), None),
                15, f"the window {caption!r}")


def control(desktop, window, id=None, title=None):
    return poll(lambda: next((c for c in desktop.tool("children", window["hwnd"])
                              if c["visible"] and id in (None, c["id"])
                              and title in (None, c["title"])), None), 10, f"{id or title}")


def press(desktop, window, id=None, title=None):
    desktop.click(*center(control(desktop, window, id, title)["rect"]))


def test_wizard_start_menu_and_uninstall_while_running(desktop, kit, installers):
    files_before, registry_before = kit.files(), kit.mentions()
    setup = desktop.start(installers["1.0.0"])
    page = wizard(desktop, "Snapwren 1.0.0 Installation")
    assert control(desktop, page, IDOK)["title"] == "&Installieren"
    press(desktop, page, IDOK)
    box = control(desktop, page, title="Snapwren jetzt starten")
    desktop.click(box["rect"][0] + 7, center(box["rect"])[1])  # unticked: the Start menu will do
    press(desktop, page, IDOK)
    assert setup.wait(30) == 0 and not desktop.tool("processes", "Snapwren.exe")
    kit.check_installed("1.0.0")

    # Start, Programs, Snapwren: Wine's taskbar lists the shortcuts of the Start-menu folder.
    taskbar = desktop.tool("tray")[0]["rect"]
    desktop.click(taskbar[0] + 25, center(taskbar)[1])
    menu = poll(lambda: desktop.tool("windows", "--class", "#32768", "--visible"), 5, "Start")
    desktop.move(center(menu[0]["rect"])[0], menu[0]["rect"][1] + 12)
    programs = poll(lambda: [w for w in desktop.tool("windows", "--class", "#32768", "--visible")
                             if w["hwnd"] != menu[0]["hwnd"]], 5, "the Programs menu")
    desktop.click(center(programs[0]["rect"])[0], programs[0]["rect"][1] + 12)
    app = kit.running()
    (icon,) = desktop.wait_tray_icons(1)
    settings = desktop.prefix.write_settings(SETTINGS)

    # Uninstalling while Snapwren runs asks to quit it first; Cancel changes nothing.
    for answer in (IDCANCEL, IDRETRY):
        desktop.start(kit.folder / "Uninstall.exe")
        page = wizard(desktop, "Snapwren deinstallieren")
        if answer == IDRETRY:  # "Einstellungen löschen", the second entry of the list
            tree = control(desktop, page, 1032)["rect"]
            desktop.click(tree[0] + 9, tree[1] + 25)
        press(desktop, page, IDOK)
        box = desktop.message_box(title="Snapwren deinstallieren")
        assert (box["text"], box["icon"], box["buttons"]) == (STILL_RUNNING, "warning",
                                                              [IDRETRY, IDCANCEL])
        if answer == IDCANCEL:
            desktop.answer(box, IDCANCEL)
            assert control(desktop, page, 1037, "Abbruch der Deinstallation")
            press(desktop, page, IDCANCEL)
            poll(lambda: not desktop.tool("processes", "Un.exe"), 15, "the uninstaller to end")
            kit.check_installed("1.0.0")
        else:
            app.choose(icon, "Beenden")
            assert kit.ended(app)
            desktop.answer(box, IDRETRY)
            poll(lambda: control(desktop, page, IDOK)["title"] == "&Beenden", 15, "the end")
            press(desktop, page, IDOK)
    kit.uninstalled()
    assert not settings.parent.exists()
    # NSIS runs the uninstaller from a copy in the temporary folder and marks that copy for
    # deletion at the next restart; that copy is all that is left.
    assert all(p.startswith("Temp/~nsu") for p in set(kit.files()) - set(files_before))
    assert kit.mentions() == registry_before


def test_sign_in_start_and_snapwrens_own_update_keep_the_settings(desktop, kit, installers,
                                                                  test_env):
    kept = desktop.prefix.write_settings(SETTINGS).read_bytes()
    assert desktop.start(installers["1.0.0"], "/S").wait(60) == 0
    assert not desktop.tool("processes", "Snapwren.exe"), "a silent install starts nothing"
    kit.check_installed("1.0.0")

    server = Server(test_env.certs)
    try:
        server.version_json("1.0.1", "https://localhost/Setup.exe")
        server.routes["/Setup.exe"] = (200, open(installers["1.0.1"], "rb").read())
        desktop.start("wineboot")  # a sign-in: it starts what the user's Run key names
        app = kit.running()
        offer = desktop.message_box(15, pid=app.pid, title="Update verfügbar")
        desktop.answer(offer, IDYES)
        desktop.answer(desktop.message_box(30, pid=app.pid, title="Update bereit"), IDOK)
        assert kit.ended(app)
        # The downloaded installer waits for Snapwren to be gone, installs over it, starts it.
        updated = kit.running(other_than=app.pid, timeout=60)
        kit.check_installed("1.0.1")
        poll(lambda: not desktop.tool("windows", "--class", "#32770", "--visible"),
             10, "the wizard to close by itself")
        poll(lambda: server.paths().count("/version.json") == 2, 15, "the new version's check")
        assert not desktop.tool("msgbox", "--wait", 2000), "it is up to date"
    finally:
        server.stop()
    desktop.tool("post", updated.tray["hwnd"], 0x10)  # WM_CLOSE
    assert kit.ended(updated)
    desktop.start(kit.folder / "Uninstall.exe", "/S").wait(30)
    kit.uninstalled()
    assert desktop.prefix.settings.read_bytes() == kept
    assert kit.registry(UNINSTALL) is None and "Snapwren" not in (kit.registry(RUN) or {})
    assert not kit.shortcut.exists()


def test_an_installer_started_beside_a_running_snapwren_waits_then_asks(desktop, kit,
                                                                        installers):
    assert desktop.start(installers["1.0.0"], "/S").wait(60) == 0
    app = Snapwren(desktop, desktop.start(kit.folder / "Snapwren.exe"))
    app.wait_ready()
    (icon,) = desktop.wait_tray_icons(1)
    asking = desktop.start(installers["1.0.1"])
    silent = desktop.start(installers["1.0.1"], "/S")
    page = wizard(desktop, "Snapwren 1.0.1 Installation")
    assert silent.wait(30) == 2, "the silent one gives up after its wait"
    kit.check_installed("1.0.0")
    box = desktop.message_box(15, title="Snapwren 1.0.1 Installation")
    assert (box["text"], box["buttons"]) == (STILL_RUNNING, [IDRETRY, IDCANCEL])
    app.choose(icon, "Beenden")
    assert app.popen.wait(10) == 0
    desktop.answer(box, IDRETRY)
    assert asking.wait(30) == 0 and desktop.gone(page["hwnd"])
    kit.running()
    kit.check_installed("1.0.1")
