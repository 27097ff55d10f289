#!/usr/bin/env bash
# morva-cli on the kernel's own serial drivers. Boots a small Linux guest in QEMU (the
# distribution kernel, busybox and morva-cli in an initramfs) whose ttyS1 is a 16550 UART and
# whose ttyUSB0 is an FTDI USB adapter, each wired to a vk350-sim on a host pseudo-terminal,
# runs tools/vm/cases.sh in it, and judges what the guest reports on its console against the
# simulators' memories. Nothing here opens a serial port of the host: the simulators are ptys.
#
#   tools/vm-test.sh [--build DIR] [--shell] [--kvm]
#
#   --build DIR  take morva-cli and vk350-sim from DIR (default: build them in build-vm)
#   --shell      a shell in the guest with the same wiring, for trying things by hand
#   --kvm        hardware acceleration where it works (the default, TCG, also runs inside a
#                VM whose nested KVM guests hang at boot)
#
# Under CI=true a machine that cannot run the stage fails it; elsewhere it is skipped.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
build=""
shell=0
kvm=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=${2:?--build needs a directory}; shift 2 ;;
    --shell) shell=1; shift ;;
    --kvm) kvm=1; shift ;;
    -h|--help) awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; exit 0 ;;
    *) echo "vm-test: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ "$shell" = 1 ] && ! [ -t 0 ]; then
  echo "vm-test: --shell needs a terminal" >&2
  exit 2
fi

now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }
seconds() { printf '%d.%02d' $(($1 / 1000)) $((($1 % 1000) / 10)); }
stage_start=$(now_ms)

cannot_run() {
  if [ "${CI:-}" = true ]; then
    echo "vm-test: FAIL: this machine cannot run the stage: $*" >&2
    exit 1
  fi
  echo "vm-test: SKIP: this machine cannot run the stage: $*" >&2
  exit 0
}

# Block layout of the device: program 0-511, libraries 512-895, user data 896-4095.
block=256
program_at=0 program_size=$((512 * block))
libraries_at=$((512 * block)) libraries_size=$((384 * block))
user_at=$((896 * block)) user_size=$((3200 * block))
# A read of one block at 38400 baud, 10 bits a byte: command 4 bytes, ACK 1, frame 257.
read_block_wire_us=$(((4 + 1 + 257) * 10 * 1000000 / 38400))

work=$(mktemp -d "${TMPDIR:-/tmp}/morva-vm.XXXXXX")
keep_work=${MORVA_VM_KEEP:-0}  # 1: keep logs and memories even when all passes
qemu_pid="" watchdog_pid=""
declare -A sim_pid=()

# end_pid PID GRACE: waits GRACE seconds for PID to end, then TERM (waking it first, should
# it be held), KILL 5 s later, and gives up 5 s after that. Its exit status is left in
# ended_status. (No helper process: a subshell killed before it execs runs this shell's traps.)
end_pid() {
  local pid=$1 limit=$(($(now_ms) + $2 * 1000)) signal=TERM
  while kill -0 "$pid" 2>/dev/null; do  # bash reaps its jobs: an ended one is gone here
    if [ "$(now_ms)" -ge $limit ]; then
      [ $signal = none ] && break
      kill -CONT "$pid" 2>/dev/null
      kill -$signal "$pid" 2>/dev/null
      if [ $signal = TERM ]; then signal=KILL; else signal=none; fi
      limit=$(($(now_ms) + 5000))
    fi
    sleep 0.05
  done
  ended_status=0
  if kill -0 "$pid" 2>/dev/null; then
    ended_status=137  # past KILL: stuck in the kernel, not waited for
  else
    wait "$pid" 2>/dev/null || ended_status=$?
  fi
}
stop_pid() { end_pid "$1" 0; }

# Background subshells keep this shell's traps: one that is killed must not clean up (and
# delete the work directory under the judging); only the stage's own shell does.
cleanup() {
  [ "$BASHPID" = "$$" ] || return 0
  [ -n "$qemu_pid" ] && stop_pid "$qemu_pid"
  [ -n "$watchdog_pid" ] && stop_pid "$watchdog_pid"
  local name
  for name in "${!sim_pid[@]}"; do stop_pid "${sim_pid[$name]}"; done
  if [ "$keep_work" = 1 ]; then
    echo "vm-test: logs and memories kept in $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
# A signal only takes note; the stage leaves at the next check_stop, outside the trap (bash
# 5.2 once crashed leaving from a trap that had interrupted a `read -t`).
stop_signal=""
trap 'stop_signal=130' INT
trap 'stop_signal=143' TERM
check_stop() { [ -z "$stop_signal" ] || exit "$stop_signal"; }

# ---- what the machine needs ----------------------------------------------------------------
command -v dpkg-query >/dev/null || cannot_run "not a Debian system (no dpkg-query)"
packages=(qemu-system-x86 linux-image-amd64 busybox-static cpio)
[ -z "$build" ] && packages+=(cmake ninja-build g++)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
install_ms=0
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null ||
    cannot_run "missing ${missing[*]}, and no root or sudo to install them"
  # The recommended packages of QEMU and the kernel (display, audio and video codecs,
  # firmware) would more than double the install, and the guest uses none of them.
  printf 'APT::Install-Recommends "false";\n' >"$work/apt.conf"
  t=$(now_ms)
  APT_CONFIG="$work/apt.conf" bash "$root/tools/deps.sh" "${missing[@]}" ||
    cannot_run "installing ${missing[*]} failed"
  install_ms=$(($(now_ms) - t))
  echo "vm-test: installed ${missing[*]} in $(seconds $install_ms) s"
fi

kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
[ -n "$kernel" ] && [ -r "$kernel" ] || cannot_run "no readable kernel in /boot"
release=${kernel#/boot/vmlinuz-}
moddir=/lib/modules/$release
[ -r "$moddir/modules.dep" ] || cannot_run "no modules for kernel $release"
if [ "$kvm" = 1 ]; then
  [ -r /dev/kvm ] && [ -w /dev/kvm ] || cannot_run "--kvm, but /dev/kvm is not usable"
  accel=(-accel kvm -cpu host)
else
  accel=(-accel tcg)
fi

# The guest's clock runs on while a busy host keeps QEMU off the processor, and morva-cli's
# time-outs (100 ms between bytes, 120 ms for an ACK) then expire on bytes the emulated
# hardware never had the chance to move. Where allowed, QEMU and the simulators run at the
# lowest real-time priority (the kernel still leaves 5 % of each processor to the rest, and
# the guest idles between transfers); else at a better nice level; else as they are.
boost=() boost_text="no priority boost"
if chrt -r 1 true 2>/dev/null; then
  boost=(chrt -r 1) boost_text="real-time priority"
elif [ "$(nice -n -10 nice 2>/dev/null)" = -10 ]; then
  boost=(nice -n -10) boost_text="nice -10"
fi
boost_pid() {
  case ${boost[0]:-} in
    chrt) chrt -r -p 1 "$1" ;;
    nice) renice -n -10 -p "$1" ;;
  esac >/dev/null 2>&1 || true
}

check_stop
# ---- the programs --------------------------------------------------------------------------
if [ -z "$build" ]; then
  build=$root/build-vm
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVA_MODULES="transfer;link;sim;posix;cli" -DMORVA_TESTS=OFF -DMORVA_BENCH=OFF \
    -DMORVA_GUI=OFF >/dev/null
  cmake --build "$build" --target morva-cli vk350-sim >/dev/null
fi
cli=$(find "$build" -type f -name morva-cli -perm -u+x 2>/dev/null | head -n 1)
sim=$(find "$build" -type f -name vk350-sim -perm -u+x 2>/dev/null | head -n 1)
if [ -z "$cli" ] || [ -z "$sim" ]; then
  echo "vm-test: FAIL: no morva-cli or vk350-sim under $build" >&2
  exit 1
fi

check_stop
# ---- data: images to write, the simulators' memories ---------------------------------------
# uart.upg, usb.upg: programs written over each driver; user.usr: the write that is pulled;
# small.lib: the sessions after a plug. Memories start random, so that every read is checked
# against something other than erased flash.
images=$work/images
mkdir -p "$images"
head -c $program_size /dev/urandom >"$images/uart.upg"
head -c $program_size /dev/urandom >"$images/usb.upg"
head -c $user_size /dev/urandom >"$images/user.usr"
head -c $((64 * block)) /dev/urandom >"$images/small.lib"
for name in uart uart-paced usb usb-slow; do head -c 1048576 /dev/urandom >"$work/$name.mem"; done
cp "$work/usb-slow.mem" "$work/usb-slow.mem.start"

# ---- the initramfs -------------------------------------------------------------------------
stage=$work/initramfs
mkdir -p "$stage"/{bin,dev,proc,sys,tmp,etc/morva-vm,lib/modules,morva}
cp /bin/busybox "$stage/bin/busybox"
strip -o "$stage/bin/morva-cli" "$cli" 2>/dev/null || cp "$cli" "$stage/bin/morva-cli"
for lib in $(ldd "$cli" | grep -o '/[^ ]*'); do
  mkdir -p "$stage$(dirname "$lib")"
  cp -L "$lib" "$stage$lib"
done

# The USB host and serial drivers with what they need, needed ones first (modules.dep lists a
# module's dependencies so that loading them backwards works).
module_chain() {
  awk -v want="$1" -F': *' '{
    name = $1; sub(/.*\//, "", name); sub(/\.ko.*/, "", name); gsub(/-/, "_", name)
    if (name != want) next
    count = split($2, deps, " ")
    for (i = count; i >= 1; i--) print deps[i]
    print $1
  }' "$moddir/modules.dep"
}
: >"$stage/etc/morva-vm/modules"
for path in $({ module_chain xhci_pci; module_chain ftdi_sio; } | awk '!seen[$0]++'); do
  file=$(basename "$path")
  case $file in
    *.ko.xz) xz -dc "$moddir/$path" >"$stage/lib/modules/${file%.xz}" ;;
    *.ko.zst) zstd -qdc "$moddir/$path" >"$stage/lib/modules/${file%.zst}" ;;
    *.ko.gz) gzip -dc "$moddir/$path" >"$stage/lib/modules/${file%.gz}" ;;
    *) cp "$moddir/$path" "$stage/lib/modules/$file" ;;
  esac
  basename "${file%.ko*}.ko" >>"$stage/etc/morva-vm/modules"
done
grep -q ftdi_sio "$stage/etc/morva-vm/modules" || grep -q ftdi_sio "$moddir/modules.builtin" ||
  cannot_run "kernel $release has no ftdi_sio driver"

cp "$root/tools/vm/init" "$stage/init"
chmod 755 "$stage/init"
cp "$root/tools/vm/cases.sh" "$root/tools/vm/ports.sh" "$stage/etc/morva-vm/"
cp "$images"/* "$stage/morva/"
# operator may use serial ports (dialout); outsider may not.
cat >"$stage/etc/passwd" <<'EOF'
root:x:0:0:root:/root:/bin/sh
operator:x:1000:1000:operator:/tmp:/bin/sh
outsider:x:1001:1001:outsider:/tmp:/bin/sh
EOF
cat >"$stage/etc/group" <<'EOF'
root:x:0:
dialout:x:20:operator
operator:x:1000:
outsider:x:1001:
EOF
cat >"$stage/etc/morva-vm/banner" <<'EOF'

  Morva test guest. /dev/ttyS1: 16550 UART, /dev/ttyUSB0: FTDI adapter, each wired to a
  simulated Vk350. Images in /morva; users operator (dialout) and outsider (su -s /bin/sh NAME).
    morva-cli ports
    morva-cli write program /morva/uart.upg --port /dev/ttyS1
  Ctrl-A C switches to the QEMU monitor and back:
    device_del ftdi1                              pulls the adapter out
    device_add usb-serial,chardev=u1,id=ftdi2     plugs it back
  Ctrl-A X ends QEMU; leaving this shell powers the guest off.

EOF
(cd "$stage" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio"

check_stop
# ---- the simulators ------------------------------------------------------------------------
# start_sim NAME OPTION...: a vk350-sim on the pty $work/NAME.port with memory $work/NAME.mem,
# its wire trace in $work/NAME.log.
start_sim() {
  local name=$1 i
  shift
  "${boost[@]}" "$sim" --link "$work/$name.port" --memory "$work/$name.mem" --trace "$@" \
    >"$work/$name.out" 2>"$work/$name.log" &
  sim_pid[$name]=$!
  for i in $(seq 50); do
    [ -s "$work/$name.out" ] && return 0
    kill -0 "${sim_pid[$name]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "vm-test: FAIL: vk350-sim $name did not start: $(cat "$work/$name.log")" >&2
  exit 1
}
start_sim uart
start_sim usb

qemu=(qemu-system-x86_64 "${accel[@]}" -m 256 -smp 1 -nodefaults -no-reboot -display none
  -kernel "$kernel" -initrd "$work/initrd.cpio"
  -chardev "serial,id=s1,path=$work/uart.port"
  -device qemu-xhci,id=xhci
  -chardev "serial,id=u1,path=$work/usb.port" -device usb-serial,chardev=u1,id=ftdi1
  # What the drivers ask of the emulated chips: line settings, the FTDI's control requests.
  -trace 'usb_serial_set_*' -trace usb_serial_handle_control -trace serial_update_parameters
  -D "$work/qemu-trace.log")
# Quiet kernel: its messages would split the report lines on the console.
append="console=ttyS0 loglevel=1 panic=-1"

if [ "$shell" = 1 ]; then
  keep_work=1
  echo "vm-test: simulators' memories: $work/uart.mem (ttyS1), $work/usb.mem (ttyUSB0)," \
    "saved when the guest ends. To pull the adapter mid-transfer without crashing QEMU 7.2," \
    "hold its simulator first: kill -STOP ${sim_pid[usb]}; kill -CONT it after device_del."
  "${qemu[@]}" -append "$append morva.mode=shell" -serial mon:stdio -serial chardev:s1 || true
  exit 0
fi

# The UART's second line keeps to 38400 baud, for the timed read. The adapter's second line
# answers 10 ms late, so that a transfer lasts long enough to be pulled in its middle yet
# keeps most of the 120 ms a PC waits for an ACK (a paced 257-byte frame takes 67 ms of it,
# and a loaded host can take the rest).
start_sim uart-paced --paced
start_sim usb-slow --latency 10

check_stop
# ---- the guest -----------------------------------------------------------------------------
# Console and QMP go through FIFOs (QEMU's pipe chardev): no stdin, no socket client needed.
mkfifo "$work/con.in" "$work/con.out" "$work/qmp.in" "$work/qmp.out"
exec {con_w}<>"$work/con.in" {con_r}<>"$work/con.out" {qmp_w}<>"$work/qmp.in" \
  {qmp_r}<>"$work/qmp.out"
guest_limit=180
: >"$work/console.log"
# How late the host wakes the stage's own processes (boosted like QEMU): the device's
# time-outs are 100 and 120 ms, so a stall of that size explains a time-out that no driver
# caused. The watchdog sleeps 20 ms at a time on a FIFO nobody writes to.
mkfifo "$work/never"
(
  trap - EXIT INT TERM  # ended by TERM at once, without this shell's exit path
  exec {never}<>"$work/never"
  worst=0
  while :; do  # no command substitution: a fork would count in the figure
    t=${EPOCHREALTIME/./}
    read -r -t 0.02 -u "$never" _ || true
    now=${EPOCHREALTIME/./}
    late=$(((10#$now - 10#$t) / 1000 - 20))
    [ $late -gt $worst ] && worst=$late && echo $worst >"$work/stall"
  done
) &
watchdog_pid=$!
boost_pid $watchdog_pid
qemu_start=$(now_ms)
timeout -k 5 $guest_limit "${boost[@]}" "${qemu[@]}" -append "$append morva.mode=cases" \
  -chardev "pipe,id=con,path=$work/con" -serial chardev:con -serial chardev:s1 \
  -chardev "pipe,id=qmp,path=$work/qmp" -mon chardev=qmp,mode=control \
  >"$work/qemu.out" 2>&1 &
qemu_pid=$!

declare -A partial=()
# read_line FD VAR SECONDS: a whole line within SECONDS; a line cut by the time-out is kept
# for the next call.
read_line() {
  local chunk
  if IFS= read -r -t "$3" -u "$1" chunk; then
    printf -v "$2" '%s' "${partial[$1]:-}$chunk"
    partial[$1]=""
    check_stop
    return 0
  fi
  partial[$1]+=$chunk
  check_stop
  return 1
}

# qmp JSON: sends a command and waits for its answer (10 s); 0 on a return.
qmp() {
  printf '%s\n' "$1" >&"$qmp_w"
  local line end=$(($(now_ms) + 10000))
  while [ "$(now_ms)" -lt $end ]; do
    read_line "$qmp_r" line 1 || continue
    printf '%s\n' "$line" >>"$work/qmp.log"
    case $line in
      *'"return"'*) return 0 ;;
      *'"error"'*) echo "vm-test: QMP refused $1: $line" >&2; return 1 ;;
    esac
  done
  echo "vm-test: QMP did not answer $1" >&2
  return 1
}

# qmp_deleted ID: waits (10 s) until QEMU has let the device go, so its chardev is free.
qmp_deleted() {
  local line end=$(($(now_ms) + 10000))
  until grep -q "DEVICE_DELETED.*\"device\": \"$1\"" "$work/qmp.log" 2>/dev/null; do
    [ "$(now_ms)" -lt $end ] || { echo "vm-test: $1 was never deleted" >&2; return 1; }
    read_line "$qmp_r" line 1 && printf '%s\n' "$line" >>"$work/qmp.log"
  done
}

usb_line=u1 usb_number=1 plug_number=1 pull_ms="" held_sim=""
declare -A plug_trace=([1]=0) ended_after_pull=() chip_low_latency=()

trace_lines() { wc -l 2>/dev/null <"$work/qemu-trace.log" || echo 0; }
# The latency the FTDI driver set in the chip (request 0x4009) since the adapter was plugged.
chip_latency_requests() {
  tail -n +"$((${plug_trace[$plug_number]} + 1))" "$work/qemu-trace.log" |
    grep -o 'got control 0x4009, value 0x[0-9a-f]*' | sed 's/.*value //' | tr '\n' ' '
}
block_commands() { grep -cE '(read|write) block [0-9]+$' "$work/usb-slow.log" || true; }

plug() {
  usb_number=$((usb_number + 1))
  plug_number=$((plug_number + 1))
  plug_trace[$plug_number]=$(trace_lines)
  qmp "{\"execute\":\"device_add\",\"arguments\":{\"driver\":\"usb-serial\",\"chardev\":\"$usb_line\",\"id\":\"ftdi$usb_number\"}}"
}

# held_still PID: true once every thread of PID has stopped (a stop signal takes effect later
# than kill returns); gives up after 2 s.
held_still() {
  local end=$((SECONDS + 2))
  until awk '$3 != "T" { exit 1 }' /proc/"$1"/task/*/stat 2>/dev/null; do
    [ "$SECONDS" -le "$end" ] || { echo "vm-test: vk350-sim $1 did not stop" >&2; return 1; }
    sleep 0.005
  done
}

# unplug SIM: pulls the adapter out of the guest. QEMU 7.2 crashes (usb_wakeup() on a device
# already off its bus) when a byte arrives on the adapter's line between the unplug and the
# device's release, so the simulator on that line is held still until QEMU has let the device
# go (released_sim, at the next plug); what it wrote before has been taken by then.
unplug() {
  held_sim=$1
  kill -STOP "${sim_pid[$held_sim]}"
  held_still "${sim_pid[$held_sim]}"
  pull_ms=$(now_ms)
  qmp "{\"execute\":\"device_del\",\"arguments\":{\"id\":\"ftdi$usb_number\"}}"
}
released_sim() {
  qmp_deleted "ftdi$usb_number" || return 1
  kill -CONT "${sim_pid[$held_sim]}"
}

# What the guest asks for; 0 when done.
act() {
  case $1 in
    uart-paced)  # the 16550 keeps its place on the bus; only its line changes
      qmp "{\"execute\":\"chardev-change\",\"arguments\":{\"id\":\"s1\",\"backend\":{\"type\":\"serial\",\"data\":{\"device\":\"$work/uart-paced.port\"}}}}"
      ;;
    usb-swap)  # a USB device cannot change lines while plugged
      unplug usb && pull_ms="" && released_sim &&
        qmp '{"execute":"chardev-remove","arguments":{"id":"u1"}}' &&
        qmp "{\"execute\":\"chardev-add\",\"arguments\":{\"id\":\"u2\",\"backend\":{\"type\":\"serial\",\"data\":{\"device\":\"$work/usb-slow.port\"}}}}" &&
        usb_line=u2 && plug
      ;;
    flowing)  # the session in the guest is moving blocks: six more commands reached the device
      local target=$(($(block_commands) + 6)) end=$(($(now_ms) + 20000))
      while [ "$(block_commands)" -lt $target ]; do
        check_stop
        [ "$(now_ms)" -lt $end ] || { echo "vm-test: no blocks flowing" >&2; return 1; }
        sleep 0.05
      done
      # Only the first session on a plug: later ones find the chip as the first left it.
      [ -n "${chip_low_latency[$plug_number]:-}" ] ||
        chip_low_latency[$plug_number]=$(chip_latency_requests)
      ;;
    pull) unplug usb-slow ;;
    plug) released_sim && plug ;;
    *) return 1 ;;
  esac
}

host_errors=()
boot_ms=""
guest_done=0
qmp '{"execute":"qmp_capabilities"}' || host_errors+=("no QMP")
deadline=$(($(now_ms) + guest_limit * 1000))
while :; do
  if ! read_line "$con_r" line 1; then
    kill -0 "$qemu_pid" 2>/dev/null || break
    [ "$(now_ms)" -lt $deadline ] || { host_errors+=("the guest ran out of its $guest_limit s"); break; }
    if [ -z "$boot_ms" ] && [ $(($(now_ms) - qemu_start)) -gt 60000 ]; then
      host_errors+=("the guest did not reach its init within 60 s")
      break
    fi
    continue
  fi
  line=${line%$'\r'}
  printf '%s\n' "$line" >>"$work/console.log"
  case $line in
    "@@boot "*) boot_ms=$(($(now_ms) - qemu_start)) ;;
    "@@ended "*)
      if [ -n "$pull_ms" ]; then
        name=${line#@@ended }
        ended_after_pull[${name%% *}]=$(($(now_ms) - pull_ms))
        pull_ms=""
      fi
      ;;
    "@@wait "*)
      token=${line#@@wait }
      if act "$token"; then
        printf '%s\n' "$token" >&"$con_w"
      else
        host_errors+=("could not $token")
        printf 'failed-%s\n' "$token" >&"$con_w"
      fi
      ;;
    "@@done") guest_done=1; break ;;
  esac
done
guest_ms=$(($(now_ms) - qemu_start))
stop_pid "$watchdog_pid"
watchdog_pid=""
worst_stall=$(cat "$work/stall" 2>/dev/null || echo 0)
end_pid "$qemu_pid" 10  # it powers off by itself
[ "$ended_status" = 0 ] || host_errors+=("QEMU ended with status $ended_status (see qemu.out)")
qemu_pid=""
# The simulators save their memories when told to stop.
for name in "${!sim_pid[@]}"; do stop_pid "${sim_pid[$name]}"; done
sim_pid=()

check_stop
# ---- judging -------------------------------------------------------------------------------
declare -A status=() secs=() out=() err=() file_size=() file_sha=()
latency_report=()
guest_errors=()
while IFS= read -r line; do
  case $line in
    "@@case "*|"@@file "*)
      read -r kind name rest <<<"${line#@@}"
      for pair in $rest; do
        case $kind/$pair in
          case/status=*) status[$name]=${pair#*=} ;;
          case/secs=*) secs[$name]=${pair#*=} ;;
          file/size=*) file_size[$name]=${pair#*=} ;;
          file/sha=*) file_sha[$name]=${pair#*=} ;;
        esac
      done
      ;;
    "@@out "*) read -r name text <<<"${line#@@out }"; out[$name]+="$text"$'\n' ;;
    "@@err "*) read -r name text <<<"${line#@@err }"; err[$name]+="$text"$'\n' ;;
    "@@latency "*) latency_report+=("${line#@@latency }") ;;
    "@@error "*) guest_errors+=("${line#@@error }") ;;
  esac
done <"$work/console.log"

# region FILE OFFSET LENGTH: those bytes of FILE (read to the end of them, no SIGPIPE).
region() { dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" bs=64K status=none; }
region_sha() { region "$@" | sha256sum | cut -d' ' -f1; }
sha_of() { sha256sum <"$1" | cut -d' ' -f1; }

passed=0 failed=0 why=()
want_status() {
  [ "${status[$1]:-}" = "$2" ] || why+=("$1 exited ${status[$1]:-never}, not $2")
}
want_err() {
  [[ ${err[$1]:-} == *"$2"* ]] || why+=("$1 did not say \"$2\"")
}
want() {  # want TEXT COMMAND...: TEXT is the failure when COMMAND fails
  local text=$1
  shift
  "$@" || why+=("$text")
}
verdict() {
  if [ ${#why[@]} -eq 0 ]; then
    echo "PASS  $1"
    passed=$((passed + 1))
  else
    echo "FAIL  $1: $(printf '%s; ' "${why[@]}")"
    failed=$((failed + 1))
  fi
  why=()
}
same_region() { region "$1" "$2" "$3" | cmp -s - "$4"; }
lists_both_ports() { [ "${out[$1]:-}" = $'/dev/ttyS1\n/dev/ttyUSB0\n' ]; }

echo "== vm-test: morva-cli in a QEMU guest, kernel $release"
[ "$guest_done" = 1 ] || why+=("the guest did not finish its cases (see $work/console.log)")
for f in "$images"/{uart.upg,usb.upg,user.usr,small.lib} "$work"/{uart,uart-paced,usb,usb-slow}.mem; do
  [ -s "$f" ] || why+=("$f is gone before the judging")
done
for e in "${host_errors[@]}" "${guest_errors[@]}"; do why+=("$e"); done
verdict "the guest ran every case"

want_status ports 0
want "it listed: $(echo ${out[ports]:-nothing})" lists_both_ports ports
verdict "ports lists exactly /dev/ttyS1 and /dev/ttyUSB0 (not the console ttyS0, not the UART-less ttyS2/3)"

for driver in "uart:/dev/ttyS1:16550 UART" "usb:/dev/ttyUSB0:FTDI adapter"; do
  IFS=: read -r d port title <<<"$driver"
  want_status "$d-detect" 0
  [[ ${out[$d-detect]:-} == *"Vk350 found on $port"* ]] || why+=("no \"Vk350 found on $port\"")
  verdict "$title: detect"
  want_status "$d-write" 0
  want "the device's program blocks differ from the image" \
    same_region "$work/$d.mem" $program_at $program_size "$images/$d.upg"
  verdict "$title: write program (device memory equals the image byte for byte)"
  want_status "$d-verify" 0
  verdict "$title: verify program"
  want_status "$d-read" 0
  [ "${file_size[$d-read]:-}" = $program_size ] || why+=("read file holds ${file_size[$d-read]:-no} bytes")
  [ "${file_sha[$d-read]:-}" = "$(region_sha "$work/$d.mem" $program_at $program_size)" ] ||
    why+=("read file's checksum differs from the device's program blocks")
  verdict "$title: read program (file checksum equals the device memory)"
done

want_status not-in-dialout 3
want_err not-in-dialout "Port open error !"
want_err not-in-dialout "Permission denied"
want_err not-in-dialout "dialout"
verdict "a user outside dialout is refused with the dialout hint"

want_status busy-root 3
want_err busy-root "Port open error !"
want_err busy-root "Another program is using the port"
verdict "a second session (root) on the UART in use is refused as busy"
want_status busy-dialout 3
want_err busy-dialout "Port open error !"
want_err busy-dialout "Another program is using the port"
verdict "a second session (dialout user) on the UART in use is refused as busy"

# What the drivers asked of the emulated chips: a pty takes any setting, a UART does not.
grep -q "serial_update_parameters baudrate=38400 parity='N' data=8 stop=1" "$work/qemu-trace.log" ||
  why+=("the 16550 was never set to 38400 8N1")
verdict "16550 UART: the driver set the chip to 38400 8N1"
grep -q "usb_serial_set_baud .* baud rate 38400" "$work/qemu-trace.log" ||
  why+=("the FTDI chip was never set to 38400 baud")
grep -q "usb_serial_set_data .* parity N, data bits 8, stop bits 1" "$work/qemu-trace.log" ||
  why+=("the FTDI chip was never set to 8N1")
# The tty opens at 9600 with XON/XOFF; the session's settings come right after.
awk '/baud rate 38400/ { fast = 1 } fast && /set_flow_control/ { last = $NF } END { exit last != "0" }' \
  "$work/qemu-trace.log" || why+=("the FTDI chip was left with flow control on")
verdict "FTDI adapter: the driver set the chip to 38400 8N1, no flow control"

paced_blocks=$((libraries_size / block))
wire_us=$((paced_blocks * read_block_wire_us))
want_status uart-paced-read 0
[ "${file_sha[uart-paced-read]:-}" = "$(region_sha "$work/uart-paced.mem" $libraries_at $libraries_size)" ] ||
  why+=("read file's checksum differs from the device's library blocks")
verdict "16550 UART at 38400 baud: read libraries (file checksum equals the device memory)"
paced_ratio=$(awk -v t="${secs[uart-paced-read]:-0}" -v w=$wire_us 'BEGIN { printf "%.3f", t * 1e6 / w }')

# pulled_session NAME: the adapter pulled in its middle: the device-gone failure, soon.
pulled_session() {
  want_status "$1" 1
  want_err "$1" "Fail: Error code : 5"
  local after=${ended_after_pull[$1]:-}
  if [ -z "$after" ]; then
    why+=("its end was not seen after the pull")
  elif [ "$after" -gt 2000 ]; then
    why+=("it ended $(seconds "$after") s after the pull")
  fi
}
pulled_session pull-read
size=${file_size[pull-read]:-0}
[[ $size =~ ^[0-9]+$ ]] || size=0
[ "$size" -gt 0 ] && [ "$size" -lt $program_size ] &&
  [ $((size % block)) -eq 0 ] || why+=("read file holds $size bytes, not some whole blocks")
[ "${file_sha[pull-read]:-}" = "$(region_sha "$work/usb-slow.mem" $program_at "$size")" ] ||
  why+=("read file is not the device's first $size bytes")
verdict "adapter pulled mid-read: Error code 5 in $(seconds "${ended_after_pull[pull-read]:-0}") s, file holds $((size / block)) whole blocks"

want_status ports-plug3 0
want "it listed: $(echo ${out[ports-plug3]:-nothing})" lists_both_ports ports-plug3
want_status operator-write 0
want "the device's library blocks differ from the image" \
  same_region "$work/usb-slow.mem" $libraries_at $((64 * block)) "$images/small.lib"
verdict "plugged back: listed again, a dialout user's write completes"

pulled_session pull-write
[ "${file_sha[pull-write-source]:-}" = "$(sha_of "$images/user.usr")" ] || why+=("the source file changed")
# The device holds the file's first blocks and, from the block the pull interrupted on, what
# it held before: whole blocks only.
first_difference=$(region "$work/usb-slow.mem" $user_at $user_size | cmp - "$images/user.usr" |
  sed -n 's/.* \(byte\|char\) \([0-9]*\),.*/\2/p' || true)
written=$(((${first_difference:-1} - 1) / block))
[ "$written" -gt 0 ] && [ "$written" -lt $((user_size / block)) ] ||
  why+=("the device took $written blocks")
region "$work/usb-slow.mem.start" $((user_at + written * block)) $((user_size - written * block)) \
  >"$work/user-rest.start"
same_region "$work/usb-slow.mem" $((user_at + written * block)) $((user_size - written * block)) \
  "$work/user-rest.start" ||
  why+=("the device's user blocks after block $written changed")
verdict "adapter pulled mid-write: Error code 5 in $(seconds "${ended_after_pull[pull-write]:-0}") s, device took $written whole blocks"

want_status ports-plug4 0
want "it listed: $(echo ${out[ports-plug4]:-nothing})" lists_both_ports ports-plug4
want_status verify-after-plug 0
verdict "plugged back again: listed, root's verify completes"

# The driver's probe sets the chip's own value (QEMU's FTDI reports 0); a session asks for 1.
for p in 2:root 3:operator; do
  plug=${p%%:*} user=${p#*:}
  value=$(printf '%s\n' "${latency_report[@]}" | sed -n "s/^plug=$plug when=during user=$user value=//p")
  [ "$value" = 1 ] || why+=("latency_timer read ${value:-nothing} during $user's session")
  [[ " ${chip_low_latency[$plug]:-} " == *" 0x1 "* ]] ||
    why+=("the chip was not set to 1 ms for $user (requests: ${chip_low_latency[$plug]:-none})")
done
verdict "FTDI adapter: latency 1 ms while a session holds the port (root, dialout user)"

echo "-- latency_timer in sysfs, per plug of the adapter:"
for entry in "${latency_report[@]}"; do echo "   $entry"; done
echo "-- latency values the driver sent the chip (FTDI request 0x09), from the plug to the middle" \
  "of the first session: plug 2 (root) ${chip_low_latency[2]:-none}; plug 3 (operator)" \
  "${chip_low_latency[3]:-none}"

end_ms=$(now_ms)
echo "-- host: QEMU and the simulators at $boost_text; a process of the stage was woken up to" \
  "$worst_stall ms late (the device's time-outs are 100 and 120 ms)"
echo "-- boot to init: $(seconds "${boot_ms:-0}") s; guest: $(seconds $guest_ms) s;" \
  "stage: $(seconds $((end_ms - stage_start))) s (install: $(seconds $install_ms) s)"
echo "-- paced read over the 16550: libraries, $paced_blocks blocks in ${secs[uart-paced-read]:-?} s," \
  "wire limit $(seconds $((wire_us / 1000))) s, ratio $paced_ratio"
echo "$passed passed, $failed failed"
if [ $failed -gt 0 ]; then
  keep_work=1
  echo "-- last console lines:"
  tail -n 30 "$work/console.log" 2>/dev/null | sed 's/^/   /'
  exit 1
fi
