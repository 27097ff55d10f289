#!/usr/bin/env bash
# morva-cli.exe, the Win32 port tests and the desktop program morva.exe under Wine, each
# against the Linux vk350-sim behind COM1. Prints one line per case and closes with
# "N passed, N failed".
#
#   tests/wine/run.sh [--cli morva-cli.exe --unit win32_tests.exe]
#                     [--gui morva.exe --driver desktop_driver.exe
#                      --desktop-tests win32_desktop_tests.exe [--screenshot PNG]]
#                     --sim vk350-sim --work DIR
#
# The desktop cases (desktop_cases.sh) run on an Xvfb display of their own, which the run
# starts when --gui is given.
#
# Under CI=true a machine that cannot run the cases safely (no private mount namespace, a real
# port that cannot be hidden, no display, COM1 not mapped as it must be) fails the stage;
# elsewhere the run says why nothing was run and exits 0.
#
# Safety: a Wine prefix maps COM ports to the machine's real serial devices, and /dev/ttyS0
# may be the kernel console. So the whole run happens in a mount namespace of its own in
# which every real serial device node is /dev/null, COM1 is mapped through the registry to a
# link of ours (pointing at the simulator's pty, or at /dev/null between cases), COM2-COM4
# to /dev/null, and nothing opens a port before Wine shows those links in place.
set -uo pipefail

usage() {
  echo "usage: $0 [--cli EXE --unit EXE] [--gui EXE --driver EXE --desktop-tests EXE" \
    "[--screenshot PNG]] --sim VK350SIM --work DIR" >&2
  exit 2
}

cli_exe="" unit_exe="" sim="" work=""
gui_exe="" driver_exe="" desktop_tests_exe="" screenshot=""
while [ $# -gt 1 ]; do
  case "$1" in
    --cli) cli_exe=$2; shift 2 ;;
    --unit) unit_exe=$2; shift 2 ;;
    --gui) gui_exe=$2; shift 2 ;;
    --driver) driver_exe=$2; shift 2 ;;
    --desktop-tests) desktop_tests_exe=$2; shift 2 ;;
    --screenshot) screenshot=$2; shift 2 ;;
    --sim) sim=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ $# -eq 0 ] || usage
if [ -z "$sim" ] || [ -z "$work" ] || { [ -z "$cli_exe" ] && [ -z "$gui_exe" ]; }; then usage; fi
if [ -n "$cli_exe" ] && [ -z "$unit_exe" ]; then usage; fi
if [ -n "$gui_exe" ] && { [ -z "$driver_exe" ] || [ -z "$desktop_tests_exe" ]; }; then usage; fi
for f in "$cli_exe" "$unit_exe" "$gui_exe" "$driver_exe" "$desktop_tests_exe" "$sim"; do
  [ -z "$f" ] || [ -f "$f" ] || { echo "wine tests: $f is missing" >&2; exit 2; }
done
mkdir -p "$work"
full() { [ -z "$1" ] || realpath "$1"; }
cli_exe=$(full "$cli_exe") unit_exe=$(full "$unit_exe") sim=$(full "$sim")
gui_exe=$(full "$gui_exe") driver_exe=$(full "$driver_exe")
desktop_tests_exe=$(full "$desktop_tests_exe")
[ -z "$screenshot" ] || screenshot=$(realpath -m "$screenshot")
work=$(realpath "$work")

stage_name="wine tests"
# shellcheck source=tools/lib/stage.sh
source "$(dirname "$0")/../../tools/lib/stage.sh"

if [ -z "${MORVA_WINE_ISOLATED:-}" ]; then
  enter_namespace_without_ports MORVA_WINE_ISOLATED "$0" \
    ${cli_exe:+--cli "$cli_exe" --unit "$unit_exe"} \
    ${gui_exe:+--gui "$gui_exe" --driver "$driver_exe" --desktop-tests "$desktop_tests_exe"} \
    ${screenshot:+--screenshot "$screenshot"} --sim "$sim" --work "$work"
  cannot_run "no mount namespace (unshare) to keep Wine off the real serial ports"
fi

# Inside the namespace: every real serial device becomes /dev/null for everything started
# from here, the wineserver (which opens the devices) included.
hide_serial_ports || cannot_run "a real serial port could not be hidden"

started=$(date +%s%N)

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
link="$work/com1"  # what COM1 opens

# The wineserver opens the pty without O_NOCTTY, so it becomes the server's terminal and
# every simulator exit hangs it up; its report of that goes to a log, not to our output.
start_server() { wineserver -p >>"$work/wineserver.log" 2>&1; }
stop_server() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
}

# The simulator behind COM1 (its output in sim.out, its trace in sim.err); between cases COM1
# opens /dev/null.
start_com1_sim() { start_sim "$link" "$work/sim.out" "$work/sim.err" "$@"; }
stop_com1_sim() {
  local status=0
  stop_sim || status=$?
  ln -sfn /dev/null "$link"
  return "$status"
}

finish() {
  stop_com1_sim >/dev/null 2>&1
  stop_server
  stop_display
}
trap finish EXIT

prepare_prefix() {
  stop_server  # one left from an earlier run would be outside this namespace
  mkdir -p "$WINEPREFIX"
  ln -sfn /dev/null "$link"
  start_server
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine tests: creating the Wine prefix $WINEPREFIX (once)"
    "$wine" wineboot -i >"$work/wineboot.log" 2>&1
  fi
  local ports='HKLM\Software\Wine\Ports'
  "$wine" reg delete "$ports" /f >/dev/null 2>&1
  "$wine" reg add "$ports" /v COM1 /t REG_SZ /d "$link" /f >/dev/null || return 1
  for n in 2 3 4; do
    "$wine" reg add "$ports" /v "COM$n" /t REG_SZ /d /dev/null /f >/dev/null || return 1
  done
  # Wine lays the dosdevices links anew from the registry when its services start; links of
  # an earlier mapping would stay.
  stop_server
  rm -f "$WINEPREFIX"/dosdevices/com*
  start_server
  "$wine" reg query "$ports" >/dev/null 2>&1
  wait_until 60 mapping_safe
}

mapping_safe() {
  local d="$WINEPREFIX/dosdevices"
  [ "$(readlink "$d/com1")" = "$link" ] || return 1
  for n in 2 3 4; do
    [ "$(readlink "$d/com$n")" = /dev/null ] || return 1
  done
}

winpath() {
  local p=$1
  echo "Z:${p//\//\\}"
}

# Runs morva-cli.exe; leaves its exit status in rc and its output, without CRs, in out and err.
rc=0 out="" err=""
run_cli() {
  timeout -k 5 120 "$wine" "$cli_exe" "$@" >"$work/cli.out" 2>"$work/cli.err" </dev/null
  rc=$?
  out=$(tr -d '\r' <"$work/cli.out")
  err=$(tr -d '\r' <"$work/cli.err")
}

# expect NAME STATUS [TEXT...]: the last run ended with STATUS and its stderr holds each TEXT.
expect() {
  local name=$1 status=$2
  shift 2
  local problems=() text
  [ "$rc" = "$status" ] || problems+=("exit status $rc, wanted $status")
  for text in "$@"; do
    grep -qxF -- "$text" <<<"$err" || problems+=("no line \"$text\" on stderr")
  done
  if [ ${#problems[@]} -eq 0 ]; then pass "$name"; else fail "$name" "${problems[@]}" "$err"; fi
}

# run_gtest NAME EXE OUT: runs a GoogleTest program under Wine (its output in OUT) and adds
# its cases to the counts; when it failed, or ran no case, shows what it said.
run_gtest() {
  local name=$1 exe=$2 out=$3 status ok bad
  timeout -k 5 600 "$wine" "$exe" >"$out" 2>&1 </dev/null
  status=$?
  ok=$(grep -c '^\[       OK \]' "$out")
  bad=$(grep -cE '^\[  FAILED  \] .*\([0-9]+ ms\)' "$out")
  passed=$((passed + ok))
  failed=$((failed + bad))
  echo "$name: $ok passed, $bad failed"
  if [ "$status" != 0 ] || [ "$ok" = 0 ]; then
    [ "$bad" != 0 ] || fail "$name ran" "exit status $status"
    tr -d '\r' <"$out" | grep -vE '^\[ +(RUN|OK) +\]'
  fi
}

# check_cli NAME CONDITION: like check, on the last run_cli; a failure shows what it printed.
check_cli() {
  if "$2"; then pass "$1"; else fail "$1" "$2: exit status $rc" "$out" "$err"; fi
}

# Wine's desktop process takes its display from the first program that starts it, so the
# display is there before anything of Wine runs.
if [ -n "$gui_exe" ] && ! start_display; then
  cannot_run "Xvfb did not start: $(cat "$work/xvfb.log" 2>/dev/null)"
fi

if ! prepare_prefix; then
  for f in "$WINEPREFIX"/dosdevices/com*; do echo "  $f -> $(readlink "$f")"; done
  cannot_run "COM1 is not mapped as it must be (above); nothing was run"
fi

cli_cases() {
# --- no port opened -------------------------------------------------------------------------
run_cli ports
ports_ok() {
  [ "$rc" = 0 ] && grep -qx COM1 <<<"$out" && ! grep -qvx 'COM[0-9]*' <<<"$out"
}
check_cli "ports lists the COM ports, without colons" ports_ok

run_cli write program "$(winpath "$work/x.upg")" --simulate
no_simulator="morva-cli: --simulate is not available on Windows: run vk350-sim on a Linux"
no_simulator+=" machine, or name the Vk350's port with --port COMn"
expect "--simulate is refused on Windows" 2 "$no_simulator"

# The file is there: its checks come before any port is opened.
head -c 512 /dev/urandom >"$work/x.upg"
run_cli write program "$(winpath "$work/x.upg")" --port MORVA-NO-SUCH-PORT
no_such_port_ok() {
  [ "$rc" = 3 ] && grep -qx "Warning: Port open error !" <<<"$err" &&
    grep -q "^MORVA-NO-SUCH-PORT: ..*" <<<"$err" &&
    grep -qx "A problem : Vk350 not found !" <<<"$err"
}
check_cli "a port that does not exist: open error with the system's reason" no_such_port_ok

# --- the Win32 port itself --------------------------------------------------------------------
if start_com1_sim; then
  MORVA_TEST_PORT=COM1 run_gtest win32_tests "$unit_exe" "$work/unit.out"
  stop_com1_sim
else
  fail "win32_tests (no simulator)"
fi

# --- whole sessions on one device memory ------------------------------------------------------
mem="$work/memory.bin" fw="$work/fw.upg" usr="$work/user.usr" bad="$work/bad.usr"
head -c 1048576 /dev/urandom >"$mem"
head -c 131072 /dev/urandom >"$fw"
rm -f "$usr" "$bad"
if start_com1_sim --memory "$mem"; then
  run_cli detect --port COM1
  detect_ok() {
    [ "$rc" = 0 ] && grep -qx "Vk350 found on COM1" <<<"$out" &&
      grep -qx "Firmware version : 2.05 | 1.10" <<<"$out"
  }
  check_cli "detect finds the device on COM1" detect_ok

  run_cli write program "$(winpath "$fw")" --port COM1
  expect "write program" 0 "Done: Write to Vk350 : program complete."

  run_cli read user "$(winpath "$usr")" --port COM1
  expect "read user data" 0 "Done: Read from Vk350 : user data complete."

  run_cli verify user "$(winpath "$usr")" --port COM1
  expect "verify equal user data" 0 "Done: Veryfication : user data complete."

  # One byte of the file's block 300 differs; the message names the block counted from 1.
  if [ -f "$usr" ]; then
    cp "$usr" "$bad"
    offset=$((300 * 256 + 7))
    old=$(od -An -tu1 -j "$offset" -N1 "$bad" | tr -d ' ')
    printf '%b' "\\$(printf '%03o' $((old ^ 255)))" |
      dd of="$bad" bs=1 seek="$offset" conv=notrunc status=none
    run_cli verify user "$(winpath "$bad")" --port COM1
    expect "verify unequal user data" 1 \
      "Warning: Veryfication error : block $((896 + 300 + 1)) pos. 7" "$((old ^ 255)), $old" \
      "Continue ?" "(no terminal to ask: No)"
  else
    fail "verify unequal user data" "no user data file"
  fi

  # No terminal and no --yes: the overwrite question takes its default, No.
  cp "$fw" "$work/keep.upg"
  run_cli read program "$(winpath "$work/keep.upg")" --port COM1
  expect "an existing file is kept without a terminal to ask" 4 "(no terminal to ask: No)"
  check "  ... and stays as it was" cmp -s "$fw" "$work/keep.upg"

  stop_com1_sim
  check "device memory holds the written program" cmp -s -n 131072 "$fw" "$mem"
  check "the user data read equals the device memory" \
    cmp -s -n 819200 -i 0:$((896 * 256)) "$usr" "$mem"
else
  fail "sessions (no simulator)"
fi

# --- failures: the system's own texts --------------------------------------------------------
failure_case() {  # failure_case FAULT DIRECTION TEXT
  local fault=$1 direction=$2 text=$3
  if ! start_com1_sim --fault "$fault"; then
    fail "$fault (no simulator)"
    return
  fi
  rm -f "$work/f.upg"
  [ "$direction" = read ] || cp "$fw" "$work/f.upg"
  run_cli "$direction" program "$(winpath "$work/f.upg")" --port COM1
  stop_com1_sim
  expect "$direction with $fault: $text" 1 "Fail: $text"
}
failure_case nak@command:5 write "Acknowledgment error : got NAK"
failure_case silence@wakeup write "Initialization error : no data : 0"
failure_case short@data:3=200 read "Transmission error : no data : 200"
# The device sends half of block 2's frame and keeps the rest: the PC's read ends 100 ms after
# the last byte came, with 128, however loaded the machine is.
failure_case hold@data:2=128 read "Transmission error : no data : 128"
# Block 3's answer comes twice: its copy waits where nothing was asked, and ends the session
# before the next command could take it for its own acknowledgment.
failure_case twice@data:3 write "Acknowledgment error : illegal ACK :  6"

# On a console: a pseudo-terminal behind morva-cli.exe makes Wine give it one, which prints
# escape codes as they are. The progress line holds none, and after a failure it shows the
# count the summary gives. (Wine's console draws with codes of its own; they are taken out.)
if start_com1_sim --fault nak@command:300; then
  timeout -k 5 120 script -qec "$(printf '%q ' "$wine" "$cli_exe" write program \
    "$(winpath "$fw")" --port COM1)" "$work/console.log" >/dev/null 2>&1 </dev/null
  rc=$?
  stop_com1_sim
  shown=$(sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/console.log" | tr -d '\r')
  out=$shown err=""
  console_ok() {
    local last summary
    last=$(grep -o '[0-9]*/512 blocks' <<<"${shown%%Fail:*}" | tail -n 1)
    summary=$(tr -d ' \n' <<<"$shown" | grep -o '([0-9]*of512)' | tail -n 1)
    [ "$rc" = 1 ] && ! grep -q $'\x1b\x1b' "$work/console.log" &&
      [ "$last" = "300/512 blocks" ] && [ "$summary" = "(300of512)" ]
  }
  check_cli "on a console: no escape code in the progress line, and its last count is the summary's" \
    console_ok
else
  fail "console (no simulator)"
fi

# The line closing in the middle of a write: the OS error number (Wine: 109, broken pipe).
if start_com1_sim --fault vanish@command:7; then
  run_cli write program "$(winpath "$fw")" --port COM1
  stop_com1_sim
  vanished_ok() { [ "$rc" = 1 ] && grep -qx "Fail: Error code : [0-9][0-9]*" <<<"$err"; }
  check_cli "a device gone during a write: Error code" vanished_ok
else
  fail "vanish (no simulator)"
fi
}

[ -z "$cli_exe" ] || cli_cases

# --- the desktop program ------------------------------------------------------------------------
if [ -n "$gui_exe" ]; then
  # shellcheck source=tests/wine/desktop_cases.sh
  source "$(dirname "$(realpath "$0")")/desktop_cases.sh"
  desktop_cases
fi

elapsed=$((($(date +%s%N) - started) / 100000000))
echo "wine tests took $((elapsed / 10)).$((elapsed % 10)) s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
