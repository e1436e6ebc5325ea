"""The test server: HTTPS on 127.0.0.1 with the test CA's localhost certificate, which the test
prefixes trust. POSTs are uploads, answered as `mode` says (or /t/<mode>/upload.php): ok, utf8,
status-<n>, empty, no-link, limit (1 MiB), huge (2 MiB), stall-head (no answer), stall-body (part
of one), drop (closed at once), hold (answered once the test allows that upload, as `later` says
for its number, else ok), with links https://img.example/<n>.png in the order uploads arrive.
GETs are answered from `routes`: path -> (status, body[, bytes sent before the line drops]); a
path in `holds` (path -> n) is slow: its first n bytes, then one every half second (so that no
time-out ends it) until `released` is set, then the rest.
version.json is signed with the test key that the test build trusts, by the release script."""

import http.server
import json
import re
import ssl
import subprocess
import tempfile
import threading
from dataclasses import dataclass

from conftest import CERTS, REPO, poll


@dataclass
class Request:
    method: str
    path: str
    headers: dict
    body: bytes

    @property
    def boundary(self):
        found = re.fullmatch(r"multipart/form-data; boundary=(\S+)",
                             self.headers.get("content-type", ""))
        return found and found[1]

    def image(self):
        """The content of the one part of the multipart body, whose framing is checked."""
        delimiter = b"--" + self.boundary.encode()
        assert self.body.startswith(delimiter + b"\r\n"), self.body[:80]
        assert self.body.endswith(b"\r\n" + delimiter + b"--\r\n"), self.body[-80:]
        head, _, content = self.body[len(delimiter) + 2:-len(delimiter) - 6].partition(b"\r\n\r\n")
        assert head == (b'Content-Disposition: form-data; name="image"; filename="capture.png"'
                        b"\r\nContent-Type: image/png"), head
        assert b"\r\n" + delimiter not in content, "more than one part"
        return content


TEST_KEY = REPO / "tests" / "keys" / "update-test-key.pem"


class Server:
    def __init__(self, port=443, context=None):
        self.mode, self.routes, self.requests, self.allowed, self.later = "ok", {}, [], 0, {}
        self.holds = {}
        self.released = threading.Event()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), self.handler())
        if not context:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(CERTS / "server.pem", CERTS / "server.key")
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        if self.thread:
            self.released.set()  # stalled and held answers end, so that the server can
            self.httpd.shutdown(), self.httpd.server_close(), self.thread.join(10)
            self.thread = None

    def uploads(self, count, timeout=20.0):
        posts = lambda: [r for r in self.requests if r.method == "POST"]  # noqa: E731
        return poll(lambda: len(posts()) >= count and posts(), timeout, f"{count} upload(s)")

    def paths(self):
        return [r.path for r in self.requests if r.method == "GET"]

    def version_json(self, version, url="https://localhost/none.exe", changelog="", installer=b"x",
                     signed=True):
        body = json.dumps({"version": version, "url": url}).encode()
        if signed:
            with tempfile.NamedTemporaryFile() as file:
                file.write(installer), file.flush()
                body = subprocess.run(["bash", REPO / "scripts" / "sign-update.sh", "--sequence",
                                       "1", file.name, version, url, TEST_KEY, changelog],
                                      check=True, capture_output=True).stdout
        self.routes["/version.json"] = (200, body)

    def handler(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def handle_one_request(self):
                super().handle_one_request()
                self.close_connection = True  # a stopped server must refuse the next request

            def record(self, body):
                server.requests.append(Request(self.command, self.path, {
                    k.lower(): v for k, v in self.headers.items()}, body))

            def do_GET(self):
                self.record(b"")
                path = self.path.split("?")[0]
                status, body, *cut = server.routes.get(path, (404, b"?"))
                sent = server.holds.get(path)
                if sent is None:
                    return self.answer(status, body, *cut)
                try:
                    self.answer(status, body, sent)
                    while sent < len(body) - 1 and not server.released.wait(0.5):
                        self.wfile.write(body[sent:sent + 1])
                        sent += 1
                    server.released.wait()
                    self.wfile.write(body[sent:])
                except (ssl.SSLError, ConnectionError):
                    pass  # the client gave up first

            def do_POST(self):
                self.record(self.rfile.read(int(self.headers["Content-Length"])))
                found = re.fullmatch(r"/t/([^/]+)/upload\.php", self.path)
                try:
                    self.upload(found[1] if found else server.mode,
                                sum(r.method == "POST" for r in server.requests))
                except (ssl.SSLError, ConnectionError):
                    pass  # the client gave up first

            def upload(self, mode, number):
                link = f"https://img.example/{number}.png".replace("/", "\\/")
                reply = f'{{"success":true,"url":"{link}"}}'.encode()
                if mode == "hold":
                    while server.allowed < number and not server.released.wait(0.05):
                        pass
                    self.upload(server.later.get(number, "ok"), number)
                elif mode == "utf8":
                    self.answer(200, '{"url":"https://img.example/Grüße/🌸.png"}'.encode())
                elif mode == "auth":  # the key as it came, in the link
                    sent = self.headers.get("Authorization", "none").replace(" ", "_")
                    self.answer(200, f'{{"url":"https://img.example/{sent}",'
                                     f'"delete_url":"https:\\/\\/img.example\\/d?k=1"}}'.encode())
                elif mode.startswith("status-"):
                    self.answer(int(mode[7:]), reply)
                elif mode in ("empty", "no-link"):
                    self.answer(200, b"" if mode == "empty" else b'{"link":"https://x/1.png"}')
                elif mode in ("limit", "huge"):
                    self.answer(200, reply.ljust(2**20 if mode == "limit" else 2**21))
                elif mode.startswith("stall"):
                    if mode == "stall-body":
                        self.answer(200, b'{"success":true,"thumb":"' + b" " * 4000, 25)
                    server.released.wait()
                elif mode != "drop":
                    self.answer(200, reply)

            def answer(self, status, body, send=None):
                self.send_response(status)
                for header in (("Content-Type", "application/json"), ("Connection", "close"),
                               ("Content-Length", str(len(body)))):
                    self.send_header(*header)
                self.end_headers()
                self.wfile.write(body[:send])

        return Handler


def untrusted_context(folder):
    """TLS with a self-signed localhost certificate that no prefix trusts."""
    key, cert = folder / "untrusted.key", folder / "untrusted.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context
