#!/usr/bin/env bash
# Installs what is missing, builds Snapwren and its benchmark, and measures capture sessions
# under Wine on a private X server with virtual screens of 1920 x 1080 and 3840 x 2160. Prints a
# Markdown table (the one in the README) and the machine it was measured on.
#
# BUILD_DIR chooses the build directory (default build-bench/). BENCH_REPEATS sets how many
# times each figure is taken (default 15); the table shows medians.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

if [ "${SNAPWREN_BENCH_NETNS:-}" != 1 ]; then
  bash scripts/setup.sh >/dev/null
  build_dir="$(realpath -m "${BUILD_DIR:-build-bench}")"
  cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" --target Snapwren snapwren_bench -j"$(nproc)" >/dev/null
  # Without a network: Snapwren's update check at start-up fails at once instead of waiting
  # on a server while its idle time is measured.
  if unshare --net true 2>/dev/null; then
    export SNAPWREN_BENCH_NETNS=1 BUILD_DIR="$build_dir"
    exec unshare --net -- bash "${BASH_SOURCE[0]}" "$@"
  fi
fi
build_dir="$(realpath -m "${BUILD_DIR:-build-bench}")"

run_dir="$(mktemp -d)"
xvfb_pid=""
cleanup() {
  WINEPREFIX="$run_dir/prefix" wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source scripts/xvfb.sh
start_xvfb 3840x2160 "$run_dir" || { echo "bench.sh: Xvfb did not start" >&2; exit 1; }

export WINEPREFIX="$run_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
wineserver -w

to_wine() { echo "Z:${1//\//\\}"; }
sizes=(1920x1080 3840x2160)
for size in "${sizes[@]}"; do
  cat >"$run_dir/desktop.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="shell"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"shell"="$size"

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"Segoe UI"="Liberation Sans"
EOF
  wine regedit /S "$(to_wine "$run_dir/desktop.reg")" >/dev/null 2>&1
  wineserver -w
  echo "bench.sh: measuring at $size" >&2
  wine "$build_dir/tests/snapwren_bench.exe" --out "$(to_wine "$run_dir/$size.txt")" \
    --repeats "${BENCH_REPEATS:-15}" >/dev/null 2>&1
  [ -s "$run_dir/$size.txt" ] || { echo "bench.sh: no figures at $size" >&2; exit 1; }

  # Snapwren's own CPU time while it waits in the tray, from the kernel's per-thread counters
  # (Wine answers GetProcessTimes for another process with zeros).
  wine "$build_dir/Snapwren.exe" >/dev/null 2>&1 &
  snapwren_pid=$!
  sleep 5
  pids="$(pgrep -f 'Snapwren\.exe' || true)"
  [ -n "$pids" ] || { echo "bench.sh: Snapwren.exe did not start" >&2; exit 1; }
  cpu_ns() {
    for pid in $pids; do cat /proc/"$pid"/task/*/schedstat; done | awk '{ sum += $1 } END { print sum }'
  }
  before="$(cpu_ns)"
  sleep 10
  after="$(cpu_ns)"
  awk -v a="$after" -v b="$before" 'BEGIN { printf "idle_cpu_ms\t%.1f\n", (a - b) / 1e6 }' \
    >>"$run_dir/$size.txt"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  wait "$snapwren_pid" || true
done

/usr/bin/python3 - "$run_dir" "${sizes[@]}" <<'EOF'
import pathlib, platform, re, subprocess, sys

run_dir = pathlib.Path(sys.argv[1])
sizes = sys.argv[2:]
figures = {}
for size in sizes:
    rows = (line.split("\t") for line in (run_dir / f"{size}.txt").read_text().splitlines())
    figures[size] = {key: float(value) for key, value in rows}

def timed(key, ratio=True):
    cells = []
    for size in sizes:
        f = figures[size]
        cell = f"{f[key]:.1f} ms"
        if ratio:
            cell += f" ({f[key] / f['blit']:.2f} x)"
        cells.append(cell)
    return cells

def megabytes(key, relative_to=None):
    cells = []
    for s in sizes:
        value = figures[s][key] - (figures[s][relative_to] if relative_to else 0)
        cells.append(f"{value / 2**20:+.1f} MB" if relative_to else f"{value / 2**20:.1f} MB")
    return cells

rows = [
    ("Full-frame BitBlt from the screen (reference)", timed("blit", ratio=False)),
    ("StartCapture to the end of the first frame", timed("start")),
    ("Repaint of the whole overlay, phase Selected", timed("repaint")),
    ("Pointer move dragging the selection, with its repaint", timed("move")),
    ("Pointer move over a toolbar button, with its repaint", timed("hover")),
    ("Private memory before that session", megabytes("mem_before")),
    ("Private memory during it, against before", megabytes("mem_session", "mem_before")),
    ("Private memory after it, against before", megabytes("mem_after", "mem_before")),
    ("CPU time of Snapwren.exe in 10 s idle in the tray",
     [f"{figures[s]['idle_cpu_ms']:.1f} ms" for s in sizes]),
]
print("| | " + " | ".join(f"{figures[s]['width']:.0f} x {figures[s]['height']:.0f}"
                         for s in sizes) + " |")
print("|---|" + "---|" * len(sizes))
for name, cells in rows:
    print(f"| {name} | " + " | ".join(cells) + " |")
first = figures[sizes[0]]
print()
print(f"EncodePng of a 1920 x 1080 picture full of text: {first['png_ms']:.0f} ms, "
      f"{first['png_bytes'] / 1024:.0f} KiB.")
cpu = "unknown CPU"
for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
    if line.startswith("model name"):
        cpu = re.sub(r"\s+", " ", line.split(":", 1)[1].strip())
        break
wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
cores = subprocess.run(["nproc"], capture_output=True, text=True).stdout.strip()
print(f"Measured on {cpu}, {cores} cores, {wine} on Xvfb, Debian {platform.freedesktop_os_release().get('VERSION_ID', '')}.")
EOF
