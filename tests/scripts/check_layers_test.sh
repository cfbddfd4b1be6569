#!/usr/bin/env bash
# scripts/check-layers on the project's own tree (it must pass) and on a
# small tree whose includes go up, sideways and down (it must name exactly
# the first two kinds).
#   check_layers_test.sh CHECK_LAYERS PROJECT_ROOT
set -u
script="$1"
project="$2"
. "$(dirname "$0")/check_support.sh"

"$script" "$project" 2>"$work/project.err"
check "the project's includes follow the layers" test $? -eq 0
cat "$work/project.err"

tree="$work/tree"
mkdir -p "$tree"/{util,package,framework,saver,dialog,app,tools/plws,tests}
cat > "$tree/util/utils.cpp" <<'X'
#include "util/utils.h"
#include "framework/messages.h"
X
cat > "$tree/package/stream.cpp" <<'X'
#include "util/raii_win32.h"
X
cat > "$tree/dialog/dialog_win32.cpp" <<'X'
#include "framework/forms_win32.h"
  #  include "saver/form_utils_win32.h"
X
cat > "$tree/app/main.cpp" <<'X'
#include <windows.h>
#include "dialog/dialog_win32.h"
#include "tests/support/process_win32.h"
X
cat > "$tree/tools/plws/plws.cpp" <<'X'
#include "app/settings.h"
#include "tools/plws/plws.h"
X
cat > "$tree/tests/any_test.cpp" <<'X'
#include "tools/plws/plws.h"
X
"$script" "$tree" 2>"$work/tree.err"
check "includes against the layers fail the check" test $? -eq 1
check "one report per include against the layers" test "$(wc -l <"$work/tree.err")" -eq 3
check "up: util on the framework" grep -q 'util/utils.cpp:2 includes "framework/messages.h"' "$work/tree.err"
check "sideways: dialog on the saver" grep -q 'dialog/dialog_win32.cpp:2 includes "saver/form_utils_win32.h"' \
  "$work/tree.err"
check "out: the product on the tests" grep -q 'app/main.cpp:3 includes "tests/support/process_win32.h"' \
  "$work/tree.err"
cat "$work/tree.err"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
