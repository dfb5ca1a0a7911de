# Two network namespaces joined by a veth pair, made for one run and removed after it, and the
# simulator on one end stopped by its PID. Sourced by the wire tests and benchmarks; it sets no
# trap of its own.
#
#   veth_pair_create TAG   sets ns_unit, ns_station, veth_unit, veth_station; 1 when the
#                          namespaces cannot be made
#   veth_link_add U S      one more pair between them: U in ns_unit, S in ns_station
#   veth_pair_remove       deletes both namespaces (and with them every veth pair)
#   stop_sim               SIGTERM to $sim_pid, up to 5 s, then SIGKILL; returns its exit status
#   sim_wait_ready LOG [PID [N]]  until the simulator's LOG says "ready on" (N times: one per
#                          interface), at most 5 s; 1 when it did not, or when PID ended first

veth_pair_create() {
  ns_unit="$1-unit"
  ns_station="$1-station"
  veth_unit="$1u"
  veth_station="$1s"
  ip netns add "$ns_unit" || return 1
  ip netns add "$ns_station" || return 1
  veth_link_add "$veth_unit" "$veth_station"
}

# One more veth pair between the two namespaces: UNIT_DEV in ns_unit, STATION_DEV in ns_station
# (a gang's further bays). Names are at most 15 characters.
veth_link_add() {
  local unit_dev=$1 station_dev=$2
  ip link add "$unit_dev" type veth peer name "$station_dev" || return 1
  ip link set "$unit_dev" netns "$ns_unit" || return 1
  ip link set "$station_dev" netns "$ns_station" || return 1
  local ns dev
  for ns in "$ns_unit" "$ns_station"; do
    dev=$unit_dev
    [[ $ns == "$ns_station" ]] && dev=$station_dev
    # Keep the wire quiet: nothing but the management frames of this run.
    ip netns exec "$ns" sysctl -qw "net.ipv6.conf.$dev.disable_ipv6=1" 2>/dev/null || true
    ip -n "$ns" link set "$dev" up || return 1
  done
}

veth_pair_remove() {
  [[ -n "${ns_unit:-}" ]] && ip netns del "$ns_unit" 2>/dev/null
  [[ -n "${ns_station:-}" ]] && ip netns del "$ns_station" 2>/dev/null
  return 0
}

stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  local _
  for _ in $(seq 1 50); do
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$sim_pid" 2>/dev/null && kill -KILL "$sim_pid" 2>/dev/null
  local status=0
  wait "$sim_pid" 2>/dev/null || status=$?
  sim_pid=""
  return $status
}

sim_wait_ready() {
  local log=$1 pid=${2:-} want=${3:-1} _
  for _ in $(seq 1 100); do
    [[ $(grep -c "ready on" "$log" 2>/dev/null) -ge $want ]] && return 0
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  [[ $(grep -c "ready on" "$log" 2>/dev/null) -ge $want ]]
}

# For the wire tests: a missing capability skips the test (77), except under CI, where it fails.
#   wire_test_unavailable MESSAGE
#   wire_test_require_root         root and the ip tool, or unavailable
wire_test_unavailable() {
  echo "${wire_test_name:-wire test}: $1" >&2
  if [[ -n "${CI:-}" ]]; then exit 1; fi
  exit 77
}

wire_test_require_root() {
  [[ $(id -u) -eq 0 ]] || wire_test_unavailable "needs root to create network namespaces"
  command -v ip >/dev/null || wire_test_unavailable "the ip tool (iproute2) is missing"
}

# The start every wire test shares: root, a scratch directory $work, the namespaces joined by
# their veth pair, and a trap that stops the simulator ($sim_pid) and removes all of it.
#   wire_test_start TAG
wire_test_start() {
  wire_test_require_root
  work=$(mktemp -d)
  sim_pid=""
  trap wire_test_cleanup EXIT
  veth_pair_create "$1" || wire_test_unavailable "cannot create a network namespace"
}

wire_test_cleanup() {
  if [[ -n "${sim_pid:-}" ]]; then stop_sim || true; fi
  veth_pair_remove
  [[ -n "${work:-}" ]] && rm -rf "$work"
  return 0
}
