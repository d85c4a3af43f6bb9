#!/bin/sh
# check_layers_test.sh CHECK: the layer check reports a crossing include (and passes the
# allowed ones) in a small tree that is not a git checkout.
set -eu
check=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/store" "$dir/ui/wx" "$dir/lang"
printf '#include "platform/share.h"\n#include "util/file_open.h"\n' >"$dir/store/write.cpp"
printf '#include <wx/frame.h>\n#include "ui/window.h"\n' >"$dir/ui/wx/peer.cpp"
printf '#include "placement/window_pos.h"\n' >"$dir/lang/sel_language.cpp"
printf '#include "store/prepaid.h"\n#include "testsupport/temp_dir.h"\n' >"$dir/store/write_test.cpp"
"$check" "$dir" || { echo "allowed includes were reported"; exit 1; }

printf '#include <cstdio>\n\n#  include "ui/window.h"\n' >"$dir/store/search.cpp"
if output=$("$check" "$dir"); then
  echo "a crossing include was not reported"
  exit 1
fi
echo "$output"
[ "$output" = 'store/search.cpp:3: includes "ui/window.h": store may not include ui' ]
