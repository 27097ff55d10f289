# The cases of tools/vm-test.sh, run by the guest's init. The guest only does and tells; the
# host judges. Each line the host reads is one JSON object (other console output is ignored):
#   {"case": NAME, "status": N, "secs": S, "out": [LINE...], "err": [LINE...]}
#                                  a session ended: morva-cli's status, its wall time, what it
#                                  printed on stdout and stderr
#   {"file": NAME, "size": N, "sha": HEX}   a file after the session (null, null: no file)
#   {"ended": NAME, "status": N}   a session ended, told the moment it does (before its case)
#   {"latency": V, "plug": N, "when": W, "user": U}   the adapter's latency_timer in sysfs
#   {"wait": TOKEN}                the host is to act (swap a line, pull or plug the adapter,
#                                  see blocks flowing); it answers with TOKEN on the console
#   {"error": TEXT}                the guest could not carry a case out
# The init adds {"boot": UPTIME} and {"done": true}.
. /etc/morva-vm/ports.sh

images=/morva
latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
limit=90  # seconds any one session may take

# say MEMBERS: one report line, {MEMBERS}. Names and tokens are plain words; texts go through
# json_strings.
say() { echo "{$1}"; }
# json_strings: the lines of stdin as JSON strings, comma-separated (the inside of an array).
json_strings() {
  awk 'BEGIN { for (i = 1; i < 32; i++) esc[sprintf("%c", i)] = sprintf("\\u%04x", i)
               esc["\\"] = "\\\\"; esc["\""] = "\\\"" }
       { text = ""
         for (i = 1; i <= length($0); i++) { c = substr($0, i, 1); text = text ((c in esc) ? esc[c] : c) }
         printf "%s\"%s\"", (NR > 1 ? "," : ""), text }'
}
say_error() { say "\"error\": $(echo "$1" | json_strings)"; }
uptime_now() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v a="$1" -v b="$(uptime_now)" 'BEGIN { printf "%.2f", b - a }'; }

ask() {
  say "\"wait\": \"$1\""
  if ! read -r -t 60 answer || [ "$answer" != "$1" ]; then
    say_error "no answer from the host to $1"
    return 1
  fi
}

# report NAME STATUS SECS: a session's end, with what it printed.
report() {
  out=$(json_strings <"/tmp/$1.out") err=$(json_strings <"/tmp/$1.err")
  say "\"case\": \"$1\", \"status\": $2, \"secs\": $3, \"out\": [$out], \"err\": [$err]"
}

# run NAME COMMAND...: with no terminal on stdin, so that a question takes its default; its
# end is told at once, its status kept in /tmp/NAME.status.
run() {
  name=$1
  shift
  timeout "$limit" "$@" </dev/null >"/tmp/$name.out" 2>"/tmp/$name.err"
  status=$?
  say "\"ended\": \"$name\", \"status\": $status"
  echo "$status" >"/tmp/$name.status"
}

# session NAME COMMAND...: runs it and reports it.
session() {
  start=$(uptime_now)
  run "$@"
  report "$1" "$status" "$(since "$start")"
}

# background NAME COMMAND...: the same in the background; finish NAME waits and reports it.
background() {
  background_start=$(uptime_now)
  run "$@" &
  background_pid=$!
}

finish() {
  wait "$background_pid"
  report "$1" "$(cat "/tmp/$1.status" 2>/dev/null || echo null)" "$(since "$background_start")"
}

report_file() {
  if [ -f "$2" ]; then
    sha=$(sha256sum <"$2" | cut -d' ' -f1)
    say "\"file\": \"$1\", \"size\": $(stat -c %s "$2"), \"sha\": \"$sha\""
  else
    say "\"file\": \"$1\", \"size\": null, \"sha\": null"
  fi
}

report_latency() {
  value=$(json_strings <"$latency" 2>/dev/null)
  say "\"latency\": ${value:-null}, \"plug\": $1, \"when\": \"$2\", \"user\": \"$3\""
}

wait_for_size() {
  i=0
  while [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -lt "$2" ] && [ $i -lt 200 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  [ $i -lt 200 ] || say_error "$1 did not reach $2 bytes in 20 s"
}

wait_for_adapter() {
  i=0
  while [ ! -e /dev/ttyUSB0 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ -e /dev/ttyUSB0 ] || say_error "/dev/ttyUSB0 did not come back"
  own_ports
}

chmod 1777 /tmp
own_ports
report_latency 1 before -
session ports morva-cli ports

# The same sessions over each driver, against simulators that answer at once.
for driver in uart:/dev/ttyS1 usb:/dev/ttyUSB0; do
  kind=${driver%%:*}
  port=${driver#*:}
  session "$kind-detect" morva-cli detect --port "$port"
  session "$kind-write" morva-cli write program "$images/$kind.upg" --port "$port" -q
  session "$kind-verify" morva-cli verify program "$images/$kind.upg" --port "$port" -q
  session "$kind-read" morva-cli read program "/tmp/$kind-read.upg" --port "$port" -q
  report_file "$kind-read" "/tmp/$kind-read.upg"
done
report_latency 1 after root

# A user outside dialout may not open the port.
session not-in-dialout su -s /bin/sh outsider -c \
  "morva-cli read program /tmp/outsider.upg --port /dev/ttyS1 -q"

# The UART moves to a simulator that keeps to 38400 baud: a timed read, and meanwhile two
# more sessions on the port it holds (root passes TIOCEXCL but not the lock; a dialout user
# meets TIOCEXCL).
ask uart-paced
background uart-paced-read morva-cli read libraries /tmp/paced.lib --port /dev/ttyS1 -q
wait_for_size /tmp/paced.lib 256
session busy-root morva-cli read program /tmp/busy-root.upg --port /dev/ttyS1 -q
session busy-dialout su -s /bin/sh operator -c \
  "morva-cli read program /tmp/busy-dialout.upg --port /dev/ttyS1 -q"
finish uart-paced-read
report_file uart-paced-read /tmp/paced.lib

# The adapter moves to a slow simulator: the host unplugs it, changes its line, plugs it.
ask usb-swap
wait_for_adapter
report_latency 2 before -

limit=30
# Pulled in the middle of a read by root.
background pull-read morva-cli read program /tmp/pulled.upg --port /dev/ttyUSB0 -q
ask flowing
report_latency 2 during root
ask pull
finish pull-read
report_file pull-read /tmp/pulled.upg

# Plugged back: listed again, and a dialout user's session completes.
ask plug
wait_for_adapter
session ports-plug3 morva-cli ports
report_latency 3 before -
background operator-write su -s /bin/sh operator -c \
  "morva-cli write libraries $images/small.lib --port /dev/ttyUSB0 -q"
ask flowing
report_latency 3 during operator
finish operator-write
report_latency 3 after operator

# Pulled in the middle of a dialout user's write.
background pull-write su -s /bin/sh operator -c \
  "morva-cli write user $images/user.usr --port /dev/ttyUSB0 -q"
ask flowing
ask pull
finish pull-write
report_file pull-write-source "$images/user.usr"

# Plugged back once more: listed, and root's session completes.
ask plug
wait_for_adapter
session ports-plug4 morva-cli ports
report_latency 4 before -
session verify-after-plug morva-cli verify libraries "$images/small.lib" --port /dev/ttyUSB0 -q
report_latency 4 after root
