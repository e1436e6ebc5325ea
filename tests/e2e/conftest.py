"""The end-to-end test bed: the real Snapwren.exe in a Wine virtual desktop on a private X server,
driven like a user with xdotool and observed with snaptool (a Win32 program of the tests) and
screenshots.

scripts/test.sh prepares the run and hands it over through environment variables: the build
directory, a booted template prefix, a directory for prefix copies, the test certificates, the
artifacts directory and DISPLAY. Each test module works in its own copy of the template; each test
gets a fresh virtual desktop in it (the Wine server is ended after every test, which ends every
process of the prefix, the shell and its tray icons included).

Fixtures:
    test_env      the run's paths (session)
    certs         the CA and the localhost server certificate (session)
    wine_prefix   the module's prefix: settings.ini paths, registry imports (module)
    desktop       a started virtual desktop with snaptool, xdotool and screenshot helpers
    snapwren      a started Snapwren, running on `desktop`, stopped at the end
    https_server  starts HTTPS servers on 127.0.0.1 with the test certificate
"""

import dataclasses
import http.server
import json
import os
import re
import select
import shutil
import signal
import ssl
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import pytest

POLL_INTERVAL = 0.1

# Modifier flags of RegisterHotKey and the virtual-key codes the tests use.
MOD_ALT, MOD_CONTROL, MOD_SHIFT = 1, 2, 4
VK = {letter: ord(letter) for letter in "ABCDEFGHIJKLMNOPQRSTUVWXYZ"}

ERROR_HOTKEY_ALREADY_REGISTERED = 1409


# --- small helpers --------------------------------------------------------------------------------


def poll(attempt, timeout=5.0, message="the condition", interval=POLL_INTERVAL):
    """Calls `attempt` every 100 ms until it returns something truthy, and returns that; fails the
    test with `message` when `timeout` seconds have passed."""
    deadline = time.monotonic() + timeout
    while True:
        value = attempt()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {message}")
        time.sleep(interval)


def winpath(path):
    """The Windows path of a Unix path, through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def center(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


def _read_line(stream, timeout):
    """One line from a child's stdout, or None when none came in time."""
    deadline = time.monotonic() + timeout
    line = b""
    fd = stream.fileno()
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        byte = os.read(fd, 1)
        if not byte:
            break
        if byte == b"\n":
            return line.decode("utf-8")
        line += byte
    return None


def run_process(args, env, timeout=60):
    """Runs a program to its end and returns (exit code, stdout, stderr) as bytes.

    Output goes through files, not pipes: a Wine program may start the Wine server or a service
    that inherits its output handles and lives on, and a pipe would then never reach its end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        popen = subprocess.Popen([str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err)
        try:
            code = popen.wait(timeout)
        except subprocess.TimeoutExpired:
            _stop_process(popen)
            raise
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read()


def _stop_process(popen, timeout=5.0):
    """Stops a child by its process id: first SIGTERM, then SIGKILL."""
    if popen.poll() is not None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(popen.pid, sig)
        except ProcessLookupError:
            return
        try:
            popen.wait(timeout)
            return
        except subprocess.TimeoutExpired:
            continue


# --- the run and its prefixes ---------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class TestEnv:
    __test__ = False  # a record of the run, not a test class

    build_dir: Path
    template: Path
    prefixes_dir: Path
    cert_dir: Path
    artifacts: Path
    display: str

    @property
    def snapwren_exe(self):
        return self.build_dir / "Snapwren.exe"

    @property
    def snaptool_exe(self):
        return self.build_dir / "tests" / "snaptool.exe"


@dataclasses.dataclass(frozen=True)
class Certs:
    ca_pem: Path
    ca_der: Path
    server_cert: Path
    server_key: Path


@pytest.fixture(scope="session")
def test_env():
    names = ["SNAPWREN_BUILD_DIR", "SNAPWREN_TEMPLATE_PREFIX", "SNAPWREN_PREFIXES_DIR",
             "SNAPWREN_CERT_DIR", "SNAPWREN_ARTIFACTS", "DISPLAY"]
    missing = [name for name in names if not os.environ.get(name)]
    if missing:
        pytest.exit("run the end-to-end tests through `bash scripts/test.sh` "
                    f"(not set: {', '.join(missing)})", returncode=4)
    env = TestEnv(Path(os.environ["SNAPWREN_BUILD_DIR"]),
                  Path(os.environ["SNAPWREN_TEMPLATE_PREFIX"]),
                  Path(os.environ["SNAPWREN_PREFIXES_DIR"]),
                  Path(os.environ["SNAPWREN_CERT_DIR"]),
                  Path(os.environ["SNAPWREN_ARTIFACTS"]),
                  os.environ["DISPLAY"])
    for path in (env.snapwren_exe, env.snaptool_exe, env.template):
        if not path.exists():
            pytest.exit(f"missing {path}", returncode=4)
    return env


@pytest.fixture(scope="session")
def certs(test_env):
    directory = test_env.cert_dir
    return Certs(directory / "ca.pem", directory / "ca.der", directory / "server.pem",
                 directory / "server.key")


class WinePrefix:
    """A copy of the booted template prefix (virtual desktop keys, font replacements and the
    test CA already in it)."""

    def __init__(self, test_env, path):
        self.test_env = test_env
        self.path = Path(path)

    @property
    def env(self):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.path), DISPLAY=self.test_env.display, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        return env

    @property
    def user_dir(self):
        """drive_c/users/<name>: Wine names the profile after the Unix user."""
        users = [p for p in (self.path / "drive_c" / "users").iterdir()
                 if p.is_dir() and p.name != "Public"]
        assert len(users) == 1, f"expected one user profile, found {users}"
        return users[0]

    @property
    def appdata(self):
        """The roaming application-data folder (CSIDL_APPDATA)."""
        return self.user_dir / "AppData" / "Roaming"

    @property
    def settings_dir(self):
        return self.appdata / "Snapwren"

    @property
    def settings_path(self):
        return self.settings_dir / "settings.ini"

    def write_settings(self, text):
        """Writes settings.ini as Snapwren would: 8-bit text with CR LF line ends."""
        self.settings_dir.mkdir(parents=True, exist_ok=True)
        self.settings_path.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n")
                                       .encode("latin-1"))
        return self.settings_path

    def read_settings(self):
        return self.settings_path.read_bytes()

    def remove_settings(self):
        shutil.rmtree(self.settings_dir, ignore_errors=True)

    def run(self, *args, timeout=60, check=True):
        """Runs a program with the prefix's environment; returns (exit code, stdout, stderr)."""
        code, out, err = run_process(args, self.env, timeout)
        if check and code != 0:
            raise AssertionError(f"{' '.join(map(str, args))} exited {code}: "
                                 f"{err.decode(errors='replace')}")
        return code, out, err

    def regedit(self, reg_text):
        """Imports registry text (REGEDIT4 format) into the prefix."""
        reg = self.path / "import.reg"
        reg.write_text(reg_text.replace("\n", "\r\n"), encoding="latin-1")
        self.run("wine", "regedit", "/S", winpath(reg))
        reg.unlink()

    def kill_server(self):
        """Ends every process of the prefix and waits until its Wine server has gone."""
        self.run("wineserver", "-k", check=False)
        self.run("wineserver", "-w", check=False)


@pytest.fixture(scope="module")
def wine_prefix(test_env, request):
    name = re.sub(r"[^\w.-]", "_", request.module.__name__)
    path = test_env.prefixes_dir / f"{name}-{os.getpid()}"
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run(["cp", "-a", str(test_env.template), str(path)], check=True)
    prefix = WinePrefix(test_env, path)
    yield prefix
    prefix.kill_server()
    shutil.rmtree(path, ignore_errors=True)


# --- screenshots ----------------------------------------------------------------------------------


class Screenshot:
    """The X screen's pixels (24-bit RGB), read from a PPM that ImageMagick wrote beside the PNG
    kept as the test's artifact."""

    def __init__(self, path, width, height, rgb):
        self.path = path
        self.width = width
        self.height = height
        self._rgb = rgb

    @classmethod
    def capture(cls, png_path, env):
        ppm = png_path.with_suffix(".ppm")
        subprocess.run(["convert", "x:root", "-write", str(png_path), f"ppm:{ppm}"], env=env,
                       check=True, capture_output=True, timeout=30)
        data = ppm.read_bytes()
        ppm.unlink()
        fields = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        width, height = int(fields.group(1)), int(fields.group(2))
        return cls(png_path, width, height, data[fields.end():])

    def pixel(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self._rgb[offset:offset + 3])

    def rgb_bytes(self):
        return self._rgb

    def pixels(self, rect):
        left, top, right, bottom = rect
        for y in range(max(top, 0), min(bottom, self.height)):
            for x in range(max(left, 0), min(right, self.width)):
                yield x, y, self.pixel(x, y)

    def count(self, rect, predicate):
        return sum(1 for _, _, rgb in self.pixels(rect) if predicate(rgb))


def is_flower_pixel(rgb):
    """A pixel of the pink flower of Snapwren's icon (petals, centre, dots), also where it is
    blended with the white taskbar; white, greys and the blue desktop are not."""
    r, g, b = rgb
    return r >= 200 and r - g >= 30 and r - b >= 20


def flower_clusters(shot, rect, minimum_pixels=20):
    """Centres of the groups of flower pixels in `rect`, left to right."""
    columns = {}
    for x, y, rgb in shot.pixels(rect):
        if is_flower_pixel(rgb):
            columns.setdefault(x, []).append(y)
    clusters, current = [], []
    for x in sorted(columns):
        if current and x - current[-1] > 2:
            clusters.append(current)
            current = []
        current.append(x)
    if current:
        clusters.append(current)
    result = []
    for xs in clusters:
        ys = [y for x in xs for y in columns[x]]
        if len(ys) >= minimum_pixels:
            result.append(((xs[0] + xs[-1]) // 2, (min(ys) + max(ys)) // 2))
    return result


# --- the desktop ----------------------------------------------------------------------------------


class SnaptoolError(AssertionError):
    pass


class Desktop:
    """One running Wine virtual desktop ("shell", 1600 x 900, with taskbar and tray) on the test
    X server. X and Windows screen coordinates are the same: the desktop window sits at 0,0."""

    def __init__(self, prefix, artifacts_dir):
        self.prefix = prefix
        self.test_env = prefix.test_env
        self.artifacts_dir = artifacts_dir
        self._processes = []
        self._shots = 0
        self._taskbar_rect = None

    # --- processes

    def start(self, *args, stdout=subprocess.DEVNULL, log_name=None):
        """Starts a Windows program (`wine <args>`) that the test's teardown stops by its pid."""
        log = None
        if log_name:
            self.artifacts_dir.mkdir(parents=True, exist_ok=True)
            log = open(self.artifacts_dir / log_name, "ab")
        popen = subprocess.Popen(["wine", *[str(a) for a in args]], env=self.prefix.env,
                                 stdin=subprocess.DEVNULL, stdout=stdout,
                                 stderr=log or subprocess.DEVNULL)
        if log:
            log.close()
        self._processes.append(popen)
        return popen

    def stop_all(self):
        for popen in reversed(self._processes):
            _stop_process(popen)
            if popen.stdout:
                popen.stdout.close()
        self._processes.clear()

    def snaptool(self, *args, timeout=30, check=True):
        """Runs snaptool once; returns (exit code, stdout as text)."""
        code, out, err = run_process(["wine", self.test_env.snaptool_exe, *args], self.prefix.env,
                                     timeout)
        text = out.decode("utf-8")
        if check and code != 0:
            raise SnaptoolError(f"snaptool {' '.join(map(str, args))} exited {code}: "
                                f"{text}{err.decode(errors='replace')}")
        return code, text

    def snaptool_json(self, *args, **kwargs):
        """Runs snaptool and parses its JSON lines; [] when it found nothing (exit 1)."""
        code, out = self.snaptool(*args, check=False, **kwargs)
        if code not in (0, 1):
            raise SnaptoolError(f"snaptool {' '.join(map(str, args))} exited {code}: {out}")
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def start_snaptool(self, *args):
        """Starts a long-running snaptool command and returns (popen, its first JSON line)."""
        popen = self.start(self.test_env.snaptool_exe, *args, stdout=subprocess.PIPE)
        line = _read_line(popen.stdout, timeout=20)
        assert line, f"snaptool {' '.join(map(str, args))} printed nothing"
        return popen, json.loads(line)

    # --- windows

    def windows(self, cls=None, title=None, pid=None, visible=False, message_only=False):
        return self.snaptool_json("windows", *self._filter(cls, title, pid, visible, message_only))

    def find_window(self, cls=None, title=None, pid=None, visible=False, message_only=False,
                    timeout=5.0):
        """The first window that matches, waiting up to `timeout` s; None when none appeared."""
        args = self._filter(cls, title, pid, visible, message_only)
        found = self.snaptool_json("find", *args, "--timeout", int(timeout * 1000),
                                   timeout=timeout + 30)
        return found[0] if found else None

    def wait_window_gone(self, hwnd, timeout=5.0):
        code, _ = self.snaptool("gone", "--hwnd", hwnd, "--timeout", int(timeout * 1000),
                                check=False, timeout=timeout + 30)
        return code == 0

    @staticmethod
    def _filter(cls, title, pid, visible, message_only):
        args = []
        if cls is not None:
            args += ["--class", cls]
        if title is not None:
            args += ["--title", title]
        if pid is not None:
            args += ["--pid", pid]
        if visible:
            args.append("--visible")
        if message_only:
            args.append("--message")
        return args

    def message_box(self, pid=None, title=None, timeout=5.0):
        """Waits for a visible dialog box and returns {hwnd, pid, caption, text, buttons, icon};
        icon is information, warning, error, question, none or unknown."""
        args = ["--timeout", int(timeout * 1000)]
        if pid is not None:
            args += ["--pid", pid]
        if title is not None:
            args += ["--title", title]
        found = self.snaptool_json("msgbox", *args, timeout=timeout + 30)
        assert found, f"no message box appeared within {timeout:g} s"
        return found[0]

    def press_button(self, dialog, button_id):
        """Clicks a button of a dialog (BM_CLICK), e.g. IDOK = 1, IDYES = 6."""
        self.snaptool("click", dialog["hwnd"] if isinstance(dialog, dict) else dialog, button_id)

    def open_menu_items(self, timeout=5.0):
        """The items of the open popup menu: [{index, id, text, separator, rect, ...}]."""
        items = self.snaptool_json("menu", "--timeout", int(timeout * 1000), timeout=timeout + 30)
        assert items, f"no popup menu appeared within {timeout:g} s"
        return items

    def menu_open(self):
        return bool(self.windows(cls="#32768", visible=True))

    def wait_menu_closed(self, timeout=5.0):
        poll(lambda: not self.menu_open(), timeout, "the popup menu to close")

    def dismiss_menu(self, timeout=5.0):
        """Closes an open popup menu without a choice, by clicking the empty desktop. (Keys do not
        reach a tray menu whose owner is a message-only window: such a window cannot become the
        foreground window, so the menu's thread never gets the keyboard.)"""
        self.click(800, 300)
        self.wait_menu_closed(timeout)

    # --- hotkeys

    def try_hotkey(self, modifiers, key):
        """Registers and releases a hotkey in a separate process: {registered, error}."""
        return self.snaptool_json("hotkey-try", modifiers, key)[0]

    def hold_hotkey(self, modifiers, key):
        """Keeps a hotkey registered by another program until the test ends."""
        popen, first = self.start_snaptool("hotkey-hold", modifiers, key)
        assert first["registered"], f"could not take the hotkey: {first}"
        return popen

    # --- input (xdotool on the test X server)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *[str(a) for a in args]], env=self.prefix.env, check=True,
                       timeout=30)

    def move(self, x, y):
        # A motion event only comes from a real move: step beside the target first.
        self.xdotool("mousemove", x - 3, y, "mousemove", x, y)

    def click(self, x, y, button=1, repeat=1):
        self.move(x, y)
        self.xdotool("click", "--repeat", repeat, "--delay", 80, button)

    def double_click(self, x, y):
        self.click(x, y, repeat=2)

    def right_click(self, x, y):
        self.click(x, y, button=3)

    def key(self, *keys):
        """xdotool key names, e.g. "ctrl+shift+s", "Escape", "Return"."""
        self.xdotool("key", "--delay", 50, *keys)

    def type_text(self, text):
        self.xdotool("type", "--delay", 30, text)

    def drag(self, start, end, steps=10, button=1):
        (x0, y0), (x1, y1) = start, end
        self.move(x0, y0)
        self.xdotool("mousedown", button)
        for i in range(1, steps + 1):
            self.xdotool("mousemove", x0 + (x1 - x0) * i // steps, y0 + (y1 - y0) * i // steps)
        self.xdotool("mouseup", button)

    # --- screen

    def screenshot(self, name):
        """Saves the whole X screen as <artifacts>/<NN>-<name>.png and returns its pixels."""
        self.artifacts_dir.mkdir(parents=True, exist_ok=True)
        self._shots += 1
        path = self.artifacts_dir / f"{self._shots:02d}-{name}.png"
        return Screenshot.capture(path, self.prefix.env)

    def taskbar_rect(self):
        """The taskbar's screen rectangle; it stays put for the desktop's life."""
        if self._taskbar_rect is None:
            self._taskbar_rect = self.snaptool_json("tray")[0]["rect"]
        return self._taskbar_rect

    def tray_icons(self, name="tray"):
        """Centres of the flower icons in the taskbar's notification area, left to right. Wine's
        shell puts the first icon at the right edge and each later one left of it."""
        return flower_clusters(self.screenshot(name), self.taskbar_rect())

    def wait_tray_icons(self, count, timeout=5.0, name="tray"):
        """Waits until the tray shows exactly `count` flower icons and returns their centres."""
        found = []

        def attempt():
            found[:] = self.tray_icons(name)
            return len(found) == count
        poll(attempt, timeout, f"{count} flower icon(s) in the tray (last seen: {found})")
        return list(found)

    def tray_tooltip(self, icon, timeout=5.0):
        """Hovers over a tray icon and returns the text of the tooltip that the shell shows."""
        self.move(*icon)

        def shown():
            for line in self.snaptool_json("tray"):
                if line["kind"] == "tooltip" and line["visible"] and line["text"]:
                    return line["text"]
            return None
        return poll(shown, timeout, "the tray icon's tooltip")

    # --- clipboard

    def clipboard_formats(self):
        return {entry["name"] or entry["id"] for entry in self.snaptool_json("clip-formats")}

    def clipboard_text(self):
        """CF_UNICODETEXT as a str, or None when the clipboard holds no text."""
        code, out = self.snaptool("clip-text", check=False)
        return out if code == 0 else None

    def set_clipboard_text(self, text):
        self.snaptool("clip-set-text", text)

    def clear_clipboard(self):
        self.snaptool("clip-clear")

    def clipboard_dib(self, name="clipboard"):
        """CF_DIB saved as <artifacts>/<name>.bmp; returns (header fields, path) or None."""
        self.artifacts_dir.mkdir(parents=True, exist_ok=True)
        path = self.artifacts_dir / f"{name}.bmp"
        found = self.snaptool_json("clip-dib", winpath(path))
        return (found[0], path) if found else None

    # --- Snapwren

    def start_snapwren(self, wait=True, timeout=10.0):
        """Starts Snapwren.exe. With `wait`, returns once its tray window exists."""
        app = Snapwren(self, self.start(self.test_env.snapwren_exe, log_name="snapwren.log"))
        if wait:
            app.wait_ready(timeout)
        return app


class Snapwren:
    """A started Snapwren.exe. `popen.pid` is the Unix process id (stopped by it at teardown);
    `pid` is the Windows process id, learned from the tray window."""

    TRAY_CLASS = "SnapwrenTrayClass"
    WATCHER_CLASS = "SnapwrenShellWatcher"

    def __init__(self, desktop, popen):
        self.desktop = desktop
        self.popen = popen
        self.tray_window = None

    @property
    def pid(self):
        return self.tray_window["pid"] if self.tray_window else None

    @property
    def running(self):
        return self.popen.poll() is None

    def wait_ready(self, timeout=10.0):
        self.tray_window = self.desktop.find_window(cls=self.TRAY_CLASS, message_only=True,
                                                    timeout=timeout)
        assert self.tray_window, f"no {self.TRAY_CLASS} window within {timeout:g} s"
        assert self.running, f"Snapwren exited with {self.popen.returncode}"
        return self.tray_window

    def wait_exit(self, timeout=10.0):
        """The exit code; Wine hands the Windows exit code to the Unix parent (low 8 bits)."""
        return self.popen.wait(timeout)

    def open_tray_menu(self, icon):
        """Right-clicks the tray icon and returns the menu's items."""
        self.desktop.right_click(*icon)
        return self.desktop.open_menu_items()

    def choose(self, items, text):
        """Clicks the menu item with this text."""
        item = next(i for i in items if i["text"] == text)
        self.desktop.click(*center(item["rect"]))

    def stop(self):
        _stop_process(self.popen)


def _artifacts_dir(test_env, request):
    module = request.node.module.__name__.rsplit(".", 1)[-1]
    return test_env.artifacts / module / re.sub(r"[^\w.-]+", "_", request.node.name)


@pytest.fixture
def desktop(wine_prefix, test_env, request):
    """A fresh virtual desktop in the module's prefix, without settings.ini. A hidden snaptool
    window keeps it alive: Wine ends the desktop (and the clipboard with it) about a second
    after its last process with a window has gone."""
    wine_prefix.remove_settings()
    screen = Desktop(wine_prefix, _artifacts_dir(test_env, request))
    try:
        screen.start_snaptool("keepalive")
        assert screen.find_window(cls="Shell_TrayWnd", visible=True, timeout=20), \
            "the virtual desktop showed no taskbar"
        yield screen
    finally:
        screen.stop_all()
        wine_prefix.kill_server()


@pytest.fixture
def snapwren(desktop):
    """Snapwren started on a fresh desktop with no settings.ini."""
    app = desktop.start_snapwren()
    yield app
    app.stop()


# --- HTTPS servers --------------------------------------------------------------------------------


class HttpsServer:
    """An HTTP server on 127.0.0.1 behind TLS with the test CA's localhost certificate (which
    the template prefix trusts), serving in a thread of the test process."""

    def __init__(self, handler_class, certs, port=443, context=None):
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler_class)
        if context is None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certs.server_cert, certs.server_key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    @property
    def url(self):
        return f"https://localhost:{self.port}" if self.port != 443 else "https://localhost"

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)


@pytest.fixture
def https_server(certs):
    """Factory: https_server(handler_class, port=443) starts a server; all stop at teardown."""
    servers = []

    def start(handler_class, port=443, context=None):
        server = HttpsServer(handler_class, certs, port, context)
        servers.append(server)
        return server
    yield start
    for server in servers:
        server.stop()
