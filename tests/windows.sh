#!/usr/bin/env bash
# The Windows build: cross-compiled with MinGW-w64 for x86_64 or i686,
# packed, and run under the 64- or 32-bit Wine in a prefix of its own.
# Usage: windows.sh SOURCE_DIR WORK_DIR CASE-ARCH
# Exits 77 (skipped) when the cross compiler or that Wine is missing.
set -u

src=$1
work=$2
case_name=${3%-*}
arch=${3##*-}
exe=$work/build-$arch/tarnwick.exe
export WINEPREFIX=$work/wineprefix-$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

fail() { echo "FAIL: $*"; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

case $arch in
x86_64)
    wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || wine=$(command -v wine64 || true)
    wine_package="wine64"
    export WINEARCH=win64
    pe_format=pei-x86-64 oldest=5.02 zip=tarnwick-1.1.0-win64.zip
    ;;
i686)
    wine=/usr/lib/wine/wine
    wine_package="wine32:i386, after dpkg --add-architecture i386"
    export WINEARCH=win32
    pe_format=pei-i386 oldest=5.00 zip=tarnwick-1.1.0-win32.zip
    ;;
*)
    fail "unknown architecture $arch"
    ;;
esac

have_wine() { [ -n "$wine" ] && [ -x "$wine" ]; }

need_wine() {
    have_wine || skip "the $arch Wine is missing (Debian package $wine_package)"
    [ -f "$WINEPREFIX/system.reg" ] || skip "no Wine prefix at $WINEPREFIX"
    [ -f "$exe" ] || skip "no $arch build at $exe"
}

# Runs tarnwick.exe with the given arguments; sets out (raw) and status.
run() {
    out=$("$wine" "$exe" "$@"; echo "~$?")
    status=${out##*~}
    out=${out%~*}
}

# A reg started while the last session's wineserver shuts down can fail:
# wait for it to end and try again.
set_version() {
    local try said
    for try in 1 2 3; do
        said=$("$wine" reg add 'HKCU\Software\Wine\AppDefaults\tarnwick.exe' /v Version \
            /d "$1" /f 2>&1) && return 0
        "$(dirname "$wine")/wineserver" -w 2>/dev/null
    done
    fail "can't set the Windows version to $1: $said"
}

# Every line ends in CR LF, as the console runtime writes text.
check_crlf() {
    [ -n "$out" ] || fail "no output"
    printf '%s' "$out" | awk 'substr($0, length($0)) != "\r" { bad = 1 } END { exit bad }' ||
        fail "a line doesn't end in CR LF"
    [ "${out: -2}" = $'\r\n' ] || fail "output doesn't end in CR LF"
}

help_text() {
    printf 'Copyright (c) 2026 the Tarnwick developers\r\n'
    printf 'Tarnwick Version 1.1   tarnwick@users.noreply.example\r\n\r\n'
    printf 'Usage: tarnwick.exe [[/t]|[/?]]\r\n'
    printf '\toptions /t : Print task tree\r\n'
    printf '\t        /? : This help\r\n'
}

case $case_name in
build)
    command -v "$arch-w64-mingw32-g++-win32" >/dev/null ||
        skip "the $arch MinGW-w64 cross compiler is missing (g++-mingw-w64-${arch/_/-}-win32)"
    dir=$work/build-$arch
    rm -rf "$dir"  # a cache keeps the compiler it was made with
    cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTARNWICK_WERROR=ON >/dev/null ||
        fail "configure"
    # The record sizes are checked at compile time.
    cmake --build "$dir" || fail "build"
    dump=$("$arch-w64-mingw32-objdump" -p "$dir/tarnwick.exe")
    format=$("$arch-w64-mingw32-objdump" -f "$dir/tarnwick.exe" | sed -n 's/.*file format //p')
    [ "$format" = "$pe_format" ] || fail "format $format"
    # The header names the oldest Windows it runs on.
    for field in MajorOSystemVersion MajorSubsystemVersion; do
        major=$(printf '%s\n' "$dump" | awk -v f="$field" '$1 == f { print $2 }')
        minor=$(printf '%s\n' "$dump" | awk -v f="${field/Major/Minor}" '$1 == f { print $2 }')
        [ "$major.$(printf '%02d' "$minor")" = "$oldest" ] ||
            fail "$field: $major.$minor, not $oldest"
    done
    # Every DLL function it imports is on the reviewed list: all are in the
    # oldest Windows of this architecture.
    printf '%s\n' "$dump" | awk '
        /DLL Name:/ { dll = tolower($3); next }
        dll && NF == 0 { dll = "" }
        dll && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll " " $3 }' | sort -u >"$dir/imports.txt"
    allowed=$src/tests/windows-imports-$arch.txt
    grep -v '^#' "$allowed" | sort -u >"$dir/allowed.txt"
    new=$(comm -23 "$dir/imports.txt" "$dir/allowed.txt")
    [ -z "$new" ] || fail "imports not on $allowed: $(echo $new)"
    echo "$arch: $format, Windows $oldest, $(wc -l <"$dir/imports.txt") imports, all reviewed"
    ;;

zip)
    [ -f "$exe" ] || skip "no $arch build at $exe"
    rm -rf "$work/zip-$arch"
    (cd "$work/build-$arch" && cpack -G ZIP -B "$work/zip-$arch" >/dev/null) || fail "cpack -G ZIP"
    [ -f "$work/zip-$arch/$zip" ] || fail "no $zip: $(ls "$work/zip-$arch")"
    files=$(cd "$work/zip-$arch" && cmake -E tar tf "$zip" | grep -v '/$' | sed 's|^[^/]*/||' |
        sort | tr '\n' ' ')
    [ "$files" = "LICENSE README.md tarnwick.exe " ] || fail "contents: $files"
    echo "$zip: $files"
    ;;

prefix)
    have_wine || skip "the $arch Wine is missing (Debian package $wine_package)"
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || fail "wineboot"
    # Let the prefix's first session end and write its registry.
    "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
    [ -f "$WINEPREFIX/system.reg" ] || fail "no prefix made"
    ;;

listing)
    need_wine
    run
    [ "$status" = 0 ] || fail "exit status $status"
    check_crlf
    lines=$(printf '%s' "$out" | tr -d '\r')
    printf '%s\n' "$lines"
    printf '%s\n' "$lines" | awk '
        !/^ *[0-9]+ [^ ].*$/ { print "malformed: " $0; bad = 1 }
        { match($0, /^ *[0-9]+/); w[RLENGTH] = 1; n = $1 + 0; if (n > max) max = n }
        END {
            for (k in w) count++
            if (count != 1) { print "PID column not aligned"; bad = 1 }
            if (!((length(max "") + 1) in w)) { print "column not one wider than " max; bad = 1 }
            exit bad
        }' || fail "flat listing"
    for name in services.exe explorer.exe tarnwick.exe; do
        printf '%s\n' "$lines" | grep -Eq "^ *[0-9]+ $name\$" || fail "$name missing"
    done
    ;;

tree)
    need_wine
    run /t
    [ "$status" = 0 ] || fail "exit status $status"
    check_crlf
    lines=$(printf '%s' "$out" | tr -d '\r')
    printf '%s\n' "$lines"
    # Each line's parent is the nearest line above it one level up.
    printf '%s\n' "$lines" | awk '
        !/^(  )*[^ ].* \([0-9]+\)$/ { print "malformed: " $0; bad = 1; next }
        {
            match($0, /^ */); depth = RLENGTH / 2
            if (depth > prev + 1) { print "skips a level: " $0; bad = 1 }
            name = substr($0, RLENGTH + 1); sub(/ \([0-9]+\)$/, "", name)
            path[depth] = name; prev = depth
            if (depth > 0 && path[depth - 1] == "services.exe") under_services++
            if (name == "tarnwick.exe") self++
        }
        END {
            if (!under_services) { print "nothing nested under services.exe"; bad = 1 }
            if (self != 1) { print "tarnwick.exe seen " self + 0 " times"; bad = 1 }
            exit bad
        }' || fail "tree listing"
    ;;

help)
    need_wine
    for args in "/?" "-?" "/t /t" "a b c"; do
        # shellcheck disable=SC2086
        run $args
        [ "$status" = 255 ] || fail "$args: exit status $status"
        [ "$out~" = "$(help_text; printf '~')" ] ||
            { printf '%s' "$out" | od -c | head -20; fail "$args: help text"; }
    done
    ;;

version)
    need_wine
    # NT before 5 is refused whatever is asked; 9x (platform 1) passes at any version.
    refused=$'ToolHelp API isn\'t support on NT versions prior to Windows 2000!\r\n'
    for version in nt351 nt40 win2k win98 win95 winxp win10; do
        set_version "$version"
        for args in "" "/?" "/t"; do
            # shellcheck disable=SC2086
            run $args
            case $version in
            nt351 | nt40)
                [ "$status" = 255 ] || fail "$version [$args]: exit status $status"
                [ "$out" = "$refused" ] || fail "$version [$args]: printed $out"
                ;;
            *)
                case $args in
                "/?") want=255 ;;
                *) want=0 ;;
                esac
                [ "$status" = "$want" ] || fail "$version [$args]: exit status $status"
                case $out in
                *"ToolHelp API"*) fail "$version [$args]: refused" ;;
                *tarnwick.exe*) ;;
                *) fail "$version [$args]: printed $out" ;;
                esac
                ;;
            esac
        done
        echo "$version: as expected"
    done
    "$wine" reg delete 'HKCU\Software\Wine\AppDefaults\tarnwick.exe' /f >/dev/null 2>&1
    ;;

failures)
    need_wine
    # A lost write is told on standard error and fails the run.
    full=$'tarnwick: write error: No space left on device\r'
    for args in "" "/t" "/?"; do
        # shellcheck disable=SC2086
        err=$("$wine" "$exe" $args 2>&1 >/dev/full)
        status=$?
        [ "$status" = 255 ] || fail "[$args] to a full disk: exit status $status"
        [ "$err" = "$full" ] || fail "[$args] to a full disk: said $err"
    done
    # A pipe whose reader is gone before the tool starts, SIGPIPE ignored;
    # the reason is the runtime's own (Wine's msvcrt says EINVAL).
    err=$(perl -e 'pipe(R, W); close R; $SIG{PIPE} = "IGNORE"; open(STDOUT, ">&W"); exec @ARGV' \
        "$wine" "$exe" 2>&1)
    status=$?
    [ "$status" = 255 ] || fail "to a closed pipe: exit status $status"
    [[ $err == "tarnwick: write error: "*$'\r' ]] || fail "to a closed pipe: said $err"
    # A leading blank in a file name can't shift its line.
    cp "$exe" "$work/build-$arch/ lead.exe"
    out=$("$wine" "$work/build-$arch/ lead.exe" /t | tr -d '\r')
    printf '%s\n' "$out" | grep -Eq '^(  )*\?lead\.exe \([0-9]+\)$' ||
        fail "leading blank: $(printf '%s\n' "$out" | grep lead)"
    ;;

*)
    fail "unknown case $case_name"
    ;;
esac
exit 0
