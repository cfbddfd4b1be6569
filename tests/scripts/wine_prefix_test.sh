#!/usr/bin/env bash
# scripts/wine-prefix against stand-ins for wineboot and wine: a prefix is
# marked ready only when wineboot made a healthy one, a prefix the script
# began and never finished is made again, and one it did not make is never
# removed.
#   wine_prefix_test.sh SCRIPTS_DIR
set -u
scripts="$1"
. "$(dirname "$0")/check_support.sh"
mkdir -p "$work/tree/scripts" "$work/bin"
cp "$scripts/wine-prefix" "$scripts/wine-env" "$work/tree/scripts/"
# FAKE_WINEBOOT: ok (a healthy prefix), fail (half a prefix, status 1),
# empty (status 0 but none of the system's files).
cat > "$work/bin/wineboot" <<'X'
#!/usr/bin/env bash
echo "wineboot $*" >> "$WORK/calls"
mkdir -p "$WINEPREFIX/drive_c/windows/system32"
case "$FAKE_WINEBOOT" in
  fail) touch "$WINEPREFIX/half-made"; exit 1 ;;
  empty) exit 0 ;;
esac
touch "$WINEPREFIX/drive_c/windows/system32/kernel32.dll"
mkdir -p "$WINEPREFIX/drive_c/users/someone/Temp"
X
# Wine reads the registry of a prefix that has the system's DLLs.
cat > "$work/bin/wine" <<'X'
#!/usr/bin/env bash
echo "wine $*" >> "$WORK/calls"
[ "$1 $2" != "reg query" ] || [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]
X
chmod +x "$work/bin"/*
prefix="$work/prefix"
run() {  # run WINEBOOT-MODE: the script once, its status in $status
  rm -f "$work/calls"; touch "$work/calls"
  PATH="$work/bin:$PATH" WORK="$work" WINEPREFIX="$prefix" FAKE_WINEBOOT="$1" "$work/tree/scripts/wine-prefix" \
    > "$work/out" 2>&1
  status=$?
}

run fail
check "wineboot fails: the script fails" [ $status -ne 0 ]
check "wineboot fails: and says so" grep -q "did not make a usable prefix" "$work/out"
check "wineboot fails: the prefix is not ready" [ ! -e "$prefix/.ready" ]
run ok
check "after a failed creation: the half-made prefix is made again" \
  bash -c "[ $status -eq 0 ] && [ -e '$prefix/.ready' ] && [ ! -e '$prefix/half-made' ] && [ ! -e '$prefix.creating' ]"
check "a healthy prefix: fonts and the debugger setting are written" \
  bash -c "[ -e '$prefix/.fonts' ] && [ -e '$prefix/.nodebugger' ]"
run ok
check "ready already: wineboot is not called" bash -c "[ $status -eq 0 ] && [ ! -s '$work/calls' ]"

rm -rf "$prefix" "$prefix.creating"
run empty
check "wineboot leaves no system files: the prefix is not ready" \
  bash -c "[ $status -ne 0 ] && [ ! -e '$prefix/.ready' ]"

# A prefix that was there before the script ran is never removed.
rm -rf "$prefix" "$prefix.creating"
mkdir -p "$prefix" && touch "$prefix/mine"
run fail
check "a prefix made elsewhere: not ready after a failed wineboot" [ $status -ne 0 ]
run fail
check "a prefix made elsewhere: never removed" [ -e "$prefix/mine" ]

finish "$work/out"
