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
