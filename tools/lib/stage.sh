# What the stage scripts share (sourced, not run): one PASS/FAIL line per case with counts, a
# stage that cannot run on this machine, waiting on a condition, a build step that shows its
# last lines when it fails, the simulator on a pty, and a mount namespace in which the
# machine's real serial ports are /dev/null. On these machines /dev/ttyS0 is the kernel
# console: nothing a stage starts may reach a real port.
#
# The stage's name in its own lines is $stage_name (set it before sourcing; else the script's).
stage_name=${stage_name:-${0##*/}}

passed=0
failed=0
pass() {
  passed=$((passed + 1))
  echo "PASS $1"
}
fail() {  # fail NAME [DETAIL LINE]...
  failed=$((failed + 1))
  echo "FAIL $1"
  shift
  local line
  for line in "$@"; do echo "     $line"; done
}
# check NAME COMMAND...: passes when the command succeeds (a failure shows the command), and
# returns its status.
check() {
  local name=$1
  shift
  if "$@"; then
    pass "$name"
  else
    fail "$name" "$*"
    return 1
  fi
}
# after STATUS NAME COMMAND...: a check that means something only if the case before passed
# (STATUS is that case's).
after() {
  if [ "$1" = 0 ]; then
    shift
    check "$@"
  else
    fail "$2" "not judged: the case it follows failed"
  fi
}

# cannot_run REASON: this machine cannot run the stage. Under CI=true that fails it; elsewhere
# it is skipped, with the reason.
cannot_run() {
  if [ "${CI:-}" = true ]; then
    fail "$stage_name: cannot run: $1"
    echo "$passed passed, $failed failed"
    exit 1
  fi
  echo "$stage_name: not run: $1"
  exit 0
}

# wait_until SECONDS COMMAND...: true as soon as the command succeeds; SECONDS is a hang guard,
# not a measure. While $watched_pid names a program, its end ends the wait too: nothing it
# would have done is waited for.
wait_until() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    [ -z "${watched_pid:-}" ] || kill -0 "$watched_pid" 2>/dev/null || return 1
    sleep 0.02
  done
}

# exit_status PID: sets status to PID's exit status once it has ended (and gone to yes when
# so), or to "still running after 30 s".
exit_status() {
  local pid=$1 watched_pid=""
  status="still running after 30 s" gone=""
  if wait_until 30 ended "$pid"; then
    status=0
    wait "$pid" || status=$?
    gone=yes
  fi
}
ended() { ! kill -0 "$1" 2>/dev/null; }

# quietly WHAT COMMAND...: a step whose output matters only when it fails (a configuration, a
# package build): kept aside, and its last lines shown if it does. Returns its status.
quietly() {
  local what=$1 log status=0
  shift
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "$stage_name: $what failed (exit status $status); its last lines:" >&2
    tail -n 40 "$log" | sed 's/^/  /' >&2
  fi
  rm -f "$log"
  return "$status"
}

# start_sim LINK OUT ERR [OPTION]...: $sim (vk350-sim) on a pty that LINK points at, its
# stdout in OUT and its stderr (the wire trace, with --trace) in ERR; its pid in sim_pid.
# False, with what it said, when it ended or its link did not show within 30 s.
sim_pid=""
start_sim() {
  local link=$1 out=$2 err=$3
  shift 3
  "$sim" --link "$link" "$@" >"$out" 2>"$err" &
  sim_pid=$!
  local watched_pid=$sim_pid
  if ! wait_until 30 links_to_pty "$link"; then
    echo "$stage_name: vk350-sim did not start: $(cat "$err")" >&2
    return 1
  fi
}
links_to_pty() { case "$(readlink "$1")" in /dev/pts/*) return 0 ;; esac; return 1; }
# stop_sim: ends the simulator (it saves its memory then) and returns its exit status.
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  local status=0
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" || status=$?
  sim_pid=""
  return "$status"
}

serial_nodes() {
  local dev
  for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/rfcomm*; do
    [ -e "$dev" ] && echo "$dev"
  done
}

# enter_namespace_without_ports MARK SCRIPT ARGS...: runs SCRIPT again in a mount namespace of
# its own, with MARK=1 in its environment; false (and returns) when no namespace can be made.
enter_namespace_without_ports() {
  local mark=$1
  shift
  unshare --mount --propagation private true 2>/dev/null || return 1
  exec unshare --mount --propagation private env "$mark=1" bash "$@"
}

# hide_serial_ports: inside that namespace, binds /dev/null over every real serial device, for
# everything started from here on; false when one cannot be hidden.
hide_serial_ports() {
  local dev
  for dev in $(serial_nodes); do
    if ! mount --bind /dev/null "$dev" || [ "$(stat -L -c %t:%T "$dev")" != "1:3" ]; then
      echo "cannot hide $dev" >&2
      return 1
    fi
  done
}

# start_display: an Xvfb of our own, on a display number it picks itself (so no run takes
# another's), its log in $work/xvfb.log; DISPLAY names it. stop_display ends it.
xvfb_pid=""
start_display() {
  local fifo="$work/xvfb.display" number=""
  rm -f "$fifo"
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t 60 number <"$fifo"
  rm -f "$fifo"
  [ -n "$number" ] || return 1
  export DISPLAY=":$number"
}
stop_display() {
  [ -n "$xvfb_pid" ] || return 0
  kill -TERM "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}

# The simulator's wire trace ($trace): how many lines hold a text, at least N of them.
trace_count() { grep -c -- "$1" "$trace"; }
trace_has() { [ "$(trace_count "$1")" -ge "$2" ]; }
# The device acknowledged the data frame of `block`: it is in its memory.
written_through() {
  awk -v last="data for block $1\$" '$0 ~ last {seen = 1; next} seen && /DEV->PC 06/ {ok = 1}
    END {exit !ok}' "$trace"
}
