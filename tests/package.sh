#!/usr/bin/env bash
# Installation and the Debian package, from a native build folder.
# Usage: package.sh BUILD_DIR install|deb
# Exits 77 (skipped) when a Debian packaging tool is missing.
set -u

build=$1
case_name=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

# The installed tool lists, shows its help, and its page renders cleanly.
check_tool() {
    local tool=$1 page=$2 out status warnings
    out=$("$tool") || fail "listing: exit status $?"
    printf '%s\n' "$out" | grep -Eq "^ *[0-9]+ tarnwick\$" ||
        fail "the listing doesn't show tarnwick itself"
    out=$("$tool" /?)
    status=$?
    [ "$status" = 255 ] || fail "help: exit status $status"
    printf '%s\n' "$out" | grep -qx 'Tarnwick Version 1\.1   .*' || fail "help: version line"
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt") ||
        fail "man failed on $page"
    [ -z "$warnings" ] || fail "man warns: $warnings"
    grep -q 'tarnwick - list the running processes' "$work/page.txt" || fail "page: no NAME"
    for section in SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" NOTES; do
        grep -qx "$section" "$work/page.txt" || fail "page: no $section"
    done
}

case $case_name in
install)
    command -v man >/dev/null || skip "man is missing (Debian package man-db)"
    cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
    [ -x "$work/prefix/bin/tarnwick" ] || fail "no bin/tarnwick"
    check_tool "$work/prefix/bin/tarnwick" "$work/prefix/share/man/man1/tarnwick.1"
    ;;
deb)
    for tool in dpkg-deb dpkg-shlibdeps man; do
        command -v $tool >/dev/null || skip "$tool is missing (Debian packages dpkg-dev, man-db)"
    done
    (cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || fail "cpack -G DEB"
    debs=("$work"/out/tarnwick_1.1.*.deb)
    [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "no tarnwick_1.1.*.deb"
    deb=${debs[0]}
    echo "${deb##*/}"
    [ "$(dpkg-deb -f "$deb" Package)" = tarnwick ] || fail "package name"
    dpkg-deb -f "$deb" Version | grep -Eqx '1\.1\.[0-9]+' || fail "version"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    [[ $depends == *libc6* ]] || fail "dependencies not computed: $depends"
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ')
    want="./usr/bin/tarnwick ./usr/share/doc/tarnwick/README.md ./usr/share/man/man1/tarnwick.1.gz "
    [ "$files" = "$want" ] || fail "contents: $files"
    dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
    check_tool "$work/root/usr/bin/tarnwick" "$work/root/usr/share/man/man1/tarnwick.1.gz"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
exit 0
