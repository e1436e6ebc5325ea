"""The upload server of the tests: HTTPS on 127.0.0.1 with the test CA's localhost certificate,
recording every request and answering each as the test asks.

The answer is chosen by the request's path: /upload.php (the address Snapwren is built with) gets
the server's current `mode`; /t/<mode>/upload.php always gets <mode>, so that one client test can
try every answer without reconfiguring the server. Modes:

    ok, ok-space-after, ok-space-before, ok-spaces  200 with the link in one of the four spellings
    utf8          200 with a link that holds non-ASCII letters, as UTF-8
    status-201, status-500  that status, with a link in the body all the same
    empty         200 with an empty body
    no-link       200 with JSON that carries no "url"
    huge          200 with a 2 MiB body that starts with a link
    limit         200 with a body of exactly 1 MiB that starts with a link
    stall-head    reads the request and never answers
    stall-body    sends the headers and part of a body without a link, then nothing more
    drop          reads the request and closes the connection without an answer
    slow:<s>      answers like ok after <s> seconds
    hold[:<mode>] answers like <mode> (default ok) once the test lets this upload proceed

Links are https://img.example/<n>.png, numbered from 1 in the order in which uploads arrive.
Only POSTs are uploads; anything else (the update check asks the same host) gets 404.
Stalled answers wait until the server stops.
"""

import dataclasses
import http.server
import json
import re
import ssl
import subprocess
import threading
import time

TWO_MIB = 2 * 1024 * 1024
ONE_MIB = 1024 * 1024


@dataclasses.dataclass
class UploadRequest:
    method: str
    path: str
    headers: dict
    body: bytes
    link: str
    number: int
    received: float  # time.monotonic() when the body had arrived

    @property
    def content_type(self):
        return self.headers.get("content-type", "")

    @property
    def boundary(self):
        found = re.fullmatch(r"multipart/form-data; boundary=(\S+)", self.content_type)
        return found.group(1) if found else None

    def parts(self):
        """The multipart body as [(headers, content)], parsed strictly: every piece of framing
        must be where RFC 7578 puts it, and nothing may follow the closing delimiter."""
        boundary = self.boundary
        assert boundary, f"no boundary in {self.content_type!r}"
        delimiter = b"--" + boundary.encode("ascii")
        body = self.body
        assert body.startswith(delimiter + b"\r\n"), body[:80]
        assert body.endswith(b"\r\n" + delimiter + b"--\r\n"), body[-80:]
        inner = body[len(delimiter) + 2:-(len(delimiter) + 6)]
        parts = []
        for chunk in inner.split(b"\r\n" + delimiter + b"\r\n"):
            head, separator, content = chunk.partition(b"\r\n\r\n")
            assert separator, f"part without a blank line: {chunk[:80]!r}"
            headers = {}
            for line in head.split(b"\r\n"):
                name, _, value = line.decode("ascii").partition(": ")
                headers[name.lower()] = value
            parts.append((headers, content))
        return parts


class UploadServerState:
    def __init__(self):
        self.mode = "ok"
        self.requests = []
        self.lock = threading.Lock()
        self.released = threading.Event()
        self.allowed = 0  # held answers with a number up to this go out

    def record(self, handler, body):
        with self.lock:
            number = len(self.requests) + 1
            request = UploadRequest(handler.command, handler.path,
                                    {k.lower(): v for k, v in handler.headers.items()}, body,
                                    f"https://img.example/{number}.png", number, time.monotonic())
            self.requests.append(request)
            return request

    def wait_requests(self, count, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                if len(self.requests) >= count:
                    return list(self.requests)
            time.sleep(0.05)
        raise AssertionError(f"the upload server got {len(self.requests)} request(s), "
                             f"expected {count}, within {timeout:g} s")


def json_link(link, spelling=""):
    """The reply's JSON with the link escaped the way JSON encoders escape slashes."""
    key = {"": '"url":', "ok-space-after": '"url": ', "ok-space-before": '"url" :',
           "ok-spaces": '"url" : '}[spelling]
    return ('{"success":true,' + key + '"' + link.replace("/", "\\/") + '","size":1}').encode()


def handler_class(state):
    class UploadHandler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, format, *args):  # the tests look at state.requests instead
            pass

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            request = state.record(self, body)
            found = re.fullmatch(r"/t/([^/]+)/upload\.php", self.path)
            mode = found.group(1) if found else state.mode
            try:
                self.respond(mode, request)
            except (ssl.SSLError, ConnectionError):
                # The client gave up first (a time-out, or the test ended the program).
                self.close_connection = True

        def do_GET(self):
            # Snapwren's start-up update check asks the same host for /version.json.
            self.answer(404, b"")

        def respond(self, mode, request):
            link = request.link
            if mode in ("ok", "ok-space-after", "ok-space-before", "ok-spaces"):
                self.answer(200, json_link(link, "" if mode == "ok" else mode))
            elif mode == "hold" or mode.startswith("hold:"):
                while state.allowed < request.number and not state.released.wait(0.05):
                    pass
                self.respond(mode[5:] or "ok", request)
            elif mode.startswith("slow:"):
                state.released.wait(float(mode[5:]))
                self.answer(200, json_link(link))
            elif mode == "utf8":
                self.answer(200, '{"url":"https://img.example/Grüße/🌸.png"}'.encode("utf-8"))
            elif mode.startswith("status-"):
                self.answer(int(mode[7:]), json_link(link))
            elif mode == "empty":
                self.answer(200, b"")
            elif mode == "no-link":
                self.answer(200, b'{"success":true,"link":"https://img.example/x.png"}')
            elif mode in ("huge", "limit"):
                head = json_link(link)
                size = TWO_MIB if mode == "huge" else ONE_MIB
                self.answer(200, head + b" " * (size - len(head)))
            elif mode == "stall-head":
                state.released.wait()
                self.close_connection = True
            elif mode == "stall-body":
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", "4096")
                self.end_headers()
                self.wfile.write(b'{"success":true,"thumb":"')
                self.wfile.flush()
                state.released.wait()
                self.close_connection = True
            elif mode == "drop":
                self.close_connection = True
            else:
                raise ValueError(f"unknown mode {mode}")

        def answer(self, status, body):
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()

    return UploadHandler


def make_untrusted_context(directory):
    """A TLS context with a self-signed localhost certificate that no prefix trusts."""
    key, cert = directory / "untrusted.key", directory / "untrusted.pem"
    if not cert.exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=localhost", "-addext",
                        "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", str(key),
                        "-out", str(cert)], check=True, capture_output=True, timeout=60)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


class UploadServer:
    """One upload server on a port of 127.0.0.1, started through conftest's https_server."""

    def __init__(self, https_server, port=443, context=None):
        self.state = UploadServerState()
        self.server = https_server(handler_class(self.state), port=port, context=context)
        self.port = self.server.port

    @property
    def mode(self):
        return self.state.mode

    @mode.setter
    def mode(self, value):
        self.state.mode = value

    @property
    def requests(self):
        with self.state.lock:
            return list(self.state.requests)

    def wait_requests(self, count, timeout=20.0):
        return self.state.wait_requests(count, timeout)

    def proceed(self, upto=1_000_000):
        """Lets the held answers (mode "hold") of the uploads numbered up to `upto` go out."""
        self.state.allowed = upto

    def release(self):
        """Lets stalled and slow answers end, so that the server can stop."""
        self.state.released.set()


def describe(request):
    """A short summary of a request for assertion messages."""
    return json.dumps({"method": request.method, "path": request.path,
                       "content-type": request.content_type, "length": len(request.body)})
