#!/usr/bin/env bash
# Runs every fuzz target of a build for a while, each on a copy of its seed
# corpus (the committed corpus never grows in place), and fails on the first
# crash, leak, timeout or out-of-memory. Usage:
#   fuzz/run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
seconds="$2"
shift 2

# Longest input per target: room for every valid form with some to spare,
# no more, so the time goes into variety rather than size.
max_len_of() {
  case "$1" in
    picture_file) echo 16384 ;;
    session_replay) echo 1024 ;;
    elf_section) echo 4096 ;;
    packed_dib|icon_directory) echo 8192 ;;
    *) echo 2048 ;;
  esac
}

if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for seeds in "$here"/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

# Scratch files on memory when it can be had: the store and preset targets
# write files on every input.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

# System libraries' own leaks are held back as in the sanitizer tests, and
# GLib allocates plainly instead of keeping per-thread slabs, which a leak
# check at exit reports without a stack to tell them by.
leak_suppressions="$here/../tests/sanitizer/lsan.supp"
export G_SLICE=always-malloc

work="$build/fuzz-runs"
rm -rf "$work"
mkdir -p "$work"
summary=()
for target in "${targets[@]}"; do
  binary="$build/bin/fuzz_$target"
  [ -x "$binary" ] || { echo "no fuzz target $binary" >&2; exit 1; }
  corpus="$work/$target/corpus"
  artifacts="$work/$target/artifacts/"
  mkdir -p "$corpus" "$artifacts"
  cp "$here/corpus/$target"/* "$corpus/"
  dict=()
  [ -f "$here/dict/$target.dict" ] && dict=(-dict="$here/dict/$target.dict")
  log="$work/$target/log.txt"
  echo "== fuzz_$target for ${seconds}s (log: $log)"
  status=0
  ASAN_OPTIONS="detect_leaks=1" \
  LSAN_OPTIONS="suppressions=$leak_suppressions" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$here/known-issues.supp" \
    "$binary" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="$(max_len_of "$target")" -print_final_stats=1 -artifact_prefix="$artifacts" \
      "$corpus" >"$log" 2>&1 || status=$?
  last="$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)"
  runs="$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)"
  summary+=("fuzz_$target: ${runs:-?} runs; last: ${last:-none}")
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$target failed (exit $status); the input that did it is in $artifacts" >&2
    grep -E -A40 'ERROR: |==ERROR|runtime error|broken promise|Test unit written' "$log" | head -n 80 >&2 || tail -n 60 "$log" >&2
    exit 1
  fi
done
printf '%s\n' "${summary[@]}"
