"""The editor's newer tools through the real UI, at 96 and 144 DPI: another program's window
selected with one click, a redacted area, numbered steps with one undone and put back by Ctrl+Z
and Ctrl+Y, all saved as PNG and checked pixel by pixel."""

import pytest

from conftest import center, decode, pattern_at, save_as, scale

# snaptool's window of known pixels. Wine's DWM may not answer for its outline; the window
# rectangle stands in, and for this borderless popup both are the same.
WINDOW = (300, 200, 800, 520)
REDACTED = (341, 230, 410, 275)
STEPS = [(500, 300), (560, 300), (620, 300), (680, 400)]
RED = (255, 0, 0)


def block_means(rect, block):
    """Each pixel of rect with the rounded mean of the test picture in its block, the blocks
    aligned to rect's top-left corner."""
    left, top, right, bottom = rect
    means = {}
    for by in range(top, bottom, block):
        for bx in range(left, right, block):
            cells = [(x, y) for y in range(by, min(by + block, bottom))
                     for x in range(bx, min(bx + block, right))]
            total = [sum(pattern_at(*cell)[k] for cell in cells) for k in range(3)]
            means.update((cell, tuple((t + len(cells) // 2) // len(cells) for t in total))
                         for cell in cells)
    return means


@pytest.mark.parametrize("dpi", [96, 144])
def test_window_in_one_click_redacted_and_numbered_into_the_saved_png(desktop, snapwren, dpi,
                                                                      tmp_path):
    desktop.pattern(WINDOW)
    overlay = snapwren.capture()
    buttons = snapwren.select(WINDOW, click=center(WINDOW))
    desktop.click(*center(buttons["Verpixeln"]))
    desktop.drag(REDACTED[2:], REDACTED[:2])
    desktop.click(*center(buttons["Nummer"]))
    below = [(x, y + scale(9, dpi)) for x, y in STEPS]  # in the circle, under the digit
    shows = lambda step, rgb: lambda shot: shot.pixel(*below[step]) == rgb
    for step in STEPS[:3]:
        desktop.click(*step)
    desktop.wait_screen("three", shows(2, RED))
    desktop.key("ctrl+z")
    desktop.wait_screen("undone", shows(2, pattern_at(*below[2])))
    desktop.key("ctrl+y")
    desktop.wait_screen("redone", shows(2, RED))
    desktop.key("ctrl+z")
    desktop.click(*STEPS[3])  # number 3 again
    desktop.wait_screen("three again", shows(3, RED))
    desktop.key("ctrl+s")
    save_as(desktop, snapwren, tmp_path / "steps.png")
    snapwren.closed(overlay)

    picture = decode(tmp_path / "steps.png")
    assert (picture.width, picture.height) == (500, 320), "exactly the window"
    means, r = block_means(REDACTED, scale(16, dpi)), scale(12, dpi) + 2
    circles = [(x - r, y - r, x + r, y + r) for x, y in STEPS[:2] + STEPS[3:]]
    wrong = [(x, y) for y in range(200, 520) for x in range(300, 800)
             if not any(a <= x < c and b <= y < d for a, b, c, d in circles)
             and picture.pixel(x - 300, y - 200)[:3] != means.get((x, y), pattern_at(x, y))]
    assert not wrong, f"{len(wrong)} pixels are neither the window's nor block means: {wrong[:3]}"
    for x, y in below[:2] + below[3:]:
        assert picture.pixel(x - 300, y - 200)[:3] == RED
        digit = (x - 300 - 4, y - 200 - scale(15, dpi), x - 300 + 4, y - 200 - scale(6, dpi))
        assert picture.count(digit, lambda rgba: min(rgba[:3]) > 200) > 4, "a white digit"
