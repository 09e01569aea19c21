#!/bin/sh
# A Ctrl-C reaches the whole process group: `tessel-nat run --serve` stops with status 0 and
# leaves no process behind. Usage: ctrl_c_stops_serving.sh PROGRAM SOCKET
program=$1
socket=$2
said=$socket.stderr
rm -f "$socket" "$said"
setsid "$program" run --serve "$socket" >/dev/null 2>"$said" &
driver=$!
tries=0
until grep -q "serving agent commands" "$said"; do
  tries=$((tries + 1))
  [ "$tries" -le 300 ] || { echo "the run never served its socket"; kill -KILL "$driver"; exit 1; }
  sleep 0.1
done
kill -INT "-$driver"
wait "$driver"
status=$?
[ "$status" -eq 0 ] || { echo "the run ended with status $status:"; cat "$said"; exit 1; }
for command in /proc/[0-9]*/cmdline; do
  if tr '\0' ' ' <"$command" 2>/dev/null | grep -q -- "--socket $socket "; then
    echo "a launcher or an agent outlived the run"
    exit 1
  fi
done
