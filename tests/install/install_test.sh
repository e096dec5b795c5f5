#!/usr/bin/env bash
# install_test.sh CMAKE BUILD BINDIR LIBDIR INCLUDEDIR VERSION CC CXX [FLAGS...]
#
# Installs BUILD into a temporary prefix and moves the prefix, so nothing can
# be found at a path known when it was built. Then, with a clean environment:
# the program must find its host library and plug-in with no option, a program
# built from the installed headers and pkg-config file must find the same
# plug-in, OSTREL_MODULE_PATH must still come first, and with the installed
# plug-in gone nothing else (such as the build tree's) may stand in for it.
set -euo pipefail

cmake=$1 build=$2 bindir=$3 libdir=$4 includedir=$5 version=$6 cc=$7 cxx=$8
shift 8
flags=("$@")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck disable=SC1090
. "$OSTREL_TEST_EMULATOR"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "install_test: $*" >&2
    exit 1
}
clean() { env -i HOME="$tmp/home" PATH=/usr/bin:/bin "$@"; }

"$cmake" --install "$build" --prefix "$tmp/stage" >/dev/null

plugin=libostrel_gridftp_server_azure_blob.so
expected=$(sort <<LIST
./$bindir/ostrel-azure
./$includedir/ostrel_azure_blob/host/ostrel_host.h
./$includedir/ostrel_azure_blob/host/ostrel_host_runtime.h
./$libdir/libostrel_host.so
./$libdir/libostrel_host.so.$version
./$libdir/ostrel/modules/$plugin
./$libdir/pkgconfig/ostrel-host.pc
LIST
)
installed=$(cd "$tmp/stage" && find . -type f -o -type l | sort)
[[ $installed == "$expected" ]] ||
    fail "installed files differ from the expected ones:"$'\n'"$(diff <(echo "$expected") <(echo "$installed"))"

mv "$tmp/stage" "$tmp/moved"
prefix=$tmp/moved
modules=$(readlink -f "$prefix/$libdir/ostrel/modules")
mkdir "$tmp/home" "$tmp/elsewhere" "$tmp/override"

out=$(clean "$prefix/$bindir/ostrel-azure" --help 2>&1) || fail "--help failed: $out"
grep -q '^Commands:' <<<"$out" || fail "--help printed: $out"

node "$OSTREL_TEST_SUPPORT_DIR/mint-creds" >"$tmp/creds.json"
printf '{"account": "%s", "ca_file": "%s"}\n' "$OSTREL_TEST_ACCOUNT_TEXT" "$OSTREL_TEST_CA_FILE" \
    >"$tmp/config.json"
check() { clean "$@" --config "$tmp/config.json" --creds "$tmp/creds.json" check 2>&1; }

# Started through a symlink, as from a directory on PATH.
ln -s "$prefix/$bindir/ostrel-azure" "$tmp/elsewhere/ostrel-azure"
out=$(check "$tmp/elsewhere/ostrel-azure") || fail "check failed: $out"
grep -q '^service: *answered' <<<"$out" || fail "check printed: $out"

pc() { PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig pkg-config "$@" ostrel-host; }
[[ $(readlink -f "$(pc --variable=moduledir)") == "$modules" ]] ||
    fail "pkg-config moduledir is $(pc --variable=moduledir)"
# shellcheck disable=SC2046
echo '#include "host/ostrel_host.h"' |
    "$cc" -std=c11 -Wall -Wextra -Werror -fsyntax-only $(pc --cflags) -x c - ||
    fail "the installed host interface does not compile as C"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "${flags[@]}" -Werror $(pc --cflags) "$here/embed.cpp" -o "$tmp/embed" \
    $(pc --libs) -Wl,-rpath,"$(pc --variable=libdir)" ||
    fail "cannot build a program from the installed headers and library"
# It prints the plug-in file it loaded.
loads() {
    local want=$1 out
    shift
    out=$(clean "$@" "$tmp/embed" 2>&1) || fail "embedding program ($*): $out"
    [[ $out == "$want" ]] || fail "embedding program ($*) loaded $out, not $want"
}
loads "$modules/$plugin"
# A host library reached through a symlink looks beside the real file.
mkdir "$tmp/linked"
ln -s "$prefix/$libdir/libostrel_host.so.$version" "$tmp/linked/"
loads "$modules/$plugin" LD_LIBRARY_PATH="$tmp/linked"
cp "$modules/$plugin" "$tmp/override/"
loads "$tmp/override/$plugin" OSTREL_MODULE_PATH="$tmp/override"

rm "$modules/$plugin"
status=0
out=$(check "$prefix/$bindir/ostrel-azure") || status=$?
[[ $status == 1 ]] || fail "check without the installed plug-in: status $status: $out"
grep -qF "not found: no $plugin in $modules or the system library path" <<<"$out" ||
    fail "check without the installed plug-in printed: $out"
echo "install: ok"
