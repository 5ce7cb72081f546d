# Shared by the network drive tests (sourced): a throwaway Samba server on 127.0.0.1 with one guest
# share over a temporary folder, a private D-Bus session, and the share mounted through GVfs, seen as
# a local folder through gvfsd-fuse. Everything started carries a marker in its environment; the
# cleanup ends exactly those processes (by their numbers, found through the marker, never by name).
#
# After smb_begin: $smb_work (scratch), $smb_dir (the folder the server shares), $smb_mount (the share
# as the client sees it), $smb_url. A test that cannot run here exits with $SMB_SKIP, saying why.

SMB_SKIP=77
# smbd lives in sbin, which a user's PATH may leave out.
PATH=$PATH:/usr/sbin:/sbin
smb_share=zshare

smb_skip() {
  # In CI, as root with FUSE, a missing package or a share that does not come up is a failure, never a skip.
  if [ "${smb_must_run:-}" = 1 ]; then
    echo "FAIL (cannot run in CI): $*" >&2
    exit 1
  fi
  echo "SKIP: $*"
  exit "$SMB_SKIP"
}

smb_fail() {
  echo "FAIL (${step:-start}): $*" >&2
  [ -f "${smb_work:-/nonexistent}/smbd.log" ] && tail -n 20 "$smb_work/smbd.log" | sed 's/^/smbd: /' >&2
  exit 1
}

# Runs a check every 0.1 s until it holds, for at most SMB_WAIT tenths (default 100: 10 s).
smb_until() {
  local i
  for ((i = 0; i < ${SMB_WAIT:-100}; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The processes this run started, found through the marker in their environment; $1: which marker. The
# shells of this run carry the client's marker too (it is exported): the script ($$), the shell asking ($2)
# and this one are left out, or the cleanup would end itself half way.
smb_marked() {
  local p entry
  local -a env
  for p in /proc/[0-9]*; do
    case "${p#/proc/}" in "$$" | "$BASHPID" | "${2:-}") continue ;; esac
    mapfile -d "" -t env 2>/dev/null <"$p/environ" || continue
    for entry in "${env[@]}"; do
      [ "$entry" = "$1" ] && echo "${p#/proc/}" && break
    done
  done
  return 0 # under "set -e" (the benchmark) a last process without the marker must not fail the caller
}

# Ends the processes carrying marker $1: TERM, then KILL for what is left after 5 s. A process that ended
# meanwhile fails its kill; under "set -e" (the benchmark) that must not end the cleanup early.
smb_end_marked() {
  local pids self=$BASHPID
  pids=$(smb_marked "$1" "$self")
  [ -z "$pids" ] && return 0
  kill $pids 2>/dev/null || true
  none_left() { [ -z "$(smb_marked "$1" "$self")" ]; }
  SMB_WAIT=50 smb_until none_left "$1" && return 0
  pids=$(smb_marked "$1" "$self")
  [ -n "$pids" ] && { kill -KILL $pids 2>/dev/null || true; }
  SMB_WAIT=50 smb_until none_left "$1" || true
}

smb_cleanup() {
  local status=$?
  trap - EXIT
  if [ -n "${smb_work:-}" ]; then
    # The FUSE folder goes first, so that nothing waits on a daemon that is about to end.
    mountpoint -q "$smb_work/run/gvfs" 2>/dev/null && umount -l "$smb_work/run/gvfs" 2>/dev/null
    smb_end_marked "ZELO_SMB_CLIENT=$smb_token"
    smb_end_marked "ZELO_SMB_SERVER=$smb_token"
    rm -rf "$smb_work"
  fi
  exit "$status"
}

smb_listening() { grep -q "^ *[0-9]*: 0100007F:$(printf '%04X' "$smb_port") 00000000:0000 0A " /proc/net/tcp; }

# Starts smbd on $smb_port (chosen on the first start); the same port again on a restart.
smb_start_server() {
  local attempt
  for attempt in 1 2 3 4 5; do
    if [ -z "${smb_port_fixed:-}" ]; then
      # A port nothing listens on yet.
      smb_port=$((20000 + RANDOM % 30000))
      smb_listening && continue
    fi
    sed "s/@PORT@/$smb_port/" "$smb_work/smb.conf.in" >"$smb_work/smb.conf"
    # smbd signals its whole process group when it ends: it gets a session of its own.
    ZELO_SMB_SERVER=$smb_token setsid smbd --foreground --no-process-group -s "$smb_work/smb.conf" \
      </dev/null >>"$smb_work/smbd.log" 2>&1 &
    smb_server=$!
    server_up() { smb_listening || ! kill -0 "$smb_server" 2>/dev/null; }
    SMB_WAIT=200 smb_until server_up
    if smb_listening && kill -0 "$smb_server" 2>/dev/null; then
      smb_port_fixed=1
      return 0
    fi
    smb_end_marked "ZELO_SMB_SERVER=$smb_token"
    [ -n "${smb_port_fixed:-}" ] && break
  done
  smb_fail "smbd did not start"
}

# Stops the server as a crash or a pulled cable would for the client: every smbd process of this run.
smb_stop_server() {
  smb_end_marked "ZELO_SMB_SERVER=$smb_token"
  smb_server=
}

# The SMB2 requests the server has answered since it started, all kinds together, from its profile
# counts (smbd profiling level = count). Each server process writes its counts out about a second after
# the request that changed them: the total is read once it has held still for 1.5 s.
smb_request_count() {
  smbstatus -s "$smb_work/smb.conf" -P 2>/dev/null | awk '/^smb2_[a-z]+_count:/ { n += $2 } END { print n + 0 }'
}
smb_requests() {
  local seen still=0
  seen=$(smb_request_count)
  settled() {
    local now
    now=$(smb_request_count)
    if [ "$now" = "$seen" ]; then still=$((still + 1)); else seen=$now still=0; fi
    [ "$still" -ge 15 ]
  }
  SMB_WAIT=600 smb_until settled || smb_fail "the server's request counts did not settle"
  echo "$seen"
}
# Same entries and bytes below $1 and $2 (links as links), and the same write times to the microsecond, or to
# the second with same_tree_seconds (what the GVfs mount keeps).
same_tree() {
  local f width=${3:-26}
  diff -r --no-dereference "$1" "$2" >"$smb_work/diff" 2>&1 || smb_fail "trees differ: $(cat "$smb_work/diff")"
  while IFS= read -r -d '' f; do
    [ "$(stat -c %y "$1/$f" | cut -c1-"$width")" = "$(stat -c %y "$2/$f" | cut -c1-"$width")" ] \
      || smb_fail "$f: write time $(stat -c %y "$2/$f"), not $(stat -c %y "$1/$f")"
  done < <(cd "$1" && find . -type f -print0)
}
same_tree_seconds() { same_tree "$1" "$2" 19; }

smb_share_readable() { ls "$smb_mount" >/dev/null 2>&1; }

# Mounts the share with gio (guest), then waits until the FUSE folder answers (a fresh mount gives
# input/output errors for about a second).
smb_mount_share() {
  timeout 30 gio mount -a "$smb_url" </dev/null >>"$smb_work/gio.log" 2>&1 || return 1
  SMB_WAIT=300 smb_until smb_share_readable
}

smb_unmount_share() {
  timeout 30 gio mount -u "$smb_url" </dev/null >>"$smb_work/gio.log" 2>&1
  share_gone() { [ ! -e "$smb_mount" ]; }
  SMB_WAIT=100 smb_until share_gone
}

smb_begin() {
  [ "$(id -u)" -eq 0 ] || smb_skip "needs root (the server shares as root, the FUSE folder is unmounted by umount)"
  [ -c /dev/fuse ] && { exec 9<>/dev/fuse; } 2>/dev/null || smb_skip "no usable /dev/fuse"
  exec 9>&-
  [ "${CI:-}" = true ] && smb_must_run=1
  local tool
  for tool in smbd gio dbus-daemon mountpoint; do
    command -v "$tool" >/dev/null || smb_skip "$tool missing (scripts/deps.sh installs samba, gvfs-backends, gvfs-fuse, dbus)"
  done
  [ -x /usr/libexec/gvfsd-fuse ] && [ -x /usr/libexec/gvfsd-smb ] \
    || smb_skip "gvfsd-fuse or gvfsd-smb missing (scripts/deps.sh installs gvfs-backends, gvfs-fuse)"

  smb_work=$(mktemp -d)
  smb_token="$$-$RANDOM$RANDOM"
  trap smb_cleanup EXIT
  trap 'exit 1' INT TERM
  mkdir -p "$smb_work"/{share,run,lock,state,cache,private,ncalrpc}
  # The server's account reaches the shared folder through a world-searchable path.
  chmod 755 "$smb_work" "$smb_work/share"
  chmod 700 "$smb_work/run"
  smb_dir="$smb_work/share"
  cat >"$smb_work/smb.conf.in" <<CONF
[global]
  server role = standalone server
  pid directory = $smb_work/lock
  lock directory = $smb_work/lock
  state directory = $smb_work/state
  cache directory = $smb_work/cache
  private dir = $smb_work/private
  ncalrpc dir = $smb_work/ncalrpc
  log file = $smb_work/smbd.log
  interfaces = 127.0.0.1
  bind interfaces only = yes
  smb ports = @PORT@
  disable netbios = yes
  map to guest = Bad User
  guest account = root
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  rpc start on demand helpers = no
  smbd profiling level = count
[$smb_share]
  path = $smb_dir
  guest ok = yes
  guest only = yes
  read only = no
CONF
  smb_start_server

  # A D-Bus session of this run's own; GVfs's daemons start in it and end through the marker.
  export XDG_RUNTIME_DIR="$smb_work/run"
  export GIO_USE_VOLUME_MONITOR=unix
  export ZELO_SMB_CLIENT=$smb_token
  dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" --print-address=3 \
    3>"$smb_work/bus" </dev/null >/dev/null 2>&1 || smb_fail "dbus-daemon did not start"
  export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$smb_work/bus")
  smb_url="smb://127.0.0.1:$smb_port/$smb_share"
  smb_mount="$XDG_RUNTIME_DIR/gvfs/smb-share:port=$smb_port,server=127.0.0.1,share=$smb_share"
  smb_mount_share || {
    sed 's/^/gio: /' "$smb_work/gio.log"
    smb_skip "the share did not appear through gvfsd-fuse (FUSE or GVfs not usable here)"
  }
}
