"""UploadPng over real WinHTTP in the Wine prefix against the tests' upload server: the unit-test
executable's UploadServer cases run here with the server up, and this side checks what reached
the server."""

import re
import socket
import subprocess

import pytest

from upload_server import UploadServer, describe, make_untrusted_context

BOUNDARY = re.compile(r"----SnapwrenBoundary[0-9A-Za-z]{16}")
# Requests that the UploadServer cases make, in total: one to the built-in address, four key
# spellings, one UTF-8 link, two statuses, empty and link-less replies, the 1 MiB limit and the
# larger reply, two stalled answers and one dropped connection. The empty image and the bad
# address must add none.
EXPECTED_REQUESTS = 15


def pattern_png():
    """The bytes that upload_client_test.cpp sends (PatternPng there)."""
    return bytes((i * 7 + i // 256) & 0xFF for i in range(70000))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.fixture(scope="module")
def client_run(wine_prefix, test_env, https_server_module, tmp_path_factory):
    trusted = UploadServer(https_server_module)
    untrusted = UploadServer(https_server_module, port=0,
                             context=make_untrusted_context(tmp_path_factory.mktemp("untrusted")))
    exe = test_env.build_dir / "tests" / "unit_upload.exe"
    env = dict(wine_prefix.env, SNAPWREN_UPLOAD_SERVER="1",
               SNAPWREN_UPLOAD_REFUSED_PORT=str(free_port()),
               SNAPWREN_UPLOAD_UNTRUSTED_PORT=str(untrusted.port))
    try:
        result = subprocess.run(["wine", str(exe), "--gtest_filter=UploadPng.*:UploadServer.*"],
                                env=env, capture_output=True, timeout=180,
                                stdin=subprocess.DEVNULL)
    finally:
        trusted.release()
        untrusted.release()
    output = result.stdout.decode("utf-8", "replace")
    (test_env.artifacts / "upload_client.log").parent.mkdir(parents=True, exist_ok=True)
    (test_env.artifacts / "upload_client.log").write_text(output)
    return result.returncode, output, trusted, untrusted


@pytest.fixture(scope="module")
def https_server_module(certs):
    """conftest's https_server, for one server set shared by this module's checks."""
    from conftest import HttpsServer
    servers = []

    def start(handler_class, port=443, context=None):
        server = HttpsServer(handler_class, certs, port, context)
        servers.append(server)
        return server
    yield start
    for server in servers:
        server.stop()


def test_every_failure_text_and_the_refused_certificate(client_run):
    code, output, _, _ = client_run
    assert "[  PASSED  ]" in output and code == 0, output[-4000:]
    # Every server case ran: none was skipped for want of the server.
    assert "SKIPPED" not in output, output[-2000:]


def test_one_post_per_upload_and_nothing_without_an_image(client_run):
    _, _, trusted, _ = client_run
    requests = trusted.requests
    assert len(requests) == EXPECTED_REQUESTS, [describe(r) for r in requests]
    assert all(r.method == "POST" for r in requests)


def test_the_request_carries_exactly_one_image_part(client_run):
    _, _, trusted, _ = client_run
    first = trusted.requests[0]
    assert first.path == "/upload.php"
    assert first.headers.get("user-agent") == "Snapwren/1.0"
    assert BOUNDARY.fullmatch(first.boundary or ""), first.content_type
    assert int(first.headers["content-length"]) == len(first.body)
    assert "transfer-encoding" not in first.headers
    parts = first.parts()
    assert len(parts) == 1, [p[0] for p in parts]
    headers, content = parts[0]
    assert headers == {"content-disposition": 'form-data; name="image"; filename="capture.png"',
                       "content-type": "image/png"}
    assert content == pattern_png()


def test_every_upload_draws_a_new_boundary(client_run):
    _, _, trusted, _ = client_run
    boundaries = [r.boundary for r in trusted.requests]
    assert all(BOUNDARY.fullmatch(b or "") for b in boundaries)
    assert len(set(boundaries)) == len(boundaries)


def test_nothing_reaches_a_server_that_is_not_trusted(client_run):
    _, _, _, untrusted = client_run
    assert untrusted.requests == []
