#!/usr/bin/env bash
# Installs what is missing, builds Snapwren and its benchmark, and measures capture sessions
# under Wine on a private X server with virtual screens of 1920 x 1080 and 3840 x 2160, in
# BENCH_RUNS consecutive runs (default 3). Prints a Markdown table (the one in the README) with
# each run's figure in every cell, and the machine it was measured on; then judges the pointer
# moves against the reference blit, and exits 1 when one of them is too slow.
#
#   bash scripts/bench.sh [--verbose]   --verbose adds a table of the steps of a session's start
#
# It builds in build/bench/ (the CMake preset "bench"). BENCH_REPEATS sets how many times each
# figure is taken (default 15); the table shows medians.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

if [ "${SNAPWREN_BENCH_NETNS:-}" != 1 ]; then
  bash scripts/setup.sh >/dev/null
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j"$(nproc)" >/dev/null
  # Without a network: Snapwren's update check at start-up fails at once instead of waiting
  # on a server while its idle time is measured.
  if unshare --net true 2>/dev/null; then
    export SNAPWREN_BENCH_NETNS=1
    exec unshare --net -- bash "${BASH_SOURCE[0]}" "$@"
  fi
fi
build_dir="$repo/build/bench"

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
runs="${BENCH_RUNS:-3}"
verbose=()
[ "${1:-}" = --verbose ] && verbose=(--verbose)
for run in $(seq "$runs"); do for size in "${sizes[@]}"; do
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
  echo "bench.sh: run $run of $runs, measuring at $size" >&2
  figures="$run_dir/$size.$run.txt"
  wine "$build_dir/tests/snapwren_bench.exe" --out "$(to_wine "$figures")" \
    --repeats "${BENCH_REPEATS:-15}" "${verbose[@]}" >/dev/null 2>&1
  [ -s "$figures" ] || { echo "bench.sh: no figures at $size" >&2; exit 1; }
  # The idle figure depends on no screen size or run: taken once per size.
  [ "$run" = 1 ] || continue

  # Snapwren's own CPU time while it waits in the tray, from the kernel's per-thread counters
  # (Wine answers GetProcessTimes for another process with zeros).
  wine "$build_dir/Snapwren.exe" >/dev/null 2>&1 &
  snapwren_pid=$!
  sleep 5
  pids="$(pgrep -f 'Snapwren\.exe' || true)"
  [ -n "$pids" ] || { echo "bench.sh: Snapwren.exe did not start" >&2; exit 1; }
  # Per thread, and only threads alive at both readings: one that ends in between takes its
  # whole past with it from a plain sum.
  cpu_ns() {
    for pid in $pids; do
      for task in /proc/"$pid"/task/*; do echo "$task $(cut -d' ' -f1 "$task/schedstat")"; done
    done 2>/dev/null
  }
  cpu_ns >"$run_dir/cpu.before"
  sleep 10
  cpu_ns >"$run_dir/cpu.after"
  awk 'NR == FNR { before[$1] = $2; next } $1 in before { sum += $2 - before[$1] }
       END { printf "idle_cpu_ms\t%.1f\n", sum / 1e6 }' "$run_dir/cpu.before" "$run_dir/cpu.after" \
    >"$run_dir/$size.idle.txt"
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  wait "$snapwren_pid" || true
done; done

/usr/bin/python3 - "$run_dir" "$runs" "${sizes[@]}" <<'EOF'
import pathlib, platform, re, statistics, subprocess, sys

run_dir = pathlib.Path(sys.argv[1])
runs = range(1, int(sys.argv[2]) + 1)
sizes = sys.argv[3:]

def read(path):
    return {key: float(value) for key, value in
            (line.split("\t") for line in path.read_text().splitlines())}

# figures[size]: one record per run, in the order of the runs.
figures = {size: [read(run_dir / f"{size}.{run}.txt") for run in runs] for size in sizes}

def joined(values, unit):
    return " / ".join(values) + unit

def timed(key, ratio=True):
    cells = []
    for size in sizes:
        cell = joined([f"{f[key]:.1f}" for f in figures[size]], " ms")
        if ratio:
            cell += " (" + joined([f"{f[key] / f['blit']:.2f}" for f in figures[size]], " x)")
        cells.append(cell)
    return cells

def megabytes(key, relative_to=None):
    cells = []
    for s in sizes:
        values = [f[key] - (f[relative_to] if relative_to else 0) for f in figures[s]]
        cells.append(joined([f"{v / 2**20:+.1f}" if relative_to else f"{v / 2**20:.1f}"
                             for v in values], " MB"))
    return cells

rows = [
    ("Full-frame BitBlt from the screen (reference)", timed("blit", ratio=False)),
    ("StartCapture to the end of the first frame", timed("start")),
    ("Repaint of the whole overlay, phase Selected", timed("repaint")),
    ("Pointer move dragging the selection, with its repaint", timed("move")),
    ("Pointer move over a toolbar button, with its repaint", timed("hover")),
    ("Pointer move with the magnifier, with its repaint", timed("magnifier")),
    ("Private memory before that session", megabytes("mem_before")),
    ("Private memory during it, against before", megabytes("mem_session", "mem_before")),
    ("Private memory after it, against before", megabytes("mem_after", "mem_before")),
    ("CPU time of Snapwren.exe in 10 s idle in the tray",
     [f"{read(run_dir / f'{s}.idle.txt')['idle_cpu_ms']:.1f} ms" for s in sizes]),
]
steps = [
    ("Capture of the screen, on its own", "step_capture"),
    ("Decoding of one size of toolbar images, on its own", "step_decode"),
    ("The rest before the window (GDI+, editor state, any decoding)", "step_other"),
    ("Creating and showing the window, up to its first paint", "step_window"),
    ("First paint less a repaint of it (first writes to new memory)", "step_darken"),
    ("Repaint of the first frame (darkening, copy to the window)", "step_copy"),
]

def table(rows):
    print("| | " + " | ".join(s.replace("x", " x ") for s in sizes) + " |")
    print("|---|" + "---|" * len(sizes))
    for name, cells in rows:
        print(f"| {name} | " + " | ".join(cells) + " |")

print(f"Runs {', '.join(map(str, runs))} in each cell, each figure the median of its run:")
print()
table(rows)
if "step_capture" in figures[sizes[0]][0]:
    print()
    print("The start's steps:")
    print()
    table([(name, timed(key, ratio=False)) for name, key in steps])
first = figures[sizes[0]][0]
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

# Bounds far from what is measured, so that only a real regression crosses them: darkening the
# whole frozen screen anew for every paint cost about one blit per move. Each is judged on the
# median of the runs, so that one run whose reference blit is odd (now and then the screen is read
# in 4 ms instead of 60) decides nothing.
bounds = [("move", 0.5, "Pointer move dragging the selection"),
          ("hover", 0.25, "Pointer move over a toolbar button"),
          ("magnifier", 0.1, "Pointer move with the magnifier")]
print()
slow = False
for size in sizes:
    for key, bound, what in bounds:
        ratio = statistics.median(f[key] / f["blit"] for f in figures[size])
        slow |= ratio >= bound
        verdict = "ok" if ratio < bound else "TOO SLOW"
        print(f"{what} at {size}: {ratio:.2f} x the blit (bound {bound:.2f} x): {verdict}")
sys.exit(1 if slow else 0)
EOF
