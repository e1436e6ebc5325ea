"""Two monitors, one left of the primary: the virtual screen starts at x = -1280. The overlay
covers both, and a selection across the seam copies exactly what both show. Near the lower edge
of the smaller monitor the action row goes above the selection, where that monitor shows it.

A Wine virtual desktop is always one monitor, so this module runs its own X server: Xorg with
the dummy video driver, a 1280 x 1024 monitor at the left and the 1920 x 1080 primary right of it,
and a prefix without the virtual desktop. Windows coordinates are X coordinates minus 1280."""

import os
import subprocess

import pytest

from conftest import ARTIFACTS, PREFIXES, Desktop, Prefix, center, pattern_at

CONFIG = """
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
  Modeline "1920x1080" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync
  Modeline "1280x1024" 108.00 1280 1328 1440 1688 1024 1025 1028 1066 +hsync +vsync
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 65536
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
EndSection
"""


@pytest.fixture(scope="module")
def screens(tmp_path_factory):
    """A prefix without virtual desktop on a running Xorg with the two monitors."""
    folder = tmp_path_factory.mktemp("xorg")
    (folder / "dummy.conf").write_text(CONFIG)
    read, write = os.pipe()
    xorg = subprocess.Popen(["Xorg", "-displayfd", str(write), "-config", folder / "dummy.conf",
                             "-noreset", "-nolisten", "tcp", "-logfile", folder / "xorg.log"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        # The number and its line end come separately; Xorg dies of a pipe closed in between.
        number = b""
        while not number.endswith(b"\n") and (chunk := os.read(read, 32)):
            number += chunk
        env = dict(os.environ, DISPLAY=f":{number.decode().strip()}")
        for args in (["--addmode", "DUMMY1", "1280x1024"],
                     ["--output", "DUMMY0", "--mode", "1920x1080", "--pos", "1280x0", "--primary",
                      "--output", "DUMMY1", "--mode", "1280x1024", "--pos", "0x0"],
                     # A full query makes the server probe its outputs again; Wine reads the
                     # cached configuration, which showed only the primary monitor until then.
                     ["--query"]):
            subprocess.run(["xrandr", *args], env=env, check=True, capture_output=True,
                           timeout=30)
        prefix = Prefix(PREFIXES / f"monitors-{os.getpid()}", env["DISPLAY"])
        prefix.reg("delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f")
        yield prefix
        prefix.kill()
    finally:
        xorg.terminate()
        xorg.wait(10)
        os.close(read)


@pytest.fixture
def desktop(screens, request):
    screen = Desktop(screens, ARTIFACTS / "test_monitors" / request.node.name)
    screen.tool_start("keepalive")
    yield screen
    for popen in screen.processes:
        popen.kill()
    screens.kill()


def test_overlay_covers_both_monitors_copies_across_the_seam_and_keeps_the_toolbar_on_them(
        desktop):
    desktop.pattern((-1000, 200, 400, 1024))
    app = desktop.start_snapwren()
    # Without a desktop, keys reach Wine and its hotkeys only while a Wine window has the focus.
    desktop.click(1280, 400)
    overlay = app.capture()
    assert overlay["rect"] == [-1280, 0, 1920, 1080]
    frozen = desktop.screenshot("frozen")
    for wx, wy in [(-300, 250), (300, 550)]:  # in the window under the pointer, outlined clear
        assert frozen.pixel(wx + 1280, wy) == pattern_at(wx, wy), (wx, wy)

    app.select((-200, 300, 200, 500), monitor=(1280, 0, 3200, 1080), offset=1280)
    shot = desktop.screenshot("selected")
    assert shot.pixel(1180, 400) == pattern_at(-100, 400), "clear on the left monitor"
    assert shot.pixel(1380, 400) == pattern_at(100, 400), "clear on the primary"
    desktop.key("ctrl+c")
    app.closed(overlay)
    _, picture = desktop.clipboard_picture()
    assert (picture.width, picture.height) == (400, 200) and not picture.mismatches((-200, 300))

    # Below it the left monitor ends at 1024 and the virtual screen at 1080: the row flips up.
    desktop.click(580, 900)
    overlay = app.capture()
    buttons = app.select((-900, 800, -500, 1000), monitor=(0, 0, 1280, 1024), offset=1280)
    assert buttons["Kopieren"][3] <= 800
    desktop.click(*center(buttons["Kopieren"]))
    app.closed(overlay)
    assert not desktop.clipboard_picture()[1].mismatches((-900, 800), (400, 200))
