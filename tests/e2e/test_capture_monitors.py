"""Two monitors, one left of the primary: the virtual screen starts at x = -1280. The overlay
must cover both, and a selection across the seam must copy exactly what both show.

A Wine virtual desktop is always one monitor, so this module runs its own X server: Xorg with
the dummy video driver, one 3200 x 1080 screen split by xrandr into a 1280 x 1024 monitor at the
left and the 1920 x 1080 primary right of it, and a prefix without the virtual-desktop keys.
Windows screen coordinates are X coordinates minus 1280."""

import os
import shutil
import signal
import subprocess
import time

import pytest

from capture_support import (Session, darkened, near, pattern_at, start_capturetool,
                             toolbar_shown, toolbar)
from conftest import Desktop, WinePrefix, poll

X_OFFSET = 1280  # X coordinate of the primary monitor's left edge
PATTERN = (-400, 200, 400, 600)  # Windows coordinates: half on each monitor

DUMMY_CONFIG = """
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
  Modeline "1920x1080" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync
  Modeline "1280x1024" 108.00 1280 1328 1440 1688 1024 1025 1028 1066 +hsync +vsync
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual 3200 1080
  EndSubSection
EndSection
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoAddGPU" "false"
EndSection
"""


class TwoMonitorPrefix(WinePrefix):
    """The module's prefix, shown on the two-monitor X server instead of the run's Xvfb."""

    def __init__(self, test_env, path, display):
        super().__init__(test_env, path)
        self.display = display

    @property
    def env(self):
        env = super().env
        env["DISPLAY"] = self.display
        return env


@pytest.fixture(scope="module")
def two_monitors(test_env, tmp_path_factory):
    """Display name of a running Xorg with two monitors side by side."""
    if not shutil.which("Xorg"):
        pytest.fail("Xorg is missing: run scripts/setup.sh")
    work = tmp_path_factory.mktemp("xorg")
    config = work / "dummy.conf"
    config.write_text(DUMMY_CONFIG)
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xorg", "-displayfd", str(write_end), "-config", str(config), "-noreset",
         "-nolisten", "tcp", "-logfile", str(work / "xorg.log")],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        # Xorg writes the number and the line end separately, and dies of a closed pipe if the
        # reader has gone in between: read the whole line.
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_end, 32)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        number = number.decode().strip()
        assert number, f"Xorg gave no display number; see {work / 'xorg.log'}"
        display = f":{number}"
        env = dict(os.environ, DISPLAY=display)

        def xrandr(*args):
            result = subprocess.run(["xrandr", *args], env=env, capture_output=True, timeout=30)
            assert result.returncode == 0, f"xrandr {args}: {result.stderr.decode()}"
        xrandr("--addmode", "DUMMY1", "1280x1024")
        xrandr("--output", "DUMMY0", "--mode", "1920x1080", "--pos", "1280x0", "--primary",
               "--output", "DUMMY1", "--mode", "1280x1024", "--pos", "0x0")
        # A full query makes the server probe its outputs again; until then Wine, which reads
        # the server's cached configuration, still sees only the primary monitor.
        xrandr("--query")
        yield display
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait(10)


@pytest.fixture(scope="module")
def monitor_prefix(test_env, two_monitors):
    path = test_env.prefixes_dir / f"monitors-{os.getpid()}"
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run(["cp", "-a", str(test_env.template), str(path)], check=True)
    prefix = TwoMonitorPrefix(test_env, path, two_monitors)
    # Without a virtual desktop Wine shows every monitor of the X server.
    prefix.regedit('REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"=-\n')
    # regedit ran in the template's virtual desktop; the next start must come up without one.
    prefix.kill_server()
    yield prefix
    prefix.kill_server()
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def screens(monitor_prefix, test_env, request):
    artifacts = test_env.artifacts / "test_capture_monitors" / request.node.name
    desktop = Desktop(monitor_prefix, artifacts)
    try:
        desktop.start_snaptool("keepalive")
        yield desktop
    finally:
        desktop.stop_all()
        monitor_prefix.kill_server()


def x(windows_x):
    return windows_x + X_OFFSET


def test_overlay_covers_both_monitors_and_copies_across_the_seam(screens):
    metrics = screens.snaptool_json("metrics")[0]
    assert (metrics["virtual_left"], metrics["virtual_top"], metrics["virtual_width"],
            metrics["virtual_height"], metrics["monitors"]) == (-1280, 0, 3200, 1080, 2)

    left, top, right, bottom = PATTERN
    start_capturetool(screens, "pattern", left, top, right - left, bottom - top)
    app = screens.start_snapwren()
    session = Session(screens, app)
    # Without a desktop, a key reaches Wine (and its hotkeys) only while a Wine window has
    # the X focus.
    screens.click(x(0), 400)
    overlay = session.start_by_hotkey()
    assert overlay["rect"] == [-1280, 0, 1920, 1080]

    frozen = screens.screenshot("frozen")
    for wx, wy in [(-300, 250), (300, 550)]:
        assert near(frozen.pixel(x(wx), wy), darkened(pattern_at(wx, wy))), (wx, wy)

    # Overlay client coordinates are Windows coordinates + 1280, the same as X coordinates.
    selection = (-200, 300, 200, 500)
    screens.drag((x(-200), 300), (x(200), 500))
    buttons = toolbar(tuple(x(v) if i % 2 == 0 else v for i, v in enumerate(selection)),
                      3200, 1080)
    shot = session.wait_screen("selected", lambda s: toolbar_shown(s, buttons))
    assert shot.pixel(x(-100), 400) == pattern_at(-100, 400), "clear on the left monitor"
    assert shot.pixel(x(100), 400) == pattern_at(100, 400), "clear on the primary"

    screens.key("ctrl+c")
    session.wait_closed(overlay)
    header, picture = session.clipboard_picture("across")
    assert (header["width"], header["height"]) == (400, 200)
    bad = picture.mismatches(pattern_at, (-200, 300))
    assert not bad, f"{len(bad)} pixels differ, first {bad[:3]}"
    app.stop()
