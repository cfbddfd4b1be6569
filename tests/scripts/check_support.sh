# Sourced by the script tests: a scratch folder $work removed at the end,
# and check WHAT CONDITION..., which reports each condition and counts the
# ones that do not hold in $failures.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
