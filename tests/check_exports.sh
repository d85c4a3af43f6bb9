#!/bin/sh
# check_exports.sh FILE NAME...: the dynamic symbol table of FILE (a program or a library)
# defines exactly NAMEs. C++ names are compared demangled.
file=$1
shift
expected=$(printf '%s\n' "$@" | sort -u)
# A sanitizer build's program also exports the sanitizer runtime's own hooks.
actual=$(nm -D --defined-only "$file" | awk '{print $3}' | grep -Ev '^__(asan|lsan|ubsan|sanitizer)_' |
  c++filt | sort -u)
if [ "$expected" != "$actual" ]; then
  echo "exported names of $file differ:"
  printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"
  exit 1
fi
echo "$file exports exactly: $*"
