"""The benchmark (tests/bench) on the test desktop, a few rounds: it runs real capture sessions and
reports every figure, and a session gives its memory back. How fast they are is for
scripts/bench.sh to judge: the clock of a shared machine decides no test."""

from conftest import exe, winpath

FIGURES = ("blit", "start", "repaint", "hover", "move", "png_ms", "png_bytes", "width", "height",
           "mem_start", "mem_before", "mem_session", "mem_after")


def test_the_benchmark_reports_every_figure_and_a_session_gives_its_memory_back(desktop, tmp_path):
    out = tmp_path / "figures.txt"
    desktop.prefix.wine(exe("snapwren_bench.exe"), "--out", winpath(out),
                        "--repeats", "5", timeout=180)
    figures = {key: float(value) for key, value in
               (line.split("\t") for line in out.read_text().splitlines())}
    assert sorted(key for key in FIGURES if figures.get(key, 0) > 0) == sorted(FIGURES), figures
    # A session holds the frozen screen, its darkened copy and the back buffer while it runs,
    # and none of them after it.
    screen = figures["width"] * figures["height"] * 4
    assert figures["mem_after"] - figures["mem_before"] < min(screen / 2, 5 * 2**20), figures
