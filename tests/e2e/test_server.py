"""The reference server of server/ as a self-hoster deploys it (reference.py), its keys, and the
retention job of that folder."""

import concurrent.futures
import hashlib
import json
import os
import struct
import subprocess
import time
import zlib

import pytest

from conftest import REPO
from reference import LINK

MIB, DAY = 1024 * 1024, 24 * 3600


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(seed=0, text=b"", size=None, colour=2):
    """A real 4 x 3 PNG whose pixels vary with `seed`, `text` in a tEXt chunk padded so that the
    file has `size` bytes."""
    rows = b"".join(b"\0" + bytes((seed + 7 * x + 13 * y) & 0xFF for x in range(12))
                    for y in range(3))
    head = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 3, 8, colour, 0, 0, 0))
    tail = chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
    comment = b"Comment\0" + text
    if size:
        comment = comment.ljust(size - len(head) - len(tail) - 12)
    return head + chunk(b"tEXt", comment) + tail


def test_pngs_are_stored_under_names_of_their_own_and_served_byte_for_byte(reference):
    before = set(reference.stored())
    # The name counts for nothing; a body sent in chunks arrives too (nginx hands PHP its
    # length); fifty at once each get a link of their own.
    links = [reference.upload(png(1), "Bildschirmfoto ä.jpg"),
             reference.upload(png(2), "x", chunked=True)]
    with concurrent.futures.ThreadPoolExecutor(50) as pool:
        links += list(pool.map(lambda seed: reference.upload(png(seed)), range(3, 53)))
    assert len(set(links)) == 52 and len(set(reference.stored()) - before) == 52
    for seed, link in enumerate(links, 1):
        assert reference.fetch(link) == png(seed)
    # PHP inside a stored PNG is a PNG's bytes: given back as they are, never run.
    planted = png(7, text=b"<?php echo 'executed'; ?>")
    assert reference.fetch(reference.upload(planted)) == planted


def test_the_size_limit_is_ten_mib(reference):
    largest = png(4, size=10 * MIB)
    assert reference.fetch(reference.upload(largest)) == largest
    before = reference.stored()
    # One byte more: upload.php refuses it; far more: nginx does, before PHP sees it.
    for size in (10 * MIB + 1, 12 * MIB):
        status, _, body = reference.post([("image", "capture.png", "image/png", png(size=size))])
        assert (status, json.loads(body)) == (413, {"error": "image too large", "limit": 10 * MIB})
    assert reference.stored() == before


PHP = b"<?php echo 'executed'; ?>"
GOOD = png()
BAD_REQUESTS = [
    ("GET", None, 405), ("PUT", GOOD, 405),
    ("a form without parts", b"--x--\r\n", 400),
    ("url-encoded", b"image=iVBORw0KGgo", 400), ("the PNG as the body", GOOD, 400),
    ("another field name", [("file", "c.png", None, GOOD)], 400),
    ("image as text, not a file", [("image", None, None, GOOD)], 400),
    ("and a text field", [("image", "c.png", None, GOOD), ("note", None, None, b"x")], 400),
    ("and a second file", [("image", "c.png", None, GOOD), ("o", "o.png", None, GOOD)], 400),
    ("image twice", [("image", "a.png", None, png(5)), ("image", "b.png", None, png(6))], 400),
    ("image as an array", [("image[]", "c.png", None, GOOD)], 400),
] + [(what, [("image", "c.png", "image/png", data)], 415) for what, data in [
    ("a JPEG", b"\xff\xd8\xff\xe0\x00\x10JFIF" + bytes(99)), ("PHP", PHP),
    ("PHP behind a PNG signature", GOOD[:8] + PHP + bytes(40)),
    ("IHDR with a wrong checksum", GOOD[:29] + bytes(4) + GOOD[33:]),
    ("colour type 5", png(colour=5)), ("a PNG cut off", GOOD[:-20]), ("an empty file", b"")]
] + [(name, [("image", name, "image/png", GOOD)], 400)
     for name in ("../../evil.png", "..\\..\\evil.png", "i/evil.png", "..")]


@pytest.mark.parametrize("what, request_, status", BAD_REQUESTS, ids=[r[0] for r in BAD_REQUESTS])
def test_a_bad_request_gets_4xx_json_and_stores_nothing(reference, what, request_, status):
    before = reference.stored()
    kind = {"a form without parts": "multipart/form-data; boundary=x",
            "url-encoded": "application/x-www-form-urlencoded"}.get(what, "image/png")
    got, headers, body = reference.post(request_) if isinstance(request_, list) else \
        reference.request(what if what in ("GET", "PUT") else "POST", "/upload.php", request_,
                          {"Content-Type": kind} if request_ else {})
    assert got == status and headers["content-type"].startswith("application/json"), body
    assert set(json.loads(body)) <= {"error", "limit"} and json.loads(body)["error"]
    assert status != 405 or headers["allow"] == "POST"
    assert reference.stored() == before and not list(reference.folder.rglob("evil*"))


def test_only_stored_pngs_and_the_update_files_are_served(reference):
    # Whatever else lands in the image folder (by another way than upload.php) stays unseen.
    name = "0123456789abcdef0123456789abcdef"
    (reference.www / "i").mkdir(exist_ok=True)
    for planted in ("evil.php", f"{name}.php", f"{name}.png.php", f"{name.upper()}.png",
                    f"{name}.secret", "evil.png", ".htaccess", "evil.phtml"):
        (reference.www / "i" / planted).write_bytes(PHP)
        status, _, body = reference.request("GET", f"/i/{planted}")
        assert status == 404 and b"executed" not in body and b"<?php" not in body, planted
    for path in ("/i/", "/i", "/i/index.html", "/", "/upload.php.bak", "/README.md",
                 "/deploy/nginx-snapwren.conf", "/downloads/", "/downloads/evil.php",
                 "/upload.php/x.png", "/i/../upload.php/x.png"):
        assert reference.request("GET", path)[0] == 404, path
    status, headers, body = reference.request("GET", "/version.json")
    assert (status, headers["content-type"], body) == (
        200, "application/json", (REPO / "server" / "version.json").read_bytes())
    installer = bytes(range(256)) * 64
    (reference.www / "downloads" / "Setup.exe").write_bytes(installer)
    assert reference.request("GET", "/downloads/Setup.exe")[::2] == (200, installer)
    # Plain HTTP only ever points to HTTPS.
    status, headers, _ = reference.request("GET", "/upload.php", port=80)
    assert (status, headers["location"]) == (301, "https://localhost/upload.php")


@pytest.fixture
def closed(reference):
    """Whatever keys the test makes, the server is open again afterwards (no keys file)."""
    yield
    reference.keys.unlink(missing_ok=True)


@pytest.fixture
def keys(reference, closed):
    """Keys of anna and ben, ben's revoked again, and a key one digit off anna's."""
    made = {name: reference.make_key(name) for name in ("anna", "ben")}
    assert reference.keys_script("revoke-key.sh", "ben").returncode == 0
    return dict(made, wrong=made["anna"][:-1] + "01"[made["anna"][-1] == "0"])


KEYED = [("no key", None, 401), ("a wrong key", "Bearer {wrong}", 401),
         ("a revoked key", "Bearer {ben}", 401), ("another scheme", "Basic {anna}", 401),
         ("the key", "Bearer {anna}", 200), ("the scheme in lower case", "bearer {anna}", 200)]


@pytest.mark.parametrize("what, authorization, status", KEYED, ids=[k[0] for k in KEYED])
def test_once_there_are_keys_an_upload_needs_one_of_them(reference, keys, what, authorization,
                                                         status):
    before = reference.stored()
    headers = {"Authorization": authorization.format(**keys)} if authorization else {}
    got, answer, body = reference.post([("image", "c.png", "image/png", png(70))], headers=headers)
    assert got == status, body
    assert len(reference.stored()) == len(before) + (status == 200)
    if status == 401:
        assert answer["www-authenticate"] == "Bearer" and json.loads(body)["error"]


def test_a_key_is_printed_once_kept_as_its_hash_and_revoking_the_last_keeps_the_server_closed(
        reference, closed):
    made = reference.keys_script("make-key.sh", "anna")
    key = made.stdout.strip()
    assert made.returncode == 0 and len(key) == 64 and made.stdout == key + "\n", made.stderr
    text = reference.keys.read_text()
    assert key not in text and f"{hashlib.sha256(key.encode()).hexdigest()} anna\n" in text
    again = reference.keys_script("make-key.sh", "anna")
    assert (again.returncode, again.stdout, reference.keys.read_text()) == (1, "", text)
    assert [reference.keys_script("revoke-key.sh", "anna").returncode for _ in "12"] == [0, 1]
    for headers in ({}, {"Authorization": f"Bearer {key}"}):
        assert reference.post([("image", "c.png", None, png(71))], headers=headers)[0] == 401
    reference.keys.unlink()
    reference.upload(png(71))


def test_a_delete_link_removes_its_image_once_and_only_with_delete(reference, keys):
    anna = {"Authorization": f"Bearer {keys['anna']}"}
    first, second = (reference.uploaded(png(seed), headers=anna) for seed in (80, 81))
    path = lambda link: link.split("localhost", 1)[1]  # noqa: E731
    deleting, secret = path(first["delete_url"]), first["delete_url"].rsplit("=", 1)[1]
    image = LINK.fullmatch(first["url"])[1]
    # Method, address, key, answer, and whether the first image is still there after it.
    steps = [("GET", deleting, {}, 405, True), ("POST", deleting, anna, 405, True),
             ("DELETE", deleting.replace(secret, second["delete_url"][-32:]), {}, 403, True),
             ("DELETE", deleting.replace(image, "0" * 32), {}, 404, True),
             # As Snapwren sends it, with its key; the secret alone would do, as below.
             ("DELETE", deleting, anna, 200, False), ("DELETE", deleting, anna, 404, False),
             ("DELETE", path(second["delete_url"]), {}, 200, False)]
    for method, target, headers, status, there in steps:
        got, answer, body = reference.request(method, target, headers=headers)
        assert got == status, (method, target, body)
        assert json.loads(body) == {"deleted": True} if status == 200 else json.loads(body)["error"]
        assert status != 405 or answer["allow"] == "DELETE"
        assert (reference.request("GET", path(first["url"]))[0] == 200) == there, (method, target)
    assert reference.request("GET", path(second["url"]))[0] == 404
    assert not list((reference.www / "i").glob(image + "*"))


def test_deletions_count_against_a_clients_limit(reference):
    unknown = "/upload.php?delete=" + "0" * 32 + "&secret=" + "0" * 32
    statuses = [reference.request("DELETE", unknown, source="127.0.0.4")[0] for _ in range(32)]
    assert statuses == [404] * 31 + [429]
    assert reference.request("POST", "/upload.php", source="127.0.0.4")[0] == 429


SAME_64, OTHER_64 = ("2001:db8:0:1::a", "2001:db8:0:1::b"), "2001:db8:0:2::a"


@pytest.fixture
def ipv6_clients():
    """Addresses of two IPv6 /64s on the loopback interface of the run's network namespace."""
    for address in (*SAME_64, OTHER_64):
        subprocess.run(["ip", "-6", "addr", "add", address, "dev", "lo", "nodad"], check=True)
    yield
    for address in (*SAME_64, OTHER_64):
        subprocess.run(["ip", "-6", "addr", "del", address, "dev", "lo"], check=True)


def test_a_client_is_an_address_or_a_64_and_all_clients_are_limited_together(reference,
                                                                              ipv6_clients):
    get = lambda source: reference.request("GET", "/upload.php", source=source)  # noqa: E731
    # One IPv4 address, or two addresses of one /64 taking turns, get 31 through, then 429.
    for sources in (["127.0.0.2"], SAME_64):
        statuses = [get(sources[n % len(sources)])[0] for n in range(40)]
        assert statuses[:31] == [405] * 31 and statuses[-1] == 429, (sources, statuses)
    status, headers, body = get("127.0.0.2")
    assert (status, headers["retry-after"], json.loads(body)["error"]) == (
        429, "60", "too many uploads: try again later")
    assert [get(source)[0] for source in ("127.0.0.3", OTHER_64)] == [405, 405]
    # The first request of an address no client limit refuses; all of them together get 429.
    assert 429 in [get(f"127.0.1.{n}")[0] for n in range(1, 130)]


@pytest.mark.parametrize("headers", [{"X-Min-Free": str(2**62)},  # more than any disk has
                                     {"X-Max-Store": "100"}])  # less than the image
def test_an_image_that_finds_no_room_gets_507_and_deletes_nothing(reference, headers):
    before = reference.stored()
    status, _, body = reference.post([("image", "capture.png", "image/png", png(9))],
                                     headers=headers)
    assert (status, json.loads(body)["error"]) == (507, "insufficient storage: try again later")
    assert reference.stored() == before


def test_past_its_cap_the_store_deletes_its_oldest_images_first(reference):
    now, named = time.time(), lambda link: reference.www / "i" / link.rsplit("/", 1)[1]
    images = [named(reference.upload(png(seed))) for seed in (60, 61, 62)]
    # Older than these three, a day apart, is everything stored before.
    for days, path in [(9, path) for path in reference.stored()] + list(zip((3, 2, 1), images)):
        os.utime(path, (now - days * DAY, now - days * DAY))
    cap = sum(path.stat().st_size for path in images[1:]) + len(png(63))
    newest = named(reference.upload(png(63), headers={"X-Max-Store": str(cap)}))
    assert reference.stored() == sorted(images[1:] + [newest])
    assert [path.with_suffix(".secret").exists() for path in images + [newest]] == [0, 1, 1, 1]


def test_the_retention_job_deletes_only_stored_images_older_than_its_days(tmp_path):
    now = time.time()
    ages = {"0" * 32 + ".png": 31, "1" * 32 + ".png": 29, "A" * 32 + ".png": 31, "index.html": 99,
            "notes.txt": 99, "sub/" + "2" * 32 + ".png": 99, "0" * 32 + ".secret": 31,
            "1" * 32 + ".secret": 29}
    for name, days in ages.items():
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_bytes(b"x")
        os.utime(tmp_path / name, (now - days * DAY, now - days * DAY))
    job = subprocess.run(["bash", REPO / "server" / "deploy" / "snapwren-retention.sh", tmp_path,
                          "30"], capture_output=True, text=True)
    assert job.returncode == 0 and "deleted 1 image(s)" in job.stdout, job.stderr
    assert sorted(str(p.relative_to(tmp_path)) for p in tmp_path.rglob("*.*")) == sorted(
        set(ages) - {"0" * 32 + ".png", "0" * 32 + ".secret"})
