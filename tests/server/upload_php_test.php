<?php
// The pure parts of server/upload.php, checked directly with php-cli:
//   php tests/server/upload_php_test.php      (exit 0 when every check holds)
// test_server.py runs it; the HTTP behaviour is checked there, through nginx and PHP-FPM.

declare(strict_types=1);

require __DIR__ . '/../../server/upload.php';

$failures = 0;

function check(string $what, $actual, $expected): void
{
    global $failures;
    if ($actual !== $expected) {
        $failures++;
        fwrite(STDERR, "FAIL $what: got " . var_export($actual, true) . ', expected '
                       . var_export($expected, true) . "\n");
    }
}

function chunk(string $type, string $data): string
{
    return pack('N', strlen($data)) . $type . $data . pack('N', crc32($type . $data));
}

// A complete PNG whose IHDR holds these fields; the pixel data is not looked at.
function png(int $width = 1, int $height = 1, int $depth = 8, int $colour = 6,
             int $compression = 0, int $filter = 0, int $interlace = 0): string
{
    $ihdr = pack('NNCCCCC', $width, $height, $depth, $colour, $compression, $filter, $interlace);
    return PNG_SIGNATURE . chunk('IHDR', $ihdr) . chunk('IDAT', gzcompress("\0\0\0\0\0"))
        . chunk('IEND', '');
}

function problem(string $bytes): ?string
{
    return png_problem(substr($bytes, 0, PNG_HEAD_BYTES), substr($bytes, -12), strlen($bytes));
}

// --- png_problem: signature, IHDR and IEND, never the name --------------------------------------

check('a complete PNG', problem(png()), null);
check('the largest size IHDR allows', problem(png(0x7FFFFFFF, 0x7FFFFFFF)), null);
check('width 0', problem(png(0, 1)), 'invalid image size');
check('height 2^31', problem(png(1, 0x80000000)), 'invalid image size');
foreach ([[0, 1], [0, 16], [2, 8], [2, 16], [3, 1], [3, 8], [4, 16], [6, 8], [6, 16]] as [$c, $d]) {
    check("colour $c depth $d", problem(png(1, 1, $d, $c)), null);
}
foreach ([[0, 3], [2, 4], [3, 16], [4, 1], [6, 1], [1, 8], [5, 8], [7, 8]] as [$c, $d]) {
    check("colour $c depth $d", problem(png(1, 1, $d, $c)), 'invalid colour type or bit depth');
}
check('compression 1', problem(png(1, 1, 8, 6, 1)), 'invalid IHDR methods');
check('filter 1', problem(png(1, 1, 8, 6, 0, 1)), 'invalid IHDR methods');
check('interlace 1 (Adam7)', problem(png(1, 1, 8, 6, 0, 0, 1)), null);
check('interlace 2', problem(png(1, 1, 8, 6, 0, 0, 2)), 'invalid IHDR methods');

$good = png();
check('JPEG bytes', problem("\xFF\xD8\xFF\xE0" . substr($good, 4)), 'no PNG signature');
check('signature with LF for CR LF', problem("\x89PNG\n\n\x1a\n" . substr($good, 8)),
      'no PNG signature');
check('PHP behind a PNG signature', problem(PNG_SIGNATURE . '<?php system($_GET["c"]); ?>'
      . str_repeat(' ', 40)), 'the first chunk is not IHDR');
check('IHDR with length 12', problem(substr_replace($good, pack('N', 12), 8, 4)),
      'the first chunk is not IHDR');
check('another chunk first', problem(PNG_SIGNATURE . chunk('tEXt', str_repeat('x', 13))
      . substr($good, 33)), 'the first chunk is not IHDR');
$badCrc = $good;
$badCrc[32] = chr(ord($badCrc[32]) ^ 1);
check('IHDR CRC off by one bit', problem($badCrc), 'IHDR checksum mismatch');
$badField = $good;
$badField[16] = "\x01";  // the width's top byte, CRC left as it was
check('IHDR changed behind its CRC', problem($badField), 'IHDR checksum mismatch');
check('cut off before IEND', problem(substr($good, 0, -12)), 'no IEND chunk at the end');
check('cut off inside IEND', problem(substr($good, 0, -1)), 'no IEND chunk at the end');
check('bytes after IEND', problem($good . '<?php ?>'), 'no IEND chunk at the end');
check('44 bytes: one short of signature, IHDR and IEND',
      png_problem(substr($good, 0, 33), substr($good, -12), 44), 'too short for a PNG');
check('empty file', png_problem('', '', 0), 'too short for a PNG');

// --- sizes: php.ini notation and the limit that results -------------------------------------

check('2M', ini_bytes('2M'), 2 * 1024 * 1024);
check('512k', ini_bytes('512k'), 512 * 1024);
check('1G', ini_bytes('1G'), 1024 * 1024 * 1024);
check('plain bytes', ini_bytes('8388608'), 8388608);
check('blanks around', ini_bytes(' 11M '), 11 * 1024 * 1024);
check('empty', ini_bytes(''), 0);
check('no number', ini_bytes('M'), 0);
check('unknown unit', ini_bytes('10T'), 0);

$mib = 1024 * 1024;
check('own limit when PHP allows more', png_limit(10 * $mib, 16 * $mib, 17 * $mib), 10 * $mib);
check('upload_max_filesize lower', png_limit(10 * $mib, 2 * $mib, 8 * $mib), 2 * $mib);
check('post_max_size lower, less the framing', png_limit(10 * $mib, 16 * $mib, 4 * $mib),
      4 * $mib - MAX_FRAMING_BYTES);
check('no PHP limits', png_limit(10 * $mib, 0, 0), 10 * $mib);
check('post_max_size below the framing', png_limit(10 * $mib, 0, 1000), 0);

// --- the form: one part, nothing around it -------------------------------------------------------

$snapwren = '----SnapwrenBoundary' . 'aZ09bY18cX27dW36';
check('Snapwren\'s boundary', multipart_boundary("multipart/form-data; boundary=$snapwren"),
      $snapwren);
check('quoted', multipart_boundary('multipart/form-data; boundary="a b:c"'), 'a b:c');
check('any case, other parameters',
      multipart_boundary('Multipart/Form-Data; charset=utf-8; BOUNDARY=xyz; x=1'), 'xyz');
check('70 characters', multipart_boundary('multipart/form-data; boundary=' . str_repeat('b', 70)),
      str_repeat('b', 70));
check('71 characters', multipart_boundary('multipart/form-data; boundary=' . str_repeat('b', 71)),
      null);
check('no boundary', multipart_boundary('multipart/form-data'), null);
check('empty boundary', multipart_boundary('multipart/form-data; boundary='), null);
check('not a form', multipart_boundary('application/x-www-form-urlencoded; boundary=x'), null);
check('no type', multipart_boundary(''), null);

// The body exactly as Snapwren builds it: everything but the PNG fits into framing_bytes.
function part(string $boundary, string $name, string $filename, string $type, string $data): string
{
    return "--$boundary\r\nContent-Disposition: form-data; name=\"$name\"; filename=\"$filename\"\r\n"
        . "Content-Type: $type\r\n\r\n$data\r\n";
}
$body = part($snapwren, 'image', 'capture.png', 'image/png', $good) . "--$snapwren--\r\n";
$framing = framing_bytes($snapwren, 'capture.png', 'image/png');
check('Snapwren\'s framing, to the byte', strlen($body) - strlen($good), $framing - FRAMING_SLACK);
// PHP shows only the last part called image: the one before it, even empty, is too much.
$twice = part($snapwren, 'image', 'a', '', '') . $body;
check('a second, empty image part is noticed', strlen($twice) - strlen($good) > $framing, true);
$short = part('b', 'image', 'a', '', '') . part('b', 'image', 'a', '', $good) . "--b--\r\n";
check('also with the shortest names', strlen($short) - strlen($good) > framing_bytes('b', 'a', ''),
      true);

// --- file names: a bare name only ------------------------------------------------------------

foreach (['capture.png', 'Bildschirmfoto äöü ß.png', '...png', 'a..b.png', 'x.jpg', 'x'] as $name) {
    check("name $name", file_name_escapes($name), false);
}
foreach (['../capture.png', '..\\capture.png', '../../etc/passwd', 'sub/x.png', '/x.png',
          'C:\\x.png', 'C:x.png', '.', '..', "x\0.png", "x\n.png", "x\x7f.png"] as $name) {
    check('name ' . addcslashes($name, "\0..\37\177"), file_name_escapes($name), true);
}

// --- the address of the stored images ------------------------------------------------------

$server = ['HTTPS' => 'on', 'HTTP_HOST' => 'localhost', 'SERVER_NAME' => 'snapwren.example',
           'SCRIPT_NAME' => '/upload.php'];
check('at the root', store_url($server), 'https://localhost/i/');
check('in a folder', store_url(['SCRIPT_NAME' => '/snap/upload.php'] + $server),
      'https://localhost/snap/i/');
check('host with port', store_url(['HTTP_HOST' => 'img.example.org:8443'] + $server),
      'https://img.example.org:8443/i/');
check('IPv6 host', store_url(['HTTP_HOST' => '[::1]:443'] + $server), 'https://[::1]:443/i/');
check('plain HTTP', store_url(['HTTPS' => 'off'] + $server), 'http://localhost/i/');
check('no HTTPS variable', store_url(array_diff_key($server, ['HTTPS' => 1])),
      'http://localhost/i/');
foreach (['evil.example/x?', 'a"b', 'localhost@evil.example', 'a b', ''] as $host) {
    check("Host header $host", store_url(['HTTP_HOST' => $host] + $server),
          'https://snapwren.example/i/');
}

if ($failures > 0) {
    fwrite(STDERR, "$failures check(s) failed\n");
    exit(1);
}
echo "all checks passed\n";
