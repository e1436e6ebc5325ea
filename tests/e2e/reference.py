"""The reference server of server/ as a self-hoster deploys it: nginx with TLS in front of PHP-FPM,
configured from the examples in server/deploy/ with only the machine's own strings replaced, on
127.0.0.1:443 as localhost (the address the test build uploads to). Open to anyone until
`make_key` makes the first key."""

import glob
import http.client
import json
import os
import re
import shutil
import socket
import ssl
import subprocess

from conftest import CERTS, REPO, poll

LINK = re.compile(r"https://localhost/i/([0-9a-f]{32})\.png")
DELETE_LINK = re.compile(r"https://localhost/upload\.php\?delete=([0-9a-f]{32})"
                         r"&secret=[0-9a-f]{32}")


def replaced(name, pairs):
    """A deployment example with the machine's own strings; each must still be in it."""
    text = (REPO / "server" / "deploy" / name).read_text()
    for old, new in pairs:
        assert old in text, f"{name} no longer contains {old!r}"
        text = text.replace(old, new)
    return text


class Reference:
    def __init__(self, folder):
        # The keys file where upload.php looks by default: beside the web root.
        self.folder, self.www, self.keys = folder, folder / "www", folder / "snapwren-keys"
        (self.www / "downloads").mkdir(parents=True)
        for name in ("upload.php", "version.json"):
            shutil.copy(REPO / "server" / name, self.www)
        socket_path = folder / "fpm.sock"
        (folder / "pool.conf").write_text(replaced("php-fpm-snapwren.conf", [
            ("/run/php/snapwren-fpm.sock", str(socket_path)),
            ("/var/www/snapwren-keys", str(self.keys)), ("/var/www/snapwren/", f"{self.www}/"),
            ("www-data", "root")]))
        (folder / "fpm.conf").write_text(f"[global]\nerror_log = {folder}/fpm.log\n"
                                         f"include = {folder}/pool.conf\n")
        self.fpm = subprocess.Popen([sorted(glob.glob("/usr/sbin/php-fpm*"))[-1], "--nodaemonize",
                                     "--allow-to-run-as-root", "--fpm-config", folder / "fpm.conf"],
                                    stderr=subprocess.DEVNULL)
        poll(socket_path.exists, 15, "PHP-FPM")
        (folder / "site.conf").write_text(replaced("nginx-snapwren.conf", [
            ("/etc/letsencrypt/live/snapwren.example/fullchain.pem", str(CERTS / "server.pem")),
            ("/etc/letsencrypt/live/snapwren.example/privkey.pem", str(CERTS / "server.key")),
            ("snapwren.example", "localhost"), ("/var/www/snapwren", str(self.www)),
            ("unix:/run/php/snapwren-fpm.sock", f"unix:{socket_path}"),
            # This machine is the organisation; 127.0.0.2 is anyone else.
            ("192.0.2.0/24 1;", "127.0.0.1/32 1;"),
            # The free space upload.php demands comes with each request (none unless it says so):
            # a reload to change it would leave old workers answering for a while.
            ("geo $snapwren_unlimited {", 'map $http_x_min_free $min_free { "" 0; default '
             '$http_x_min_free; }\ngeo $snapwren_unlimited {'),
            ("SNAPWREN_MIN_FREE_BYTES 1073741824", "SNAPWREN_MIN_FREE_BYTES $min_free"),
            ("#fastcgi_param SNAPWREN_MAX_STORE_BYTES 21474836480",
             "fastcgi_param SNAPWREN_MAX_STORE_BYTES $http_x_max_store")]))
        shutil.copy("/etc/nginx/fastcgi_params", folder)
        # What Debian's nginx.conf gives a site, with the run's own files.
        temp = "".join(f"{kind}_temp_path {folder}/{kind};\n"
                       for kind in ("client_body", "fastcgi", "proxy", "uwsgi", "scgi"))
        (folder / "nginx.conf").write_text(
            f"daemon off; user root; pid {folder}/nginx.pid; error_log {folder}/error.log;\n"
            f"events {{}}\nhttp {{ include /etc/nginx/mime.types; access_log off;\n{temp}"
            f"include {folder}/site.conf; }}\n")
        self.nginx = subprocess.Popen(["/usr/sbin/nginx", "-c", folder / "nginx.conf", "-p", folder,
                                       "-e", folder / "error.log"], stderr=subprocess.DEVNULL)
        poll(lambda: socket.socket().connect_ex(("127.0.0.1", 443)) == 0, 15, "nginx")
        self.context = ssl.create_default_context(cafile=str(CERTS / "ca.pem"))

    def stored(self):
        return sorted((self.www / "i").glob("[0-9a-f]" * 32 + ".png"))

    def request(self, method, path, body=None, headers=None, port=443, chunked=False,
                source="127.0.0.1"):
        connection = (http.client.HTTPSConnection("[::1]" if ":" in source else "localhost",
                                                  context=self.context,
                                                  source_address=(source, 0))
                      if port == 443 else http.client.HTTPConnection("localhost", port))
        connection.request(method, path, body=iter([body]) if chunked else body,
                           headers=headers or {}, encode_chunked=chunked)
        response = connection.getresponse()
        reply = response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
        connection.close()
        return reply

    def post(self, parts, chunked=False, headers=None):
        """A multipart form of (name, file name or None, content type or None, bytes)."""
        body = b"".join(f'--b\r\nContent-Disposition: form-data; name="{name}"'.encode() +
                        (f'; filename="{file}"'.encode() if file is not None else b"") +
                        (f"\r\nContent-Type: {kind}".encode() if kind else b"") +
                        b"\r\n\r\n" + data + b"\r\n" for name, file, kind, data in parts)
        return self.request("POST", "/upload.php", body + b"--b--\r\n",
                            {"Content-Type": "multipart/form-data; boundary=b", **(headers or {})},
                            chunked=chunked)

    def uploaded(self, data, name="capture.png", chunked=False, headers=None):
        """The reply to an upload in Snapwren's form: its link and its delete link."""
        status, _, body = self.post([("image", name, "image/png", data)], chunked, headers)
        reply = json.loads(body)
        assert status == 200 and list(reply) == ["url", "delete_url"], body
        image, deleted = LINK.fullmatch(reply["url"]), DELETE_LINK.fullmatch(reply["delete_url"])
        assert image and deleted and image[1] == deleted[1], body
        return reply

    def upload(self, data, name="capture.png", chunked=False, headers=None):
        return self.uploaded(data, name, chunked, headers)["url"]

    def fetch(self, link):
        status, headers, body = self.request("GET", link.split("localhost", 1)[1])
        assert (status, headers["content-type"], headers["x-content-type-options"]) == (
            200, "image/png", "nosniff")
        return body

    def make_key(self, name):
        """A new upload key for `name`, from server/make-key.sh; the first closes the server."""
        made = self.keys_script("make-key.sh", name)
        assert made.returncode == 0, made.stderr
        return made.stdout.strip()

    def keys_script(self, script, name):
        return subprocess.run(["bash", REPO / "server" / script, name], capture_output=True,
                              text=True, env=dict(os.environ, SNAPWREN_KEYS_FILE=str(self.keys)))

    def stop(self):
        for process in (self.nginx, self.fpm):
            process.terminate(), process.wait(10)
