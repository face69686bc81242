#!/usr/bin/env bash
# rq43 config and its store: a store it cannot read or write is reported (exit 1) and left as it is, and
# changes made at the same moment are all kept.
source "$(dirname "$0")/cli_common.sh"

# Root reads and writes any file: without those powers, permissions bind it as they bind a user.
as_user() {
  if [ "$(id -u)" -eq 0 ]; then setpriv --bounding-set -dac_override,-dac_read_search "$@"; else "$@"; fi
}

"$rq43" config --set "Prefilter Strength=7" >/dev/null
cp "$RQ43_REGISTRY_FILE" kept.txt
chmod 000 "$RQ43_REGISTRY_FILE"
expect_status 1 as_user "$rq43" config --set "Fast Search=1"
grep -q "cannot be read" err || fail "unreadable store: $(cat err)"
expect_status 1 as_user "$rq43" config
chmod 600 "$RQ43_REGISTRY_FILE"
cmp -s kept.txt "$RQ43_REGISTRY_FILE" || fail "an unreadable store was rewritten: $(cat "$RQ43_REGISTRY_FILE")"

# A store in a folder the user may not write; setting a value it already holds must not pass for saved.
mkdir locked && cp kept.txt locked/registry.txt && chmod 555 locked
RQ43_REGISTRY_FILE=$PWD/locked/registry.txt expect_status 1 as_user "$rq43" config --set "Fast Search=0"
grep -q "per user" err || fail "unwritable store: $(cat err)"
chmod 755 locked

# Four changes started at the same moment: each must succeed and be kept, as each save holds the store
# from its load to its write.
for trial in 1 2 3; do
  "$rq43" config --reset >/dev/null
  for change in "Fast Search=1" "Auto Key Insert=0" "Strong Compression=0" "Prefilter Iterations=3"; do
    ("$rq43" config --set "$change" >/dev/null 2>>problems || echo "'$change' failed" >>problems) &
  done
  wait
  "$rq43" config >out
  grep -q "\[x\] High Speed" out && grep -q "\[ \] Auto-Insert" out && grep -q "\[ \] Use strong" out &&
    grep -q "Medium (Radius = 3)" out || echo "a change was lost" >>problems
done
[ ! -s problems ] || fail "saves at the same moment: $(sort -u problems | head -5 | tr '\n' ' ')"

echo "cli config store: all passed"
