#!/usr/bin/env bash
# Hostile members of a team, against the servers scripts/team-server.sh
# makes (svnserve, Apache over http:// and over https://), with plain
# Subversion tools: one table of attacks, each judged by its effects. After
# every row, accepted or refused: the server's access rules still parse
# (svnauthz validate), the server still serves every user, who may read and
# write what is unchanged (the row's own effect aside), nobody outside a
# space learns of it, and the owner's working copy keeps its files.
#   team_hostile_test.sh SOURCE_DIR [KIND...]   (KIND: start, apache, https)
set -uo pipefail
source_dir=$(cd "$1" && pwd)
shift
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(start apache https)
work=$(mktemp -d /tmp/korvane-hostile-XXXXXX)
# Apache run by root serves as www-data, which must reach the server's folder.
chmod 0711 "$work"
failures=0
server=
finish() {
  [ -z "$server" ] || "$source_dir/scripts/team-server.sh" stop "$server" >/dev/null 2>&1
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "FAIL [$kind] $*"
  failures=$((failures + 1))
}

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Each user's Subversion configuration; for https the team's CA is trusted
# the way the README says.
config_for() {
  local config=$work/$kind-config-$1
  if [ ! -d "$config" ]; then
    mkdir -p "$config"
    printf '[auth]\npassword-stores =\n' >"$config/config"
    if [ "$kind" = https ]; then
      printf '[global]\nssl-authority-files = %s\n' "$server/ca.pem" >"$config/servers"
    fi
  fi
  echo "$config"
}

# A Subversion tool as USER (password: USER-secret).
as() {
  local user=$1 tool=$2
  shift 2
  "$tool" --non-interactive --no-auth-cache --config-dir "$(config_for "$user")" \
    --username "$user" --password "$user-secret" "$@" 2>&1
}
mucc() {
  local user=$1
  shift
  as "$user" svnmucc -m "by hand" "$@"
}
members() { printf "$1"; }

can_read() { as "$1" svn cat "$url/$2" >/dev/null 2>&1; }
can_write() {
  local stamp=$RANDOM$RANDOM
  echo "$stamp" >"$work/stamp"
  mucc "$1" put "$work/stamp" "$url/$2/written-by-$1-$stamp" >/dev/null 2>&1
}

# What must hold after every row.
check_invariants() {
  local row=$1 access=$repository/conf/korvane-access
  svnauthz validate "$access" >/dev/null 2>&1 || fail "$row: the access rules do not parse: $(cat "$access")"
  for user in ann bob carl eve; do
    as "$user" svn ls "$url" >/dev/null || fail "$row: the server no longer serves $user"
  done
  can_read ann plans/secret.txt || fail "$row: ann, the owner, cannot read plans"
  can_read bob plans/secret.txt || fail "$row: bob, a member, cannot read plans"
  can_read eve plans/secret.txt && fail "$row: eve reads plans"
  can_read carl plans/secret.txt && fail "$row: carl reads plans"
  as eve svn ls "$url" | grep -q plans && fail "$row: eve sees the name plans"
  as eve svn log -v "$url" | grep -qE "plans|secret|korvane:members" && fail "$row: eve's log of the root shows plans"
  as eve svn cat "$url/korvane-access" >/dev/null 2>&1 && fail "$row: eve reads korvane-access"
  as eve svn proplist -v "$url/plans" >/dev/null 2>&1 && fail "$row: eve reads the members of plans"
  as ann svn update -q "$work/$kind-ann-plans" >/dev/null || fail "$row: ann's update fails"
  [ "$(cat "$work/$kind-ann-plans/secret.txt" 2>/dev/null)" = "only for the plans team" ] ||
    fail "$row: ann's secret.txt left her disk"
  [ "$(as ann svn propget korvane:members "$url/plans")" = "$(printf 'ann\towner\nbob\tmember')" ] ||
    fail "$row: the members of plans changed: $(as ann svn propget korvane:members "$url/plans")"
}

# row NAME USER accepted|refused [WORDS] -- SVNMUCC ARGUMENTS
row() {
  local name=$1 user=$2 expect=$3 words=
  shift 3
  if [ "$1" != -- ]; then words=$1; shift; fi
  shift
  local output status
  output=$(mucc "$user" "$@")
  status=$?
  if [ "$expect" = accepted ] && [ $status -ne 0 ]; then fail "$name: refused: $output"; fi
  if [ "$expect" = refused ] && [ $status -eq 0 ]; then fail "$name: accepted"; fi
  if [ -n "$words" ] && ! grep -qF -- "$words" <<<"$output"; then fail "$name: not refused with \"$words\": $output"; fi
  check_invariants "$name"
}

run_kind() {
  server=$work/$kind-server
  local port
  port=$(free_port)
  url=$("$source_dir/scripts/team-server.sh" "$kind" "$server" "$port" \
    ann:ann-secret bob:bob-secret carl:carl-secret eve:eve-secret | tail -1)
  repository=$server/root/svn.halcyra.com/svn/team
  [ -n "$url" ] || { fail "the server did not start"; return; }
  [ "$(stat -c %a "$server")" = 700 ] || fail "the server's folder is open to others: $(stat -c %a "$server")"
  [ "$kind" != https ] || [[ $url == https://* ]] || fail "https serves $url"

  echo "only for the plans team" >"$work/secret"
  mucc ann mkdir "$url/plans" propset korvane:members "$(members 'ann\towner\n')" "$url/plans" \
    put "$work/secret" "$url/plans/secret.txt" >/dev/null || { fail "ann cannot make plans"; return; }
  mucc ann propset korvane:members "$(members 'ann\towner\nbob\tmember\n')" "$url/plans" >/dev/null ||
    fail "ann cannot invite bob"
  mucc eve mkdir "$url/eves" propset korvane:members "$(members 'eve\towner\n')" "$url/eves" >/dev/null ||
    fail "eve cannot make a space of her own"
  as ann svn checkout -q "$url/plans" "$work/$kind-ann-plans" >/dev/null || fail "ann cannot check plans out"
  echo "old words" >"$work/old"
  mucc ann mkdir "$url/old" propset korvane:members "$(members 'ann\towner\n')" "$url/old" \
    put "$work/old" "$url/old/words.txt" >/dev/null || fail "ann cannot make old"
  local old_revision
  old_revision=$(as ann svn info --show-item revision "$url/old")
  check_invariants "set-up"

  # ---- Names that would break or widen the access rules
  row "a member named like a section header" eve refused "breaks the rule" -- \
    propset korvane:members "$(members 'eve\towner\n[/plans] x\towner\n')" "$url/eves"
  row "a member named like a section header, alone on its line" eve refused -- \
    propset korvane:members "$(members 'eve\towner\n[/plans]\nbob\towner\n')" "$url/eves"
  for member in '@nobody' '*' '$authenticated' '$anonymous' '~eve' '&alias' 'eve = rw' 'a:b' '.eve' ' eve'; do
    row "the member \"$member\"" eve refused -- \
      propset korvane:members "eve"$'\t'"owner"$'\n'"$member"$'\t'"member"$'\n' "$url/eves"
  done
  row "the role admin" eve refused -- propset korvane:members "$(members 'eve\towner\ncarl\tadmin\n')" "$url/eves"
  for space in 'plans]' '[plans' 'x]y' 'PLANS' 'Plans' 'a:b' 'CON' 'trail.' ' lead' 'nul.txt' "$(printf 'a\tb')" \
    "$(printf 'Pla\xcc\x88ne')" "$(printf 'x%.0s' {1..101})" korvane-access; do
    row "the space \"$space\"" eve refused -- \
      mkdir "$url/$space" propset korvane:members "$(members 'eve\towner\n')" "$url/$space"
  done
  row "a space owned by someone else than its maker" eve refused -- \
    mkdir "$url/gift" propset korvane:members "$(members 'eve\towner\nann\towner\n')" "$url/gift"
  row "a space without members" eve refused -- mkdir "$url/open"

  # ---- Members and owners
  row "a member makes himself owner" bob refused "bob is not the owner of the space plans" -- \
    propset korvane:members "$(members 'ann\towner\nbob\towner\n')" "$url/plans"
  row "a member invites a friend" bob refused "bob is not the owner of the space plans" -- \
    propset korvane:members "$(members 'ann\towner\nbob\tmember\ncarl\tmember\n')" "$url/plans"
  row "a member removes the owner" bob refused -- propset korvane:members "$(members 'bob\towner\n')" "$url/plans"
  row "members below a space's top folder" bob refused "top folder only" -- \
    mkdir "$url/plans/mine" propset korvane:members "$(members 'bob\towner\n')" "$url/plans/mine"
  row "members on a file below the top" bob refused -- \
    propset korvane:members "$(members 'bob\towner\n')" "$url/plans/secret.txt"
  # Past a few added paths, or with a property changed, the hook reads the
  # commit in one process: the same rows through that path.
  local many=() each
  for each in $(seq 1 20); do many+=(mkdir "$url/plans/many$each"); done
  row "members below the top among many new folders" bob refused "top folder only" -- \
    "${many[@]}" propset korvane:members "$(members 'bob\towner\n')" "$url/plans/many20"
  row "a member copies the space into itself" bob refused "top folder only" -- cp HEAD "$url/plans" "$url/plans/copy"
  row "a member sets another property below the top" bob accepted -- propset colour blue "$url/plans/secret.txt"
  row "a member adds many folders at once" bob accepted -- "${many[@]}"
  row "the only owner leaves" ann refused "keeps at least one owner" -- \
    propset korvane:members "$(members 'bob\tmember\n')" "$url/plans"
  row "an outsider adds herself" eve refused -- \
    propset korvane:members "$(members 'ann\towner\nbob\tmember\neve\towner\n')" "$url/plans"
  row "an outsider writes into a space" eve refused -- put "$work/secret" "$url/plans/planted.txt"
  row "an outsider copies a space away" eve refused -- cp HEAD "$url/plans" "$url/eves/stolen"
  row "a member copies a space to a new top folder with its members" bob refused -- cp HEAD "$url/plans" "$url/plans2"
  row "a member deletes the space" bob refused -- rm "$url/plans"
  row "a member replaces the space" bob refused -- rm "$url/plans" mkdir "$url/plans"
  row "the top's users changed by a user" eve refused "on the server only" -- propset korvane:users eve "$url"
  row "a file at the top" eve refused -- put "$work/secret" "$url/korvane-notes"
  row "a member writes a file in the space" bob accepted -- put "$work/secret" "$url/plans/from-bob.txt"

  # ---- The same with svn in a working copy
  local wc=$work/$kind-bob-plans output
  as bob svn checkout -q "$url/plans" "$wc" >/dev/null || fail "bob cannot check plans out"
  as bob svn propset -q korvane:members "$(members 'ann\towner\nbob\towner\neve\tmember\n')" "$wc" >/dev/null
  output=$(as bob svn commit -m "take it" "$wc")
  [ $? -ne 0 ] || fail "bob's svn commit of the members of plans was accepted"
  grep -qF "bob is not the owner of the space plans" <<<"$output" || fail "svn shows bob another reason: $output"
  as bob svn revert -q -R "$wc" >/dev/null
  as bob svn mkdir -q "$wc/inner" >/dev/null
  as bob svn propset -q korvane:members "$(members 'bob\towner\n')" "$wc/inner" >/dev/null
  as bob svn commit -m "a space inside" "$wc" >/dev/null && fail "bob's svn commit of members below the top was accepted"
  as bob svn revert -q -R "$wc" >/dev/null
  check_invariants "plain svn"

  # ---- Deleted spaces stay closed
  row "the owner deletes a space" ann accepted -- rm "$url/old"
  row "a deleted space's name taken again" eve refused -- \
    mkdir "$url/old" propset korvane:members "$(members 'eve\towner\n')" "$url/old"
  row "a deleted space's name in another case" eve refused -- \
    mkdir "$url/OLD" propset korvane:members "$(members 'eve\towner\n')" "$url/OLD"
  as eve svn cat "$url/old/words.txt@$old_revision" >/dev/null 2>&1 && fail "eve reads the deleted space's history"
  as ann svn cat "$url/old/words.txt@$old_revision" >/dev/null 2>&1 || fail "ann lost the history of her deleted space"

  # ---- Roles take effect, removal takes them back
  mucc ann propset korvane:members "$(members 'ann\towner\nbob\tmember\ncarl\treader\n')" "$url/plans" >/dev/null ||
    fail "ann cannot invite carl as a reader"
  can_read carl plans/secret.txt || fail "carl, a reader, cannot read plans"
  can_write carl plans && fail "carl, a reader, writes into plans"
  can_write bob plans || fail "bob, a member, cannot write into plans"
  mucc ann propset korvane:members "$(members 'ann\towner\nbob\tmember\n')" "$url/plans" >/dev/null ||
    fail "ann cannot remove carl"
  can_read carl plans/secret.txt && fail "carl, removed, still reads plans"
  check_invariants "after the roles"

  # ---- The administrator's repair renders the same rules again
  local before
  before=$(cat "$repository/conf/korvane-access")
  rm -f "$repository/conf/korvane-closed-spaces"
  echo "[broken" >"$repository/conf/korvane-access"
  "$source_dir/scripts/team-server.sh" repair "$server" >/dev/null || fail "repair fails"
  [ "$(cat "$repository/conf/korvane-access")" = "$before" ] || fail "repair renders other rules"
  check_invariants "after the repair"

  "$source_dir/scripts/team-server.sh" stop "$server"
  server=
}

for kind in "${kinds[@]}"; do
  if [ "$kind" != start ] && ! [ -f /usr/lib/apache2/modules/mod_dav_svn.so ]; then
    echo "SKIP [$kind]: Apache with mod_dav_svn is not installed"
    continue
  fi
  run_kind
done

# A server folder that the server's user cannot reach is refused, not
# started to answer every request with an error.
if [ "$(id -u)" -eq 0 ] && [ -f /usr/lib/apache2/modules/mod_dav_svn.so ]; then
  kind=apache
  mkdir -m 0700 "$work/private"
  output=$("$source_dir/scripts/team-server.sh" apache "$work/private/server" "$(free_port)" ann:ann-secret 2>&1)
  status=$?
  [ $status -ne 0 ] || fail "a server under a private folder started: $output"
  grep -q "cannot reach" <<<"$output" || fail "no clear reason for a private folder: $output"
  "$source_dir/scripts/team-server.sh" stop "$work/private/server" >/dev/null 2>&1
fi

[ $failures -eq 0 ] && echo "all hostile rows judged" || echo "$failures failures"
[ $failures -eq 0 ]
