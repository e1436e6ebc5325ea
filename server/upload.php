<?php
// Snapwren's upload endpoint. Snapwren posts each screenshot as a multipart form with exactly
// one field, "image", holding a PNG; this script checks it, stores it under a fresh unguessable
// name and answers 200 with {"url": "<where it is served>"}. Anything else gets a 4xx status
// with {"error": "<why>"}; a disk nearly full gets 507, a failure to store 500. The images
// together stay within a cap: past it, the oldest are deleted to make room for the new one.
//
// Once a keys file exists, an upload needs one of its keys, sent as "Authorization: Bearer <key>";
// without one it gets 401. Each stored image comes with its own secret, named in the reply's
// "delete_url": a DELETE of that address removes the image again.
//
// Drop it onto PHP web space (PHP 7.4 or newer) beside a folder "i" that PHP may write to, and
// let the web server serve that folder as static files only (see README.md and the examples in
// deploy/). Nothing a client sends ever becomes part of a stored file's name.

declare(strict_types=1);

// --- settings ------------------------------------------------------------------------------------

// The largest PNG accepted, in bytes. PHP's upload_max_filesize and post_max_size (and the web
// server's own body limit) must allow at least this much; where they allow less, the lowest of
// them is the limit, and the 413 answer names it.
const MAX_PNG_BYTES = 10 * 1024 * 1024;

// Where the images go, and the address that folder is served at (ending in "/"). With null, the
// address is the folder "i" beside this script on the host the request came to.
const STORE_DIR = __DIR__ . '/i';
const STORE_URL = null;

// The upload keys: one line each, the SHA-256 of a key in hex and the name it was made for
// (server/make-key.sh writes them, server/revoke-key.sh removes them). Outside the web root, so
// that no web server ever serves it. While there is no such file, anyone may upload.
const KEYS_FILE = __DIR__ . '/../snapwren-keys';

// While the store's disk has less than this many bytes free, uploads get 507 before anything is
// written, so that screenshots never take the space that the server itself needs. The web server
// may set it instead (SNAPWREN_MIN_FREE_BYTES, see deploy/nginx-snapwren.conf).
const MIN_FREE_BYTES = 1024 * 1024 * 1024;

// The most bytes that the stored images may take together. Past it the oldest images are deleted
// to make room for a new one, so that a flood of uploads pushes out old images instead of filling
// the disk. With null, STORE_DISK_SHARE of the size of the store's disk, which is no limit on web
// space whose quota is smaller than its disk: set a number there. The web server may set it
// instead (SNAPWREN_MAX_STORE_BYTES, see deploy/nginx-snapwren.conf).
const MAX_STORE_BYTES = null;
const STORE_DISK_SHARE = 0.5;

// --- what a request may hold ---------------------------------------------------------------------

// Room for one part's framing around the PNG when sizes are checked: the boundary lines (up to
// 70 characters each), its Content-Disposition with a file name, and its Content-Type.
const MAX_FRAMING_BYTES = 2048;
// Room for a header or two more than framing_bytes counts; a second part needs more than this.
const FRAMING_SLACK = 64;

const PNG_SIGNATURE = "\x89PNG\r\n\x1a\n";
const PNG_IEND_CHUNK = "\x00\x00\x00\x00IEND\xaeB`\x82";
// Signature (8) + IHDR chunk (4 length + 4 type + 13 data + 4 CRC).
const PNG_HEAD_BYTES = 33;

// Bit depths that PNG allows for each colour type (ISO/IEC 15948, table 11.1).
const PNG_BIT_DEPTHS = [
    0 => [1, 2, 4, 8, 16],  // greyscale
    2 => [8, 16],           // truecolour
    3 => [1, 2, 4, 8],      // indexed
    4 => [8, 16],           // greyscale with alpha
    6 => [8, 16],           // truecolour with alpha
];

// Why $head (the file's first bytes) and $tail (its last 12) are not a complete PNG of $size
// bytes, or null when they are: the signature, a well-formed IHDR chunk with a correct CRC right
// after it, and the IEND chunk at the very end, so that a cut-off file is refused too.
function png_problem(string $head, string $tail, int $size): ?string
{
    if ($size < PNG_HEAD_BYTES + strlen(PNG_IEND_CHUNK) || strlen($head) < PNG_HEAD_BYTES) {
        return 'too short for a PNG';
    }
    if (substr($head, 0, 8) !== PNG_SIGNATURE) {
        return 'no PNG signature';
    }
    $chunk = unpack('Nlength/a4type', substr($head, 8, 8));
    if ($chunk['length'] !== 13 || $chunk['type'] !== 'IHDR') {
        return 'the first chunk is not IHDR';
    }
    $ihdr = unpack('Nwidth/Nheight/Cdepth/Ccolour/Ccompression/Cfilter/Cinterlace',
                   substr($head, 16, 13));
    $crc = unpack('Ncrc', substr($head, 29, 4))['crc'];
    if ($crc !== crc32(substr($head, 12, 17))) {
        return 'IHDR checksum mismatch';
    }
    if ($ihdr['width'] < 1 || $ihdr['width'] > 0x7FFFFFFF
        || $ihdr['height'] < 1 || $ihdr['height'] > 0x7FFFFFFF) {
        return 'invalid image size';
    }
    if (!in_array($ihdr['depth'], PNG_BIT_DEPTHS[$ihdr['colour']] ?? [], true)) {
        return 'invalid colour type or bit depth';
    }
    if ($ihdr['compression'] !== 0 || $ihdr['filter'] !== 0 || $ihdr['interlace'] > 1) {
        return 'invalid IHDR methods';
    }
    if ($tail !== PNG_IEND_CHUNK) {
        return 'no IEND chunk at the end';
    }
    return null;
}

// A php.ini size ("2M", "512K", "1G", "8388608") in bytes; 0 or less means no limit.
function ini_bytes(string $value): int
{
    $value = trim($value);
    if ($value === '' || !preg_match('/^(\d+)\s*([KMG]?)$/i', $value, $m)) {
        return 0;
    }
    $shift = ['' => 0, 'K' => 10, 'M' => 20, 'G' => 30][strtoupper($m[2])];
    return (int)$m[1] << $shift;
}

// The largest PNG that can arrive here: this script's own limit, or PHP's when that is lower.
function png_limit(int $own, int $uploadMax, int $postMax): int
{
    $limit = $own;
    if ($uploadMax > 0) {
        $limit = min($limit, $uploadMax);
    }
    if ($postMax > 0) {
        $limit = min($limit, max(0, $postMax - MAX_FRAMING_BYTES));
    }
    return $limit;
}

// A number of bytes that the web server sets as the server variable $name, else $default.
function server_bytes(array $server, string $name, ?int $default): ?int
{
    $value = (string)($server[$name] ?? '');
    return ctype_digit($value) ? (int)$value : $default;
}

// The cap of the store (MAX_STORE_BYTES) on a disk of $diskBytes (false when unknown); null for
// none, when nothing sets it and the disk's size cannot be read.
function max_store_bytes(array $server, $diskBytes): ?int
{
    $share = $diskBytes === false ? null : (int)($diskBytes * STORE_DISK_SHARE);
    return server_bytes($server, 'SNAPWREN_MAX_STORE_BYTES', MAX_STORE_BYTES ?? $share);
}

// The images of $images (path => [modification time, bytes], oldest first) that go, oldest
// first, so that the rest and a new image of $bytes stay within $cap; null when the new image
// alone is larger than the cap, which no deletion helps.
function images_to_drop(array $images, int $bytes, int $cap): ?array
{
    if ($bytes > $cap) {
        return null;
    }
    $total = $bytes + array_sum(array_column($images, 1));
    $drop = [];
    foreach ($images as $path => [, $size]) {
        if ($total <= $cap) {
            break;
        }
        $drop[] = $path;
        $total -= $size;
    }
    return $drop;
}

// The SHA-256 hashes (lowercase hex) of a keys file's text: lines of a hash and a name; empty
// lines and lines starting with "#" say nothing.
function key_hashes(string $text): array
{
    preg_match_all('/^([0-9a-f]{64})[ \t]+\S/m', $text, $m);
    return $m[1];
}

// The key in an Authorization header of the Bearer scheme (RFC 6750), or null.
function bearer_key(string $authorization): ?string
{
    return preg_match('/^Bearer +([A-Za-z0-9._~+\/-]+=*) *$/i', $authorization, $m) ? $m[1] : null;
}

// True when $key is one of the keys whose hashes are given. Only hashes are kept, and each is
// compared in constant time, so that neither the file nor the answer's timing gives a key away.
function key_allowed(array $hashes, ?string $key): bool
{
    if ($key === null) {
        return false;
    }
    $given = hash('sha256', $key);
    $allowed = false;
    foreach ($hashes as $hash) {
        $allowed = hash_equals($hash, $given) || $allowed;
    }
    return $allowed;
}

// The boundary named in a multipart/form-data Content-Type, or null when there is none.
function multipart_boundary(string $contentType): ?string
{
    if (stripos($contentType, 'multipart/form-data') !== 0
        || !preg_match('/;\s*boundary=(?:"([^"]{1,70})"|([^;\s"]{1,70}))(?=[;\s]|$)/i',
                       $contentType, $m)) {
        return null;
    }
    return $m[1] !== '' ? $m[1] : $m[2];
}

// The bytes of a form with one file part besides the file itself (RFC 7578):
//   --B CRLF
//   Content-Disposition: form-data; name="image"; filename="NAME" CRLF
//   Content-Type: TYPE CRLF CRLF  <the file>  CRLF --B-- CRLF
// and a little slack. PHP keeps only the last of two parts with the same name and skips parts
// it cannot name, so these bytes are what shows whether anything else came along.
function framing_bytes(string $boundary, string $name, string $type): int
{
    return 2 * strlen($boundary) + strlen($name) + strlen($type) + 89 + FRAMING_SLACK;
}

// True for a client's file name that names a folder or a path, which no screenshot needs: only
// a bare name may come along, even though it is never used for storing.
function file_name_escapes(string $name): bool
{
    return $name === '.' || $name === '..' || strpbrk($name, "/\\:") !== false
        || preg_match('/[\x00-\x1f\x7f]/', $name) === 1;
}

// The scheme and host of the request ("https://host"). The Host header is the client's word:
// only a plain host name (with a port) is taken from it.
function request_origin(array $server): string
{
    $host = (string)($server['HTTP_HOST'] ?? '');
    if (!preg_match('/^(?:[A-Za-z0-9-]+(?:\.[A-Za-z0-9-]+)*|\[[0-9A-Fa-f:.]+\])(?::\d{1,5})?$/',
                    $host)) {
        $host = (string)($server['SERVER_NAME'] ?? 'localhost');
    }
    $https = !empty($server['HTTPS']) && strtolower((string)$server['HTTPS']) !== 'off';
    return ($https ? 'https' : 'http') . '://' . $host;
}

// The address that stored images are served at, from the request when STORE_URL is not set.
function store_url(array $server): string
{
    if (STORE_URL !== null) {
        return STORE_URL;
    }
    $folder = rtrim(str_replace('\\', '/', dirname((string)($server['SCRIPT_NAME'] ?? '/'))), '/');
    return request_origin($server) . $folder . '/i/';
}

// The address that deletes image $id with $secret: this script's own, wherever images are served.
function delete_url(array $server, string $id, string $secret): string
{
    $script = '/' . ltrim(str_replace('\\', '/', (string)($server['SCRIPT_NAME'] ?? '')), '/');
    return request_origin($server) . $script . '?delete=' . $id . '&secret=' . $secret;
}

// Where the SHA-256 of image $id's delete secret is kept: beside the image, under a name that
// the web server never serves (see deploy/nginx-snapwren.conf).
function secret_path(string $id): string
{
    return STORE_DIR . '/' . $id . '.secret';
}

// The images stored here (the names this script gives; index.html and anything put there by hand
// are not counted), as images_to_drop takes them.
function stored_images(): array
{
    $images = [];
    foreach (glob(STORE_DIR . '/' . str_repeat('[0-9a-f]', 32) . '.png', GLOB_NOSORT) ?: []
             as $path) {
        $stat = @stat($path);
        if ($stat !== false) {
            $images[$path] = [$stat['mtime'], $stat['size']];
        }
    }
    asort($images);
    return $images;
}

// Deletes the oldest images as far as a new one of $bytes needs to stay within the cap; false
// when it alone is larger. PHP-FPM workers storing at the same moment count the same images, so
// the store may pass its cap by one upload per worker.
function make_room(int $bytes, array $server): bool
{
    $disk = @disk_total_space(STORE_DIR);
    $cap = max_store_bytes($server, $disk);
    $free = @disk_free_space(STORE_DIR);
    // Where the whole disk holds less than the cap, so do the images: no need to count them.
    if ($cap === null || ($disk !== false && $free !== false && $disk - $free + $bytes <= $cap)) {
        return true;
    }
    $drop = images_to_drop(stored_images(), $bytes, $cap);
    foreach ($drop ?? [] as $path) {
        @unlink($path);
        @unlink(secret_path(basename($path, '.png')));
    }
    return $drop !== null;
}

// --- the request ---------------------------------------------------------------------------------

function reply(int $status, array $body, array $headers = []): void
{
    http_response_code($status);
    header('Content-Type: application/json; charset=utf-8');
    header('Cache-Control: no-store');
    header('X-Content-Type-Options: nosniff');
    foreach ($headers as $header) {
        header($header);
    }
    echo json_encode($body, JSON_UNESCAPED_SLASHES), "\n";
    exit;
}

function fail(int $status, string $message, array $extra = [], array $headers = []): void
{
    reply($status, ['error' => $message] + $extra, $headers);
}

// Reads the first and the last bytes of a file: what png_problem looks at.
function read_ends(string $path, int $size): array
{
    $file = fopen($path, 'rb');
    if ($file === false) {
        return ['', ''];
    }
    $head = (string)fread($file, PNG_HEAD_BYTES);
    $tail = '';
    if ($size >= strlen(PNG_IEND_CHUNK) && fseek($file, -strlen(PNG_IEND_CHUNK), SEEK_END) === 0) {
        $tail = (string)fread($file, strlen(PNG_IEND_CHUNK));
    }
    fclose($file);
    return [$head, $tail];
}

// Creates the image folder on first use, with an empty index page so that a server that lists
// folders shows nothing of the unguessable names.
function ensure_store_dir(): bool
{
    if (!is_dir(STORE_DIR) && !@mkdir(STORE_DIR, 0755, true) && !is_dir(STORE_DIR)) {
        return false;
    }
    $index = STORE_DIR . '/index.html';
    if (!is_file($index)) {
        @file_put_contents($index, '');
    }
    return is_writable(STORE_DIR);
}

// Answers 401 unless the request carries one of the keys, once there are keys. A keys file that
// exists but cannot be read refuses everyone: the server is meant to be closed.
function require_key(array $server): void
{
    error_clear_last();
    if (!@file_exists(KEYS_FILE)) {
        // Outside open_basedir the file looks missing, and a server meant to ask for keys would
        // take uploads from anyone.
        if (strpos((string)(error_get_last()['message'] ?? ''), 'open_basedir') !== false) {
            fail(500, 'the keys file is outside open_basedir');
        }
        return;
    }
    $text = @file_get_contents(KEYS_FILE);
    if ($text === false) {
        fail(500, 'cannot read the keys file');
    }
    // Some web servers hand the header over only under the name of a rewrite (see README.md).
    $authorization = $server['HTTP_AUTHORIZATION'] ?? $server['REDIRECT_HTTP_AUTHORIZATION'] ?? '';
    if (!key_allowed(key_hashes($text), bearer_key((string)$authorization))) {
        fail(401, 'a valid upload key is required', [], ['WWW-Authenticate: Bearer']);
    }
}

// DELETE ?delete=<image>&secret=<its secret>: removes the image when the secret is the one its
// upload was answered with. Only DELETE does, so that a link preview or a prefetch that follows
// the address never removes anything. The secret alone authorises it; a key is not asked for.
function handle_delete(array $server, $id, $secret): void
{
    if ((string)($server['REQUEST_METHOD'] ?? '') !== 'DELETE') {
        fail(405, 'method not allowed: use DELETE', [], ['Allow: DELETE']);
    }
    $known = is_string($id) && preg_match('/^[0-9a-f]{32}$/', $id) === 1;
    $image = $known ? STORE_DIR . '/' . $id . '.png' : '';
    if (!$known || !is_file($image)) {
        fail(404, 'no such image');
    }
    $hash = (string)@file_get_contents(secret_path($id));
    if (!is_string($secret) || preg_match('/^[0-9a-f]{32}$/', $secret) !== 1
        || preg_match('/^[0-9a-f]{64}$/', $hash) !== 1
        || !hash_equals($hash, hash('sha256', $secret))) {
        fail(403, 'wrong secret');
    }
    // Of two deletions at once, only the one whose unlink removes the image says so.
    if (!@unlink($image)) {
        fail(404, 'no such image');
    }
    @unlink(secret_path($id));
    reply(200, ['deleted' => true]);
}

function handle_upload(): void
{
    $method = (string)($_SERVER['REQUEST_METHOD'] ?? '');
    if ($method !== 'POST') {
        fail(405, 'method not allowed: use POST', [], ['Allow: POST']);
    }
    require_key($_SERVER);

    $limit = png_limit(MAX_PNG_BYTES, ini_bytes((string)ini_get('upload_max_filesize')),
                       ini_bytes((string)ini_get('post_max_size')));
    // Without a length (a chunked body) neither the size nor the extra parts can be told.
    $lengthText = (string)($_SERVER['CONTENT_LENGTH'] ?? '');
    if (!ctype_digit($lengthText)) {
        fail(411, 'length required');
    }
    $length = (int)$lengthText;
    // Beyond post_max_size PHP has dropped the whole body: the length is all there is.
    if ($length > $limit + MAX_FRAMING_BYTES) {
        fail(413, 'image too large', ['limit' => $limit]);
    }

    $boundary = multipart_boundary((string)($_SERVER['CONTENT_TYPE'] ?? ''));
    if ($boundary === null) {
        fail(400, 'expected multipart/form-data with one field "image"');
    }
    if (!empty($_POST) || count($_FILES) !== 1 || !isset($_FILES['image'])) {
        fail(400, isset($_FILES['image']) ? 'only the field "image" is accepted'
                                          : 'missing field "image"');
    }
    $upload = $_FILES['image'];
    if (!is_string($upload['name']) || !is_int($upload['error'])) {
        fail(400, 'only one field "image" is accepted');
    }

    switch ($upload['error']) {
        case UPLOAD_ERR_OK:
            break;
        case UPLOAD_ERR_INI_SIZE:
        case UPLOAD_ERR_FORM_SIZE:
            fail(413, 'image too large', ['limit' => $limit]);
        case UPLOAD_ERR_NO_FILE:
            fail(400, 'missing field "image"');
        case UPLOAD_ERR_PARTIAL:
            fail(400, 'incomplete upload');
        default:
            fail(500, 'cannot store the image');
    }

    // PHP 8.1 and newer keep the name as sent; older ones only its last path element.
    $name = (string)($upload['full_path'] ?? $upload['name']);
    if (file_name_escapes($name)) {
        fail(400, 'the file name must not hold a path');
    }

    $size = (int)$upload['size'];
    if ($size > $limit) {
        fail(413, 'image too large', ['limit' => $limit]);
    }
    if ($length - $size > framing_bytes($boundary, $name, (string)$upload['type'])) {
        fail(400, 'only one field "image" is accepted');
    }
    [$head, $tail] = read_ends($upload['tmp_name'], $size);
    $problem = png_problem($head, $tail, $size);
    if ($problem !== null) {
        fail(415, 'not a PNG image: ' . $problem);
    }

    if (!ensure_store_dir()) {
        fail(500, 'cannot store the image');
    }
    // Room within the cap first, then on the disk; a disk whose free space cannot be read is not
    // judged.
    $withinCap = make_room($size, $_SERVER);
    $free = @disk_free_space(STORE_DIR);
    if (!$withinCap || ($free !== false
            && $free - $size < server_bytes($_SERVER, 'SNAPWREN_MIN_FREE_BYTES', MIN_FREE_BYTES))) {
        fail(507, 'insufficient storage: try again later');
    }
    // 128 random bits: names can be neither guessed nor repeated.
    do {
        $id = bin2hex(random_bytes(16));
        $target = STORE_DIR . '/' . $id . '.png';
    } while (file_exists($target));
    if (!move_uploaded_file($upload['tmp_name'], $target)) {
        fail(500, 'cannot store the image');
    }
    @chmod($target, 0644);
    // Another 128 bits that only this answer holds; the store keeps just their hash.
    $secret = bin2hex(random_bytes(16));
    if (@file_put_contents(secret_path($id), hash('sha256', $secret)) !== 64) {
        @unlink($target);
        @unlink(secret_path($id));
        fail(500, 'cannot store the image');
    }

    reply(200, ['url' => store_url($_SERVER) . $id . '.png',
                'delete_url' => delete_url($_SERVER, $id, $secret)]);
}

// Included by another script (the tests), only the functions above are wanted.
if (get_included_files()[0] === __FILE__) {
    if (isset($_GET['delete'])) {
        handle_delete($_SERVER, $_GET['delete'], $_GET['secret'] ?? null);
    }
    handle_upload();
}
