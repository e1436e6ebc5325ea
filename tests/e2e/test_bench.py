"""The benchmark (tests/bench, scripts/bench.sh) on the test desktop, a few rounds: it runs real
capture sessions, and the figures that do not depend on the machine's load hold here too."""

from conftest import exe, winpath


def test_sessions_repaint_cheaply_and_give_their_memory_back(desktop, tmp_path):
    out = tmp_path / "figures.txt"
    desktop.prefix.wine(exe("snapwren_bench.exe"), "--out", winpath(out),
                        "--repeats", "5", timeout=180)
    figures = {key: float(value) for key, value in
               (line.split("\t") for line in out.read_text().splitlines())}
    assert all(figures[key] > 0 for key in ("blit", "start", "repaint", "move", "hover",
                                            "png_bytes")), figures
    # Bounds far from what is measured, so that a loaded machine does not decide the outcome.
    # Darkening the whole frozen screen anew for every paint cost about one blit per move.
    assert figures["move"] < figures["blit"] / 2 and figures["hover"] < figures["blit"] / 4
    # A session holds the frozen screen, its darkened copy and the back buffer while it runs,
    # and none of them after it.
    screen = figures["width"] * figures["height"] * 4
    assert figures["mem_after"] - figures["mem_before"] < min(screen / 2, 5 * 2**20), figures
