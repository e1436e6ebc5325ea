"""Pinned screenshots through the real UI: a selection pinned with Ctrl+P stays on the screen with
exactly its pixels, moves, zooms about the pointer, copies from its menu and closes by Esc; pins of
two sessions close together from one menu and give their memory back."""

from conftest import PINK, center, pattern_at, poll

PIN = "SnapwrenPin"
WINDOW = (200, 150, 1000, 650)  # snaptool's pattern window
SELECTION = (300, 200, 700, 500)


def framed(rect):
    return [rect[0] - 1, rect[1] - 1, rect[2] + 1, rect[3] + 1]


def pins(desktop, app):
    return desktop.windows(cls=PIN, pid=app.pid, visible=True)


def pin_rect(desktop, app, expected):
    """Waits for the only pin to have the window rectangle `expected`."""
    seen = []
    try:
        poll(lambda: (seen.append([p["rect"] for p in pins(desktop, app)]), seen[-1] == [expected])[1])
    except AssertionError:
        raise AssertionError(f"the pin is not at {expected}: {seen[-1]}") from None


def committed(desktop, app):
    return desktop.tool("memory", app.pid)[0]["committed"]


def test_a_pin_shows_its_pixels_moves_zooms_copies_and_closes(desktop, snapwren):
    desktop.pattern(WINDOW)
    overlay = snapwren.capture()
    snapwren.select(SELECTION)
    desktop.key("ctrl+p")
    snapwren.closed(overlay)
    pin = desktop.window(cls=PIN, pid=snapwren.pid, visible=True)
    assert pin["rect"] == framed(SELECTION), "the picture exactly where the selection was"
    # Wine hands the mouse to a new window only once the desktop shows it.
    desktop.wait_screen("pinned", lambda shot: shot.pixel(299, 350) == PINK)

    # One step, and the button let go only once the pin has moved: Wine reads a pointer event
    # that X made before the window's move reached it as if made after, so a further step, or a
    # release close behind the step, would carry the pin as far again. A hand lets go later.
    moved = (450, 300, 850, 600)
    desktop.move(500, 350)
    desktop.xdotool("mousedown", 1, "mousemove", 650, 450)
    pin_rect(desktop, snapwren, framed(moved))
    desktop.xdotool("mouseup", 1)
    shot = desktop.screenshot("moved")
    wrong = [(x, y) for y in range(moved[1], moved[3]) for x in range(moved[0], moved[2])
             if shot.pixel(x, y) != pattern_at(x - 150, y - 100)]
    assert not wrong, f"{len(wrong)} pixels are not the pinned ones: {wrong[:3]}"
    assert shot.pixel(449, 450) == PINK and shot.pixel(850, 450) == PINK, "its frame"

    # 110 % about the pointer at (650, 450): its picture point stays under it.
    desktop.move(650, 450)
    desktop.xdotool("click", 4)
    pin_rect(desktop, snapwren, framed((430, 285, 870, 615)))
    for rect in (moved, (470, 315, 830, 585)):  # each notch once the last has moved the pin
        desktop.xdotool("click", 5)
        pin_rect(desktop, snapwren, framed(rect))
    desktop.key("0")  # 100 % again, its top-left corner kept
    pin_rect(desktop, snapwren, framed((470, 315, 870, 615)))

    snapwren.choose((600, 400), 0)  # "Kopieren", the menu's items counted without separators
    desktop.balloon("Bild ist in der Zwischenablage.")
    header, picture = desktop.clipboard_picture()
    assert picture.mismatches(SELECTION[:2], (400, 300)) == []
    desktop.key("Escape")
    assert desktop.gone(pin["hwnd"]), "Esc closes it"


def test_pins_of_two_sessions_close_together_and_give_their_memory_back(desktop, snapwren):
    desktop.pattern(WINDOW)
    for _ in range(2):  # Wine keeps a screen's worth once the screen has been read twice
        overlay = snapwren.capture()
        desktop.key("Escape")
        snapwren.closed(overlay)
    before = committed(desktop, snapwren)

    overlay = snapwren.capture()
    snapwren.select(WINDOW, click=center(WINDOW))
    desktop.key("ctrl+p")
    snapwren.closed(overlay)
    pin_rect(desktop, snapwren, framed(WINDOW))
    # A click on the pin selects the window under it: Snapwren's own windows are no targets.
    overlay = snapwren.capture()
    buttons = snapwren.select(WINDOW, click=center(WINDOW))
    desktop.click(*center(buttons["Anheften"]))
    snapwren.closed(overlay)
    poll(lambda: len(pins(desktop, snapwren)) == 2, 5, "two pins")
    during = committed(desktop, snapwren)

    snapwren.choose(center(WINDOW), 3)  # "Alle schließen"
    poll(lambda: not pins(desktop, snapwren), 5, "no pin")
    after = committed(desktop, snapwren)
    picture = 800 * 500 * 4
    assert after - before < picture, (before, during, after)
    assert during - before >= 2 * picture, (before, during)
