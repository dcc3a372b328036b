#!/usr/bin/env bash
# The library-order check: a graph without a cycle passes and is printed level
# by level; a cycle through three libraries fails and names them. Imported
# targets (even in a loop) and an executable's edge to itself are not links.
set -u
here=$(dirname "$0")
check="$here/../../scripts/check-library-order.py"
fail=0

out=$(python3 "$check" "$here/acyclic.dot" 2>&1)
rc=$?
expected=$'0: libshared\n1: bottom\n2: middle\n3: top'
if [ $rc -ne 0 ] || [ "$out" != "$expected" ]; then
    echo "acyclic graph: exit $rc, output:"; echo "$out"; fail=1
fi

out=$(python3 "$check" "$here/cycle.dot" 2>&1)
rc=$?
if [ $rc -ne 1 ] || [ "$out" != "library cycle: bottom <-> middle <-> top" ]; then
    echo "cyclic graph: exit $rc, output:"; echo "$out"; fail=1
fi
exit $fail
