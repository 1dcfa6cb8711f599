#!/usr/bin/env bash
# Installation and the packages, from a native build folder.
# Usage: package.sh BUILD_DIR install|deb|lintian|rpm|source
# Exits 77 (skipped) when a tool a case needs is missing.
set -u

build=$1
case_name=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

# Skips unless every command named is there; the last argument names the
# Debian packages that bring them.
need() {
    local packages=${*: -1} tool
    for tool in "${@:1:$#-1}"; do
        command -v "$tool" >/dev/null || skip "$tool is missing (Debian packages $packages)"
    done
}

# The one file cpack made in $work/out that matches the glob, in $made.
make_package() {
    (cd "$build" && cpack "$@" -B "$work/out" >/dev/null) || fail "cpack $*"
}
found() {
    local files=("$work"/out/$1)
    [ ${#files[@]} = 1 ] && [ -f "${files[0]}" ] || fail "no $1 in: $(ls "$work/out")"
    made=${files[0]}
    echo "${made##*/}"
}

# The regular files under a folder, relative to it, on one line.
contents() { (cd "$1" && find . -type f | sort | tr '\n' ' '); }

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
    need man man-db
    cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
    files=$(contents "$work/prefix")
    want="./bin/tarnwick ./share/doc/tarnwick/LICENSE ./share/doc/tarnwick/README.md \
./share/man/man1/tarnwick.1 "
    [ "$files" = "$want" ] || fail "contents: $files"
    check_tool "$work/prefix/bin/tarnwick" "$work/prefix/share/man/man1/tarnwick.1"
    ;;
deb)
    need dpkg-deb dpkg-shlibdeps file man "dpkg-dev, file, man-db"
    make_package -G DEB
    found "tarnwick_1.1.*.deb"
    deb=$made
    [ "$(dpkg-deb -f "$deb" Package)" = tarnwick ] || fail "package name"
    dpkg-deb -f "$deb" Version | grep -Eqx '1\.1\.[0-9]+' || fail "version"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    [[ $depends == *libc6* ]] || fail "dependencies not computed: $depends"
    dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
    files=$(contents "$work/root")
    want="./usr/bin/tarnwick ./usr/share/doc/tarnwick/README.md \
./usr/share/doc/tarnwick/changelog.gz ./usr/share/doc/tarnwick/copyright \
./usr/share/man/man1/tarnwick.1.gz "
    [ "$files" = "$want" ] || fail "contents: $files"
    grep -q '^License: Expat$' "$work/root/usr/share/doc/tarnwick/copyright" ||
        fail "copyright names no license"
    check_tool "$work/root/usr/bin/tarnwick" "$work/root/usr/share/man/man1/tarnwick.1.gz"
    ;;
lintian)
    need dpkg-deb dpkg-shlibdeps file lintian "dpkg-dev, file, lintian"
    make_package -G DEB
    found "tarnwick_1.1.*.deb"
    # Errors and warnings, and any tag lintian could not check.
    report=$(lintian --fail-on error,warning --tag-display-limit 0 "$made" 2>&1)
    status=$?
    printf '%s\n' "$report"
    [ "$status" = 0 ] || fail "lintian: exit status $status"
    ;;
rpm)
    need rpmbuild rpm rpm2cpio cpio "rpm, cpio"
    make_package -G RPM
    found "tarnwick-1.1.*-1.$(uname -m).rpm"
    rpm=$made
    query() { rpm -qp --qf "$1" "$rpm" 2>/dev/null; }
    [ "$(query '%{NAME} %{VERSION} %{RELEASE} %{ARCH}')" = "tarnwick 1.1.0 1 $(uname -m)" ] ||
        fail "name, version, release, arch: $(query '%{NAME} %{VERSION} %{RELEASE} %{ARCH}')"
    [ "$(query '%{LICENSE}')" = MIT ] || fail "license: $(query '%{LICENSE}')"
    [ "$(query '%{GROUP}')" = Applications/System ] || fail "group: $(query '%{GROUP}')"
    [ -n "$(query '%{URL}')" ] || fail "no URL"
    query '%{SUMMARY}' | grep -qx 'Lists the running processes, flat or as a tree' ||
        fail "summary: $(query '%{SUMMARY}')"
    query '%{DESCRIPTION}' | grep -q '^Tarnwick prints the processes running' ||
        fail "description: $(query '%{DESCRIPTION}')"
    mkdir "$work/root"
    (cd "$work/root" && rpm2cpio "$rpm" | cpio -idm --quiet) || fail "rpm2cpio"
    files=$(contents "$work/root")
    # rpmbuild may compress the manual page itself.
    [[ $files == "./usr/bin/tarnwick ./usr/share/doc/tarnwick/LICENSE \
./usr/share/doc/tarnwick/README.md ./usr/share/man/man1/tarnwick.1"?(.gz)" " ]] ||
        fail "contents: $files"
    page=$(ls "$work"/root/usr/share/man/man1/tarnwick.1*)
    need man man-db
    check_tool "$work/root/usr/bin/tarnwick" "$page"
    ;;
source)
    need make make
    make_package --config CPackSourceConfig.cmake
    found "tarnwick-1.1.0.tar.xz"
    listing=$(cmake -E tar tf "$made") || fail "can't list $made"
    printf '%s\n' "$listing" | grep -Ev '^tarnwick-1\.1\.0/' && fail "files outside tarnwick-1.1.0/"
    printf '%s\n' "$listing" | grep -E '/build/|/\.git(/|$)|~$|\.sw[op]$|CMakeCache' &&
        fail "build outputs, VCS data or editor files packed"
    for file in CMakeLists.txt CMakePresets.json LICENSE README.md src/main.cpp; do
        printf '%s\n' "$listing" | grep -qx "tarnwick-1\.1\.0/$file" || fail "no $file"
    done
    (cd "$work" && cmake -E tar xf "$made") || fail "can't unpack $made"
    # The README's run command, in the unpacked tree.
    out=$(cd "$work/tarnwick-1.1.0" && cmake --workflow --preset release >/dev/null &&
        build/release/tarnwick) || fail "the README's run command failed"
    printf '%s\n' "$out" | grep -Eq "^ *[0-9]+ tarnwick\$" || fail "the build doesn't list itself"
    echo "$(printf '%s\n' "$listing" | grep -vc '/$') files; builds and lists"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
exit 0
