#!/usr/bin/env bash
# scripts/install-deps against stand-ins for dpkg-query, apt-get, sudo and
# npm, in a copy of the tree: npm comes from Debian's packages when the
# command is missing, and a player that npm does not deliver stops the set-up
# with a message instead of being skipped.
#   install_deps_test.sh INSTALL_DEPS
set -u
script="$1"
. "$(dirname "$0")/check_support.sh"

# Only these programs are on the PATH, so the machine's own npm stays out.
tools="$work/tools"
mkdir -p "$tools"
for t in bash env grep id dirname mkdir touch cat cp rm; do ln -s "$(command -v "$t")" "$tools/$t"; done

# A fresh tree for each case. FAKE_NPM: ok (installs the player), fail
# (exits 1), empty (succeeds without the player), absent (no npm command; a
# Debian install of npm then brings an "ok" one unless APT_NPM=broken).
run_case() {
  local tree="$work/tree" bin="$work/bin"
  rm -rf "$tree" "$bin"
  mkdir -p "$tree/scripts" "$bin"
  cp "$script" "$tree/scripts/install-deps"
  echo '{}' > "$tree/package-lock.json"
  cat > "$bin/dpkg-query" <<'X'
#!/usr/bin/env bash
echo "install ok installed"
X
  cat > "$bin/sudo" <<'X'
#!/usr/bin/env bash
exec "$@"
X
  cat > "$bin/npm" <<'X'
#!/usr/bin/env bash
echo "npm $*" >> ../calls
case "$FAKE_NPM" in
  fail) exit 1 ;;
  empty) exit 0 ;;
esac
mkdir -p node_modules/@ruffle-rs/ruffle && touch node_modules/@ruffle-rs/ruffle/ruffle.js node_modules/.package-lock.json
X
  cat > "$bin/apt-get" <<'X'
#!/usr/bin/env bash
echo "apt-get $*" >> "$WORK/calls"
case " $* " in
  *" npm "*) [ "${APT_NPM:-}" = broken ] || cp "$WORK/npm.real" "$(dirname "$0")/npm" ;;
esac
X
  chmod +x "$bin"/*
  mv "$bin/npm" "$work/npm.real"
  [ "$FAKE_NPM" = absent ] || cp "$work/npm.real" "$bin/npm"
  rm -f "$work/calls"
  touch "$work/calls"
  (cd "$tree" && PATH="$bin:$tools" WORK="$work" FAKE_NPM="${FAKE_NPM/absent/ok}" "$tree/scripts/install-deps") \
    > "$work/out" 2>&1
  status=$?
}

FAKE_NPM=ok run_case
check "npm present: the lock file is installed" [ $status -eq 0 ]
check "npm present: apt is not asked" bash -c "! grep -q apt-get '$work/calls'"
check "npm present: npm ci runs" grep -q "npm ci" "$work/calls"
# Run again in the same tree: the player is there, nothing is called.
(cd "$work/tree" && rm -f "$work/calls" && touch "$work/calls" &&
  PATH="$work/bin:$tools" WORK="$work" FAKE_NPM=ok scripts/install-deps) > "$work/out" 2>&1
check "installed already: done at once" [ $? -eq 0 ]
check "installed already: npm is not called" bash -c "! grep -q npm '$work/calls'"

FAKE_NPM=absent run_case
check "no npm: Debian's npm is installed" grep -q "apt-get install.* npm" "$work/calls"
check "no npm: then npm ci runs and the set-up succeeds" bash -c "[ $status -eq 0 ] && grep -q 'npm ci' '$work/calls'"

FAKE_NPM=absent APT_NPM=broken run_case
check "npm still missing: the set-up fails" [ $status -ne 0 ]
check "npm still missing: and says so" grep -q "npm is still missing" "$work/out"

FAKE_NPM=fail run_case
check "npm ci fails: the set-up fails" [ $status -ne 0 ]
check "npm ci fails: and names the player" grep -q "npm ci failed.*plws play" "$work/out"

FAKE_NPM=empty run_case
check "no player after npm ci: the set-up fails" [ $status -ne 0 ]
check "no player after npm ci: and names it" grep -q "node_modules/@ruffle-rs/ruffle/ruffle.js" "$work/out"

finish "$work/out"
