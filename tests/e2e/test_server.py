"""The reference server of server/ as a self-hoster runs it: nginx with TLS and PHP-FPM configured
from the examples in server/deploy/ (reference_server.py), on 127.0.0.1:443 as localhost. The
real Snapwren uploads to it; every way of sending the wrong thing gets a 4xx with a JSON error
and stores nothing; only the stored PNGs (and the update files) are ever served."""

import concurrent.futures
import json
import os
import re
import shutil
import struct
import subprocess
import threading
import zlib

import pytest

from conftest import center, poll
from reference_server import REPO, ReferenceServer
# The screen pattern whose every pixel names its position, and the check of an uploaded PNG
# against it, are the upload tests' own.
from test_upload import check_selection_pixels, pattern, pictures, select_region  # noqa: F401

MIB = 1024 * 1024
LIMIT = 10 * MIB
LINK = re.compile(r"https://localhost/i/[0-9a-f]{32}\.png")
IDNO = 7


# --- PNG files ------------------------------------------------------------------------------------


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_png(width=4, height=3, seed=0, text=b"", size=None):
    """A real RGB PNG (its pixels vary with `seed`), with `text` in a tEXt chunk; `size` pads that
    chunk so that the file has exactly this many bytes."""
    rows = b"".join(b"\0" + bytes((seed + 7 * x + 13 * y) & 0xFF for x in range(3 * width))
                    for y in range(height))
    head = b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2,
                                                               0, 0, 0))
    tail = _chunk(b"IDAT", zlib.compress(rows)) + _chunk(b"IEND", b"")
    comment = b"Comment\0" + text
    if size is not None:
        comment += b" " * (size - len(head) - len(tail) - len(comment) - 12)
    return head + _chunk(b"tEXt", comment) + tail


PNG = make_png()


# --- the server -----------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def reference(test_env, certs):
    directory = test_env.prefixes_dir / f"reference-server-{os.getpid()}"
    shutil.rmtree(directory, ignore_errors=True)
    server = ReferenceServer(directory, certs).start()
    yield server
    server.stop()
    shutil.rmtree(directory, ignore_errors=True)


def error_of(reply, status):
    """The error text of a JSON error reply with this status."""
    got, headers, body = reply
    assert got == status, (got, body)
    assert headers["content-type"].startswith("application/json"), headers
    document = json.loads(body)
    assert set(document) <= {"error", "limit"} and document["error"], document
    return document


def upload(reference, data, filename="capture.png", chunked=False):
    """Uploads one PNG as Snapwren does; returns the link."""
    status, _, body = reference.post_form([("image", filename, "image/png", data)],
                                          chunked=chunked)
    assert status == 200, body
    document = json.loads(body)
    assert list(document) == ["url"] and LINK.fullmatch(document["url"]), document
    return document["url"]


def fetch(reference, link):
    status, headers, body = reference.get(link)
    assert status == 200, (link, status)
    assert headers["content-type"] == "image/png" and headers["x-content-type-options"] == "nosniff"
    return body


# --- the pure parts of upload.php -----------------------------------------------------------------


def test_upload_php_functions():
    result = subprocess.run(["php", str(REPO / "tests" / "server" / "upload_php_test.php")],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr


# --- Snapwren against it --------------------------------------------------------------------------


def test_snapwren_uploads_and_the_link_gives_back_the_same_png(reference, desktop, pattern):
    app = desktop.start_snapwren()
    # Snapwren 1.0.0 asks the same host for /version.json: the example document offers 1.0.1,
    # read the way Snapwren reads it.
    offer = desktop.message_box(pid=app.pid, title="Update verfügbar", timeout=15)
    assert offer["text"] == ("Neue Version verfügbar: 1.0.1\n\nJetzt herunterladen?"
                             "\n\nÄnderungen:\nKleinere Fehlerbehebungen.")
    no = next(c for c in desktop.snaptool_json("children", offer["hwnd"]) if c["id"] == IDNO)
    desktop.click(*center(no["rect"]))
    assert desktop.wait_window_gone(offer["hwnd"])

    desktop.clear_clipboard()
    select_region(desktop)
    desktop.screenshot("selection")
    desktop.key("ctrl+d")
    link = poll(lambda: desktop.clipboard_text(), 20, "the link on the clipboard")
    assert LINK.fullmatch(link), link

    name = link.rsplit("/", 1)[1]
    assert reference.stored() == [name]
    served = fetch(reference, link)
    assert served == (reference.store / name).read_bytes()
    check_selection_pixels(served)
    desktop.screenshot("after-upload")
    app.stop()


# --- what is accepted -----------------------------------------------------------------------------


def test_a_png_is_stored_whatever_its_name_and_served_byte_for_byte(reference):
    before = set(reference.stored())
    # The name counts for nothing: a PNG called .jpg is a PNG, and a name without ending is fine.
    # A body sent in chunks arrives too: nginx hands PHP its length.
    links = [upload(reference, make_png(seed=1), "capture.png"),
             upload(reference, make_png(seed=2), "Bildschirmfoto ä.jpg"),
             upload(reference, make_png(seed=3), "x", chunked=True)]
    assert len(set(links)) == 3
    for seed, link in enumerate(links, 1):
        assert fetch(reference, link) == make_png(seed=seed)
    assert len(set(reference.stored()) - before) == 3


def test_the_size_limit_is_ten_mib(reference):
    largest = make_png(seed=4, size=LIMIT)
    assert len(largest) == LIMIT
    assert fetch(reference, upload(reference, largest)) == largest

    before = reference.stored()
    # One byte more: upload.php refuses it and names the limit.
    too_large = error_of(reference.post_form([("image", "capture.png", "image/png",
                                               make_png(seed=4, size=LIMIT + 1))]), 413)
    assert too_large == {"error": "image too large", "limit": LIMIT}
    # Far more: nginx refuses the body before PHP sees it, in the same JSON form.
    huge = error_of(reference.post_form([("image", "capture.png", "image/png",
                                          make_png(size=12 * MIB))]), 413)
    assert huge == {"error": "image too large", "limit": LIMIT}
    assert reference.stored() == before


# --- what is refused ------------------------------------------------------------------------------


def form(*parts, **options):
    return ("form", parts, options)


def raw(method, body=b"", content_type=None):
    return ("raw", method, body, content_type)


JPEG = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(200)
PHP_SCRIPT = b"<?php echo 'executed'; ?>"
BAD_REQUESTS = {
    # wrong method
    "GET": (raw("GET"), 405),
    "PUT": (raw("PUT", PNG, "image/png"), 405),
    # missing fields
    "a form without parts": (raw("POST", b"--x--\r\n", "multipart/form-data; boundary=x"), 400),
    "url-encoded": (raw("POST", b"image=iVBORw0KGgo", "application/x-www-form-urlencoded"), 400),
    "the PNG as the body": (raw("POST", PNG, "image/png"), 400),
    "another field name": (form(("file", "capture.png", "image/png", PNG)), 400),
    "image as text, not a file": (form(("image", None, None, PNG)), 400),
    # extra fields
    "and a text field": (form(("image", "capture.png", "image/png", PNG),
                              ("comment", None, None, b"hello")), 400),
    "and a second file": (form(("image", "capture.png", "image/png", PNG),
                               ("other", "other.png", "image/png", PNG)), 400),
    "image twice": (form(("image", "a.png", "image/png", make_png(seed=5)),
                         ("image", "b.png", "image/png", make_png(seed=6))), 400),
    "image as an array": (form(("image[]", "capture.png", "image/png", PNG)), 400),
    # not a PNG, whatever it is called and declared as
    "JPEG called capture.png": (form(("image", "capture.png", "image/png", JPEG)), 415),
    "PHP called capture.png": (form(("image", "capture.png", "image/png", PHP_SCRIPT)), 415),
    "PHP behind a PNG signature": (form(("image", "capture.png", "image/png",
                                         PNG[:8] + PHP_SCRIPT + bytes(40))), 415),
    "IHDR with a wrong checksum": (form(("image", "capture.png", "image/png",
                                         PNG[:29] + bytes(4) + PNG[33:])), 415),
    "a PNG cut off": (form(("image", "capture.png", "image/png", PNG[:-20])), 415),
    "an empty file": (form(("image", "capture.png", "image/png", b"")), 415),
    # a file name that tries to leave the folder
    "../../evil.png": (form(("image", "../../evil.png", "image/png", PNG)), 400),
    "..\\..\\evil.png": (form(("image", "..\\..\\evil.png", "image/png", PNG)), 400),
    "i/evil.png": (form(("image", "i/evil.png", "image/png", PNG)), 400),
    "..": (form(("image", "..", "image/png", PNG)), 400),
}


@pytest.mark.parametrize("name", list(BAD_REQUESTS))
def test_a_bad_request_gets_4xx_json_and_stores_nothing(reference, name):
    request, status = BAD_REQUESTS[name]
    before = reference.stored()
    if request[0] == "form":
        reply = reference.post_form(request[1], **request[2])
    else:
        _, method, body, content_type = request
        headers = {"Content-Type": content_type} if content_type else {}
        reply = reference.request(method, "/upload.php", body, headers)
    error_of(reply, status)
    if status == 405:
        assert reply[1]["allow"] == "POST"
    assert reference.stored() == before
    assert not list(reference.dir.rglob("evil*"))


# --- what is served -------------------------------------------------------------------------------


def test_only_stored_pngs_and_the_update_files_are_served(reference):
    # PHP inside a stored PNG is a PNG's bytes: given back as they are, never run.
    planted = make_png(seed=7, text=PHP_SCRIPT)
    assert fetch(reference, upload(reference, planted)) == planted

    # Whatever else lands in the image folder (by another way than upload.php) stays unseen.
    hex_name = "0123456789abcdef0123456789abcdef"
    for name in ("evil.php", f"{hex_name}.php", f"{hex_name}.png.php", f"{hex_name.upper()}.png",
                 "evil.png", ".htaccess", "evil.phtml"):
        (reference.store / name).write_bytes(PHP_SCRIPT)
        status, _, body = reference.get(f"/i/{name}")
        assert status == 404 and b"executed" not in body and b"<?php" not in body, name
    for path in ("/i/", "/i", "/i/index.html", "/", "/upload.php.bak", "/README.md",
                 "/deploy/nginx-snapwren.conf", "/downloads/", "/downloads/evil.php",
                 "/upload.php/x.png", "/i/../upload.php/x.png"):
        assert reference.get(path)[0] == 404, path

    # version.json as it is, and the installers it points at.
    status, headers, body = reference.get("/version.json")
    assert (status, headers["content-type"]) == (200, "application/json")
    assert body == (REPO / "server" / "version.json").read_bytes()
    installer = bytes(range(256)) * 64
    (reference.www / "downloads" / "Snapwren-Setup-1.0.1.exe").write_bytes(installer)
    status, headers, body = reference.get("/downloads/Snapwren-Setup-1.0.1.exe")
    assert (status, body) == (200, installer)

    # Plain HTTP only ever points to HTTPS.
    status, headers, _ = reference.request("GET", "/upload.php", port=80)
    assert (status, headers["location"]) == (301, "https://localhost/upload.php")


def test_fifty_uploads_at_once_are_all_stored_under_their_own_links(reference):
    before = set(reference.stored())
    images = [make_png(width=8, height=8, seed=seed) for seed in range(50)]
    start = threading.Barrier(50)

    def send(image):
        start.wait()
        return upload(reference, image)

    with concurrent.futures.ThreadPoolExecutor(50) as pool:
        links = list(pool.map(send, images))
    assert len(set(links)) == 50
    assert len(set(reference.stored()) - before) == 50
    for image, link in zip(images, links):
        assert fetch(reference, link) == image
