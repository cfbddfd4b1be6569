# Sourced by the script tests: a scratch folder $work removed at the end;
# `check WHAT COMMAND...` runs COMMAND, prints "ok: WHAT" or "FAILED: WHAT"
# and counts the failures in $failures; `finish OUTPUT` ends the test,
# showing OUTPUT (a file) when any failed.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
finish() {
  [ $failures -eq 0 ] || { echo "$failures check(s) failed; last output:"; cat "$1"; exit 1; }
}
