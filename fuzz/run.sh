#!/bin/bash
# Builds the fuzz targets and runs them (on demand; not part of CI).
#
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]   run one target
#   fuzz/run.sh all SECONDS [libFuzzer options...]      run every target in turn
#   fuzz/run.sh build                                    only build
#
# TARGET is the NAME of a fuzz/fuzz_NAME.cpp (regex, wildcard, ...); every
# such file is a target, so a new one needs no change here.  See
# fuzz/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz

usage() {
  echo "usage: fuzz/run.sh TARGET|all SECONDS [libFuzzer options...] | fuzz/run.sh build" >&2
  exit 2
}
[ $# -ge 1 ] || usage
what=$1
shift
seconds=
if [ "$what" != build ]; then
  [ $# -ge 1 ] || usage
  seconds=$1
  shift
  [[ $seconds =~ ^[0-9]+$ ]] || usage
fi

targets=()
for source in "$root"/fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  targets+=("${name#fuzz_}")
done
if [ "$what" != build ] && [ "$what" != all ]; then
  found=
  for t in "${targets[@]}"; do [ "$t" = "$what" ] && found=1; done
  if [ -z "$found" ]; then
    echo "fuzz/run.sh: no target '$what' (have: ${targets[*]})" >&2
    exit 2
  fi
  targets=("$what")
fi

# clang with the libFuzzer runtime.
fuzzer_works() {
  command -v clang++ >/dev/null || return 1
  local probe
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$probe/p.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1
  local rc=$?
  rm -rf "$probe"
  return $rc
}
if ! fuzzer_works || ! command -v cmake >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq clang libclang-rt-dev cmake python3
  fuzzer_works || { echo "fuzz/run.sh: clang cannot build libFuzzer targets" >&2; exit 1; }
fi

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
cmake --build "$build" -j2 "${build_targets[@]}"
[ "$what" = build ] && exit 0

# Seeds: the files in fuzz/seeds/NAME/ and the lines of fuzz/seeds/NAME.tsv
# (see fuzz/README.md) start the working corpus build-fuzz/corpus/NAME/,
# which keeps growing from run to run.
make_seeds() {
  local name=$1 corpus=$2
  if [ -d "$root/fuzz/seeds/$name" ]; then
    cp -n "$root/fuzz/seeds/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  if [ -f "$root/fuzz/seeds/$name.tsv" ]; then
    python3 - "$root/fuzz/seeds/$name.tsv" "$corpus" <<'PY'
import hashlib, pathlib, re, sys
tsv, corpus = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
def unescape(text):
    return re.sub(rb"\\(x[0-9a-fA-F]{2}|\\)",
                  lambda m: b"\\" if m.group(1) == b"\\" else bytes([int(m.group(1)[1:], 16)]), text)
for line in tsv.read_bytes().split(b"\n"):
    if not line or line.startswith(b"#"):
        continue
    fields = line.split(b"\t")
    head = bytes.fromhex(fields[0].decode())
    data = head + unescape(fields[1]) + b"\0" + unescape(fields[2] if len(fields) > 2 else b"")
    (corpus / ("seed-" + hashlib.sha1(data).hexdigest()[:16])).write_bytes(data)
PY
  fi
}

status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  artifacts=$build/artifacts/$t
  log=$build/logs/$t.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  make_seeds "$t" "$corpus"
  dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  # Options a target always runs with (fuzz/NAME.options, one line).
  opts=()
  [ -f "$root/fuzz/$t.options" ] && read -r -a opts <"$root/fuzz/$t.options"
  echo "fuzz/run.sh: $t for $seconds s, log $log"
  # With -jobs=N libFuzzer writes fuzz-JOB.log into the current directory.
  workdir=$build/logs/$t.jobs
  rm -rf "$workdir"
  mkdir -p "$workdir"
  rc=0
  # The largest inputs (a 4095-byte program against a 4095-byte subject)
  # take a few seconds under the sanitizers, more on a busy machine; a
  # runaway match takes far longer than the timeout.
  (cd "$workdir" && "$build/fuzz_$t" "$corpus" "${dict[@]}" "${opts[@]}" -max_total_time="$seconds" -timeout=60 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$@") >"$log" 2>&1 || rc=$?
  # The job logs, when there are any, also end up in the main log: count
  # them once.
  logs=()
  for job_log in "$workdir"/*.log; do [ -f "$job_log" ] && logs+=("$job_log"); done
  [ ${#logs[@]} -gt 0 ] || logs=("$log")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${logs[@]}" | awk '{ n += $1 } END { if (NR) print n }')
  if [ $rc -ne 0 ]; then
    status=1
    echo "fuzz/run.sh: $t FAILED (exit $rc) after ${runs:-?} executions; inputs in $artifacts/:"
    ls "$artifacts"
    grep -h -m1 -E '==ERROR|runtime error|deadly signal|timeout' "${logs[@]}" || true
  else
    echo "fuzz/run.sh: $t ok, ${runs:-?} executions"
  fi
done
exit $status
