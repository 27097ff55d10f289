# What the stage scripts share (sourced, not run): one PASS/FAIL line per case with counts, and
# a mount namespace in which the machine's real serial ports are /dev/null. On these machines
# /dev/ttyS0 is the kernel console: nothing a stage starts may reach a real port.

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
