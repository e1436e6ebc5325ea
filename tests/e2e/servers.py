"""The test server: HTTPS on 127.0.0.1 with the test CA's localhost certificate, which the test
prefixes trust. POSTs are uploads, answered as `mode` says (or as /t/<mode>/upload.php says);
GETs are the update server's files, answered from `routes`. Every request is recorded.

Upload modes: ok, ok-space-after, ok-space-before, ok-spaces (200 with the link in one of the four
spellings of its key), utf8, status-<n>, empty, no-link, limit (exactly 1 MiB), huge (2 MiB),
stall-head (never answers), stall-body (part of a body, then nothing), drop (closes at once),
hold[:<mode>] (answers once the test lets that upload proceed). Links are
https://img.example/<n>.png, numbered in the order uploads arrive.
"""

import http.server
import re
import ssl
import subprocess
import threading
from dataclasses import dataclass

from conftest import poll

MIB = 1024 * 1024


@dataclass
class Request:
    method: str
    path: str
    headers: dict
    body: bytes
    number: int

    @property
    def boundary(self):
        found = re.fullmatch(r"multipart/form-data; boundary=(\S+)",
                             self.headers.get("content-type", ""))
        return found and found[1]

    def image(self):
        """The one part of the multipart body, parsed strictly; its content."""
        delimiter = b"--" + self.boundary.encode()
        assert self.body.startswith(delimiter + b"\r\n"), self.body[:80]
        assert self.body.endswith(b"\r\n" + delimiter + b"--\r\n"), self.body[-80:]
        part = self.body[len(delimiter) + 2:-len(delimiter) - 6]
        head, _, content = part.partition(b"\r\n\r\n")
        assert head == (b'Content-Disposition: form-data; name="image"; filename="capture.png"'
                        b"\r\nContent-Type: image/png"), head
        assert b"\r\n" + delimiter not in content, "more than one part"
        return content


class Server:
    def __init__(self, certs, port=443, context=None):
        self.mode, self.routes, self.requests = "ok", {}, []
        self.allowed, self.released, self.lock = 0, threading.Event(), threading.Lock()
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), self.handler())
        if context is None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certs / "server.pem", certs / "server.key")
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        if self.thread:
            self.released.set()  # stalled and held answers end, so that the server can
            self.httpd.shutdown()
            self.httpd.server_close()
            self.thread.join(10)
            self.thread = None

    def uploads(self, count, timeout=20.0):
        return poll(lambda: [r for r in self.requests if r.method == "POST"][:count]
                    if sum(r.method == "POST" for r in self.requests) >= count else None,
                    timeout, f"{count} upload(s)")

    def paths(self):
        return [r.path for r in self.requests if r.method == "GET"]

    def version_json(self, version, url="", changelog=None):
        changes = "" if changelog is None else f', "changelog": "{changelog}"'
        self.routes["/version.json"] = (
            200, f'{{"version": "{version}", "url": "{url}"{changes}}}'.encode())

    def handler(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def record(self, body):
                with server.lock:
                    request = Request(self.command, self.path,
                                      {k.lower(): v for k, v in self.headers.items()}, body,
                                      len([r for r in server.requests if r.method == "POST"]) + 1)
                    server.requests.append(request)
                    return request

            def do_GET(self):
                self.record(b"")
                status, body, *cut = server.routes.get(
                    self.path, server.routes.get(self.path.split("?")[0], (404, b"Not Found")))
                self.answer(status, body, cut[0] if cut else None)

            def do_POST(self):
                request = self.record(self.rfile.read(int(self.headers["Content-Length"])))
                found = re.fullmatch(r"/t/([^/]+)/upload\.php", self.path)
                try:
                    self.upload(found[1] if found else server.mode, request.number)
                except (ssl.SSLError, ConnectionError):
                    self.close_connection = True  # the client gave up first

            def upload(self, mode, number):
                link = f"https://img.example/{number}.png".replace("/", "\\/")
                spacing = {"ok-space-after": ": ", "ok-space-before": " :", "ok-spaces": " : "}
                reply = f'{{"success":true,"url"{spacing.get(mode, ":")}"{link}"}}'.encode()
                if mode.startswith("hold"):
                    while server.allowed < number and not server.released.wait(0.05):
                        pass
                    self.upload(mode[5:] or "ok", number)
                elif mode == "utf8":
                    self.answer(200, '{"url":"https://img.example/Grüße/🌸.png"}'.encode())
                elif mode.startswith("status-"):
                    self.answer(int(mode[7:]), reply)
                elif mode in ("empty", "no-link"):
                    self.answer(200, b"" if mode == "empty" else b'{"link":"https://x/1.png"}')
                elif mode in ("limit", "huge"):
                    self.answer(200, reply.ljust(MIB if mode == "limit" else 2 * MIB))
                elif mode == "stall-head":
                    server.released.wait()
                elif mode == "stall-body":
                    self.answer(200, b'{"success":true,"thumb":"' + b" " * 4000, 25)
                    server.released.wait()
                elif mode != "drop":
                    self.answer(200, reply)

            def answer(self, status, body, send=None):
                """`send` cuts the body after that many bytes, as a server that dies. No
                connection is kept: a stopped server must refuse the next request."""
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body[:send])
                self.wfile.flush()

            def handle_one_request(self):
                super().handle_one_request()
                self.close_connection = True

        return Handler


def untrusted_context(folder):
    """TLS with a self-signed localhost certificate that no prefix trusts."""
    key, cert = folder / "untrusted.key", folder / "untrusted.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                    "-keyout", key, "-out", cert], check=True, capture_output=True, timeout=60)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context
