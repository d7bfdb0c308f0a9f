#!/usr/bin/env bash
# A Korvane team server in one command: a stock Subversion server serving
# one team repository laid out for the Korvane hosting service (see
# daemon/hosting/team_repository.h), with its users and our hook, which renders
# the access rules the server enforces from the spaces' members.
#
#   scripts/team-server.sh https FOLDER PORT USER:PASSWORD...   Apache httpd with mod_ssl (https://)
#   scripts/team-server.sh apache FOLDER PORT USER:PASSWORD...  Apache httpd with mod_dav_svn (http://)
#   scripts/team-server.sh start FOLDER PORT USER:PASSWORD...   svnserve (svn://)
#   scripts/team-server.sh replica FOLDER PORT MASTER_URL USER:PASSWORD...
#                                        a read replica of an apache or https server
#   scripts/team-server.sh add-replica FOLDER SYNC_URL PASSWORD [REPLICA_CA]
#                                        the master's half of it
#   scripts/team-server.sh stop FOLDER
#   scripts/team-server.sh repair FOLDER                        render the access rules again
#
# https is for anything beyond one machine: over http:// every request
# carries its user's password in clear, over svn:// files travel in clear.
# https makes a certificate authority of its own in FOLDER/ca.pem and a
# certificate for the server's name signed by it; give ca.pem to the team.
#
# replica is for a second office with a slow link to the master: Apache
# with mod_dav_svn serves reads from a copy of the repository there and
# forwards every write to the master (SVNMasterURI). The master's
# post-commit hook brings each commit to its replicas with svnsync before
# the committer hears of it, and each replica renders the same access rules
# from the same history. Give the replica the master's users and passwords.
# The master's half, add-replica, registers the replica with the master;
# svnsync reads the master's repository directly, so no user needs to read
# every space. replica prints that command with the replica's sync URL,
# or, when KORVANE_MASTER_FOLDER names the master's FOLDER on this machine,
# runs it. A replica of an https master serves https with an authority of
# its own (FOLDER/ca.pem, for the second office and add-replica) and trusts
# the master by KORVANE_MASTER_CA (default: KORVANE_MASTER_FOLDER/ca.pem).
#
# FOLDER holds the repository and the server's configuration, readable by
# the server's user only; it is made when missing and reused when it holds
# a team repository already (start again after a stop). KORVANE_TEAM_HOST
# sets the address to listen on (default 127.0.0.1; 0.0.0.0 for a team on a
# network) and KORVANE_TEAM_NAME the name clients reach it by (default: the
# address, or the host's name when listening on every address). User names
# hold ASCII letters, digits, ".", "_" and "-" and start with a letter, a
# digit or "_" (daemon/README.md, "Names"). The last line printed is
# the service URL to put in each client's daemon.conf.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
usage() { sed -n '7,16p' "$0" >&2; exit 2; }
fail() { echo "team-server.sh: $*" >&2; exit 1; }
[ $# -ge 2 ] || usage
command=$1 folder=$2
shift 2
host=${KORVANE_TEAM_HOST:-127.0.0.1}
name=${KORVANE_TEAM_NAME:-$host}
[ "$name" != 0.0.0.0 ] && [ "$name" != "::" ] || name=$(hostname -f 2>/dev/null || hostname)
server_author=korvane-server
# The one user who writes a replica's repository: svnsync, run by the master.
sync_user=korvane-sync

# The user the server runs as: httpd never serves as root, so Apache run by
# root serves as www-data; svnserve serves as whoever starts it.
server_user=$(id -un) server_group=$(id -gn)
if [ "$(id -u)" -eq 0 ] && { [ "$command" = apache ] || [ "$command" = https ] || [ "$command" = replica ]; }; then
  server_user=www-data server_group=www-data
fi

prepare_folder() {
  mkdir -p "$folder"
  folder=$(cd "$folder" && pwd)
  repository=$folder/root/svn.halcyra.com/svn/team
}

check_users() {
  [ $# -ge 1 ] || usage
  for pair in "$@"; do
    local user=${pair%%:*}
    [[ $pair == *:* && -n ${pair#*:} ]] || fail "\"$pair\" is not USER:PASSWORD"
    [[ $user =~ ^[A-Za-z0-9_][A-Za-z0-9._-]{0,63}$ ]] ||
      fail "\"$user\" is not a user name: ASCII letters, digits, \".\", \"_\", \"-\", starting with a letter, a digit or \"_\""
    [ "$user" != "$server_author" ] || fail "$server_author is the server's own name, not a user's"
    [ "$user" != "$sync_user" ] || fail "$sync_user is the replicas' own name, not a user's"
  done
}

install_hooks() {
  install -m 0755 "$here/korvane-hook" "$repository/hooks/korvane-hook"
  # A commit inside spaces only (a sync's usual commit) leaves the access
  # rules as they are: the shell sees to it without starting Python, and
  # refuses members below a space's top folder as korvane-hook would, with
  # a few calls whatever the number of files.
  cat >"$repository/hooks/pre-commit" <<'HOOK'
#!/bin/sh
# Korvane: the access rules are rendered from the spaces' members.
PATH=/usr/local/bin:/usr/bin:/bin
changed=$(svnlook changed --copy-info -t "$2" "$1" | grep -v '^    ') || exit 1
if [ -n "$(printf '%s\n' "$changed" | cut -c5- | grep -v '^[^/]*/.')" ]; then
  exec python3 "$1/hooks/korvane-hook" pre-commit "$1" "$2"
fi
# Members set, changed, added or copied anywhere below a space's top
# folder. Only an added or replaced path, or one whose properties changed,
# can carry them. A few added paths are asked one by one; more, or a
# property change (compared with the revision the commit is based on), are
# judged by korvane-hook in one process that reads every changed path.
below=
added=$(printf '%s\n' "$changed" | grep '^[AR]' | cut -c5-)
if [ -n "$(printf '%s\n' "$changed" | grep '^.U')" ] || [ "$(printf '%s\n' "$added" | grep -c .)" -gt 16 ]; then
  below=$(python3 "$1/hooks/korvane-hook" members-below "$1" "$2") || exit 1
elif [ -n "$added" ]; then
  below=$(printf '%s\n' "$added" | while IFS= read -r path; do
    if svnlook propget -t "$2" "$1" korvane:members "/${path%/}" >/dev/null 2>&1; then echo "${path%/}"; break; fi
  done)
fi
if [ -n "$below" ]; then
  echo "Korvane: members are kept on a space's top folder only, not on $below" >&2
  exit 1
fi
HOOK
  cat >"$repository/hooks/post-commit" <<'HOOK'
#!/bin/sh
PATH=/usr/local/bin:/usr/bin:/bin
# Each replica (conf/korvane-replicas, one svnsync URL a line) takes the
# commit before the committer hears of it, so that what one reads back
# there is at least what one wrote; first, since the machines reading the
# replica wait for it. One sync at a time: this lock, which every svnsync
# of a replica here takes (add-replica too), so svnsync's own lock, two
# more revision property changes on the replica a commit, is left out.
# Each sync is bounded, and a replica that misses one catches up with the
# next.
replicas=$1/conf/korvane-replicas
if [ -s "$replicas" ]; then
  exec 9<"$replicas"
  flock 9
  while IFS= read -r url; do
    timeout 60 svnsync sync --non-interactive --disable-locking --config-dir "$1/conf/korvane-replica-auth" \
      "$url" "file://$1" >/dev/null 2>>"$1/conf/korvane-replicas.log" ||
      echo "r$2: $url did not take it" >>"$1/conf/korvane-replicas.log"
  done <"$replicas"
  exec 9<&-
fi
# Korvane: the access rules are rendered again when a commit changed the top.
if [ -n "$(svnlook changed -r "$2" "$1" | cut -c5- | grep -v '^[^/]*/.')" ]; then
  python3 "$1/hooks/korvane-hook" post-commit "$1" "$2"
fi
exit 0
HOOK
  chmod 0755 "$repository/hooks/pre-commit" "$repository/hooks/post-commit"
}

make_repository() {
  if [ ! -d "$repository/db" ]; then
    mkdir -p "$(dirname "$repository")"
    svnadmin create "$repository"
  fi
  install_hooks
  # The users the service lists (find-users): a property of the top folder,
  # which only the server changes.
  local users=
  for pair in "$@"; do users+="${pair%%:*}"$'\n'; done
  users=$(sort -u <<<"$users")$'\n'
  if [ "$(svnlook propget "$repository" korvane:users / 2>/dev/null)"$'\n' != "$users" ]; then
    svnmucc --username "$server_author" -m "Korvane team service: users" \
      propset korvane:users "$users" "file://$repository" >/dev/null
  fi
  [ -f "$repository/conf/korvane-access" ] || "$repository/hooks/korvane-hook" render "$repository"
}

# The server's folder is the server user's alone; its user must reach it.
hand_to_server_user() {
  chown -R "$server_user:$server_group" "$folder"
  chmod 0700 "$folder"
  if [ "$server_user" != "$(id -un)" ] &&
    ! runuser -u "$server_user" -- test -r "$repository/conf/korvane-access" 2>/dev/null; then
    fail "$server_user, the user the server runs as, cannot reach $folder: a folder above it is closed to that user (see: namei -l $folder). Choose a folder it can reach, for example under /srv."
  fi
}

# A replica's repository takes commits from svnsync only (as the sync
# user, who alone changes revision properties); the master judged them.
install_replica_hooks() {
  install -m 0755 "$here/korvane-hook" "$repository/hooks/korvane-hook"
  cat >"$repository/hooks/start-commit" <<HOOK
#!/bin/sh
[ "\$2" = $sync_user ] && exit 0
echo "Korvane: this is a replica; its commits come from the master" >&2
exit 1
HOOK
  cat >"$repository/hooks/pre-revprop-change" <<HOOK
#!/bin/sh
[ "\$3" = $sync_user ] && exit 0
echo "Korvane: this is a replica; its revisions come from the master" >&2
exit 1
HOOK
  cat >"$repository/hooks/pre-commit" <<'HOOK'
#!/bin/sh
# Korvane: a new space is closed to everyone else before it lands.
PATH=/usr/local/bin:/usr/bin:/bin
if [ -n "$(svnlook changed -t "$2" "$1" | cut -c5- | grep -v '^[^/]*/.')" ]; then
  exec python3 "$1/hooks/korvane-hook" replica-pre-commit "$1" "$2"
fi
HOOK
  cat >"$repository/hooks/post-commit" <<'HOOK'
#!/bin/sh
# Korvane: the access rules are rendered again when a commit changed the top.
PATH=/usr/local/bin:/usr/bin:/bin
if [ -n "$(svnlook changed -r "$2" "$1" | cut -c5- | grep -v '^[^/]*/.')" ]; then
  exec python3 "$1/hooks/korvane-hook" post-commit "$1" "$2"
fi
HOOK
  chmod 0755 "$repository"/hooks/{start-commit,pre-revprop-change,pre-commit,post-commit}
}

make_replica_repository() {
  if [ ! -d "$repository/db" ]; then
    mkdir -p "$(dirname "$repository")"
    svnadmin create "$repository"
  fi
  install_replica_hooks
  [ -f "$repository/conf/korvane-access" ] || "$repository/hooks/korvane-hook" render "$repository"
  # The sync user's password: made once, kept for the next start.
  [ -s "$folder/sync-password" ] || (umask 077 && openssl rand -hex 24 >"$folder/sync-password")
}

write_svnserve_config() {
  { echo "[users]"; for pair in "$@"; do echo "${pair%%:*} = ${pair#*:}"; done; } >"$repository/conf/passwd"
  chmod 0600 "$repository/conf/passwd"
  cat >"$repository/conf/svnserve.conf" <<CONF
[general]
anon-access = none
auth-access = write
password-db = passwd
authz-db = korvane-access
realm = korvane-team
CONF
}

make_certificate() {
  local tls=$folder/tls
  mkdir -p "$tls"
  if [ ! -f "$tls/ca.key" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Korvane team CA $name" \
      -keyout "$tls/ca.key" -out "$folder/ca.pem" 2>/dev/null
  fi
  if [ ! -f "$tls/server.pem" ] || ! grep -qx "$name" "$tls/server.name" 2>/dev/null; then
    # Subversion's HTTP library (serf) matches an address against the DNS
    # names only, so an address is listed as both.
    local alt="DNS:$name,DNS:localhost,IP:127.0.0.1"
    if [[ $name =~ ^[0-9.]+$ || $name == *:* ]]; then alt+=",IP:$name"; fi
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$name" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$alt" >"$tls/server.ext"
    openssl x509 -req -in "$tls/server.csr" -CA "$folder/ca.pem" -CAkey "$tls/ca.key" \
      -CAserial "$tls/ca.srl" -CAcreateserial \
      -days 825 -extfile "$tls/server.ext" -out "$tls/server.pem" 2>/dev/null
    echo "$name" >"$tls/server.name"
  fi
  chmod 0600 "$tls"/*.key
}

# write_apache_config TLS MASTER_URL USER:PASSWORD... (MASTER_URL empty
# but on a replica)
write_apache_config() {
  local tls=$1 master_url=$2
  shift 2
  : >"$folder/htpasswd"
  for pair in "$@"; do htpasswd -b "$folder/htpasswd" "${pair%%:*}" "${pair#*:}" 2>/dev/null; done
  [ -z "$master_url" ] || htpasswd -b "$folder/htpasswd" "$sync_user" "$(cat "$folder/sync-password")" 2>/dev/null
  chmod 0600 "$folder/htpasswd"
  local modules=/usr/lib/apache2/modules
  {
    cat <<CONF
ServerRoot "$folder"
PidFile "$folder/httpd.pid"
ErrorLog "$folder/httpd-error.log"
Listen $host:$port
ServerName $name
User $server_user
Group $server_group
DefaultRuntimeDir "$folder"
LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authn_core_module $modules/mod_authn_core.so
LoadModule authn_file_module $modules/mod_authn_file.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule authz_user_module $modules/mod_authz_user.so
LoadModule auth_basic_module $modules/mod_auth_basic.so
LoadModule dav_module $modules/mod_dav.so
LoadModule dav_svn_module $modules/mod_dav_svn.so
LoadModule authz_svn_module $modules/mod_authz_svn.so
CONF
    if [ -n "$master_url" ]; then
      cat <<CONF
LoadModule proxy_module $modules/mod_proxy.so
LoadModule proxy_http_module $modules/mod_proxy_http.so
CONF
    fi
    if [ "$tls" = yes ]; then
      cat <<CONF
LoadModule socache_shmcb_module $modules/mod_socache_shmcb.so
LoadModule ssl_module $modules/mod_ssl.so
SSLSessionCache "shmcb:$folder/ssl-cache(512000)"
SSLEngine on
SSLProtocol -all +TLSv1.2 +TLSv1.3
SSLCertificateFile "$folder/tls/server.pem"
SSLCertificateKeyFile "$folder/tls/server.key"
CONF
    fi
    if [[ $master_url == https://* ]]; then
      # Writes go on to the master over https, to the master's certificate
      # only (its authority's, for its name).
      cat <<CONF
SSLProxyEngine on
SSLProxyVerify require
SSLProxyVerifyDepth 2
SSLProxyCheckPeerName on
SSLProxyCACertificateFile "$folder/master-ca.pem"
CONF
    fi
    cat <<CONF
<Location /svn.halcyra.com/svn/team>
  DAV svn
  SVNPath "$repository"
  AuthType Basic
  AuthName "korvane-team"
  AuthUserFile "$folder/htpasswd"
  Require valid-user
  AuthzSVNAccessFile "$repository/conf/korvane-access"
CONF
    if [ -n "$master_url" ]; then
      # Reads are served here, writes forwarded to the master as they came
      # (with their user's credentials); svnsync alone writes here, at a
      # location of its own.
      cat <<CONF
  SVNMasterURI "$master_url"
</Location>
<Location /$sync_user/svn.halcyra.com/svn/team>
  DAV svn
  SVNPath "$repository"
  AuthType Basic
  AuthName "korvane-replica-sync"
  AuthUserFile "$folder/htpasswd"
  Require user $sync_user
CONF
    fi
    echo "</Location>"
  } >"$folder/httpd.conf"
}

# register_replica MASTER_REPOSITORY SYNC_URL PASSWORD [REPLICA_CA]: the
# master's half, on the master's machine. The replica at SYNC_URL is listed
# for the master's post-commit and brought up to date, as the master's user
# and under that hook's lock; svnsync reads the master's repository
# directly. An https replica is trusted by its authority's certificate.
register_replica() {
  local master_repository=$1 sync_url=$2 password=$3 replica_ca=${4:-} master_owner
  master_owner=$(stat -c %U "$master_repository/db")
  local replicas=$master_repository/conf/korvane-replicas auth=$master_repository/conf/korvane-replica-auth
  local origin=${sync_url%%/$sync_user/*}
  as_master() { if [ "$(id -un)" = "$master_owner" ]; then "$@"; else runuser -u "$master_owner" -- "$@"; fi; }
  mkdir -p -m 0700 "$auth"
  if [ -n "$replica_ca" ]; then
    [ -f "$replica_ca" ] || fail "$replica_ca is not the replica's ca.pem"
    local label=${origin#https://}
    cp "$replica_ca" "$auth/replica-${label//[^A-Za-z0-9.-]/_}.pem"
  fi
  local authorities
  authorities=$(find "$auth" -maxdepth 1 -name 'replica-*.pem' | sort | paste -sd ';')
  printf '[global]\nstore-plaintext-passwords = yes\nssl-authority-files = %s\n' "$authorities" >"$auth/servers"
  chown -R "$master_owner" "$auth"
  # A replica made again in the same place has a new sync password.
  grep -lsF "<$origin> korvane-replica-sync" "$auth"/auth/svn.simple/* | xargs -r rm -f || true
  touch "$replicas"
  chown "$master_owner" "$replicas"
  grep -qxF "$sync_url" "$replicas" || echo "$sync_url" >>"$replicas"
  # The master's hooks of this script, which push to the replicas.
  (repository=$master_repository && install_hooks)
  chown "$master_owner" "$master_repository"/hooks/*
  local svnsync=(svnsync --non-interactive --config-dir "$auth"
    --sync-username "$sync_user" --sync-password "$password")
  if ! as_master "${svnsync[@]}" info "$sync_url" >/dev/null 2>&1; then
    as_master "${svnsync[@]}" initialize "$sync_url" "file://$master_repository" >/dev/null ||
      fail "svnsync cannot initialize the replica at $sync_url"
  fi
  as_master flock "$replicas" "${svnsync[@]}" --disable-locking sync "$sync_url" "file://$master_repository" >/dev/null ||
    fail "svnsync cannot bring the replica at $sync_url up to date"
}

wait_for_port() {
  local probe=$host waited=0
  [ "$probe" != 0.0.0.0 ] || probe=127.0.0.1
  until (: <"/dev/tcp/$probe/$port") 2>/dev/null || [ $waited -ge 100 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
}

url_host() { if [[ $name == *:* ]]; then echo "[$name]"; else echo "$name"; fi; }

case $command in
  start)
    [ $# -ge 2 ] || usage
    port=$1
    shift
    check_users "$@"
    prepare_folder
    make_repository "$@"
    write_svnserve_config "$@"
    hand_to_server_user
    svnserve -d -r "$folder/root" --listen-host "$host" --listen-port "$port" \
      --pid-file "$folder/svnserve.pid" --log-file "$folder/svnserve.log"
    echo "svn://$(url_host):$port/svn.halcyra.com/svn/team"
    ;;
  apache | https)
    [ $# -ge 2 ] || usage
    port=$1
    shift
    check_users "$@"
    command -v apache2 >/dev/null || fail "apache2 is not installed (scripts/install-dependencies.sh installs it)"
    prepare_folder
    make_repository "$@"
    tls=no scheme=http
    if [ "$command" = https ]; then
      command -v openssl >/dev/null || fail "openssl is not installed"
      make_certificate
      tls=yes scheme=https
    fi
    write_apache_config "$tls" "" "$@"
    hand_to_server_user
    [ "$tls" = no ] || chmod 0644 "$folder/ca.pem"
    apache2 -f "$folder/httpd.conf" -k start
    echo "$scheme://$(url_host):$port/svn.halcyra.com/svn/team"
    ;;
  replica)
    [ $# -ge 3 ] || usage
    port=$1 master_url=${2%/}
    shift 2
    check_users "$@"
    command -v apache2 >/dev/null || fail "apache2 is not installed (scripts/install-dependencies.sh installs it)"
    if [ -n "${KORVANE_MASTER_FOLDER:-}" ]; then
      master_repository=$(cd "$KORVANE_MASTER_FOLDER" 2>/dev/null && pwd)/root/svn.halcyra.com/svn/team
      [ -d "$master_repository/db" ] || fail "$KORVANE_MASTER_FOLDER holds no team repository"
    fi
    # A replica of an https master serves https too, with a certificate
    # authority of its own, and trusts the master's (its ca.pem).
    tls=no scheme=http
    case $master_url in
      http://*) ;;
      https://*)
        tls=yes scheme=https
        master_ca=${KORVANE_MASTER_CA:-${KORVANE_MASTER_FOLDER:+$KORVANE_MASTER_FOLDER/ca.pem}}
        [ -n "$master_ca" ] && [ -f "$master_ca" ] || fail "KORVANE_MASTER_CA names the master's ca.pem"
        ;;
      *) fail "the master is an apache or https team server: the replica forwards writes to it over HTTP" ;;
    esac
    prepare_folder
    make_replica_repository
    if [ "$tls" = yes ]; then
      command -v openssl >/dev/null || fail "openssl is not installed"
      make_certificate
      cp "$master_ca" "$folder/master-ca.pem"
    fi
    write_apache_config "$tls" "$master_url" "$@"
    hand_to_server_user
    [ "$tls" = no ] || chmod 0644 "$folder/ca.pem"
    apache2 -f "$folder/httpd.conf" -k start
    sync_url="$scheme://$(url_host):$port/$sync_user/svn.halcyra.com/svn/team"
    replica_ca=
    [ "$tls" = no ] || replica_ca=$folder/ca.pem
    if [ -n "${KORVANE_MASTER_FOLDER:-}" ]; then
      wait_for_port
      register_replica "$master_repository" "$sync_url" "$(cat "$folder/sync-password")" ${replica_ca:+"$replica_ca"}
    else
      what="the password in $folder/sync-password"
      [ -z "$replica_ca" ] || what+=" and a copy of $replica_ca"
      echo "On the master's machine, with $what:" >&2
      echo "  scripts/team-server.sh add-replica MASTER_FOLDER $sync_url PASSWORD${replica_ca:+ REPLICA_CA}" >&2
    fi
    echo "$scheme://$(url_host):$port/svn.halcyra.com/svn/team"
    ;;
  add-replica)
    [ $# -eq 2 ] || [ $# -eq 3 ] || usage
    prepare_folder
    [ -d "$repository/db" ] || fail "$folder holds no team repository"
    register_replica "$repository" "$@"
    echo "$1 takes every commit from now on"
    ;;
  repair)
    prepare_folder
    [ -d "$repository/db" ] || fail "$folder holds no team repository"
    # A replica keeps a replica's hooks (its sync password marks it).
    if [ -f "$folder/sync-password" ]; then install_replica_hooks; else install_hooks; fi
    owner=$(stat -c %U:%G "$repository/db")
    "$repository/hooks/korvane-hook" render "$repository"
    chown "$owner" "$repository/conf/korvane-access" "$repository/conf/korvane-closed-spaces"
    echo "rendered $repository/conf/korvane-access again"
    ;;
  stop)
    prepare_folder
    for pid_file in "$folder/svnserve.pid" "$folder/httpd.pid"; do
      [ -f "$pid_file" ] || continue
      kill "$(cat "$pid_file")" 2>/dev/null || true
      rm -f "$pid_file"
    done
    ;;
  *) usage ;;
esac
