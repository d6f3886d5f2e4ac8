#!/usr/bin/env bash
# Makes several hosts on this machine (a network namespace each), runs an MPI program across them
# with Open MPI, and removes them again.
# Usage: scripts/hosts.sh [--hosts N] [--slots S] [-n P] [--rate RATE] -- PROGRAM [ARG...]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ME="hosts.sh"

usage() {
  cat <<EOF
usage: scripts/hosts.sh [--hosts N] [--slots S] [-n P] [--rate RATE] -- PROGRAM [ARG...]

Makes N hosts on this machine, each a network namespace with its own host name and address
(10.77.0.1, 10.77.0.2, ...), runs 'mpiexec -n P PROGRAM ARG...' in the current folder from the
first host with S slots on each and TCP between them, and removes the hosts when the program
ends, fails or is interrupted. Needs root, iproute2 and Open MPI.

  --hosts N      hosts, at least 2 (default 2; three or more are joined by a switch)
  --slots S      processes per host (default 1)
  -n P           processes in all (default N*S)
  --rate RATE    limit every host's link to RATE in tc's units, e.g. 100mbit, 1gbit, 50mbps
  MPIEXEC        (environment) the mpiexec to use (default: mpiexec on PATH)

Exit status: the program's; 77 when this machine cannot make the hosts (nothing is run);
2 for bad options or a TMPDIR it cannot use; 127 or 126 when PROGRAM is missing or cannot be
run.
EOF
}

die() {
  echo "$ME: $1" >&2
  exit "${2:-1}"
}

HOSTS=2 SLOTS=1 PROCESSES="" RATE="" RATE_BYTES=0
PROGRAM=()

whole_number() {
  [[ "$2" =~ ^[1-9][0-9]{0,5}$ ]] || die "$1 needs a positive whole number, not '$2'" 2
}

parse_options() {
  while (($#)); do
    case "$1" in
      --help | -h) usage; exit 0 ;;
      --hosts | --slots | -n | --rate) (($# >= 2)) || die "option $1 needs a value" 2 ;;&
      --hosts) whole_number "$1" "$2"; HOSTS="$2"; shift 2 ;;
      --slots) whole_number "$1" "$2"; SLOTS="$2"; shift 2 ;;
      -n) whole_number "$1" "$2"; PROCESSES="$2"; shift 2 ;;
      --rate) RATE="${2,,}"; shift 2 ;;
      --) shift; break ;;
      *) die "unknown option '$1' (the program comes after --; see --help)" 2 ;;
    esac
  done
  (($#)) || die "no program given: scripts/hosts.sh [options] -- PROGRAM [ARG...]" 2
  ((HOSTS >= 2 && HOSTS <= 250)) || die "--hosts $HOSTS is out of range: 2 to 250" 2
  PROCESSES="${PROCESSES:-$((HOSTS * SLOTS))}"
  PROGRAM=("$@")
  if [[ -n "$RATE" ]]; then
    RATE_BYTES="$(rate_bytes "$RATE")" ||
      die "--rate '$RATE' is not a rate like 100mbit or 50mbps" 2
  fi
}

# tc's rate in bytes per second: 'bit' units count bits, 'bps' units count bytes, as in tc.
rate_bytes() {
  [[ "$1" =~ ^([0-9]+(\.[0-9]+)?)([kmgt]?)(bit|bps)$ ]] || return 1
  awk -v value="${BASH_REMATCH[1]}" -v scale="${BASH_REMATCH[3]}" -v per="${BASH_REMATCH[4]}" '
    BEGIN {
      factor["k"] = 1e3; factor["m"] = 1e6; factor["g"] = 1e9; factor["t"] = 1e12
      bytes = value * (scale == "" ? 1 : factor[scale]) / (per == "bit" ? 8 : 1)
      if (bytes < 1) exit 1
      printf "%.0f\n", bytes
    }'
}

# Everything a run makes carries its process id, so that two runs never collide.
PREFIX="heat2d-$$"
SUBNET="10.77.0.0/24"
MADE=()      # namespaces made so far: removed on exit
NAMESPACE_ERROR=""
WORK=""      # temporary folder of the hostfile and the agent
LAUNCHER=""  # process id of mpiexec while it runs

host_name() { echo "$PREFIX-host$1"; }
host_address() { echo "10.77.0.$(($1 + 1))"; }

# The program is looked for here, before any host is made: the hosts share this file system and
# PATH. Statuses as a shell's for a command it cannot start.
check_program() {
  [[ -z "$(type -P -- "${PROGRAM[0]}")" ]] || return 0
  if [[ "${PROGRAM[0]}" != */* ]]; then
    die "cannot start '${PROGRAM[0]}': no such command on PATH" 127
  elif [[ -e "${PROGRAM[0]}" ]]; then
    die "cannot start '${PROGRAM[0]}': not an executable file" 126
  fi
  die "cannot start '${PROGRAM[0]}': no such file" 127
}

# The agent's path goes to Open MPI as a setting that it splits at blanks, and it lies in TMPDIR.
check_temporary_folder() {
  local base="${TMPDIR:-/tmp}"
  [[ "$base" != *[[:space:]]* ]] || die "TMPDIR '$base' holds a blank, which Open MPI's remote \
shell setting cannot take: set TMPDIR to a folder without one" 2
  [[ -d "$base" && -w "$base" ]] ||
    die "TMPDIR '$base' is not a folder this script can write in" 2
}

# Nothing is made unless everything making and using the hosts needs is here: status 77 otherwise.
check_machine() {
  local tool
  for tool in ip unshare hostname ${RATE:+tc}; do
    command -v "$tool" > /dev/null || die "cannot make hosts here: no '$tool' command" 77
  done
  [[ "$(id -u)" -eq 0 ]] || die "cannot make hosts here: network namespaces need root" 77
  MPIEXEC="${MPIEXEC:-mpiexec}"
  command -v "$MPIEXEC" > /dev/null || die "cannot run across hosts here: no '$MPIEXEC' command" 77
  "$MPIEXEC" --version 2>&1 | grep -q "Open MPI\|OpenRTE" ||
    die "cannot run across hosts here: '$MPIEXEC' is not Open MPI's mpiexec" 77
}

# Runs a command that makes part of the hosts; its failure becomes one line naming the step.
step() {
  local what="$1" error
  shift
  error="$("$@" 2>&1)" || die "cannot $what: ${error:-'$*' failed}"
}

# Listed before it is made, so that a signal right after 'ip netns add' cannot leave it behind.
make_namespace() {
  [[ ! -e "/run/netns/$1" ]] ||
    die "a namespace $1 already exists (from a killed run?); remove it with: ip netns del $1"
  MADE+=("$1")
  NAMESPACE_ERROR="$(ip netns add "$1" 2>&1)" || return 1
  step "bring up loopback in $1" ip -n "$1" link set lo up
}

# tbf is the shaper these kernels have (no netem). Its bucket holds half a millisecond of traffic,
# 64 KiB at least: enough for 1gbit to reach 99 % of its rate, and small enough that a message
# cannot burst through it faster than the link would carry it (with 10 ms, the bucket refilled
# while the processes computed, and 1 MB messages went at twice the rate).
limit_link() {
  local burst=$((RATE_BYTES / 2000))
  ((burst >= 65536)) || burst=65536
  step "limit $2 in $1 to $RATE" ip netns exec "$1" \
    tc qdisc add dev "$2" root tbf rate "$RATE" burst "$burst" latency 50ms
}

give_address() {
  local name
  name="$(host_name "$1")"
  step "give $name its address" ip -n "$name" addr add "$(host_address "$1")/24" dev eth0
  step "bring up eth0 in $name" ip -n "$name" link set eth0 up
  [[ -z "$RATE" ]] || limit_link "$name" eth0
}

# Two hosts: one cable. More: a switch (a bridge in a namespace of its own) with a port per host.
wire_hosts() {
  local k switch="$PREFIX-switch"
  if ((HOSTS == 2)); then
    step "connect the two hosts" ip link add eth0 netns "$(host_name 0)" type veth \
      peer name eth0 netns "$(host_name 1)"
  else
    make_namespace "$switch" || die "cannot make $switch: $NAMESPACE_ERROR"
    step "make the switch" ip -n "$switch" link add br0 type bridge
    step "start the switch" ip -n "$switch" link set br0 up
    for ((k = 0; k < HOSTS; k++)); do
      step "connect host $k to the switch" ip link add eth0 netns "$(host_name "$k")" type veth \
        peer name "port$k" netns "$switch"
      step "plug port $k into the switch" ip -n "$switch" link set "port$k" master br0 up
      [[ -z "$RATE" ]] || limit_link "$switch" "port$k"
    done
  fi
  for ((k = 0; k < HOSTS; k++)); do give_address "$k"; done
}

make_hosts() {
  local k
  # The first namespace tells whether this machine lets us make any.
  make_namespace "$(host_name 0)" || die "cannot make hosts here: $NAMESPACE_ERROR" 77
  for ((k = 1; k < HOSTS; k++)); do
    make_namespace "$(host_name "$k")" || die "cannot make $(host_name "$k"): $NAMESPACE_ERROR"
  done
  wire_hosts
}

# Open MPI starts its daemon on another host through a remote shell, 'AGENT ADDRESS COMMAND...'.
# This agent runs the command in that host's namespace instead of over ssh, under the host's own
# name: namespaces share the host name, and with two daemons of one name Open MPI gives the
# processes of MPI_COMM_TYPE_SHARED inconsistent groups, on which collectives crash. The command
# is shell text, as ssh would pass it on.
write_agent() {
  local k cases=""
  for ((k = 0; k < HOSTS; k++)); do
    cases+="  $(host_address "$k")) host=$(host_name "$k") ;;"$'\n'
  done
  cat > "$WORK/agent" <<EOF
#!/bin/sh
# Open MPI's remote shell for the hosts of run $$ of $ME: runs a command on one of them.
case "\$1" in
$cases  *) echo "$ME agent: no host at \$1" >&2; exit 255 ;;
esac
shift
exec ip netns exec "\$host" unshare --uts \\
  sh -c 'hostname "\$0" && exec "\${SHELL:-/bin/sh}" -c "\$1"' "\$host" "\$*"
EOF
  chmod +x "$WORK/agent"
}

write_hostfile() {
  local k
  for ((k = 0; k < HOSTS; k++)); do
    echo "$(host_address "$k") slots=$SLOTS"
  done > "$WORK/hostfile"
}

# mpiexec runs on host 0 under that host's name, with TCP on the hosts' own network only. The
# hosts share this machine's cores: every host's daemon would bind its first process to core 0,
# so nothing is bound and the kernel spreads them, and idle processes yield the core. It runs in the
# background so that a signal reaches the traps at once; '<&0' keeps the standard input that bash
# would replace with /dev/null. bash reports a job that a signal ended with the job's whole command
# line; that report is taken aside and said in one line.
launch() {
  local first status=0 report="$WORK/report"
  first="$(host_name 0)"
  ip netns exec "$first" unshare --uts sh -c 'hostname "$0" && exec "$@"' "$first" \
    "$MPIEXEC" -n "$PROCESSES" --hostfile "$WORK/hostfile" \
    --mca plm_rsh_agent "$WORK/agent" \
    --mca btl tcp,self --mca btl_tcp_if_include "$SUBNET" --mca oob_tcp_if_include "$SUBNET" \
    --mca mpi_yield_when_idle 1 --bind-to none \
    "${PROGRAM[@]}" <&0 &
  LAUNCHER=$!
  wait "$LAUNCHER" 2> "$report" || status=$?
  LAUNCHER=""
  [[ ! -s "$report" ]] ||
    echo "$ME: mpiexec was killed by SIG$(kill -l "$status"); the hosts are removed" >&2
  return "$status"
}

# Whether SIGINT came from Ctrl-C on the terminal, which gives it to mpiexec as well: we are in
# the terminal's foreground process group (fields 5 and 8 of /proc/PID/stat).
from_terminal() {
  [[ "$1" == INT ]] || return 1
  local stat group foreground
  stat="$(< "/proc/$$/stat")" || return 1
  read -r _ _ group _ _ foreground _ <<< "${stat##*) }"
  [[ "$group" == "$foreground" ]]
}

# mpiexec passes the signal on to every process of the job (given twice, it quits at once and
# leaves its session folders behind); a few seconds for that, then the clean-up ends what is left.
stop_launcher() {
  [[ -n "$LAUNCHER" ]] || return 0
  from_terminal "$1" || kill -"$1" "$LAUNCHER" 2> /dev/null || return 0
  local tick
  for ((tick = 0; tick < 50; tick++)); do
    kill -0 "$LAUNCHER" 2> /dev/null || return 0
    sleep 0.1
  done
}

interrupted() {
  trap '' INT TERM HUP
  stop_launcher "$1"
  exit "$2"
}

# Open MPI's session folders on a host, which a job that was killed leaves behind, are named after
# the host, so these belong to this run alone. Open MPI puts them where TMPDIR, TEMP or TMP say.
remove_session_folders() {
  local k base="${TMPDIR:-${TEMP:-${TMP:-/tmp}}}"
  for ((k = 0; k < HOSTS; k++)); do rm -rf "$base/ompi.$(host_name "$k").$(id -u)"; done
}

# Ends what still runs in our namespaces (only our processes can be there), removes the
# namespaces (their links and queues go with them) and the temporary folder.
clean_up() {
  local status=$? name pids
  trap '' INT TERM HUP
  set +e
  for name in "${MADE[@]}"; do
    mapfile -t pids < <(ip netns pids "$name" 2> /dev/null)
    ((${#pids[@]} == 0)) || kill -KILL "${pids[@]}" 2> /dev/null
  done
  # Reaped here, bash does not report the killed mpiexec.
  [[ -z "$LAUNCHER" ]] || wait "$LAUNCHER" 2> /dev/null
  for name in "${MADE[@]}"; do
    [[ ! -e "/run/netns/$name" ]] || ip netns del "$name" 2> /dev/null ||
      echo "$ME: could not remove namespace $name" >&2
  done
  [[ -z "$WORK" ]] || rm -rf "$WORK"
  remove_session_folders
  exit "$status"
}

main() {
  parse_options "$@"
  check_program
  check_temporary_folder
  check_machine
  source "$ROOT/scripts/mpi_env.sh"
  trap clean_up EXIT
  trap 'interrupted INT 130' INT
  trap 'interrupted TERM 143' TERM
  trap 'interrupted HUP 129' HUP
  WORK="$(mktemp -d "${TMPDIR:-/tmp}/heat2d-hosts.XXXXXX" 2> /dev/null)" ||
    die "cannot make a temporary folder in ${TMPDIR:-/tmp}"
  make_hosts
  write_agent
  write_hostfile
  local status=0
  launch || status=$?
  exit "$status"
}

main "$@"
