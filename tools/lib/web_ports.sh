# What the page's stages share (sourced): simulated Vk350s that Chromium's own serial stack
# reaches, with no hardware. Inside a private mount namespace, each simulator's pty is bound
# over a tty node, a copy of /proc/tty/drivers declares exactly those nodes as serial ports, a
# tmpfs /run carries their USB ids, and a copy of /etc/chromium holds the policy that grants
# the test's origin every port, so that getPorts() returns them without the chooser.
#
# Safety: /dev/ttyS0 is these machines' console and /dev/ttyN their virtual consoles. Nothing
# here binds outside the namespace (every function refuses unless MORVA_WEB_NAMESPACE is set by
# enter_web_namespace), and check_bound_ports stops the stage before any browser starts unless
# every node bound has its pty's major:minor and the declared serial nodes are exactly those.

# The nodes, the ids their ports report, and the minors declared: ttyS0 (4:64) and tty1-tty3
# (4:1-3). Extra node names must stay in the order of their minors.
web_nodes=(/dev/ttyS0 /dev/tty1 /dev/tty2 /dev/tty3)
web_ids=("0403 6001" "0403 6010" "067b 2303" "10c4 ea60")
web_declared=("serial /dev/ttyS 4 64 serial" "fakeser /dev/tty 4 1-3 serial")
web_bound=()  # "node pty" once bound

# enter_web_namespace SCRIPT ARGS...: runs SCRIPT again in a private mount namespace.
enter_web_namespace() {
  unshare --mount --propagation private true 2>/dev/null || return 1
  exec unshare --mount --propagation private env MORVA_WEB_NAMESPACE=1 bash "$@"
}

in_namespace() {
  [ -n "${MORVA_WEB_NAMESPACE:-}" ] && [ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ]
}

# bind_port N PTY: the N-th node becomes the simulator's pty PTY.
bind_port() {
  in_namespace || { echo "refusing to bind outside a private mount namespace" >&2; return 1; }
  local node=${web_nodes[$1]} pty=$2
  case "$pty" in /dev/pts/[0-9]*) ;; *) echo "not a pty: $pty" >&2; return 1 ;; esac
  mount --bind "$pty" "$node" || return 1
  web_bound+=("$node $pty")
}

# declare_ports WORK: /proc/tty/drivers with exactly the declared serial lines (every serial
# line of the machine's own left out), USB ids for the bound nodes, and the policy for ORIGIN.
declare_ports() {
  in_namespace || { echo "refusing to declare ports outside a private mount namespace" >&2; return 1; }
  local work=$1 origin=$2 i
  { printf '%s\n' "${web_declared[@]}"; awk '$NF != "serial"' /proc/tty/drivers; } >"$work/drivers"
  mount --bind "$work/drivers" /proc/tty/drivers || return 1
  mount -t tmpfs morva-run /run || return 1
  mkdir -p /run/udev/data
  for i in "${!web_nodes[@]}"; do
    # udev keeps a device's properties under the number the kernel gave it (sysfs), not under
    # the pty's that now stands at its node.
    local ids=(${web_ids[$i]}) dev
    dev=$(cat "/sys/class/tty/$(basename "${web_nodes[$i]}")/dev") || return 1
    printf 'E:ID_VENDOR_ID=%s\nE:ID_MODEL_ID=%s\n' "${ids[0]}" "${ids[1]}" >"/run/udev/data/c$dev"
  done
  rm -rf "$work/etc-chromium"
  cp -a /etc/chromium "$work/etc-chromium"
  mkdir -p "$work/etc-chromium/policies/managed"
  printf '{"SerialAllowAllPortsForUrls": ["%s"]}\n' "$origin" \
    >"$work/etc-chromium/policies/managed/morva-test.json"
  mount --bind "$work/etc-chromium" /etc/chromium
}

# The checks that must pass before a browser starts: every node bound shows its pty's
# major:minor (a pty's, 136 and up), every node the declaration names is one of those bound,
# and the serial lines of /proc/tty/drivers are exactly the declared ones.
check_bound_ports() {
  in_namespace || { echo "not in a private mount namespace" >&2; return 1; }
  local entry node pty want got
  [ ${#web_bound[@]} -eq ${#web_nodes[@]} ] || { echo "bound ${#web_bound[@]} of ${#web_nodes[@]} nodes" >&2; return 1; }
  for entry in "${web_bound[@]}"; do
    node=${entry% *}
    pty=${entry#* }
    want=$(stat -L -c '%t:%T' "$pty") || return 1
    got=$(stat -L -c '%t:%T' "$node") || return 1
    if [ "$got" != "$want" ] || [ $((16#${want%:*})) -lt 136 ]; then
      echo "$node is $got, not the pty $pty ($want): stopping before any browser starts" >&2
      return 1
    fi
  done
  # The declared minors, from the declaration, and node by node each must be one we bound.
  local declared want_declared="" line minor
  declared=$(awk '$NF == "serial" {print $3 ":" $4}' /proc/tty/drivers | sort | tr '\n' ' ')
  for line in "${web_declared[@]}"; do want_declared+="$(echo "$line" | awk '{print $3 ":" $4}')"$'\n'; done
  want_declared=$(printf '%s' "$want_declared" | sort | tr '\n' ' ')
  if [ "$declared" != "$want_declared" ]; then
    echo "serial lines of /proc/tty/drivers are '$declared', not '$want_declared': stopping" >&2
    return 1
  fi
  for line in "${web_declared[@]}"; do
    local range first last
    range=$(echo "$line" | awk '{print $4}')
    first=${range%-*}
    last=${range#*-}
    for minor in $(seq "$first" "$last"); do
      node=$([ "$minor" = 64 ] && echo /dev/ttyS0 || echo "/dev/tty$minor")
      printf '%s\n' "${web_bound[@]}" | grep -q "^$node " ||
        { echo "$node declared but not bound: stopping" >&2; return 1; }
    done
  done
}

# start_simulator NAME ARGS...: a vk350-sim of its own, its pty in $work/NAME.pty, its pid in
# sim_pid[NAME], its trace in $work/NAME.trace.
declare -A sim_pid
start_simulator() {
  local name=$1
  shift
  rm -f "$work/$name.out"
  "$vk350sim" "$@" --trace >"$work/$name.out" 2>"$work/$name.trace" &
  sim_pid[$name]=$!
  local i
  for i in $(seq 100); do
    [ -s "$work/$name.out" ] && break
    sleep 0.05
  done
  head -1 "$work/$name.out" >"$work/$name.pty"
  [ -s "$work/$name.pty" ]
}

stop_simulators() {
  local name
  for name in "${!sim_pid[@]}"; do kill -TERM "${sim_pid[$name]}" 2>/dev/null; done
  for name in "${!sim_pid[@]}"; do wait "${sim_pid[$name]}" 2>/dev/null; done
}

# free_port: a TCP port on 127.0.0.1 that nothing listens on now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
