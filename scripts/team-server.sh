#!/usr/bin/env bash
# A Korvane team server in one command: a stock Subversion server serving
# one team repository laid out for the Korvane hosting service (see
# tools/daemon/team_service.h), with its users, the in-repository access
# file the server enforces and the pre-commit hook that keeps it honest.
#
#   scripts/team-server.sh start FOLDER PORT USER:PASSWORD...   svnserve (svn://)
#   scripts/team-server.sh apache FOLDER PORT USER:PASSWORD...  Apache httpd with mod_dav_svn (http://)
#   scripts/team-server.sh stop FOLDER
#
# FOLDER holds the repository and the server's configuration; it is made
# when missing and reused when it holds a team repository already (start
# again after a stop). KORVANE_TEAM_HOST sets the address to listen on
# (default 127.0.0.1; 0.0.0.0 for a team on a network). The last line
# printed is the service URL to put in each client's daemon.conf.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
usage() { sed -n '5,8p' "$0" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1 folder=$2
shift 2
mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
host=${KORVANE_TEAM_HOST:-127.0.0.1}
repository=$folder/root/svn.halcyra.com/svn/team

make_repository() {
  [ -d "$repository/db" ] && return 0
  mkdir -p "$(dirname "$repository")"
  svnadmin create "$repository"
  local access=$folder/korvane-access users=
  for pair in "$@"; do users+="${users:+, }${pair%%:*}"; done
  cat >"$access" <<ACCESS
# Who may read and write what on this Korvane team service. Korvane keeps
# the space sections; the server enforces them.
[groups]
korvane-users = $users

[/]
\$authenticated = rw
ACCESS
  svn import -q -m "Korvane team service" "$access" "file://$repository/korvane-access"
  rm "$access"
  install -m 0755 "$here/korvane-pre-commit" "$repository/hooks/pre-commit"
}

write_users() {
  # svnserve's own user list, on the server only.
  { echo "[users]"; for pair in "$@"; do echo "${pair%%:*} = ${pair#*:}"; done; } >"$repository/conf/passwd"
  chmod 0600 "$repository/conf/passwd"
  cat >"$repository/conf/svnserve.conf" <<CONF
[general]
anon-access = none
auth-access = write
password-db = passwd
authz-db = ^/korvane-access
realm = korvane-team
CONF
}

case $command in
  start)
    [ $# -ge 2 ] || usage
    port=$1
    shift
    make_repository "$@"
    write_users "$@"
    svnserve -d -r "$folder/root" --listen-host "$host" --listen-port "$port" \
      --pid-file "$folder/svnserve.pid" --log-file "$folder/svnserve.log"
    echo "svn://$host:$port/svn.halcyra.com/svn/team"
    ;;
  apache)
    [ $# -ge 2 ] || usage
    port=$1
    shift
    command -v apache2 >/dev/null || { echo "apache2 is not installed" >&2; exit 1; }
    make_repository "$@"
    write_users "$@"
    : >"$folder/htpasswd"
    for pair in "$@"; do htpasswd -b "$folder/htpasswd" "${pair%%:*}" "${pair#*:}" 2>/dev/null; done
    modules=/usr/lib/apache2/modules
    # httpd never serves as root: then the repository is handed to www-data.
    run_as=$(id -un) run_group=$(id -gn)
    if [ "$(id -u)" -eq 0 ]; then
      run_as=www-data run_group=www-data
      chown -R www-data:www-data "$folder/root"
    fi
    cat >"$folder/httpd.conf" <<CONF
ServerRoot "$folder"
PidFile "$folder/httpd.pid"
ErrorLog "$folder/httpd-error.log"
Listen $host:$port
ServerName $host
User $run_as
Group $run_group
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
<Location /svn.halcyra.com/svn/team>
  DAV svn
  SVNPath "$repository"
  AuthType Basic
  AuthName "korvane-team"
  AuthUserFile "$folder/htpasswd"
  Require valid-user
  AuthzSVNReposRelativeAccessFile "^/korvane-access"
</Location>
CONF
    apache2 -f "$folder/httpd.conf" -k start
    echo "http://$host:$port/svn.halcyra.com/svn/team"
    ;;
  stop)
    for pid_file in "$folder/svnserve.pid" "$folder/httpd.pid"; do
      [ -f "$pid_file" ] || continue
      kill "$(cat "$pid_file")" 2>/dev/null || true
      rm -f "$pid_file"
    done
    ;;
  *) usage ;;
esac
