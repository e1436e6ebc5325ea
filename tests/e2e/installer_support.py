"""What the installer tests share: the installers built by scripts/build-installer.sh, the places
an installation touches inside the Wine prefix, and the wizard's windows.

The installers are built once per run from the Snapwren.exe of the build (1.0.0) and from
tests/snapwren_next.exe (the same program one patch version ahead)."""

import json
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from conftest import Screenshot, Snapwren, center, poll, run_process, winpath

REPO = Path(__file__).resolve().parents[2]

IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Snapwren"
RUN_KEY = r"Software\Microsoft\Windows\CurrentVersion\Run"
STILL_RUNNING = ("Snapwren läuft noch.\n\nZum Fortfahren Snapwren über „Beenden“ im Tray-Menü "
                 "schließen und dann „Wiederholen“ wählen.")

# Wine's shell hands every new shortcut to winemenubuilder, which writes desktop entries and
# icons into the tester's home ($HOME/.local/share/applications, ~/.config/menus). Windows has
# nothing of the kind; the tests switch it off in their prefixes.
NO_MENU_BUILDER = """REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]
"winemenubuilder.exe"=""
"""

_built = {}


def build_installer(exe, outdir):
    """Runs the documented command on a built Snapwren.exe; returns the installer's path."""
    result = subprocess.run(["bash", str(REPO / "scripts" / "build-installer.sh"), "--exe",
                             str(exe), "--outdir", str(outdir)],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return Path(result.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="session")
def installers(test_env):
    """{"current": 1.0.0 installer, "next": 1.0.1 installer}, built once per run."""
    if not _built:
        outdir = test_env.prefixes_dir / f"installers-{os.getpid()}"
        shutil.rmtree(outdir, ignore_errors=True)
        _built["current"] = build_installer(test_env.snapwren_exe, outdir)
        _built["next"] = build_installer(test_env.build_dir / "tests" / "snapwren_next.exe",
                                         outdir)
    return dict(_built)


@pytest.fixture
def no_menu_builder(desktop):
    """Switches winemenubuilder off in the running desktop's prefix before anything is installed
    (processes started from then on read the override)."""
    prefix = desktop.prefix
    env = dict(prefix.env, WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    reg = prefix.path / "no-menu-builder.reg"
    reg.write_text(NO_MENU_BUILDER.replace("\n", "\r\n"), encoding="latin-1")
    code, _, err = run_process(["wine", "regedit", "/S", winpath(reg)], env)
    assert code == 0, err
    reg.unlink()


class Kit:
    """One prefix's view of a Snapwren installation."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.prefix = desktop.prefix
        user = self.prefix.user_dir
        self.user = user
        self.programs = user / "AppData" / "Local" / "Programs"
        self.install_dir = self.programs / "Snapwren"
        self.exe = self.install_dir / "Snapwren.exe"
        self.uninstaller = self.install_dir / "Uninstall.exe"
        self.shortcut = (user / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" /
                         "Programs" / "Snapwren.lnk")
        self.windows_dir = f"C:\\users\\{user.name}\\AppData\\Local\\Programs\\Snapwren"

    # --- installtool

    def tool(self, *args):
        exe = self.prefix.test_env.build_dir / "tests" / "installtool.exe"
        code, out, err = self.prefix.run("wine", str(exe), *map(str, args), check=False)
        assert code in (0, 1), (args, code, err)
        return [json.loads(line) for line in out.decode("utf-8").splitlines()]

    def version(self, exe=None):
        """The file version of an installed (or any) Snapwren.exe, e.g. "1.0.1.0"."""
        # Once, in a full run, the version of the installed program came back empty while it
        # ran (not reproduced since): it is read again before the test gives up.
        for _ in range(3):
            lines = self.tool("version", winpath(exe or self.exe))
            if lines:
                return lines[0]["file"]
            time.sleep(0.5)
        raise AssertionError(f"no version resource in {exe or self.exe}")

    def image(self, pid):
        return self.tool("image", pid)[0]["path"]

    def registry(self, key):
        """{name: data} of a key below HKCU, or None when it is missing."""
        values = self.tool("regkey", key)
        return {v["name"]: v["data"] for v in values} if values else None

    def registry_mentions(self):
        """Every key and value below HKCU that names Snapwren."""
        return self.tool("regfind", "snapwren")

    def running(self, name):
        return [p["pid"] for p in self.tool("processes", name)]

    # --- the user's profile

    def files(self):
        """Every file and folder of the user's profile, as relative paths."""
        return sorted(str(p.relative_to(self.user)) for p in self.user.rglob("*"))

    def check_installed(self, version, autostart):
        """Everything an installation of `version` consists of, and nothing more."""
        assert sorted(p.name for p in self.install_dir.iterdir()) == ["Snapwren.exe",
                                                                      "Uninstall.exe"]
        assert self.version() == f"{version}.0"
        exe = f"{self.windows_dir}\\Snapwren.exe"
        shortcut = self.tool("shortcut", winpath(self.shortcut))
        assert shortcut == [{"target": exe, "arguments": "", "workdir": self.windows_dir}]
        entry = self.registry(UNINSTALL_KEY)
        assert entry is not None, "no entry among the installed programs"
        uninstaller = f"{self.windows_dir}\\Uninstall.exe"
        assert {k: entry[k] for k in ("DisplayName", "DisplayVersion", "InstallLocation",
                                      "UninstallString", "QuietUninstallString",
                                      "DisplayIcon")} == {
            "DisplayName": "Snapwren", "DisplayVersion": version,
            "InstallLocation": self.windows_dir, "UninstallString": f'"{uninstaller}"',
            "QuietUninstallString": f'"{uninstaller}" /S', "DisplayIcon": f"{exe},0"}
        run = (self.registry(RUN_KEY) or {}).get("Snapwren")
        assert run == (f'"{exe}"' if autostart else None)

    def wait_uninstalled(self, timeout=30.0):
        """The uninstaller runs from a copy in the temporary folder and its first process ends at
        once: waits until that copy has finished too. The folder goes before the registry
        entries, and the entry among the installed programs goes last; an installation that
        began earlier would lose its start at sign-in to the late uninstaller."""
        poll(lambda: (not self.install_dir.exists() and not self.running("Un.exe")
                      and self.registry(UNINSTALL_KEY) is None), timeout,
             "the uninstaller to finish")

    # --- Snapwren started by something else than the test

    def started_snapwren(self, other_than=None, timeout=30.0):
        """The running Snapwren (a conftest Snapwren without a Unix process) whose tray window
        appears, skipping the one with the Windows pid `other_than`."""
        def found():
            for window in self.desktop.windows(cls=Snapwren.TRAY_CLASS, message_only=True):
                if window["pid"] != other_than:
                    return window
            return None
        app = Snapwren(self.desktop, None)
        app.tray_window = poll(found, timeout, "a Snapwren tray window")
        return app

    def wait_exit(self, pid, timeout=15.0):
        found = self.desktop.snaptool_json("wait-exit", pid, "--timeout", int(timeout * 1000),
                                           timeout=timeout + 30)
        assert found, f"process {pid} did not end within {timeout:g} s"
        return found[0]["exit"]


# --- the wizard ---------------------------------------------------------------------------------


def wizard(desktop, caption, timeout=15.0):
    """The installer's or uninstaller's main window (not one of its message boxes)."""
    def found():
        for window in desktop.windows(cls="#32770", visible=True):
            if window["title"].strip() == caption and window["owner"] == "0x0":
                return window
        return None
    return poll(found, timeout, f"the window {caption!r}")


def control(desktop, window, control_id=None, text=None, timeout=10.0):
    """A visible child of a window by id or text, once it is there."""
    def found():
        for child in desktop.snaptool_json("children", window["hwnd"]):
            if child["visible"] and (control_id is None or child["id"] == control_id) and \
                    (text is None or child["title"] == text):
                return child
        return None
    return poll(found, timeout, f"the control {control_id or text!r}")


def click_control(desktop, window, control_id=None, text=None):
    desktop.click(*center(control(desktop, window, control_id, text)["rect"]))


def button_text(desktop, window, control_id):
    return control(desktop, window, control_id)["title"]


def click_box_button(desktop, box, button_id):
    """Clicks a message box button with the mouse and waits for the box to close."""
    button = next(c for c in desktop.snaptool_json("children", box["hwnd"])
                  if c["id"] == button_id and c["visible"])
    desktop.click(*center(button["rect"]))
    assert desktop.wait_window_gone(box["hwnd"]), f"{box['caption']} stayed open"


def tick_component(desktop, window, row):
    """Clicks the check box of the `row`-th entry (from 0) of the components list."""
    tree = control(desktop, window, control_id=1032)
    left, top = tree["rect"][0], tree["rect"][1]
    # Entries are 16 pixels high; the check box sits 9 pixels in from the list's left edge.
    desktop.click(left + 9, top + 9 + 16 * row)


def screenshot_painted(desktop, name, hwnd, timeout=5.0):
    """A screenshot once the window `hwnd` shows painted. The test bed's screenshot (ImageMagick
    reading the X root window) shows the message boxes that the installer opens from its worker
    thread as black rectangles under Wine 8 and Xvfb, while `import`, which reads every window's
    own contents, shows them as drawn: this one is taken with `import`."""
    shot = desktop.screenshot(name)
    rect = next(w["rect"] for w in desktop.windows() if w["hwnd"] == hwnd)
    area = (rect[2] - rect[0]) * (rect[3] - rect[1])

    def painted():
        subprocess.run(["import", "-window", "root", str(shot.path)], env=desktop.prefix.env,
                       check=True, capture_output=True, timeout=30)
        ppm = subprocess.run(["convert", str(shot.path), "ppm:-"], check=True,
                             capture_output=True, timeout=30).stdout
        fields = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        pixels = Screenshot(shot.path, int(fields.group(1)), int(fields.group(2)),
                            ppm[fields.end():])
        return pixels.count(rect, lambda rgb: rgb == (0, 0, 0)) < area // 2
    poll(painted, timeout, f"the window {hwnd} to be painted", interval=0.3)
