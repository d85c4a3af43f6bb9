#!/bin/sh
# check_exports.sh LIBRARY NAME...: the library's dynamic symbol table defines exactly NAMEs.
library=$1
shift
expected=$(printf '%s\n' "$@" | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exported names of $library differ:"
  printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"
  exit 1
fi
echo "$library exports exactly: $*"
