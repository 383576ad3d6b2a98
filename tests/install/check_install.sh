#!/bin/bash
# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and checks what a user gets: the
# programs start from there, the desktop entry validates, its command opens
# the window and its second action runs the program against the simulator,
# the icon renders, the man pages render without warnings, the simulator's
# page documents exactly the options it takes, and everything carries the
# one version. In the deb mode it builds the Debian package instead, unpacks
# it into a throwaway root and checks its contents, declared dependencies and
# copyright file, and that lintian and appstreamcli pass it.
#
# Usage: TQ_VERSION=x.y.z check_install.sh prefix|deb BUILD_DIR PROGRAM...
set -u

mode=$1
build=$2
shift 2
programs=("$@")
version=${TQ_VERSION:?TQ_VERSION names the project version}

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tq820-install.XXXXXX")
# The program's I/O library reads aliases.conf from here: never the user's own.
export XDG_CONFIG_HOME=$work/config
xvfb_pid=
app_pid=
demo_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

has_program() {
    local p
    for p in "${programs[@]}"; do
        [ "$p" = "$1" ] && return 0
    done
    return 1
}

# ---- installed files --------------------------------------------------------

# The programs are self-contained: nothing of ours under lib/, no rpath into
# the build tree, and every shared library they need is found on the system.
check_binary() {
    local binary=$1
    if [ ! -x "$binary" ]; then
        fail "$binary is not installed or not executable"
        return
    fi
    if readelf -d "$binary" | grep -E -q '\((RPATH|RUNPATH)\)'; then
        fail "$binary carries an rpath: $(readelf -d "$binary" | grep -E 'RPATH|RUNPATH')"
    fi
    if ldd "$binary" | grep -q 'not found'; then
        fail "$binary needs libraries that are not found: $(ldd "$binary" | grep 'not found')"
    fi
}

check_installed_tree() {
    local root=$1 p
    for p in "${programs[@]}"; do
        if [ "$p" = tq820-scan-demo ]; then
            [ -x "$root/bin/$p" ] || fail "$root/bin/$p is not installed or not executable"
        else
            check_binary "$root/bin/$p"
        fi
        [ -f "$root/share/man/man1/$p.1.gz" ] || fail "no man page $root/share/man/man1/$p.1.gz"
    done
    for p in copyright changelog.gz; do
        [ -f "$root/share/doc/tq820-scan/$p" ] || fail "no $root/share/doc/tq820-scan/$p"
    done
    if [ -d "$root/lib" ] && [ -n "$(find "$root/lib" -type f)" ]; then
        fail "files installed under lib/: $(find "$root/lib" -type f)"
    fi
    if [ -d "$root/include" ]; then
        fail "headers installed under include/"
    fi
}

# ---- man pages --------------------------------------------------------------

check_man_page() {
    local page=$1 name=$2 warnings rendered
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page $page renders with warnings: $warnings"
    rendered=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -b)
    echo "$rendered" | grep -q "^NAME" || fail "man page $page has no NAME section"
    echo "$rendered" | grep -E -q "^ *$name +(-|−) " || fail "man page $page does not name $name"
    echo "$rendered" | tail -n 1 | grep -q "^tq820-scan $version[[:space:]]" ||
        fail "man page $page does not carry version $version: $(echo "$rendered" | tail -n 1)"
}

# ---- one version ------------------------------------------------------------

# project() sets the version; the simulator, the changelog and the AppStream
# metadata must all say the same (the man pages are checked with the rest).
check_versions() {
    local root=$1 said
    if has_program tq820-sim; then
        said=$("$root/bin/tq820-sim" --version 2>&1)
        [ "$said" = "tq820-sim $version" ] || fail "tq820-sim --version says '$said', not 'tq820-sim $version'"
    fi
    said=$(gzip -dc "$root/share/doc/tq820-scan/changelog.gz" | head -n 1)
    [ "$said" = "tq820-scan ($version) unstable; urgency=medium" ] ||
        fail "the changelog begins '$said', not with version $version"
    if has_program tq820-scan; then
        said=$(grep -o -m 1 '<release version="[^"]*"' "$root"/share/metainfo/*.metainfo.xml)
        [ "$said" = "<release version=\"$version\"" ] ||
            fail "the AppStream metadata's newest release is '$said', not $version"
    fi
}

# The long options a text mentions, one per line, sorted.
long_options() {
    grep -o -E -- '--[a-z][a-z-]*' | sort -u
}

check_sim_options_documented() {
    local sim=$1 page=$2 help_options page_options
    help_options=$("$sim" --help 2>&1 | long_options)
    # The options the page documents are its OPTIONS section's item tags;
    # others named in the text (such as unshare's) are not the simulator's.
    page_options=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b |
        sed -n '/^OPTIONS/,/^[A-Z]/p' | grep -E '^ {7}--' | sed -E 's/^ +(--[a-z][a-z-]*).*/\1/' | long_options)
    if [ -z "$help_options" ]; then
        fail "tq820-sim --help names no options"
        return
    fi
    # --help need not list itself; that it works is checked by running it.
    help_options=$(printf '%s\n--help\n' "$help_options" | sort -u)
    if [ "$help_options" != "$page_options" ]; then
        fail "options of tq820-sim --help and of its man page differ:" \
            "$(diff <(echo "$help_options") <(echo "$page_options") | grep '^[<>]' | tr '\n' ' ')" \
            "(< only in --help, > only in the man page)"
    fi
}

# corvalen goes with the library (component corvalen), not in the program's
# package: installed on its own into a prefix beside the library, it starts,
# says the one version, and its page documents exactly the options that
# corvalen --help and each command's --help name.
check_tool() {
    local prefix=$work/tool-prefix tool page help_options page_options command said
    if ! cmake --install "$build" --prefix "$prefix" --component corvalen >"$work/tool-install.log" 2>&1; then
        fail "cmake --install --component corvalen failed: $(cat "$work/tool-install.log")"
        return
    fi
    tool=$prefix/bin/corvalen
    page=$prefix/share/man/man1/corvalen.1.gz
    [ -f "$page" ] || { fail "no man page $page"; return; }
    check_man_page "$page" corvalen
    said=$(LD_LIBRARY_PATH=$prefix/lib "$tool" --version 2>&1)
    [ "$said" = "corvalen $version" ] || fail "corvalen --version says '$said', not 'corvalen $version'"
    help_options=$(for command in "" query write read shell find identify bind unbind aliases parse; do
        LD_LIBRARY_PATH=$prefix/lib "$tool" $command --help 2>&1
    done | long_options)
    page_options=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b |
        sed -n '/^OPTIONS/,/^[A-Z]/p' | grep -E '^ {7}-' | long_options)
    if [ -z "$help_options" ] || [ "$help_options" != "$page_options" ]; then
        fail "options of corvalen's --help texts and of its man page differ:" \
            "$(diff <(echo "$help_options") <(echo "$page_options") | grep '^[<>]' | tr '\n' ' ')" \
            "(< only in --help, > only in the man page)"
    fi
}

# ---- desktop entry and icon -------------------------------------------------

# A key of the desktop entry's main group, or of the group named third.
desktop_key() {
    local group=${3:-Desktop Entry}
    sed -n "/^\[$group\]\$/,/^\[/s/^$1=//p" "$2" | head -n 1
}

check_desktop_entry() {
    local root=$1 icon icon_file
    local entry=$root/share/applications/tq820-scan.desktop
    if [ ! -f "$entry" ]; then
        fail "no desktop entry $entry"
        return
    fi
    desktop-file-validate "$entry" || fail "desktop entry $entry does not validate"
    icon=$(desktop_key Icon "$entry")
    icon_file=$root/share/icons/hicolor/scalable/apps/$icon.svg
    if [ ! -f "$icon_file" ]; then
        fail "the desktop entry's icon '$icon' is not installed at $icon_file"
    elif ! gdk-pixbuf-thumbnailer -s 64 "$icon_file" "$work/icon.png" ||
        ! file "$work/icon.png" | grep -q 'PNG image data, 64 x 64'; then
        fail "the icon $icon_file does not render"
    fi
}

# ---- the window -------------------------------------------------------------

start_display() {
    local fifo=$work/display
    mkfifo "$fifo"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fifo" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    local number
    if ! read -r -t 20 number <"$fifo"; then
        fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        return 1
    fi
    export DISPLAY=":$number"
}

# Runs the desktop entry's command from the installed prefix, as a menu would,
# and waits for the main window to be mapped.
check_window_opens() {
    local root=$1 command window=
    local entry=$root/share/applications/tq820-scan.desktop
    command=$(desktop_key Exec "$entry")
    if [ -z "$command" ]; then
        fail "the desktop entry has no Exec line"
        return
    fi
    # The command must find the installed program, not one elsewhere on PATH.
    local found
    found=$(PATH="$root/bin:$PATH" command -v "${command%% *}")
    if [ "$found" != "$root/bin/${command%% *}" ]; then
        fail "the desktop entry's command '$command' does not run the installed program: '$found'"
        return
    fi
    start_display || return
    PATH="$root/bin:$PATH" QT_QPA_PLATFORM=xcb $command >"$work/app.log" 2>&1 &
    app_pid=$!
    for _ in $(seq 1 100); do
        window=$(xdotool search --onlyvisible --name '^Corvalen Control Example$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.2
    done
    if [ -z "$window" ]; then
        fail "'$command' from $root/bin showed no window 'Corvalen Control Example': $(cat "$work/app.log")"
    fi
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=
}

# ---- the menu's second action: the program against the simulator -----------

# The pid of a child of $1 whose command is $2, from /proc (no procps needed).
child_named() {
    local stat pid comm state ppid rest
    for stat in /proc/[0-9]*/stat; do
        read -r pid comm state ppid rest <"$stat" 2>/dev/null || continue
        if [ "$ppid" = "$1" ] && [ "$comm" = "($2)" ]; then
            echo "$pid"
            return
        fi
    done
}

# Runs the action "Try with the simulated instrument" as a menu would: the
# window must open with "GPIB0::9::INSTR" routed to a running tq820-sim that
# answers *IDN?, and once the program ends the simulator must be gone.
check_demo_action() {
    local root=$1 entry=$1/share/applications/tq820-scan.desktop
    local group="Desktop Action simulated-instrument" command name found
    local scan_pid= sim_pid= window= alias port reply
    name=$(desktop_key Name "$entry" "$group")
    command=$(desktop_key Exec "$entry" "$group")
    [ "$name" = "Try with the simulated instrument" ] || fail "the desktop entry's second action is named '$name'"
    found=$(PATH="$root/bin:$PATH" command -v "${command%% *}")
    if [ "$found" != "$root/bin/tq820-scan-demo" ]; then
        fail "the second action's command '$command' does not run the installed tq820-scan-demo: '$found'"
        return
    fi
    PATH="$root/bin:$PATH" QT_QPA_PLATFORM=xcb $command >"$work/demo.log" 2>&1 &
    demo_pid=$!
    for _ in $(seq 1 100); do
        window=$(xdotool search --onlyvisible --name '^Corvalen Control Example$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && break
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.2
    done
    scan_pid=$(child_named "$demo_pid" tq820-scan)
    sim_pid=$(child_named "$demo_pid" tq820-sim)
    if [ -z "$window" ] || [ -z "$scan_pid" ] || [ -z "$sim_pid" ]; then
        fail "'$command' showed no window with tq820-scan and tq820-sim beside it: $(cat "$work/demo.log")"
        return
    fi
    [ "$(readlink "/proc/$sim_pid/exe")" = "$root/bin/tq820-sim" ] ||
        fail "tq820-scan-demo ran $(readlink "/proc/$sim_pid/exe"), not $root/bin/tq820-sim"
    alias=$(tr '\0' '\n' <"/proc/$scan_pid/environ" | sed -n 's/^CORVALEN_IO_ALIASES=//p')
    port=$(echo "$alias" | sed -n 's/^GPIB0::9::INSTR=TCPIP::127\.0\.0\.1::\([0-9]*\)::SOCKET$/\1/p')
    if [ -z "$port" ]; then
        fail "tq820-scan runs with CORVALEN_IO_ALIASES='$alias', not GPIB0::9::INSTR to a loopback socket"
    elif ! exec 3<>"/dev/tcp/127.0.0.1/$port"; then
        fail "nothing listens at the aliased port $port"
    else
        printf '*IDN?\n' >&3
        read -r -t 5 reply <&3
        exec 3>&-
        echo "$reply" | grep -q ',TQ820A,' || fail "the aliased port $port answers *IDN? with '$reply'"
    fi
    # The program ends; tq820-scan-demo must stop the simulator and end too.
    kill "$scan_pid"
    for _ in $(seq 1 50); do
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$demo_pid" 2>/dev/null; then
        fail "tq820-scan-demo still runs 10 s after tq820-scan ended"
    elif [ -e "/proc/$sim_pid" ] && ! grep -q '^State:.*zombie' "/proc/$sim_pid/status" 2>/dev/null; then
        fail "tq820-sim still runs after tq820-scan-demo ended"
        kill "$sim_pid"
    fi
    wait "$demo_pid" 2>/dev/null
    demo_pid=
}

# ---- the Debian package -----------------------------------------------------

# Lintian from Debian: no error, no warning (informational tags the package
# keeps are overridden in packaging/lintian-overrides, with the reason).
check_lintian() {
    local deb=$1
    if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
        fail "lintian: $(grep -E '^[EW]: ' "$work/lintian.log" || tail -n 20 "$work/lintian.log")"
    fi
}

# The AppStream metadata against the installed tree (so its launchable is
# checked too). --no-net: the homepage and the screenshot are not fetched,
# tests talk to loopback only. Errors and warnings fail; infos do not.
check_appstream() {
    local root=$1
    if ! appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1; then
        fail "appstreamcli validate-tree: $(cat "$work/appstream.log")"
    fi
}

# Every package whose library the programs link (the Depends that
# dpkg-shlibdeps computed) must be named, with its licence, in the copyright.
# An ASan/UBSan build links more than a package ever does (the sanitizers'
# run-times, and GL libraries that Qt's link line names and an unsanitized
# link drops), so there the check is left to the other builds.
check_copyright_names_linked() {
    local copyright=$1 depends=$2 dep
    if echo "$depends" | grep -q -E '(^|, )lib(asan|ubsan)[0-9]'; then
        echo "note: a sanitizer build; the copyright file is checked against the other builds' links"
        return
    fi
    for dep in $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//'); do
        grep -q -w -- "$dep" "$copyright" || fail "the copyright file does not name $dep, which the programs link"
    done
}

check_debian_package() {
    local deb control depends root=$work/debroot dep
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 ||
        { fail "cpack failed: $(tail -n 20 "$work/cpack.log")"; return; }
    deb=$(find "$work/pkg" -maxdepth 1 -name 'tq820-scan_*.deb' | head -n 1)
    if [ -z "$deb" ]; then
        fail "cpack made no tq820-scan_*.deb: $(tail -n 20 "$work/cpack.log")"
        return
    fi
    control=$(dpkg-deb --field "$deb")
    depends=$(dpkg-deb --field "$deb" Depends)
    # Qt's libraries come from what the binaries link; libqt6gui6 also
    # brings the X11 platform plugin that Qt loads at run time.
    for dep in libqt6core6 libqt6gui6 libqt6widgets6 libc6; do
        echo "$depends" | grep -E -q "(^|, )$dep( |,|$)" || fail "the package does not depend on $dep: $depends"
    done
    echo "$control" | grep -q '^Section: electronics$' || fail "the package is not in section electronics"
    echo "$control" | grep -q '^Maintainer: .*<.*@.*>$' || fail "the package names no maintainer"
    echo "$control" | grep -q "^Version: $version\$" || fail "the package's version is not $version: $control"
    # The machine that built the package has every library it links, so apt
    # must find all its dependencies met here.
    if ! apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 || ! grep -q '^Inst tq820-scan ' "$work/apt.log"; then
        fail "apt-get would not install $deb here: $(tail -n 20 "$work/apt.log")"
    fi
    dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb cannot unpack $deb"; return; }
    check_installed_tree "$root/usr"
    check_versions "$root/usr"
    [ -f "$root/usr/share/applications/tq820-scan.desktop" ] || fail "the package has no desktop entry"
    local path outside=
    for path in $(dpkg-deb --contents "$deb" | awk '{print $6}'); do
        case $path in
            ./ | ./usr/ | ./usr/bin/* | ./usr/share/ | ./usr/share/applications/* | \
                ./usr/share/icons/* | ./usr/share/man/* | ./usr/share/doc/* | \
                ./usr/share/metainfo/* | ./usr/share/lintian/*) ;;
            *) outside="$outside $path" ;;
        esac
    done
    [ -z "$outside" ] || fail "the package installs outside usr/bin and usr/share:$outside"
    check_copyright_names_linked "$root/usr/share/doc/tq820-scan/copyright" "$depends"
    check_lintian "$deb"
    has_program tq820-scan && check_appstream "$root"
}

# ---- main -------------------------------------------------------------------

run_prefix_checks() {
    local prefix=$work/prefix p
    # The programs' own component; the I/O library's components (the shared
    # library and what builds against it) are the library tests' to check.
    if ! cmake --install "$build" --prefix "$prefix" --component Unspecified >"$work/install.log" 2>&1; then
        fail "cmake --install failed: $(cat "$work/install.log")"
        return
    fi
    check_installed_tree "$prefix"
    for p in "${programs[@]}"; do
        check_man_page "$prefix/share/man/man1/$p.1.gz" "$p"
    done
    check_versions "$prefix"
    if has_program tq820-sim; then
        "$prefix/bin/tq820-sim" --help >"$work/sim-help.txt" 2>&1 ||
            fail "tq820-sim --help failed: $(cat "$work/sim-help.txt")"
        check_sim_options_documented "$prefix/bin/tq820-sim" "$prefix/share/man/man1/tq820-sim.1.gz"
    fi
    if has_program tq820-scan; then
        check_desktop_entry "$prefix"
        check_window_opens "$prefix"
    fi
    has_program tq820-scan-demo && check_demo_action "$prefix"
    [ -n "${TQ_TOOLS:-}" ] && check_tool
}

case $mode in
    prefix) run_prefix_checks ;;
    deb) check_debian_package ;;
    *) echo "usage: $0 prefix|deb BUILD_DIR PROGRAM..." >&2; exit 2 ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "$mode install checks passed for: ${programs[*]}"
