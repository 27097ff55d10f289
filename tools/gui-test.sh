#!/usr/bin/env bash
# The desktop program as a person works it: morva on an X server (Xvfb) under a window manager
# (openbox), with its menus, file dialogs, boxes and font chooser worked through xdotool's keys
# and mouse clicks, against vk350-sim. What happened is judged from the simulator's wire trace,
# its held answers and its saved memory, from the files the program wrote and from its exit
# status. Prints one PASS or FAIL line per case, then "N passed, N failed"; exits non-zero on
# any failure. The run's files and screenshots stay in $BUILD_DIR/gui-stage (build/gui-stage).
#
#   bash tools/gui-test.sh      # installs its packages, builds morva and vk350-sim as needed
#
# Under CI=true a machine that cannot run the stage fails it; elsewhere the stage says why it
# did not run and exits 0.
#
# Clicks land only where the program says its items are: with MORVA_MENU_MAP set, the menu bar
# and each popup print, as they show, every item's rectangle relative to the X window it is
# painted in (frontends/qt/menu_map.h); where that window is on the screen, and whether it is
# mapped, is asked of the X server (xwininfo). Nothing waits on the clock: each step waits on
# the window, the program's output or the simulator's trace that it needs, with generous hang
# guards only.
#
# Safety: the program and the simulator run in a mount namespace of their own in which every
# real serial device node is /dev/null; the program is given the simulator's port with --port.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
build=${BUILD_DIR:-build}
work=$(realpath -m "$build/gui-stage")

stage_name="gui stage"
# shellcheck source=tools/lib/stage.sh
source "$(dirname "$0")/lib/stage.sh"

if [ -z "${MORVA_GUI_ISOLATED:-}" ]; then
  started=$SECONDS
  if ! quietly "the packages" bash tools/deps.sh ||
    ! quietly "the packages" bash tools/deps.sh xvfb openbox xdotool x11-utils imagemagick; then
    cannot_run "the packages it needs could not be installed"
  fi
  if [ ! -f "$build/build.ninja" ]; then
    quietly "the configuration" cmake --preset dev -B "$build" ||
      cannot_run "cmake could not configure $build"
  fi
  quietly "the build" cmake --build "$build" --target morva vk350-sim ||
    cannot_run "the build failed"
  echo "gui stage: packages and build took $((SECONDS - started)) s"
  enter_namespace_without_ports MORVA_GUI_ISOLATED "$0" ||
    cannot_run "no mount namespace (unshare) to hide the real serial ports"
fi

# Inside the namespace: every real serial device is /dev/null for everything started here.
hide_serial_ports || cannot_run "a real serial port could not be hidden"

morva=$(realpath "$build/frontends/qt/morva")
sim=$(realpath "$build/sim/vk350-sim")
rm -rf "$work"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
started=$(date +%s%N)
# The window manager, and the program under test: while it runs (watched_pid), its end ends
# every wait_until too.
wm_pid="" gui_pid=""

finish() {
  local pid
  for pid in "$gui_pid" "$sim_pid" "$wm_pid" "$xvfb_pid"; do
    [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null
  done
  wait 2>/dev/null
}
trap finish EXIT

# --- the display, its window manager, the device ----------------------------------------------
start_display || cannot_run "Xvfb did not start: $(cat "$work/xvfb.log")"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" openbox --sm-disable \
  >"$work/openbox.log" 2>&1 &
wm_pid=$!
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 60 wm_running || cannot_run "openbox did not start: $(cat "$work/openbox.log")"

memory="$work/memory.bin" before="$work/memory-before.bin" trace="$work/sim-trace.txt"
firmware="$work/firmware.upg" held_libs="$work/libraries-held.lib"
read_libs="$work/libraries-read.lib" read_user="$work/user-read.usr"
head -c 1048576 /dev/urandom >"$before"
cp "$before" "$memory"
head -c 131072 /dev/urandom >"$firmware"
# The libraries (blocks 512-895) as the device holds them: what the verification compares.
dd if="$before" of="$held_libs" bs=256 skip=512 count=384 status=none
# The device holds back the data frame of block 600 (the libraries' verification, stopped with
# Esc) and of block 1000 (the user data's read, stopped from the menu) until SIGUSR1: those
# sessions are under way when the stop comes, however fast or slow the machine. The PC waits
# half a minute for a frame that has not begun. It refuses the command of block 1010 once.
start_sim "$work/vk350" "$work/sim-out.txt" "$trace" --memory "$memory" --trace \
  --fault hold@data:600/once --fault hold@data:1000/once --fault nak@command:1010/once ||
  cannot_run "vk350-sim did not start"

# --- what the stage reads back ------------------------------------------------------------------
held_at_least() { [ "$(grep -c '^held:' "$work/sim-out.txt")" -ge "$1" ]; }
# After the `n`th held answer the PC sent nothing but, at most, the wake-up of a new session.
nothing_asked_after_hold() {
  awk -v n="$1" '/answer held/ && ++held == n {after = 1; next}
    after && /PC->DEV/ {bad = !/wake-up/; exit} END {exit bad || held < n}' "$trace"
}
released() { trace_has "the rest once released" "$1"; }
same_bytes() { cmp -s -n "$3" -i "0:$4" "$1" "$2"; }  # FILE MEMORY COUNT OFFSET-IN-MEMORY

# The visible window named exactly NAME (a regular expression), in `found`.
found=""
window_named() {
  found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$found" ]
}
active_is() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# wait_window NAME: the window is up and has the keyboard; its id in `found`.
wait_window() {
  wait_until 20 window_named "$1" && wait_until 20 active_is "$found"
}
gone() { ! window_named "$1"; }
main_window=""
keys() {  # keys KEY...: typed into the main window once it has the keyboard again
  wait_until 20 active_is "$main_window" || return 1
  xdotool key "$@"
}
# menu KEY KEY...: Alt+KEY opens a menu of the bar; each further key is typed once the popup
# the one before opened has shown (the program prints its items as it shows).
menu_lines() { grep -c '^menu-item' "$work/morva-out.txt"; }
menu() {
  local first=$1 key count
  shift
  count=$(menu_lines)
  keys "alt+$first" || return 1
  for key in "$@"; do
    wait_until 20 popup_shown_since "$count" || return 1
    count=$(menu_lines)
    xdotool key "$key"
  done
}
popup_shown_since() {
  local id
  id=$(grep '^menu-item' "$work/morva-out.txt" | tail -n +$(($1 + 1)) | tail -n 1 | cut -d' ' -f2)
  [ -n "$id" ] && viewable "$id"
}
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
# The latest place the program gave for the menu item (or, with box-button, the box's button)
# TEXT, as "WINDOW X Y WIDTH HEIGHT" in `line`, once that window is on the screen.
line=""
item_shown() {
  line=$(awk -v text="$1" -v kind="${2:-menu-item}" '$1 == kind {t = $0
    for (i = 0; i < 6; ++i) sub(/^[^ ]+ /, "", t)
    if (t == text) last = $2 " " $3 " " $4 " " $5 " " $6} END {print last}' \
    "$work/morva-out.txt")
  [ -n "$line" ] && viewable "${line%% *}"
}
# click TEXT [box-button]: a mouse click in the middle of the shown menu item (or button) TEXT.
click() {
  wait_until 20 item_shown "$@" || return 1
  local id x y w h ox oy
  read -r id x y w h <<<"$line"
  read -r ox oy < <(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x = $4}
    /Absolute upper-left Y/ {y = $4} END {print x, y}')
  xdotool mousemove --sync $((ox + x + w / 2)) $((oy + y + h / 2)) click 1
}
# choose_file TITLE PATH: the file dialog TITLE takes PATH typed into its name field.
choose_file() {
  wait_window "$1" || return 1
  xdotool type --delay 4 "$2"
  xdotool key Return
  wait_until 20 gone "$1"
}
# about: Help > About, then its OK with Return. Keys and clicks are handled in the order they
# came: once the box is up, everything sent before it has been handled.
about() {
  menu h a && wait_window About && xdotool key Return && wait_until 20 gone About
}
# A screenshot. Given a window that is gone, import would wait for a click: hence the guard.
grab() {
  [ "$1" = root ] || xwininfo -id "$1" >/dev/null 2>&1 || return 1
  timeout -k 5 20 /usr/bin/import -window "$1" "$2"
}
shot() { grab root "$work/$1.png"; }

# --- the cases ------------------------------------------------------------------------------------
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime" \
  QT_QPA_PLATFORM=xcb MORVA_MENU_MAP=1 \
  "$morva" --port "$work/vk350" >"$work/morva-out.txt" 2>"$work/morva-err.txt" </dev/null &
gui_pid=$! watched_pid=$!

title="Vk350 Morva communication program"
started_ok() {
  wait_window "$title" && main_window=$found &&
    xprop -id "$main_window" _NET_FRAME_EXTENTS | grep -q = &&
    wait_until 20 trace_has identification 1 && ! window_named "A problem :"
}
check "morva opens its main window, framed by the window manager, and finds the Vk350" started_ok
shot 01-started

# The window's lines: its left half below the menu bar, where the session, block and status
# lines are drawn, must look again as it did before any session once a session has ended.
# (The firmware line, at the top right, changes with the first identification.)
lines_area=""
idle_lines() {
  local bar
  bar=$(awk '$1 == "menu-item" && $7 == "Action" {print $4 + $6; exit}' "$work/morva-out.txt")
  [ -n "$bar" ] && grab "$main_window" "$work/lines-idle.png" || return 1
  lines_area=$(/usr/bin/identify -format "%[fx:int(w/2)]x%[fx:h-$bar-4]+0+$((bar + 4))" \
    "$work/lines-idle.png")
}
idle_lines || echo "     (the window's lines before any session could not be taken)"
lines_gone() {  # compare reads the window from the X server itself
  [ -n "$lines_area" ] && xwininfo -id "$main_window" >/dev/null 2>&1 &&
    timeout -k 5 20 /usr/bin/compare -metric AE -extract "$lines_area" "$work/lines-idle.png" \
      "x:$main_window" null: 2>/dev/null
}

# The one case for the mouse: Action, Program, Write to Vk350.
write_with_mouse() {
  click Action && click Program && wait_until 20 item_shown "Write to Vk350" || return 1
  shot 02-menus
  click "Write to Vk350" && wait_window "Choose file with data :" || return 1
  shot 03-file-dialog
  choose_file "Choose file with data :" "$firmware" && wait_until 60 written_through 511
}
check "Action > Program > Write to Vk350 with the mouse writes the whole file" write_with_mouse
after $? "  ... and once it has ended, its session and block lines are gone" \
  wait_until 10 lines_gone

# Esc while the device holds block 600 of a verification started from the keyboard.
verify_then_escape() {
  menu a l v && choose_file "Choose file for veryfication :" "$held_libs" &&
    wait_until 60 held_at_least 1 || return 1
  shot 04-verification-held
  keys Escape && about
}
check "Scanner libraries > Veryfication from the keyboard; Esc while block 600 is due" \
  verify_then_escape
escaped=$?
if [ "$escaped" = 0 ]; then
  kill -USR1 "$sim_pid"
  wait_until 20 released 1
fi
# Repeat verifies the same file again; a difference would put up a box that keeps it waiting.
ends=$(trace_count "data of block 895$")
repeat_ok() {
  menu a r && wait_until 60 trace_has "data of block 895$" $((ends + 1)) && ! window_named Warning
}
check "Repeat verifies the same file again, to its end, with no difference" repeat_ok
after "$escaped" "  ... Esc had stopped the first: the PC asked for nothing after block 600" \
  nothing_asked_after_hold 1

read_with_keys() {
  menu a l r && choose_file "Choose file to write into :" "$read_libs" &&
    wait_until 60 same_bytes "$read_libs" "$before" 98304 $((512 * 256))
}
check "Scanner libraries > Read from Vk350 from the keyboard reads the device's libraries" \
  read_with_keys
after $? "  ... and once it has ended, its session and block lines are gone" \
  wait_until 10 lines_gone

# Action > Stop while the device holds block 1000 of a read.
read_then_stop() {
  menu a u r && choose_file "Choose file to write into :" "$read_user" &&
    wait_until 60 held_at_least 2 || return 1
  menu a s && about
}
check "User data > Read from Vk350; Action > Stop while block 1000 is due" read_then_stop
stopped=$?
if [ "$stopped" = 0 ]; then
  kill -USR1 "$sim_pid"
  wait_until 20 released 2
fi

# The device refuses the command of block 1010, which only this read reaches: the session
# fails, and its box is answered.
read_fails() {
  menu a u r && choose_file "Choose file to write into :" "$work/user-failed.usr" &&
    wait_window Fail && xdotool key Return && wait_until 20 gone Fail
}
check "User data > Read from Vk350 fails at block 1010; Return closes the Fail box" read_fails
after $? "  ... and its session and block lines are gone" wait_until 10 lines_gone

# The font chooser: a bigger size typed into its Size field (Alt+S); the window's text grows.
font_ok() {
  grab "$main_window" "$work/font-before.png" && menu a f &&
    wait_window "Select Font" || return 1
  shot 05-font-chooser
  xdotool key alt+s ctrl+a && xdotool type 24 && xdotool key Return &&
    wait_until 20 gone "Select Font" && wait_until 20 repainted
}
repainted() {
  grab "$main_window" "$work/06-font-chosen.png" &&
    ! /usr/bin/compare -metric AE "$work/font-before.png" "$work/06-font-chosen.png" null: \
      2>/dev/null
}
check "Action > Font opens the font chooser, and the size chosen shows in the window" font_ok

about_box() {
  menu h a && wait_window About || return 1
  shot 07-about
  [ "$(xprop -id "$found" WM_TRANSIENT_FOR | awk '{print $NF}')" = \
    "$(printf '0x%x' "$main_window")" ] && xdotool key Return && wait_until 20 gone About
}
check "Help > About shows its box over the main window; Return closes it" about_box

menu a e
exit_status "$gui_pid"
gui_rc=$status
[ -z "$gone" ] || gui_pid="" watched_pid=""
check "Action > Exit ends the program with status 0" [ "$gui_rc" = 0 ]

after "$stopped" "Stop had stopped the read: the PC asked for nothing after block 1000" \
  nothing_asked_after_hold 2
kept_ok() {
  [ "$(stat -c %s "$read_user" 2>/dev/null)" = 26624 ] && same_bytes "$read_user" "$before" 26624 $((896 * 256))
}
after "$stopped" "  ... and the file keeps the 104 blocks read before it" kept_ok

stop_sim
sim_rc=$?
saved_ok() {
  [ "$sim_rc" = 0 ] && same_bytes "$firmware" "$memory" 131072 0 &&
    same_bytes "$held_libs" "$memory" 98304 $((512 * 256))
}
check "the device's memory holds the program written from the menus, the rest as it was" saved_ok

# --- a start without the device -----------------------------------------------------------------
# Given only a port that does not exist, the start-up search ends in its box, with details.
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime" \
  QT_QPA_PLATFORM=xcb MORVA_MENU_MAP=1 \
  "$morva" --port "$work/no-port" >>"$work/morva-out.txt" 2>>"$work/morva-err.txt" </dev/null &
gui_pid=$! watched_pid=$!
box_window="" main_window=""
# The centres of two windows, frames included, as "X Y" each.
centre() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /Width:/ {w = $2} /Height:/ {h = $2} END {print x + w / 2, y + h / 2}'
}
lonely_start() {
  wait_window "A problem :" && box_window=$found && window_named "$title" && main_window=$found
}
# The box stands over the middle of the window: its centre within a few pixels of the window's
# across, and within a caption's height of it up and down.
box_centred() {
  local bx by mx my
  read -r bx by < <(centre "$box_window")
  read -r mx my < <(centre "$main_window")
  awk -v bx="$bx" -v by="$by" -v mx="$mx" -v my="$my" \
    'BEGIN {dx = bx - mx; dy = by - my; exit !(dx * dx <= 64 && dy * dy <= 1024)}'
}
centred_at_start() { lonely_start && box_centred; }
check "without the device, the start-up search's box shows over the middle of the window" \
  centred_at_start
shot 08-not-found
details_then_return() {
  click "Show Details..." box-button && wait_until 20 item_shown "Hide Details..." box-button ||
    return 1
  shot 09-details
  xdotool key Return && wait_until 5 gone "A problem :"
}
after $? "  ... Show Details with the mouse, then Return closes the box" details_then_return
# A box that stayed up would take the keys meant for the menus.
! window_named "A problem :" || xdotool key Escape
menu a e
exit_status "$gui_pid"
[ -z "$gone" ] || gui_pid="" watched_pid=""
check "  ... and Action > Exit ends that run with status 0" [ "$status" = 0 ]

elapsed=$((($(date +%s%N) - started) / 100000000))
echo "gui stage took $((elapsed / 10)).$((elapsed % 10)) s; screenshots and logs in $work"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
