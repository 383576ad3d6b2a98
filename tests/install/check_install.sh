#!/bin/bash
# Installs the build into a temporary prefix and checks what a user gets: the
# programs start from there, the desktop entry validates and its command
# opens the window, the icon renders, the man pages render without warnings
# and the simulator's page documents exactly the options it takes. In the
# deb mode it builds the Debian package instead, unpacks it into a throwaway
# root and checks its contents and declared dependencies.
#
# Usage: check_install.sh prefix|deb BUILD_DIR PROGRAM...
set -u

mode=$1
build=$2
shift 2
programs=("$@")

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tq820-install.XXXXXX")
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
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
        check_binary "$root/bin/$p"
        [ -f "$root/share/man/man1/$p.1.gz" ] || fail "no man page $root/share/man/man1/$p.1.gz"
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
}

# The long options a text mentions, one per line, sorted.
long_options() {
    grep -o -E -- '--[a-z][a-z-]*' | sort -u
}

check_sim_options_documented() {
    local sim=$1 page=$2 help_options page_options
    help_options=$("$sim" --help 2>&1 | long_options)
    page_options=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b |
        sed -n '/^OPTIONS/,/^[A-Z]/p' | long_options)
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

# ---- desktop entry and icon -------------------------------------------------

desktop_key() {
    sed -n "s/^$1=//p" "$2" | head -n 1
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

# ---- the Debian package -----------------------------------------------------

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
    # The machine that built the package has every library it links, so apt
    # must find all its dependencies met here.
    if ! apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 || ! grep -q '^Inst tq820-scan ' "$work/apt.log"; then
        fail "apt-get would not install $deb here: $(tail -n 20 "$work/apt.log")"
    fi
    dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb cannot unpack $deb"; return; }
    check_installed_tree "$root/usr"
    [ -f "$root/usr/share/applications/tq820-scan.desktop" ] || fail "the package has no desktop entry"
    local path outside=
    for path in $(dpkg-deb --contents "$deb" | awk '{print $6}'); do
        case $path in
            ./ | ./usr/ | ./usr/bin/* | ./usr/share/ | ./usr/share/applications/* | \
                ./usr/share/icons/* | ./usr/share/man/*) ;;
            *) outside="$outside $path" ;;
        esac
    done
    [ -z "$outside" ] || fail "the package installs outside usr/bin and usr/share:$outside"
}

# ---- main -------------------------------------------------------------------

run_prefix_checks() {
    local prefix=$work/prefix p
    if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
        fail "cmake --install failed: $(cat "$work/install.log")"
        return
    fi
    check_installed_tree "$prefix"
    for p in "${programs[@]}"; do
        check_man_page "$prefix/share/man/man1/$p.1.gz" "$p"
    done
    if has_program tq820-sim; then
        "$prefix/bin/tq820-sim" --help >"$work/sim-help.txt" 2>&1 ||
            fail "tq820-sim --help failed: $(cat "$work/sim-help.txt")"
        check_sim_options_documented "$prefix/bin/tq820-sim" "$prefix/share/man/man1/tq820-sim.1.gz"
    fi
    if has_program tq820-scan; then
        check_desktop_entry "$prefix"
        check_window_opens "$prefix"
    fi
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
