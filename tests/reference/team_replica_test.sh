#!/usr/bin/env bash
# A replica for a second office, made by scripts/team-server.sh replica in
# front of an Apache team server (http:// and https://), used with plain
# Subversion tools: what is written on either side is read on both, and the
# access rules hold on both.
#   team_replica_test.sh SOURCE_DIR [KIND...]   (KIND: apache, https)
set -uo pipefail
source_dir=$(cd "$1" && pwd)
shift
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(apache https)
team_server=$source_dir/scripts/team-server.sh
if ! [ -f /usr/lib/apache2/modules/mod_dav_svn.so ]; then
  echo "SKIP: Apache with mod_dav_svn is not installed"
  exit 0
fi
work=$(mktemp -d /tmp/korvane-replica-XXXXXX)
# Apache run by root serves as www-data, which must reach the servers' folders.
chmod 0711 "$work"
failures=0
finish() {
  local server
  for server in "$work"/*-replica "$work"/*-second "$work"/*-master; do
    [ ! -d "$server" ] || "$team_server" stop "$server" >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "FAIL [$kind] $*"
  failures=$((failures + 1))
}
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# A Subversion tool as USER (password: USER-secret).
as() {
  local user=$1 tool=$2
  shift 2
  "$tool" --non-interactive --no-auth-cache --config-dir "$work/config" \
    --username "$user" --password "$user-secret" "$@" 2>&1
}
mucc() {
  local user=$1
  shift
  as "$user" svnmucc -m "by hand" "$@"
}
# put USER URL TEXT: writes TEXT into the file at URL.
put() {
  echo "$3" >"$work/text"
  mucc "$1" put "$work/text" "$2"
}
# reads USER URL TEXT: whether USER reads TEXT at URL within a few seconds.
reads() {
  local tries=0
  until [ "$(as "$1" svn cat "$2")" = "$3" ]; do
    tries=$((tries + 1))
    [ $tries -lt 50 ] || return 1
    sleep 0.1
  done
}
# The answer to a read, its URL and revision taken out.
answer() { as "$1" svn cat "$2" | sed -e "s|$3||g" -e 's|!svn/rvr/[0-9]*/||g' -e 's|/svn.halcyra.com/svn/team||g'; }
access() { cat "$1/root/svn.halcyra.com/svn/team/conf/korvane-access"; }
# The clients trust the authorities of the servers made so far.
trust() {
  mkdir -p "$work/config"
  printf '[global]\nssl-authority-files = %s\n' "$(ls "$work"/*/ca.pem 2>/dev/null | paste -sd ';')" \
    >"$work/config/servers"
}

run_kind() {
  local master replica second replica_port sync_url replica_ca= tries=0

  master=$("$team_server" "$kind" "$work/$kind-master" "$(free_port)" \
    ann:ann-secret bob:bob-secret eve:eve-secret | tail -1)
  [ -n "$master" ] || { fail "the master did not start"; return; }
  trust
  mucc ann mkdir "$master/plans" propset korvane:members "$(printf 'ann\towner\n')" "$master/plans" >/dev/null &&
    mucc ann propset korvane:members "$(printf 'ann\towner\nbob\tmember\n')" "$master/plans" >/dev/null &&
    put ann "$master/plans/secret.txt" "before the replica" >/dev/null &&
    mucc eve mkdir "$master/eves" propset korvane:members "$(printf 'eve\towner\n')" "$master/eves" >/dev/null ||
    fail "the spaces cannot be made on the master"

  started=$(date +%s%N)
  replica=$(KORVANE_MASTER_FOLDER=$work/$kind-master "$team_server" replica "$work/$kind-replica" "$(free_port)" \
    "$master" \
    ann:ann-secret bob:bob-secret eve:eve-secret | tail -1)
  [ -n "$replica" ] || { fail "the replica did not start"; return; }
  [[ $replica == ${master%%://*}://* ]] || fail "the replica of $master serves $replica"
  trust
  echo "the replica started in $((($(date +%s%N) - started) / 1000000)) ms"

  # ---- Writes on either side are read on both
  # side-written USER URL-WRITTEN URL-READ
  for row in "bob $replica $master" "bob $replica $replica" "ann $master $replica" "bob $master $replica"; do
    read -r user written read <<<"$row"
    text="$user at $RANDOM$RANDOM"
    name=${written//[^a-z0-9]/}
    put "$user" "$written/plans/$name.txt" "$text" >/dev/null || fail "$user cannot write to $written"
    reads ann "$read/plans/$name.txt" "$text" || fail "written by $user to $written, not read at $read"
  done
  [ "$(svnlook youngest "$work/$kind-master/root/svn.halcyra.com/svn/team")" = \
    "$(svnlook youngest "$work/$kind-replica/root/svn.halcyra.com/svn/team")" ] || fail "the replica lags behind"

  # ---- The access rules hold on both
  check_rules() {
    local when=$1 url
    [ "$(access "$work/$kind-replica")" = "$(access "$work/$kind-master")" ] ||
      fail "$when: the replica's access rules differ"
    for url in "$master" "$replica"; do
      as eve svn cat "$url/plans/secret.txt" >/dev/null && fail "$when: eve reads plans at $url"
      as eve svn ls "$url" | grep -q plans && fail "$when: eve sees the name plans at $url"
      [ "$(answer eve "$url/plans/secret.txt" "$url")" = "$(answer eve "$master/plans/secret.txt" "$master")" ] ||
        fail "$when: $url answers eve otherwise than the master: $(answer eve "$url/plans/secret.txt" "$url")"
      as bob svn cat "$url/plans/secret.txt" >/dev/null || fail "$when: bob cannot read plans at $url"
    done
  }
  check_rules "after the writes"

  # row NAME USER refused|accepted -- SVNMUCC ARGUMENTS, through the replica
  row() {
    local name=$1 user=$2 expect=$3 output status
    shift 4
    output=$(mucc "$user" "$@")
    status=$?
    [ "$expect" = refused ] && [ $status -eq 0 ] && fail "$name: accepted"
    [ "$expect" = accepted ] && [ $status -ne 0 ] && fail "$name: refused: $output"
    check_rules "$name"
  }
  echo "planted" >"$work/planted"
  row "a member writes into another's space" bob refused -- put "$work/planted" "$replica/eves/planted.txt"
  row "an outsider writes into a space" eve refused -- put "$work/planted" "$replica/plans/planted.txt"
  row "a member makes himself owner" bob refused -- \
    propset korvane:members "$(printf 'ann\towner\nbob\towner\n')" "$replica/plans"
  row "an outsider adds herself" eve refused -- \
    propset korvane:members "$(printf 'ann\towner\nbob\tmember\neve\tmember\n')" "$replica/plans"
  row "a new space" ann accepted -- \
    mkdir "$replica/new" propset korvane:members "$(printf 'ann\towner\n')" "$replica/new"
  as bob svn ls "$replica/new" >/dev/null && fail "bob reads ann's new space on the replica"
  mucc ann propset korvane:members "$(printf 'ann\towner\n')" "$replica/plans" >/dev/null ||
    fail "ann cannot remove bob"
  as bob svn cat "$replica/plans/secret.txt" >/dev/null && fail "bob, removed, still reads plans on the replica"
  mucc ann propset korvane:members "$(printf 'ann\towner\nbob\tmember\n')" "$master/plans" >/dev/null
  check_rules "bob invited again"
  row "the owner deletes a space" eve accepted -- rm "$replica/eves"
  [ "$(cat "$work/$kind-replica/root/svn.halcyra.com/svn/team/conf/korvane-closed-spaces")" = \
    "$(cat "$work/$kind-master/root/svn.halcyra.com/svn/team/conf/korvane-closed-spaces")" ] ||
    fail "the replica keeps other closed names"

  # ---- Only svnsync writes the replica's repository
  mirror=$work/$kind-replica/root/svn.halcyra.com/svn/team
  mucc ann mkdir "file://$mirror/direct" >/dev/null && fail "a direct commit to the replica's repository landed"
  as bob svn propset --revprop -r 1 svn:log forged "${replica/\/svn.halcyra.com//korvane-sync/svn.halcyra.com}" \
    >/dev/null && fail "bob changes a revision through the replica's sync location"
  [ "$(svnlook youngest "$mirror")" = "$(svnlook youngest "$work/$kind-master/root/svn.halcyra.com/svn/team")" ] ||
    fail "the replica's history differs from the master's"

  # ---- The administrator's repair keeps a replica a replica
  "$team_server" repair "$work/$kind-replica" >/dev/null || fail "repair fails on the replica"
  mucc ann mkdir "$master/later" propset korvane:members "$(printf 'ann\towner\n')" "$master/later" >/dev/null
  as ann svn ls "$replica/later" >/dev/null || fail "a new space does not reach the replica after its repair"
  check_rules "after the repair"

  # ---- A replica that was down catches up; one made on its own is added on the master
  "$team_server" stop "$work/$kind-replica"
  replica_port=${replica#*://127.0.0.1:}
  replica_port=${replica_port%%/*}
  while (: <"/dev/tcp/127.0.0.1/$replica_port") 2>/dev/null && [ $((tries += 1)) -lt 100 ]; do sleep 0.1; done
  put ann "$master/plans/while-down.txt" "while the replica was down" >/dev/null ||
    fail "the master fails without its replica"
  KORVANE_MASTER_FOLDER=$work/$kind-master "$team_server" replica "$work/$kind-replica" "$replica_port" \
    "$master" \
    ann:ann-secret bob:bob-secret eve:eve-secret >/dev/null || fail "the replica does not start again"
  reads bob "$replica/plans/while-down.txt" "while the replica was down" || fail "the replica did not catch up"
  second=$(KORVANE_MASTER_CA=$work/$kind-master/ca.pem "$team_server" replica "$work/$kind-second" "$(free_port)" \
    "$master" ann:ann-secret bob:bob-secret eve:eve-secret 2>"$work/said" | tail -1)
  trust
  sync_url=$(grep -oE 'https?://[^ ]*/korvane-sync/[^ ]*' "$work/said")
  [ "$kind" = apache ] || replica_ca=$work/$kind-second/ca.pem
  "$team_server" add-replica "$work/$kind-master" "$sync_url" "$(cat "$work/$kind-second/sync-password")" \
    ${replica_ca:-} >/dev/null ||
    fail "the master does not add the second replica: $(cat "$work/said")"
  reads bob "$second/plans/while-down.txt" "while the replica was down" || fail "the second replica lacks the history"
  put ann "$master/plans/both.txt" "to both" >/dev/null
  reads bob "$second/plans/both.txt" "to both" && reads bob "$replica/plans/both.txt" "to both" ||
    fail "a commit does not reach both replicas"
  as eve svn ls "$second" >/dev/null || fail "the second replica does not serve eve"
  as eve svn cat "$second/plans/both.txt" >/dev/null && fail "eve reads plans on the second replica"
}

for kind in "${kinds[@]}"; do run_kind; done

[ $failures -eq 0 ] && echo "the replica serves what the master serves" || echo "$failures failures"
[ $failures -eq 0 ]
