#!/usr/bin/env bash
# The Windows daemon as a member of a team served over https: starts
# scripts/team-server.sh https on a free loopback port, keeps ann's password
# in two Subversion configuration folders (one lists the team's authority in
# its servers file, one does not), runs the Windows test program's https
# case under Wine with them, and then asks the server, with Subversion's own
# tool, for the file that case committed.
#   https_team_test.sh SOURCE_DIR TEST_PROGRAM
set -uo pipefail
source_dir=$(cd "$1" && pwd)
program=$2
team_server=$source_dir/scripts/team-server.sh
if ! [ -f /usr/lib/apache2/modules/mod_dav_svn.so ] || ! command -v svn >/dev/null; then
  echo "SKIP: Apache with mod_dav_svn, or Subversion's tool, is not installed"
  exit 77
fi
work=$(mktemp -d /tmp/korvane-https-XXXXXX)
# Apache run by root serves as www-data, which must reach the server's folder.
chmod 0711 "$work"
finish() {
  "$team_server" stop "$work/server" >/dev/null 2>&1
  rm -rf "$work"
}
trap finish EXIT
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

url=$("$team_server" https "$work/server" "$(free_port)" ann:ann-secret | tail -n 1)
[[ $url == https://127.0.0.1:* ]] || { echo "FAIL: the team server did not start: $url"; exit 1; }
authority=$work/server/ca.pem

# ann as Subversion's tool, trusting the team's authority.
as_ann() {
  svn --non-interactive --config-dir "$work/trusting" \
    --config-option "servers:global:ssl-authority-files=$authority" "$@" 2>&1
}
# Her password, in the plain store both folders share.
as_ann ls "$url" --username ann --password ann-secret \
  --config-option servers:global:store-plaintext-passwords=yes --config-option config:auth:password-stores= ||
  { echo "FAIL: ann cannot list $url"; exit 1; }
cp -r "$work/trusting" "$work/untrusting"
# The daemon reads the authority by its path on Wine's drive Z:.
printf '[global]\nssl-authority-files = Z:%s\n' "$authority" >"$work/trusting/servers"

KORVANE_TEST_TEAM_URL=$url \
  KORVANE_TEST_TEAM_CONFIG="Z:$work/trusting" \
  KORVANE_TEST_TEAM_CONFIG_NO_AUTHORITY="Z:$work/untrusting" \
  "$source_dir/scripts/wine-run.sh" "$program" --gtest_filter='ReferenceDaemonOverHttps.*' || exit 1

# The commit is on the server (a skipped case would have left nothing).
committed=$(as_ann cat "$url/plans-trusted/today.txt")
if [[ $committed != "written on Windows" ]]; then
  echo "FAIL: the server has no file from the Windows daemon: $committed"
  exit 1
fi
echo "the server holds the file the Windows daemon committed over https"
