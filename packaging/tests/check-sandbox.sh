#!/usr/bin/env bash
# The installed daemon inside the confinement its installed unit asks for,
# emulated without systemd (which is not PID 1 here): a private mount
# namespace whose file systems are read-only except the runtime folder
# (ProtectSystem=strict), private /tmp and /var/tmp (PrivateTmp), no home
# folders (ProtectHome), the runtime folder made as systemd makes it, and
# the daemon started as the unit's user and group with no capability and no
# new privileges, under the unit's umask. Numeric ids that no account has
# stand for the unit's user and group, so /etc/passwd is not touched.
#
# Then: a client in the board group reaches a board with the installed
# k27ctl; a user outside it is refused with the library's advice; the
# daemon's user cannot write anywhere but its runtime folder.
#
# What this does not show: that systemd applies the unit so (seccomp,
# device and address-family policies are not emulated), nor anything of a
# real USB bus: the daemon serves simulated boards.
#
# usage: check-sandbox.sh ROOT   (the unpacked packages; needs root: exit 77 otherwise)
set -uo pipefail

root=$(cd "$1" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "sandbox test: skipped: it needs root (a private mount namespace and setpriv)"
  exit 77
fi
for tool in unshare setpriv findmnt; do
  command -v $tool >/dev/null || { echo "sandbox test: $tool is missing (Debian: util-linux)"; exit 1; }
done

unit=$root/usr/lib/systemd/system/vantrelio.service
setting() { sed -n "s/^$1=//p" "$unit" | tail -n1; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The settings this emulation stands for must be the unit's.
for expected in NoNewPrivileges=yes CapabilityBoundingSet= AmbientCapabilities= PrivateTmp=yes \
  ProtectSystem=strict ProtectHome=yes; do
  [ "$(setting "${expected%%=*}")" = "${expected#*=}" ] || fail "the unit lacks $expected"
done
user=$(setting User) group=$(setting Group) runtime=$(setting RuntimeDirectory)
mode=$(setting RuntimeDirectoryMode) umask=$(setting UMask)
exec_start=$(setting ExecStart)
[ -n "$user" ] && [ -n "$group" ] && [ -n "$runtime" ] && [ -n "$mode" ] && [ -n "$umask" ] ||
  fail "the unit lacks User, Group, RuntimeDirectory, RuntimeDirectoryMode or UMask"
[ "$failed" = 0 ] || exit 1
# ExecStart with the installed program under the root and --simulate for
# the options file's $VANTRELIO_OPTS.
read -r -a command <<<"${exec_start//\$VANTRELIO_OPTS/--simulate}"
command[0]=/run/k27-root${command[0]}
run_dir=/run/$runtime

# Ids no account or group has: the unit's user, its group, a client in the
# group and a user outside it.
free_ids=()
id=4270000
while [ ${#free_ids[@]} -lt 4 ]; do
  getent passwd "$id" >/dev/null || getent group "$id" >/dev/null || free_ids+=("$id")
  id=$((id + 1))
done
daemon_uid=${free_ids[0]} board_gid=${free_ids[1]} client_uid=${free_ids[2]} outsider_uid=${free_ids[3]}
echo "sandbox test: $user = uid $daemon_uid, $group = gid $board_gid; client uid $client_uid" \
  "(in $group), outsider uid $outsider_uid"

# A folder the daemon's user owns outside its runtime folder: only the
# read-only mounts keep it from writing there.
witness=$root/var/lib/k27-sandbox-witness
mkdir -p "$witness" && chown "$daemon_uid:$board_gid" "$witness"
probe=k27-sandbox-probe-$$
shared=k27-sandbox-$$
libdir=$(dirname "$(find "$root/usr/lib" -name 'libvantrelusb.so.*' -type f | head -n1)")
libdir=${libdir#"$root"}

# Runs inside the namespace; its output is the test's.
inside() {
  set -u
  mount --make-rprivate /
  # Scratch mounts of this namespace: /run (for the runtime folder and the
  # installed files, which live under the /tmp about to be hidden).
  mount -t tmpfs -o mode=0755 k27-run /run
  mkdir -p "$run_dir" /run/k27-root /run/k27-harness
  mount --bind "$root" /run/k27-root
  mount -t tmpfs -o mode=0700 k27-harness /run/k27-harness
  # RuntimeDirectory=: the unit's user and group, RuntimeDirectoryMode.
  chown "$daemon_uid:$board_gid" "$run_dir" && chmod "$mode" "$run_dir"
  mount --bind "$run_dir" "$run_dir"
  # PrivateTmp=yes, ProtectHome=yes.
  mount -t tmpfs -o mode=1777 k27-tmp /tmp
  mount -t tmpfs -o mode=1777 k27-var-tmp /var/tmp
  local home
  for home in /home /root /run/user; do
    [ -d "$home" ] && mount -t tmpfs -o mode=0000,ro k27-no-home "$home"
  done
  # ProtectSystem=strict: everything read-only but the API file systems,
  # the private temporary folders, the runtime folder and the harness.
  local target
  while read -r target; do
    case $target in
      /proc | /proc/* | /sys | /sys/* | /dev | /dev/* | /tmp | /var/tmp | "$run_dir" | /run/k27-harness) continue ;;
    esac
    findmnt -rn -o OPTIONS --target "$target" | grep -E '(^|,)ro(,|$)' >/dev/null && continue
    mount -o remount,bind,ro "$target" || { echo "FAIL: cannot make $target read-only"; return 1; }
  done < <(findmnt -rn -o TARGET | sed 's/\\x20/ /g')

  local confined=(--inh-caps=-all --bounding-set=-all --no-new-privs)
  local as_daemon=(setpriv --reuid="$daemon_uid" --regid="$board_gid" --clear-groups "${confined[@]}")
  local as_client=(setpriv --reuid="$client_uid" --regid="$client_uid" --groups="$board_gid" "${confined[@]}")
  local as_outsider=(setpriv --reuid="$outsider_uid" --regid="$outsider_uid" --clear-groups "${confined[@]}")
  local environment=(env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH=/run/k27-root$libdir)

  # As systemd starts it: its variables set, in / with the unit's umask.
  (cd / && umask "$umask" && exec "${environment[@]}" INVOCATION_ID=0123456789abcdef0123456789abcdef \
    "${as_daemon[@]}" "${command[@]}") 2>/run/k27-harness/daemon.log &
  local daemon=$! step
  for step in $(seq 600); do
    grep -q "serving" /run/k27-harness/daemon.log && break
    kill -0 "$daemon" 2>/dev/null || break
    sleep 0.05
  done
  if ! grep -q "serving" /run/k27-harness/daemon.log; then
    echo "FAIL: the daemon does not serve in the sandbox:"
    cat /run/k27-harness/daemon.log
    kill "$daemon" 2>/dev/null
    return 1
  fi
  local bad=0
  no() { echo "FAIL: $*"; bad=1; }
  ok() { echo "ok: $*"; }

  local status
  status=$(cat /proc/$daemon/status)
  grep -qE "^Uid:\s+$daemon_uid\s+$daemon_uid\s+$daemon_uid\s+$daemon_uid$" <<<"$status" &&
    grep -qE "^Gid:\s+$board_gid\s" <<<"$status" && grep -qE '^CapEff:\s+0+$' <<<"$status" &&
    grep -qE '^CapBnd:\s+0+$' <<<"$status" && grep -qE '^NoNewPrivs:\s+1$' <<<"$status" &&
    ok "the daemon runs as $user:$group, no capability, no new privileges" ||
    no "the daemon's identity: $(grep -E '^(Uid|Gid|CapEff|CapBnd|NoNewPrivs):' <<<"$status" | xargs)"
  grep -q "running as root" /run/k27-harness/daemon.log && no "the daemon says it runs as root"
  [ "$(stat -c '%a %u %g' "$run_dir/ezusb-0")" = "660 $daemon_uid $board_gid" ] &&
    ok "the socket $run_dir/ezusb-0 is 0660, $user:$group" ||
    no "the socket: $(stat -c '%a %u %g' "$run_dir/ezusb-0")"

  local out
  out=$("${environment[@]}" VANTREL_DEVICE_DIR="$run_dir" VANTREL_SHARED_NAMESPACE=$shared \
    "${as_client[@]}" /run/k27-root/usr/bin/k27ctl list 2>&1)
  [ $? = 0 ] && grep -q "^board 0: " <<<"$out" && ok "a member of $group lists the board with k27ctl" ||
    no "k27ctl list in the group: $out"
  # Outside the group: the socket cannot even be reached (EACCES), and
  # the library tells the user which group to join.
  out=$("${as_outsider[@]}" stat -c %F "$run_dir/ezusb-0" 2>&1)
  grep -q "Permission denied" <<<"$out" && ok "a user outside $group cannot reach the socket (EACCES)" ||
    no "the socket for a user outside the group: $out"
  out=$("${environment[@]}" VANTREL_DEVICE_DIR="$run_dir" VANTREL_SHARED_NAMESPACE=$shared-out \
    "${as_outsider[@]}" /run/k27-root/usr/bin/k27ctl list 2>&1)
  [ $? != 0 ] && grep -q "^vantrelusb: no access to .*usermod -aG" <<<"$out" &&
    ok "k27ctl outside $group fails with the library's advice to join it: $(grep -m1 '^vantrelusb: no access' <<<"$out")" ||
    no "k27ctl list outside the group: $out"

  # The daemon's user: its runtime folder is writable, nothing else is.
  "${as_daemon[@]}" sh -c "umask $umask && : >'$run_dir/$probe' && rm '$run_dir/$probe'" &&
    ok "the daemon's user writes in $run_dir" || no "the daemon's user cannot write in $run_dir"
  local place wrote=0
  for place in /etc /usr /usr/lib /var/lib /var/log /run /run/k27-root/var/lib/k27-sandbox-witness /home /root; do
    [ -d "$place" ] || continue
    if "${as_daemon[@]}" sh -c ": >'$place/$probe'" 2>/dev/null; then
      no "the daemon's user wrote $place/$probe"
      wrote=1
      rm -f "$place/$probe"
    fi
  done
  # Its own folder: refused by the read-only mount, not by permissions.
  out=$("${as_daemon[@]}" sh -c ": >/run/k27-root/var/lib/k27-sandbox-witness/$probe" 2>&1)
  grep -q "Read-only file system" <<<"$out" || no "the witness folder: $out"
  [ "$wrote" = 0 ] && ok "the daemon's user cannot write in /etc, /usr, /var, /run, the home folders" \
    "or a folder of its own outside $run_dir"
  # Its /tmp and /var/tmp are its own: what it writes there stays inside.
  "${as_daemon[@]}" sh -c ": >'/tmp/$probe' && : >'/var/tmp/$probe'" ||
    no "the daemon's user cannot write in its private /tmp and /var/tmp"

  kill -TERM "$daemon"
  wait "$daemon"
  status=$?
  [ "$status" = 0 ] && [ ! -e "$run_dir/ezusb-0" ] && ok "the daemon stops cleanly on SIGTERM" ||
    { no "the daemon's stop: status $status"; cat /run/k27-harness/daemon.log; }
  return $bad
}
export -f inside
export root run_dir mode umask daemon_uid board_gid client_uid outsider_uid user group probe shared libdir
export command_line
command_line=$(printf '%q ' "${command[@]}")
unshare --mount --propagation private bash -c 'eval "command=($command_line)"; inside' || failed=1

# Nothing of the sandbox reached the machine.
for leak in "/tmp/$probe" "/var/tmp/$probe"; do
  [ -e "$leak" ] && { fail "$leak is outside the private temporary folders"; rm -f "$leak"; }
done
[ "$failed" = 0 ] && echo "ok: what the daemon's user wrote in its /tmp and /var/tmp stayed private"
rm -rf "$witness"
# The clients' shared board state.
rm -f /dev/shm/"$shared".* /dev/shm/"$shared"-out.*
exit $failed
