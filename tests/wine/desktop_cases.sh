# shellcheck shell=bash
# shellcheck disable=SC2154  # wine, work, link and the programs' paths are run.sh's
# The desktop program's cases, sourced by run.sh inside its protected setup (the real serial
# devices hidden, COM1 behind our link, an Xvfb display of our own), using its
# start_com1_sim, stop_com1_sim, winpath and variables, and pass, fail, check, wait_until and
# ended of tools/lib/stage.sh.
#
# morva.exe is worked as an operator would, through desktop_driver.exe: the menus with the
# keyboard (Wine keeps a program's menus to itself, so another program cannot look into
# them), its boxes and its file dialog. What the device got is read from the simulator's
# trace and memory.

gui_pid="" gui_rc=""

start_gui() {
  "$wine" "$gui_exe" >"$work/gui.out" 2>&1 </dev/null &
  gui_pid=$!
}

# Waits for morva.exe to end, at most `limit` seconds (a hang guard); its status in gui_rc.
wait_gui() {
  local limit=$1
  if wait_until "$limit" ended "$gui_pid"; then
    wait "$gui_pid"
    gui_rc=$?
  else
    kill -KILL "$gui_pid" 2>/dev/null
    wait "$gui_pid" 2>/dev/null
    gui_rc="still running after ${limit} s"
  fi
  gui_pid=""
}

# Runs the driver: its output, without CRs, in drove; its status in drive_rc.
drove="" drive_rc=0
drive() {
  drove=$(timeout -k 5 60 "$wine" "$driver_exe" "$@" </dev/null 2>&1 | tr -d '\r')
  drive_rc=${PIPESTATUS[0]}
}

# menu KEYS: Alt+first key, then the others, each once the menus have followed the one before.
menu() {
  drive menu "$1" 10000
  [ "$drive_rc" = 0 ] || echo "     menu $1: $drove"
}

trace="$work/sim.err"
file_size_is() { [ -f "$1" ] && [ "$(stat -c %s "$1")" = "$2" ]; }

# CPU time the process has used, in clock ticks (user and system).
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# The screen, cut to the main window.
take_screenshot() {
  local shot="$work/screen.png" x y width height
  /usr/bin/import -window root "$shot" || return
  drive rect
  read -r x y width height <<<"$drove"
  if [ "$drive_rc" = 0 ] && [ -n "$height" ]; then
    /usr/bin/convert "$shot" -crop "${width}x${height}+${x}+${y}" +repage "$1"
  else
    cp "$shot" "$1"
  fi
}

# The window's lines: the left half of its client area, where the session, block and status
# lines are drawn, must look again as it did before any session once a session has ended.
lines_area=""
idle_lines() {
  local x y width height
  drive client
  read -r x y width height <<<"$drove"
  [ "$drive_rc" = 0 ] && [ -n "$height" ] && /usr/bin/import -window root "$work/lines-idle.png" &&
    lines_area="$((width / 2))x${height}+${x}+${y}"
}
lines_gone() {  # compare reads the screen from the X server itself
  [ -n "$lines_area" ] && timeout -k 5 20 /usr/bin/compare -metric AE -extract "$lines_area" \
    "$work/lines-idle.png" x:root null: 2>/dev/null
}

# Wine draws the windows' frames and captions itself only inside a desktop of its own; Xvfb has
# no window manager to draw them. Its caption buttons are glyphs of the Marlett face, which
# Debian's Wine finds only among the prefix's own fonts.
use_wine_desktop() {
  local marlett=/usr/share/wine/fonts/marlett.ttf fonts="$WINEPREFIX/drive_c/windows/Fonts"
  [ ! -f "$marlett" ] || [ -f "$fonts/marlett.ttf" ] || cp "$marlett" "$fonts/"
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null &&
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
      >/dev/null || return 1
  stop_server
  start_server
  "$wine" reg query 'HKLM\Software\Wine\Ports' >/dev/null 2>&1
  wait_until 60 mapping_safe
}

# No device behind any port: the search at start-up ends in a box over the shown window.
desktop_without_device() {
  start_gui
  drive window 20000
  check "morva.exe shows its main window" [ "$drove" = "title: Vk350 Morva communication program" ]
  drive box "A problem :" ok 30000
  local wanted="text: Vk350 not found !\nConnect and prepare device\nand try again."
  check "no device: the not-found box, over the main window" \
    [ "$drove" = "$wanted"$'\n'"owner: main" ]
  menu af
  drive box "Font" ok 10000
  check "Font opens the font chooser over the main window" [ "${drove##*$'\n'}" = "owner: main" ]
  menu ae
  wait_gui 60
  check "Exit from the Action menu ends the program with status 0" [ "$gui_rc" = 0 ]
}

# One second of the program's processor time, in idle_ticks; true when it was quiet.
idle_ticks=""
quiet_second() {
  local before after
  before=$(cpu_ticks "$gui_pid") || return 1
  sleep 1
  after=$(cpu_ticks "$gui_pid") || return 1
  idle_ticks=$((after - before))
  [ "$idle_ticks" -le 10 ]
}

# The device has held back the answer that its hold fault names.
answer_held() { grep -q '^held:' "$work/sim.out"; }

# The next frame the PC sent after the held answer was the wake-up of another session: the
# session that waited for the answer asked for no further block.
stopped_at_hold() {
  awk '/answer held/ {held = 1; next}
    held && /PC->DEV/ {woke = /wake-up/; exit}
    END {exit !woke}' "$trace"
}

desktop_with_device() {
  local mem="$work/desktop-memory.bin" fw="$work/desktop.upg" lib="$work/desktop.lib"
  local libs_held="$work/desktop-held.lib" failed_read="$work/desktop-failed.usr"
  head -c 1048576 /dev/urandom >"$mem"
  head -c 131072 /dev/urandom >"$fw"
  rm -f "$lib" "$failed_read"
  # The libraries (blocks 512-895) as the device holds them: what the verifications compare.
  dd if="$mem" of="$libs_held" bs=256 skip=512 count=384 status=none
  # A short answer delay, so that a transfer lasts long enough to be watched. The first
  # verification of the libraries is the first session to read block 600: the device holds
  # that frame until SIGUSR1, so the verification is under way when Esc comes, however fast
  # or slow the machine (the PC waits half a minute for a frame that has not begun).
  # The command of block 900 is refused once: only the read of the user data reaches it.
  if ! start_com1_sim --memory "$mem" --latency 2 --trace --fault hold@data:600/once \
    --fault nak@command:900/once; then
    fail "desktop sessions (no simulator)"
    return
  fi
  start_gui
  drive window 20000
  check "the search at start-up finds the device on COM1" \
    wait_until 20 trace_has "identification" 1
  # The menus open only in the main loop, after the search: a not-found box would be up by
  # then, and would keep them shut.
  menu ha
  drive box "About" ok 10000
  local about_rc=$drive_rc
  drive box "A problem :" ok 0
  no_box_ok() { [ "$about_rc" = 0 ] && [ "$drive_rc" = 1 ]; }
  check "  ... and shows no not-found box" no_box_ok
  idle_lines || echo "     (the window's lines before any session could not be taken)"

  # Idle, the loop sleeps: a few ticks of the 100 a second at most. The box's closing may
  # still cost some, so seconds are sampled until one is quiet; a loop that spins has none.
  local quiet=0
  wait_until 30 quiet_second || quiet=1
  idle_ok() { [ "$(cat "/proc/$gui_pid/comm")" = morva.exe ] && [ "$quiet" = 0 ]; }
  check "an idle program uses almost no processor time ($idle_ticks ticks in 1 s)" idle_ok

  menu apw
  drive choose "Choose file with data :" "$(winpath "$fw")" 10000
  check "Program > Write to Vk350 opens the file dialog" [ "$drive_rc" = 0 ]
  # With the Action menu open, the write goes on.
  local sent
  if wait_until 30 trace_has "data for block" 20 && menu a; then
    sent=$(trace_count "data for block")
    check "  ... goes on while the Action menu is open" \
      wait_until 10 trace_has "data for block" $((sent + 20))
    drive menus
    check "  ... which is still open" [ "$drive_rc" = 0 ]
    drive escape 2  # the popup, then the menu bar
  else
    fail "  ... goes on while the Action menu is open" "the write or the menu did not start"
  fi
  if wait_until 30 trace_has "data for block" 200; then
    take_screenshot "${screenshot:-$work/screenshot-windows.png}"
  fi
  check "  ... and writes the whole program into the device" wait_until 60 written_through 511
  check "  ... and once it has ended, its session and block lines are gone" \
    wait_until 10 lines_gone

  menu alv
  drive choose "Choose file for veryfication :" "$(winpath "$libs_held")" 10000
  if wait_until 60 answer_held; then
    drive escape
    # Keys are taken in the order they were typed: once the Help menu has opened, the Esc
    # before it has been handled. Only then does the device send the frame it held.
    menu ha
    drive box "About" ok 10000
    kill -USR1 "$sim_pid"
  else
    fail "Esc stops a verification under way" "the verification did not reach block 600"
  fi

  local ends
  ends=$(trace_count "data of block 895$")
  menu ar
  check "Repeat verifies the same file again, to its end" \
    wait_until 60 trace_has "data of block 895$" $((ends + 1))
  if answer_held; then check "Esc stops a verification under way" stopped_at_hold; fi

  # A difference would have put up a box that keeps the menus shut until it is answered.
  menu alr
  drive choose "Choose file to write into :" "$(winpath "$lib")" 10000
  local read_rc=$drive_rc
  drive box "Warning" no 0
  check "  ... and finds no difference" [ "$drive_rc" = 1 ]
  check "Scanner libraries > Read from Vk350 into a new file" [ "$read_rc" = 0 ]
  check "  ... reads the 384 blocks into it" wait_until 60 file_size_is "$lib" 98304
  check "  ... and once it has ended, its session and block lines are gone" \
    wait_until 10 lines_gone

  menu aur
  drive choose "Choose file to write into :" "$(winpath "$failed_read")" 10000
  drive box "Fail" ok 30000
  check "User data > Read from Vk350 fails at block 900: the Fail box" \
    [ "${drove%%$'\n'*}" = "text: Acknowledgment error : got NAK" ]
  check "  ... and once it is answered, the session and block lines are gone" \
    wait_until 10 lines_gone

  drive close
  wait_gui 60
  check "closing the window ends the program with status 0" [ "$gui_rc" = 0 ]
  stop_com1_sim
  check "the device memory holds the program written from the menus" cmp -s -n 131072 "$fw" "$mem"
  check "the libraries read from the menus equal the device memory" \
    cmp -s -n 98304 -i 0:$((512 * 256)) "$lib" "$mem"
}

desktop_cases() {
  if ! use_wine_desktop; then
    fail "desktop cases" "COM1 is not mapped as it must be after the Wine desktop was set up"
    return
  fi
  run_gtest win32_desktop_tests "$desktop_tests_exe" "$work/desktop_tests.out"
  desktop_without_device
  desktop_with_device
}
