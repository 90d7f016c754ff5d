#!/usr/bin/env bash
# The package's install test: installs zt4_VERSION_ARCH.deb on this machine with apt-get, checks
# what it installed, removes it (the loops stay), purges it (the loops still stay), and installs
# and purges once more with ZT4_PURGE_DATA=yes (now they go). Run by scripts/package --install-test.
set -euo pipefail
deb=${1:?usage: install_test.sh PATH/zt4_VERSION_ARCH.deb}
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "  ok: $what"; else echo "  FAILED: $what"; failures=$((failures + 1)); fi
}
install() { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null; }
purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq zt4 >/dev/null; }

if dpkg-query -W -f='${Status}' zt4 2>/dev/null | grep -q 'install ok installed'; then
  echo "install test: zt4 is installed on this machine already; it would be removed: stopping" >&2
  exit 2
fi
echo "install test: $deb"
install
version=$(dpkg-query -W -f='${Version}' zt4)
check "zt4 --version runs from /usr/bin and prints $version" \
  sh -c "/usr/bin/zt4 --version | grep -q 'V$version'"
# Each tool's --help prints its usage and does nothing else: run in an empty folder, it leaves
# the folder empty (a tool that took "--help" for a file name would fill it).
scratch=$(mktemp -d)
for p in zt4-remote zt4-panel zt4-audio zt4-drumkit; do
  check "$p --help prints its usage and writes nothing" sh -c \
    "cd '$scratch' && /usr/bin/$p --help | grep -qi usage && [ -z \"\$(ls -A)\" ]"
done
rm -rf "$scratch"
check "the package holds each program's manual page" sh -c "dpkg-deb -c '$deb' >'$scratch.list' &&
  for p in zt4 zt4-remote zt4-panel zt4-audio zt4-drumkit; do
    grep -q \"/usr/share/man/man1/\$p.1.gz\" '$scratch.list' || exit 1; done"
rm -f "$scratch.list"
check "the user zt4 exists in group audio" sh -c '[ "$(id -gn zt4)" = audio ]'
check "/var/lib/zt4 belongs to zt4:audio" sh -c '[ "$(stat -c %U:%G /var/lib/zt4)" = zt4:audio ]'
check "the default drum kit is in /usr/share/zt4 and /var/lib/zt4" \
  sh -c 'ls /usr/share/zt4/drum8.wav /var/lib/zt4/drum8.wav'
check "/etc/default/zt4 is a configuration file" sh -c 'dpkg-query -W -f="\${Conffiles}" zt4 | grep -q /etc/default/zt4'
check "systemd-analyze verify accepts the installed units" \
  systemd-analyze verify /lib/systemd/system/zt4-jackd.service /lib/systemd/system/zt4.service

# The looper as zt4.service runs it: as the user zt4, on a JACK server of the user's own (a dummy
# one here, with no sound card), its data in /var/lib/zt4; SIGTERM is a clean stop.
server=zt4-install-test-$$
as_zt4=(setpriv --reuid=zt4 --regid=audio --init-groups)
"${as_zt4[@]}" env JACK_NO_AUDIO_RESERVATION=1 jackd -n "$server" -d dummy -r 48000 -p 256 \
  >/dev/null 2>&1 &
jackd_pid=$!
for _ in $(seq 50); do "${as_zt4[@]}" jack_lsp -s "$server" >/dev/null 2>&1 && break; sleep 0.1; done
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"${as_zt4[@]}" env JACK_NO_START_SERVER=1 /usr/bin/zt4 --data-dir /var/lib/zt4 \
  --server "$server" --port "$port" --web off </dev/null >/tmp/zt4-install-test.log 2>&1 &
zt4_pid=$!
answered=
for _ in $(seq 100); do
  if /usr/bin/zt4-remote -p "$port" status >/dev/null 2>&1; then answered=1; break; fi
  sleep 0.1
done
check "the looper runs as zt4 on its data directory and answers on UDP" test -n "$answered"
kill -TERM $zt4_pid
status=0
wait $zt4_pid || status=$?
check "SIGTERM stops it cleanly (exit status 0)" test $status -eq 0
kill $jackd_pid 2>/dev/null || true
wait $jackd_pid 2>/dev/null || true
[ -n "$answered" ] && [ $status -eq 0 ] || sed 's/^/    zt4: /' /tmp/zt4-install-test.log

# A loop the player made stays through remove and purge.
echo loop >/var/lib/zt4/track1.dat
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq zt4 >/dev/null
check "remove takes the programs" sh -c '! [ -e /usr/bin/zt4 ]'
check "remove keeps the loops and /etc/default/zt4" sh -c '[ -f /var/lib/zt4/track1.dat ] && [ -f /etc/default/zt4 ]'
purge
check "purge takes /etc/default/zt4" sh -c '! [ -e /etc/default/zt4 ]'
check "purge keeps the loops and the user" sh -c '[ -f /var/lib/zt4/track1.dat ] && id zt4'
install
check "a new install keeps the loops" sh -c '[ -f /var/lib/zt4/track1.dat ]'
ZT4_PURGE_DATA=yes purge
check "ZT4_PURGE_DATA=yes purge takes the loops and the user" sh -c '! [ -e /var/lib/zt4 ] && ! id zt4'

if [ $failures -gt 0 ]; then
  echo "install test: $failures check(s) failed"
  exit 1
fi
echo "install test: OK"
