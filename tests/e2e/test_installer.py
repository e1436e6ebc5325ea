"""The installer (installer/snapwren.nsi) as a user meets it: the wizard, the Start-menu entry, the
start at sign-in, the uninstaller, and Snapwren's own update to the build's snapwren_next.exe
(1.0.1), signed by the release script. Each test starts and ends without an installation."""

import subprocess
from pathlib import Path

import pytest

from conftest import (IDCANCEL, IDOK, IDRETRY, IDYES, PREFIXES, REPO, Snapwren, center, exe,
                      poll, winpath)
from servers import TEST_KEY

UNINSTALL = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Snapwren"
RUN = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
STILL_RUNNING = ("Snapwren läuft noch.\n\nZum Fortfahren Snapwren über „Beenden“ im Tray-Menü "
                 "schließen und dann „Wiederholen“ wählen.")
BUILT = {"1.0.0": "Snapwren.exe", "1.0.1": "snapwren_next.exe"}


@pytest.fixture(scope="module")
def installers():
    """Each version's installer; 1.0.1's signed, as a release is, for Snapwren's own update."""
    sign = ["--sign", TEST_KEY, "--url", "https://localhost/Setup.exe", "--sequence", "1"]
    build = lambda name, *more: subprocess.run(  # noqa: E731
        ["bash", REPO / "scripts" / "build-installer.sh", "--exe", exe(name), "--outdir",
         PREFIXES / "installers", *more], capture_output=True, text=True)
    refused = build("Snapwren.exe")
    assert refused.returncode == 1 and "trusts the test key" in refused.stderr, refused.stderr
    built = {version: build(name, "--allow-test-key", *(sign if version == "1.0.1" else []))
             for version, name in BUILT.items()}
    assert all(r.returncode == 0 for r in built.values()), [r.stderr for r in built.values()]
    return {version: result.stdout.splitlines()[-1] for version, result in built.items()}


class Kit:
    """One prefix's view of a Snapwren installation."""

    def __init__(self, desktop):
        self.desktop, self.user = desktop, desktop.prefix.user
        self.folder = self.user / "AppData" / "Local" / "Programs" / "Snapwren"
        self.windows = rf"C:\users\{self.user.name}\AppData\Local\Programs\Snapwren"
        self.link = (self.user / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" /
                     "Programs" / "Snapwren.lnk")

    def registry(self, key):
        """{name: data} of a key, None when it is missing."""
        code, out = self.desktop.prefix.wine("reg", "query", key, check=False)
        return None if code else {line.split(None, 2)[0]: line.split(None, 2)[-1]
                                  for line in out.splitlines() if line.startswith("    ")}

    def mentions(self):
        """Every line of the user's registry that names Snapwren."""
        export = self.desktop.prefix.path / "hkcu.reg"
        self.desktop.prefix.wine("regedit", "/E", winpath(export), "HKEY_CURRENT_USER")
        return sorted(line for line in export.read_bytes().decode("utf-16").splitlines()
                      if "snapwren" in line.lower())

    def files(self):
        return {str(p.relative_to(self.user)) for p in self.user.rglob("*")}

    def running(self, other_than=None, timeout=30.0):
        """The Snapwren of the installation whose tray window appears."""
        trays = lambda: self.desktop.windows(message=True, cls="SnapwrenTrayClass")  # noqa: E731
        return Snapwren(self.desktop, tray=poll(lambda: [w for w in trays() if w["pid"] !=
                                                         other_than], timeout, "Snapwren")[0])

    def check_installed(self, version, autostart=True):
        assert sorted(p.name for p in self.folder.iterdir()) == ["Snapwren.exe", "Uninstall.exe"]
        assert (self.folder / "Snapwren.exe").read_bytes() == exe(BUILT[version]).read_bytes()
        target, uninstaller = self.windows + r"\Snapwren.exe", self.windows + r"\Uninstall.exe"
        # The link names its target in ANSI and its working folder in UTF-16.
        link = self.link.read_bytes()
        assert target.encode() in link and self.windows.encode("utf-16-le") in link
        assert self.registry(UNINSTALL).items() >= {
            "DisplayName": "Snapwren", "DisplayVersion": version, "InstallLocation": self.windows,
            "UninstallString": f'"{uninstaller}"', "QuietUninstallString": f'"{uninstaller}" /S',
            "DisplayIcon": target + ",0"}.items()
        assert (self.registry(RUN) or {}).get("Snapwren") == (f'"{target}"' if autostart else None)

    def uninstalled(self):
        """Waits for the uninstaller's last step, the entry among the installed programs."""
        poll(lambda: not self.folder.exists() and self.registry(UNINSTALL) is None, 30,
             "the uninstaller to finish")


@pytest.fixture
def kit(desktop):
    kit = Kit(desktop)
    assert not kit.folder.exists()
    yield kit
    if (kit.folder / "Uninstall.exe").exists():  # a failed test leaves no installation behind
        desktop.prefix.wine("taskkill", "/F", "/IM", "Snapwren.exe", check=False)
        desktop.start(kit.folder / "Uninstall.exe", "/S").wait(60)
        kit.uninstalled()


def wizard(desktop, caption):
    return poll(lambda: [w for w in desktop.windows(cls="#32770", visible=True)
                         if w["title"].strip() == caption and w["owner"] == "0x0"], 15, caption)[0]


def control(desktop, window, id=None, title=None, press=False):
    found = poll(lambda: next((c for c in desktop.tool("children", window["hwnd"])
                               if c["visible"] and id in (None, c["id"])
                               and title in (None, c["title"])), None), 10, f"{id or title}")
    if press:
        desktop.click(*center(found["rect"]))
    return found


def test_wizard_start_menu_entry_and_uninstall_while_running(desktop, kit, installers):
    files, registry = kit.files(), kit.mentions()
    setup = desktop.start(installers["1.0.0"])
    page = wizard(desktop, "Snapwren 1.0.0 Installation")
    assert control(desktop, page, IDOK, press=True)["title"] == "&Installieren"
    start_now = control(desktop, page, title="Snapwren jetzt starten")["rect"]
    desktop.click(start_now[0] + 7, center(start_now)[1])  # unticked: the Start menu will do
    control(desktop, page, IDOK, press=True)
    assert setup.wait(30) == 0 and not desktop.window(1, message=True, cls="SnapwrenTrayClass")
    kit.check_installed("1.0.0")
    desktop.start("start", "/unix", kit.link)  # as the Start menu does with its entry
    app = kit.running()
    icon = desktop.tray_icon()
    settings = desktop.prefix.write_settings("[General]\nLanguage=1\n")

    # Uninstalling while Snapwren runs, with "Einstellungen löschen" ticked, asks to quit it.
    desktop.start(kit.folder / "Uninstall.exe")
    page = wizard(desktop, "Snapwren deinstallieren")
    tree = control(desktop, page, 1032)["rect"]
    desktop.click(tree[0] + 9, tree[1] + 25)
    control(desktop, page, IDOK, press=True)
    box = desktop.message_box(title="Snapwren deinstallieren")
    assert (box["text"], box["buttons"]) == (STILL_RUNNING, [IDRETRY, IDCANCEL])
    app.choose(icon, "Beenden")
    assert desktop.gone(app.tray["hwnd"])
    desktop.answer(box, IDRETRY)
    poll(lambda: control(desktop, page, IDOK)["title"] == "&Beenden", 15, "the end")
    control(desktop, page, IDOK, press=True)
    kit.uninstalled()
    assert not settings.parent.exists()
    # Snapwren writes nothing into the temporary folder. NSIS runs the uninstaller from a copy
    # there and marks it for deletion at the next restart, and the plug-in folders (ns*.tmp) it
    # makes there outlive it now and then under a busy Wine: the folder is left out.
    left = sorted(p for p in kit.files() - files if not p.startswith("Temp/"))
    assert not left, f"left behind: {left}"
    assert kit.mentions() == registry


def test_sign_in_start_and_snapwrens_own_update_keep_the_settings(desktop, kit, installers,
                                                                   server):
    kept = desktop.prefix.write_settings("[General]\nLanguage=1\n").read_bytes()
    assert desktop.start(installers["1.0.0"], "/S").wait(60) == 0
    assert not desktop.window(2, message=True, cls="SnapwrenTrayClass"), "it started nothing"
    kit.check_installed("1.0.0")
    setup = Path(installers["1.0.1"])
    server.routes["/Setup.exe"] = (200, setup.read_bytes())
    server.routes["/version.json"] = (200, setup.with_suffix(".json").read_bytes())
    desktop.start("wineboot")  # a sign-in: it starts what the user's Run key names
    app = kit.running()
    desktop.answer(desktop.message_box(15, pid=app.pid, title="Update verfügbar"), IDYES)
    desktop.answer(desktop.message_box(30, pid=app.pid, title="Update bereit"), IDOK)
    assert desktop.gone(app.tray["hwnd"])
    # The downloaded installer waits for Snapwren to be gone, installs over it, starts it.
    updated = kit.running(other_than=app.pid, timeout=60)
    kit.check_installed("1.0.1")
    poll(lambda: not desktop.windows(cls="#32770", visible=True), 10, "the wizard to close")
    poll(lambda: server.paths().count("/version.json") == 2, 15, "the new version's check")
    assert not desktop.tool("msgbox", "--wait", 2000), "it is up to date"
    desktop.tool("post", updated.tray["hwnd"], 0x10)  # WM_CLOSE
    assert desktop.gone(updated.tray["hwnd"])
    desktop.start(kit.folder / "Uninstall.exe", "/S").wait(30)
    kit.uninstalled()
    assert desktop.prefix.settings.read_bytes() == kept
    assert kit.registry(UNINSTALL) is None and "Snapwren" not in (kit.registry(RUN) or {})
    assert not kit.link.exists()
