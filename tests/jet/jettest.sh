#!/usr/bin/env bash
# The Jet fixtures' checks, run by CTest:
#   jettest.sh setup    GEN SRC WORK  install mdb-reader from the lock file into WORK/node
#   jettest.sh fixtures GEN SRC WORK  the committed fixtures are what GEN writes today,
#                                     and both readers read back every row it meant
#   jettest.sh bench    GEN SRC WORK  the same for 10,000- and 15,000-row list files made here
# GEN is parvault2-jetgen, SRC the source tree, WORK a folder of the build.
set -euo pipefail
cmd=$1 gen=$2 src=$3 work=$4
here="$src/tests/jet"
node_dir="$work/node"

passed=0 failed=0
check() {  # check NAME COMMAND...: one line per check, output kept on failure
  local name=$1 out
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
    printf '%s\n' "$out" | sed 's/^/     /'
  fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
# Node finds packages next to the script it runs, so the reader script is
# copied beside the installed node_modules.
readjet() { node "$node_dir/readjet.mjs" "$@"; }
mdb_version() { [ "$(mdb-ver "$1")" = "$2" ]; }
repeat() { local s=""; for ((i = 0; i < $2; i++)); do s+=$1; done; printf '%s' "$s"; }
# Rows whose lengths step one byte at a time across 256, 512 and 768 bytes:
# every place where a Jet 3 row needs a jump table entry, or a dummy one.
wide_rows_sql() {
  echo "CREATE TABLE [Широкая] ([Id] LONG, [A] TEXT(255), [B] TEXT(255), [C] TEXT(255), [M] LONGTEXT);"
  local n id=0
  for n in $(seq 0 40); do
    id=$((id + 1))
    echo "INSERT INTO [Широкая] VALUES ($id, '$(repeat я 200)', '$(repeat б $((30 + n)))', NULL, NULL);"
    id=$((id + 1))
    echo "INSERT INTO [Широкая] VALUES ($id, '$(repeat я 255)', '$(repeat б $((215 + n)))', NULL, 'м$n');"
    id=$((id + 1))
    echo "INSERT INTO [Широкая] VALUES ($id, '$(repeat я 255)', '$(repeat б 255)', '$(repeat ц $((215 + n)))', '$(repeat м 20)');"
  done
}

case $cmd in
  setup)
    mkdir -p "$node_dir"
    if ! cmp -s "$here/package-lock.json" "$node_dir/package-lock.json" ||
       ! cmp -s "$here/package.json" "$node_dir/package.json" ||
       [ ! -d "$node_dir/node_modules/mdb-reader" ]; then
      cp "$here/package.json" "$here/package-lock.json" "$node_dir/"
      (cd "$node_dir" && npm ci --no-audit --no-fund --loglevel=error)
    fi
    cp "$here/readjet.mjs" "$node_dir/"
    echo "mdb-reader $(node -p "require('$node_dir/node_modules/mdb-reader/package.json').version"), $(mdb-export --version)"
    ;;

  fixtures)
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    "$gen" fixtures "$tmp" --demo-sql "$src/data/parvlt2.sql" >/dev/null
    check "committed fixtures are what the generator writes (to regenerate see tests/jet/README.md)" diff -r "$here/fixtures" "$tmp"
    fx="$here/fixtures"
    exp="$fx/expected"
    for f in demo-jet3/PARVLT2 demo-jet3/240115093000 demo-jet3/240116101500 demo-jet3/240118080000 \
             demo-jet4/PARVLT2 demo-jet4/240117120000 bad/other-app bad/encrypted bad/ace-header; do
      check "$f read back by both readers" readjet "$fx/$f.mdb" "$exp/$f.json"
    done
    for f in bad/password bad/password-jet4; do
      check "$f holds its password and reads back" readjet "$fx/$f.mdb" "$exp/$f.json" --password parvault
    done
    for f in bad/truncated bad/damaged; do
      check "$f is not read whole by either reader" readjet "$fx/$f.mdb" "$exp/$f.json" --expect-broken
    done
    wide_rows_sql >"$tmp/wide.sql"
    for v in jet3 jet4; do
      flag=()
      [ "$v" = jet4 ] && flag=(--jet4)
      "$gen" sql "$tmp/wide.sql" "$tmp/wide-$v.mdb" --json "$tmp/wide-$v.json" "${flag[@]}"
      check "$v rows across 256-byte steps read back by both readers" readjet "$tmp/wide-$v.mdb" "$tmp/wide-$v.json"
    done
    check "demo-jet3 files are Jet 3" mdb_version "$fx/demo-jet3/240115093000.mdb" JET3
    check "demo-jet4 files are Jet 4" mdb_version "$fx/demo-jet4/240117120000.mdb" JET4
    check "ace-header.mdb has the newer engine's version" mdb_version "$fx/bad/ace-header.mdb" ACE12
    finish
    ;;

  bench)
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    "$gen" bench-list "$tmp/list.mdb" --rows 10000 --json "$tmp/list.json"
    check "10,000-row list read back by both readers" readjet "$tmp/list.mdb" "$tmp/list.json"
    # Past the reach of an inline usage map (472 pages of 4 KB): the map
    # points to bitmap pages instead.
    "$gen" bench-list "$tmp/list4.mdb" --jet4 --rows 15000 --json "$tmp/list4.json"
    check "15,000-row Jet 4 list read back by both readers" readjet "$tmp/list4.mdb" "$tmp/list4.json"
    check "15,000-row Jet 4 list has usage bitmap pages" \
      bash -c '"$@" | grep -E " [1-9][0-9]* usage bitmap"' _ node "$node_dir/readjet.mjs" "$tmp/list4.mdb" "$tmp/list4.json"
    finish
    ;;

  *)
    echo "unknown command: $cmd" >&2
    exit 2
    ;;
esac
