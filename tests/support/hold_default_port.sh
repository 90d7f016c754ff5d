#!/usr/bin/env bash
# Test fixture: a looper that holds the default UDP port 5667 for the whole integration run, as
# a user's looper would, so that the run shows the tests need that port for nothing.
#   hold_default_port.sh start STATE_DIR ZT4_BINARY
#   hold_default_port.sh stop STATE_DIR
# The looper runs on a JACK dummy server of its own, "${ZT4TEST_SERVER:-zt4test}-holder", both in
# their own sessions with their output in STATE_DIR. When something else already holds the port,
# the run is just as good a proof, and the looper runs without it.
set -euo pipefail
action=$1
state=$2
server=${ZT4TEST_SERVER:-zt4test}-holder
port=5667
lifetime=3600  # seconds; ends a holder that an interrupted run never stopped

stop_pid_file() {
  local file=$1 pid
  [ -f "$file" ] || return 0
  pid=$(cat "$file")
  rm -f "$file"
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

stop_all() {
  stop_pid_file "$state/zt4.pid"
  stop_pid_file "$state/jackd.pid"
}

server_reachable() { JACK_NO_START_SERVER=1 jack_lsp -s "$server" >/dev/null 2>&1; }

# Runs a command in the background in a session of its own, for at most the lifetime, without
# the descriptors this script inherited: a machine-wide flock around the test run must not stay
# held by the holder. $! is then the command's timeout.
detach() {
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      if [ "$fd" -gt 2 ]; then eval "exec $fd>&-"; fi
    done
    exec setsid timeout "$lifetime" "$@"
  ) </dev/null &
}

case $action in
  start)
    zt4=$3
    mkdir -p "$state/data"
    stop_all  # what an interrupted run left
    detach jackd -n "$server" -r -d dummy -r 48000 -p 4096 >"$state/jackd.log" 2>&1
    echo $! >"$state/jackd.pid"
    for _ in $(seq 100); do
      server_reachable && break
      sleep 0.1
    done
    server_reachable || { echo "the holder's JACK server $server did not start:"; cat "$state/jackd.log"; exit 1; }
    JACK_NO_START_SERVER=1 detach "$zt4" --server "$server" --port "$port" \
      --data-dir "$state/data" >"$state/zt4.log" 2>&1
    echo $! >"$state/zt4.pid"
    for _ in $(seq 600); do
      grep -q "^ready: " "$state/zt4.log" && break
      sleep 0.1
    done
    if grep -q "^ready: .*, UDP port $port," "$state/zt4.log"; then
      echo "a looper of the tests holds UDP port $port for this run"
    elif grep -q "UDP port $port is in use" "$state/zt4.log"; then
      echo "UDP port $port is already held by another program: the run goes on beside it"
    else
      echo "the looper meant to hold UDP port $port did not get ready:"
      cat "$state/zt4.log"
      stop_all
      exit 1
    fi
    ;;
  stop)
    stop_all
    ;;
  *)
    echo "usage: $0 start STATE_DIR ZT4_BINARY | stop STATE_DIR" >&2
    exit 2
    ;;
esac
