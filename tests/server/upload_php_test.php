<?php
// The pure parts of server/upload.php, run by tests/e2e/test_server.py with php-cli, which also
// checks the HTTP behaviour through nginx and PHP-FPM. Each table row is [what, got, expected].
declare(strict_types=1);
require __DIR__ . '/../../server/upload.php';

function chunk(string $type, string $data): string
{
    return pack('N', strlen($data)) . $type . $data . pack('N', crc32($type . $data));
}

// A complete PNG whose IHDR holds these fields; the pixel data is not looked at.
function png(int $width = 1, int $height = 1, int $depth = 8, int $colour = 6, int $methods = 0,
             int $interlace = 0): string
{
    $ihdr = pack('NNCCCCC', $width, $height, $depth, $colour, $methods >> 4, $methods & 15,
                 $interlace);
    return PNG_SIGNATURE . chunk('IHDR', $ihdr) . chunk('IDAT', gzcompress("\0\0\0\0\0"))
        . chunk('IEND', '');
}

function problem(string $bytes): ?string
{
    return png_problem(substr($bytes, 0, PNG_HEAD_BYTES), substr($bytes, -12), strlen($bytes));
}

function part(string $boundary, string $name, string $file, string $type, string $data): string
{
    return "--$boundary\r\nContent-Disposition: form-data; name=\"$name\"; filename=\"$file\""
        . "\r\nContent-Type: $type\r\n\r\n$data\r\n";
}

$good = png();
$badCrc = $good;
$badCrc[32] = chr(ord($badCrc[32]) ^ 1);
$hidden = $good;
$hidden[16] = "\x01";  // the width's top byte, behind an unchanged checksum
$mib = 1024 * 1024;
$snapwren = '----SnapwrenBoundary' . 'aZ09bY18cX27dW36';
$body = part($snapwren, 'image', 'capture.png', 'image/png', $good) . "--$snapwren--\r\n";
$framing = framing_bytes($snapwren, 'capture.png', 'image/png');
$server = ['HTTPS' => 'on', 'HTTP_HOST' => 'localhost', 'SERVER_NAME' => 'snapwren.example',
           'SCRIPT_NAME' => '/upload.php'];
$invalid = 'invalid colour type or bit depth';

$rows = [
    ['a complete PNG', problem($good), null],
    ['the largest size', problem(png(0x7FFFFFFF, 0x7FFFFFFF)), null],
    ['width 0', problem(png(0, 1)), 'invalid image size'],
    ['height 2^31', problem(png(1, 0x80000000)), 'invalid image size'],
    ['Adam7', problem(png(1, 1, 8, 6, 0, 1)), null],
    ['interlace 2', problem(png(1, 1, 8, 6, 0, 2)), 'invalid IHDR methods'],
    ['compression 1', problem(png(1, 1, 8, 6, 16)), 'invalid IHDR methods'],
    ['filter 1', problem(png(1, 1, 8, 6, 1)), 'invalid IHDR methods'],
    ['JPEG bytes', problem("\xFF\xD8\xFF\xE0" . substr($good, 4)), 'no PNG signature'],
    ['LF for CR LF', problem("\x89PNG\n\n\x1a\n" . substr($good, 8)), 'no PNG signature'],
    ['PHP behind the signature', problem(PNG_SIGNATURE . '<?php ?>' . str_repeat(' ', 40)),
     'the first chunk is not IHDR'],
    ['IHDR of length 12', problem(substr_replace($good, pack('N', 12), 8, 4)),
     'the first chunk is not IHDR'],
    ['IHDR checksum off by a bit', problem($badCrc), 'IHDR checksum mismatch'],
    ['IHDR changed behind its checksum', problem($hidden), 'IHDR checksum mismatch'],
    ['another chunk first', problem(PNG_SIGNATURE . chunk('tEXt', str_repeat('x', 13))
     . substr($good, 33)), 'the first chunk is not IHDR'],
    ['cut before IEND', problem(substr($good, 0, -12)), 'no IEND chunk at the end'],
    ['cut inside IEND', problem(substr($good, 0, -1)), 'no IEND chunk at the end'],
    ['bytes after IEND', problem($good . '<?php ?>'), 'no IEND chunk at the end'],
    ['44 bytes', png_problem(substr($good, 0, 33), substr($good, -12), 44), 'too short for a PNG'],
    ['2M', ini_bytes('2M'), 2 * $mib], ['512k', ini_bytes('512k'), 512 * 1024],
    ['1G', ini_bytes('1G'), 1024 * $mib], ['blanks', ini_bytes(' 11M '), 11 * $mib],
    ['no number', ini_bytes('M'), 0], ['unknown unit', ini_bytes('10T'), 0],
    ['plain bytes', ini_bytes('8388608'), 8388608], ['empty', ini_bytes(''), 0],
    ['own limit lowest', png_limit(10 * $mib, 16 * $mib, 17 * $mib), 10 * $mib],
    ['upload_max_filesize lower', png_limit(10 * $mib, 2 * $mib, 8 * $mib), 2 * $mib],
    ['post_max_size lower, less the framing', png_limit(10 * $mib, 16 * $mib, 4 * $mib),
     4 * $mib - MAX_FRAMING_BYTES],
    ['no PHP limits', png_limit(10 * $mib, 0, 0), 10 * $mib],
    ['post_max_size below the framing', png_limit(10 * $mib, 0, 1000), 0],
    ["Snapwren's boundary", multipart_boundary("multipart/form-data; boundary=$snapwren"),
     $snapwren],
    ['quoted', multipart_boundary('multipart/form-data; boundary="a b:c"'), 'a b:c'],
    ['any case', multipart_boundary('Multipart/Form-Data; charset=x; BOUNDARY=xyz'), 'xyz'],
    ['70 characters', multipart_boundary('multipart/form-data; boundary=' . str_repeat('b', 70)),
     str_repeat('b', 70)],
    ['no boundary', multipart_boundary('multipart/form-data'), null],
    ['71 characters', multipart_boundary('multipart/form-data; boundary=' . str_repeat('b', 71)),
     null],
    ['empty boundary', multipart_boundary('multipart/form-data; boundary='), null],
    ['not a form', multipart_boundary('application/x-www-form-urlencoded; boundary=x'), null],
    ["Snapwren's framing to the byte", strlen($body) - strlen($good), $framing - FRAMING_SLACK],
    // PHP shows only the last part called image: one before it, even empty, is too much.
    ['a second, empty image part', strlen(part('b', 'image', 'a', '', '') . $body) - strlen($good)
     > $framing, true],
    ['at the root', store_url($server), 'https://localhost/i/'],
    ['in a folder', store_url(['SCRIPT_NAME' => '/s/upload.php'] + $server),
     'https://localhost/s/i/'],
    ['port and IPv6', store_url(['HTTP_HOST' => '[::1]:443'] + $server), 'https://[::1]:443/i/'],
    ['plain HTTP', store_url(['HTTPS' => 'off'] + $server), 'http://localhost/i/'],
    ['no HTTPS variable', store_url(array_diff_key($server, ['HTTPS' => 1])),
     'http://localhost/i/'],
];
foreach ([[0, 1], [0, 16], [2, 16], [3, 1], [3, 8], [4, 16], [6, 16]] as [$c, $d]) {
    $rows[] = ["colour $c depth $d", problem(png(1, 1, $d, $c)), null];
}
foreach ([[0, 3], [2, 4], [3, 16], [4, 1], [6, 1], [1, 8], [5, 8], [7, 8]] as [$c, $d]) {
    $rows[] = ["colour $c depth $d", problem(png(1, 1, $d, $c)), $invalid];
}
foreach (['capture.png', 'Bildschirmfoto äöü ß.png', '...png', 'a..b.png', 'x'] as $name) {
    $rows[] = ["name $name", file_name_escapes($name), false];
}
foreach (['../x.png', '..\\x.png', 'sub/x.png', '/x.png', 'C:\\x.png', 'C:x.png', '.', '..',
          "x\0.png", "x\n.png", "x\x7f.png"] as $name) {
    $rows[] = ['name ' . addcslashes($name, "\0..\37\177"), file_name_escapes($name), true];
}
// A forged Host header never makes its way into a link.
foreach (['evil.example/x?', 'a"b', 'localhost@evil.example', 'a b', ''] as $host) {
    $rows[] = ["Host $host", store_url(['HTTP_HOST' => $host] + $server),
               'https://snapwren.example/i/'];
}

$failures = 0;
foreach ($rows as [$what, $got, $expected]) {
    if ($got !== $expected) {
        $failures++;
        fwrite(STDERR, "FAIL $what: got " . var_export($got, true) . ', expected '
               . var_export($expected, true) . "\n");
    }
}
exit($failures > 0 ? 1 : 0);
