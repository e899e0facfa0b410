#!/usr/bin/env bash
# Installs the build into a staging folder, builds tests/consumer against it
# and runs the consumer's page. Usage: run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/stage" >/dev/null
cmake -S "$source/tests/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/stage" >/dev/null
cmake --build "$work/build" >/dev/null
out=$("$work/build/consumer_page")
grep -q 'a&nbsp;&nbsp;b' <<<"$out" || { echo "consumer page: content missing" >&2; exit 1; }
grep -q 'align=absMiddle>Hello</p>' <<<"$out" || { echo "consumer page: frame missing" >&2; exit 1; }
echo "consumer page built on the installed package and ran"
