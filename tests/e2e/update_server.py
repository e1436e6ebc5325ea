"""The update server of the tests: answers GET requests on the conftest `https_server` (HTTPS on
127.0.0.1:443 with the test CA's localhost certificate) from a table of routes that the test
changes while Snapwren runs, and records every request it saw.

A route is a dict: "body" (bytes), "status" (default 200), "length" (the Content-Length to
announce, default the body's size) and "send" (cut the body after that many bytes and drop the
connection, as a server that dies mid-transfer would). Paths without a route get 404. A route
listed without its query string also answers requests that carry one.
"""

import http.server
import json
import threading

import conftest


class UpdateServer:
    def __init__(self, https_server):
        self._https_server = https_server
        self._lock = threading.Lock()
        self._routes = {}
        self._requests = []
        self._http = None

    # --- running

    def start(self):
        self._http = self._https_server(self._handler_class())
        return self

    def stop(self):
        """Stops listening; requests then fail as with no server at all."""
        if self._http:
            self._http.stop()
            self._http = None

    # --- answers

    def route(self, path, body=b"", status=200, length=None, send=None):
        with self._lock:
            self._routes[path] = dict(body=body, status=status, length=length, send=send)

    def unroute(self, path):
        with self._lock:
            self._routes.pop(path, None)

    def version_json(self, version, url="", changelog=None, status=200):
        """Serves /version.json with these members, written as UTF-8 JSON (non-ASCII letters as
        they are: Snapwren reads the bytes and does not decode \\u escapes)."""
        document = {"version": version, "url": url}
        if changelog is not None:
            document["changelog"] = changelog
        self.route("/version.json", json.dumps(document, ensure_ascii=False).encode("utf-8"),
                   status)

    # --- what was asked

    @property
    def requests(self):
        with self._lock:
            return list(self._requests)

    def paths(self):
        return [r["path"] for r in self.requests]

    def wait_request(self, path, count=1, timeout=10.0):
        """Waits until `path` (query included) was requested `count` times in all."""
        conftest.poll(lambda: self.paths().count(path) >= count, timeout,
                      f"request {count} of {path}")

    def _handler_class(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, format, *args):
                pass

            def do_GET(self):
                with server._lock:
                    server._requests.append(
                        {"path": self.path, "agent": self.headers.get("User-Agent", "")})
                    route = (server._routes.get(self.path)
                             or server._routes.get(self.path.split("?")[0]))
                if route is None:
                    self.answer(b"<html>Not Found</html>", 404)
                else:
                    self.answer(route["body"], route["status"], route["length"], route["send"])

            def answer(self, body, status, length=None, send=None):
                self.send_response(status)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body) if length is None else length))
                if send is not None:
                    self.send_header("Connection", "close")
                    self.close_connection = True
                self.end_headers()
                self.wfile.write(body if send is None else body[:send])
                self.wfile.flush()

        return Handler
