"""Snapwren's reference server (server/) deployed as its README says, on loopback: nginx with TLS
in front of a PHP-FPM pool, both configured from the examples in server/deploy/ with only the
machine-specific strings replaced (host name, certificate, web root, socket, user). The host is
localhost with the test CA's certificate, which the test prefixes trust, on 127.0.0.1:443 and
port 80, inside the private network namespace of scripts/test.sh.

The web root holds upload.php, version.json and downloads/ as on a real server; upload.php
creates i/ on the first upload."""

import glob
import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SERVER_DIR = REPO / "server"
DEPLOY_DIR = SERVER_DIR / "deploy"


def _replace_all(text, replacements, source):
    """The example with the machine-specific strings replaced; each must be in it, so that an
    edit of the example that drops one is noticed here rather than tested around."""
    for old, new in replacements:
        assert old in text, f"{source} no longer contains {old!r}"
        text = text.replace(old, new)
    return text


def _stop(popen, timeout=10.0):
    if popen is None or popen.poll() is not None:
        return
    # Both servers end gracefully on SIGQUIT (nginx) and SIGTERM (PHP-FPM); SIGKILL if not.
    for sig in (signal.SIGQUIT if "nginx" in popen.args[0] else signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(popen.pid, sig)
            popen.wait(timeout)
            return
        except ProcessLookupError:
            return
        except subprocess.TimeoutExpired:
            continue


class ReferenceServer:
    HOST = "localhost"

    def __init__(self, directory, certs):
        self.dir = Path(directory)
        self.certs = certs
        self.www = self.dir / "www"
        self.socket_path = self.dir / "fpm.sock"
        self._fpm = None
        self._nginx = None

    @property
    def store(self):
        """The folder of the uploaded PNGs."""
        return self.www / "i"

    def stored(self):
        return sorted(p.name for p in self.store.glob("*.png")) if self.store.is_dir() else []

    # --- running

    def start(self):
        self.dir.mkdir(parents=True, exist_ok=True)
        (self.www / "downloads").mkdir(parents=True)
        shutil.copy(SERVER_DIR / "upload.php", self.www / "upload.php")
        shutil.copy(SERVER_DIR / "version.json", self.www / "version.json")
        self._start_fpm()
        self._start_nginx()
        return self

    def stop(self):
        _stop(self._nginx)
        _stop(self._fpm)
        self._nginx = self._fpm = None

    def _start_fpm(self):
        binaries = sorted(glob.glob("/usr/sbin/php-fpm*"))
        assert binaries, "PHP-FPM is missing: run scripts/setup.sh"
        www = f"{self.www}/"
        pool = _replace_all((DEPLOY_DIR / "php-fpm-snapwren.conf").read_text(), [
            ("/run/php/snapwren-fpm.sock", str(self.socket_path)),
            ("/var/www/snapwren/", www),
            # The tests run as root; so does the pool here (php-fpm -R).
            ("www-data", "root"),
        ], "php-fpm-snapwren.conf")
        (self.dir / "pool.conf").write_text(pool)
        (self.dir / "php-fpm.conf").write_text(
            "[global]\n"
            f"pid = {self.dir / 'php-fpm.pid'}\n"
            f"error_log = {self.dir / 'php-fpm.log'}\n"
            "daemonize = no\n"
            f"include = {self.dir / 'pool.conf'}\n")
        log = open(self.dir / "php-fpm.out", "wb")
        self._fpm = subprocess.Popen([binaries[-1], "--nodaemonize", "--allow-to-run-as-root",
                                      "--fpm-config", str(self.dir / "php-fpm.conf")],
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()
        self._wait(lambda: self.socket_path.exists(), "PHP-FPM's socket", self._fpm,
                   self.dir / "php-fpm.log")

    def _start_nginx(self):
        site = _replace_all((DEPLOY_DIR / "nginx-snapwren.conf").read_text(), [
            ("/etc/letsencrypt/live/snapwren.example/fullchain.pem", str(self.certs.server_cert)),
            ("/etc/letsencrypt/live/snapwren.example/privkey.pem", str(self.certs.server_key)),
            ("snapwren.example", self.HOST),
            ("/var/www/snapwren", str(self.www)),
            ("unix:/run/php/snapwren-fpm.sock", f"unix:{self.socket_path}"),
        ], "nginx-snapwren.conf")
        (self.dir / "site.conf").write_text(site)
        # The site includes Debian's fastcgi_params by a path relative to nginx.conf.
        shutil.copy("/etc/nginx/fastcgi_params", self.dir / "fastcgi_params")
        temp = self.dir / "nginx-temp"
        temp.mkdir()
        # What Debian's /etc/nginx/nginx.conf gives a site, with the run's own files.
        (self.dir / "nginx.conf").write_text(f"""
daemon off;
user root;
worker_processes 2;
pid {self.dir / 'nginx.pid'};
error_log {self.dir / 'nginx-error.log'};
events {{ worker_connections 256; }}
http {{
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    access_log {self.dir / 'nginx-access.log'};
    client_body_temp_path {temp / 'body'};
    fastcgi_temp_path {temp / 'fastcgi'};
    proxy_temp_path {temp / 'proxy'};
    uwsgi_temp_path {temp / 'uwsgi'};
    scgi_temp_path {temp / 'scgi'};
    include {self.dir / 'site.conf'};
}}
""")
        log = open(self.dir / "nginx.out", "wb")
        self._nginx = subprocess.Popen(["/usr/sbin/nginx", "-c", str(self.dir / "nginx.conf"),
                                        "-p", str(self.dir), "-e",
                                        str(self.dir / "nginx-error.log")],
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()
        self._wait(self._listening, "nginx on 127.0.0.1:443", self._nginx,
                   self.dir / "nginx-error.log")

    @staticmethod
    def _listening():
        try:
            with socket.create_connection(("127.0.0.1", 443), timeout=0.5):
                return True
        except OSError:
            return False

    @staticmethod
    def _wait(ready, what, popen, log, timeout=15.0):
        deadline = time.monotonic() + timeout
        while not ready():
            if popen.poll() is not None or time.monotonic() > deadline:
                text = log.read_text(errors="replace") if log.exists() else ""
                raise AssertionError(f"{what} did not come up (exit {popen.poll()}): {text}")
            time.sleep(0.05)

    # --- talking to it

    def context(self):
        context = ssl.create_default_context(cafile=str(self.certs.ca_pem))
        return context

    def request(self, method, path, body=None, headers=None, port=443, chunked=False):
        """One request on a fresh connection: (status, headers as a lower-case dict, body).
        With `chunked`, the body goes out in chunks, without a length."""
        if port == 443:
            connection = http.client.HTTPSConnection(self.HOST, 443, context=self.context(),
                                                     timeout=30)
        else:
            connection = http.client.HTTPConnection(self.HOST, port, timeout=30)
        try:
            if chunked:
                connection.request(method, path, body=iter([body]), headers=headers or {},
                                   encode_chunked=True)
            else:
                connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            data = response.read()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, data
        finally:
            connection.close()

    def get(self, url_or_path):
        path = url_or_path.split(self.HOST, 1)[-1] if "://" in url_or_path else url_or_path
        return self.request("GET", path)

    def post_form(self, parts, boundary="----snapwren-test-boundary", chunked=False):
        """POSTs a multipart body made of `parts`: (name, filename or None, content type or None,
        bytes)."""
        headers = {"Content-Type": f"multipart/form-data; boundary={boundary}"}
        return self.request("POST", "/upload.php", multipart_body(parts, boundary), headers,
                            chunked=chunked)


def multipart_body(parts, boundary):
    chunks = []
    for name, filename, content_type, data in parts:
        disposition = f'form-data; name="{name}"'
        if filename is not None:
            disposition += f'; filename="{filename}"'
        head = f"--{boundary}\r\nContent-Disposition: {disposition}\r\n"
        if content_type:
            head += f"Content-Type: {content_type}\r\n"
        chunks.append(head.encode("utf-8") + b"\r\n" + data + b"\r\n")
    return b"".join(chunks) + f"--{boundary}--\r\n".encode()
