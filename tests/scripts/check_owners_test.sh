#!/usr/bin/env bash
# scripts/check-owners on the project's own tree (it must pass) and on a
# small tree with bare releases in the product, in an owner header, in a
# comment, as a member's name and in a test (it must name exactly the
# product's calls).
#   check_owners_test.sh CHECK_OWNERS PROJECT_ROOT
set -u
script="$1"
project="$2"
. "$(dirname "$0")/check_support.sh"

"$script" "$project" 2>"$work/project.err"
check "the project releases through owners only" test $? -eq 0
cat "$work/project.err"

tree="$work/tree"
mkdir -p "$tree"/{util,flash,tools/plws,tests}
cat > "$tree/util/raii_win32.h" <<'X'
inline void Close(HANDLE H) { ::CloseHandle(H); }
X
cat > "$tree/flash/player_win32.cpp" <<'X'
void Stop(HWND Wnd) {
  KillTimer(Wnd, 1);  // the timer goes
  // DestroyWindow(Wnd) is the owner's
  Owner.Release();
  std::free(Block);
}
X
cat > "$tree/tools/plws/run_posix.cpp" <<'X'
void End(int Fd) { if (Fd >= 0) ::close(Fd); Socket.close(); Pipe->close(); }
void Reap() { waitpid(Pid, nullptr, 0); }
X
cat > "$tree/tests/any_test.cpp" <<'X'
void T() { CloseHandle(H); }
X
"$script" "$tree" 2>"$work/tree.err"
check "bare releases fail the check" test $? -eq 1
check "one report per bare release" test "$(wc -l <"$work/tree.err")" -eq 4
check "a window's timer" grep -q 'flash/player_win32.cpp:2 releases by hand: KillTimer(Wnd, 1);' "$work/tree.err"
check "a C block" grep -q 'flash/player_win32.cpp:5 releases by hand: std::free(Block);' "$work/tree.err"
check "a descriptor, not a member's close" grep -q 'tools/plws/run_posix.cpp:1 releases by hand: void End' "$work/tree.err"
check "a child reaped" grep -q 'tools/plws/run_posix.cpp:2 releases by hand: void Reap()' "$work/tree.err"
cat "$work/tree.err"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
