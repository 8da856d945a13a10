# Sourced by the scripts that start etlan-sim in the background.

# tools_bin NAME [BIN_DIR]: sets $bin to the directory that holds etlan and
# etlan-sim: BIN_DIR (or its bin/), or build/native/bin after building the
# native tools there. Exits with 1, naming NAME, when that fails.
tools_bin() {
  local name=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  if [ $# -ge 2 ]; then
    bin=$2
    if [ ! -x "$bin/etlan" ] && [ -x "$bin/bin/etlan" ]; then bin=$bin/bin; fi
  else
    echo "==== $name: building build/native"
    (cd "$root" && cmake --preset native >/dev/null &&
      cmake --build --preset native -j "${ETL_JOBS:-$(nproc 2>/dev/null || echo 2)}" \
        --target ETLANdr etlan etlan-sim) || { echo "$name: the build failed" >&2; exit 1; }
    bin=$root/build/native/bin
  fi
  bin=$(cd "$bin" 2>/dev/null && pwd) || { echo "$name: no directory ${2:-build/native/bin}" >&2; exit 1; }
  local exe
  for exe in "$bin/etlan" "$bin/etlan-sim"; do
    [ -x "$exe" ] || { echo "$name: $exe is not built" >&2; exit 1; }
  done
}

# sim_workdir NAME: a temporary directory in $work, removed at exit together
# with the simulator whose pid the caller puts in $sim_pid.
sim_workdir() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/etlan-$1.XXXXXX")
  sim_pid=
  trap sim_cleanup EXIT
  trap 'exit 130' INT TERM
}

sim_cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
#
# sim_wait_ready COUNT NAME: waits (5 s at most) until the simulator, whose
# pid is in $sim_pid and whose standard output goes to $work/sim.out, has
# printed COUNT "ready station N port P" lines, and fills the array
# port[N]=P. Otherwise prints what the simulator said, prefixed with NAME,
# and returns 1.
sim_wait_ready() {
  local count=$1 name=$2 _ n p
  declare -gA port=()
  for _ in $(seq 1 200); do
    [ "$(grep -c '^ready station' "$work/sim.out" 2>/dev/null)" -ge "$count" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.025
  done
  while read -r _ _ n _ p _; do port[$n]=$p; done < <(grep '^ready station' "$work/sim.out")
  if [ "${#port[@]}" -lt "$count" ]; then
    echo "$name: the simulator did not get ready:" >&2
    cat "$work/sim.out" "$work/sim.err" >&2
    return 1
  fi
}
