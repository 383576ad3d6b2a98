#!/bin/bash
# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and checks what a user gets: the
# programs start from there, the desktop entry validates, its command opens
# the window and its second action runs the program against the simulator,
# the icon renders, the man pages render without warnings, the simulator's
# page documents exactly the options it takes, and everything carries the
# one version. In the deb mode it checks the Debian packages that
# ./scripts/package built instead: one for each package debian/control
# declares, each holding only its own part and declaring what it needs,
# with its copyright file and changelog; the programs' packages unpacked
# into a throwaway root pass the checks of the prefix install that need no
# display; the library's pkg-config file and CMake package work from the
# multiarch libdir; lintian passes every binary package and the source
# package, appstreamcli the metadata.
#
# Usage: TQ_VERSION=x.y.z check_install.sh prefix BUILD_DIR PROGRAM...
#        TQ_VERSION=x.y.z check_install.sh deb PACKAGE_DIR PROGRAM...
set -u

mode=$1
build=$2
shift 2
programs=("$@")
debs=$(cd "$build" 2>/dev/null && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
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

# ---- the Debian packages ----------------------------------------------------

# The packages debian/control declares: each must have been built.
declared_packages() {
    sed -n 's/^Package: *//p' "$top/debian/control"
}

# The .deb of package $1 in the package folder, or nothing.
deb_of() {
    find "$debs" -maxdepth 1 -name "$1_${version}_*.deb" | head -n 1
}

# Lintian from Debian on every binary package and on the source package: no
# error, no warning (informational tags a package keeps are overridden in
# debian/*.lintian-overrides, each with its reason).
check_lintian() {
    local what=$1
    shift
    if ! lintian --fail-on error,warning "$@" >"$work/lintian.log" 2>&1; then
        fail "lintian on $what: $(grep -E '^[EW]: ' "$work/lintian.log" || tail -n 20 "$work/lintian.log")"
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

# Every package whose library a package's binaries link (the Depends that
# dpkg-shlibdeps computed) must be named, with its licence, in the copyright.
check_copyright_names_linked() {
    local copyright=$1 depends=$2 dep
    for dep in $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//'); do
        case $dep in tq820-* | libcorvalen*) continue ;; esac
        grep -q -w -- "$dep" "$copyright" || fail "the copyright file does not name $dep, which the packages link"
    done
}

# The paths package $1's .deb installs that no pattern of $2... allows.
paths_outside() {
    local deb=$1 path pattern ok outside=
    shift
    for path in $(dpkg-deb --contents "$deb" | awk '{print $6}'); do
        ok=
        for pattern in ./ ./usr/ ./usr/share/ ./usr/share/doc/ "./usr/share/doc/$(dpkg-deb -f "$deb" Package)/*" "$@"; do
            # shellcheck disable=SC2254
            case $path in $pattern) ok=1; break ;; esac
        done
        [ -n "$ok" ] || outside="$outside $path"
    done
    echo "$outside"
}

check_package_fields() {
    local package=$1 deb=$2 control
    control=$(dpkg-deb --field "$deb")
    echo "$control" | grep -q "^Version: $version\$" || fail "$package's version is not $version"
    echo "$control" | grep -q '^Maintainer: .*<.*@.*>$' || fail "$package names no maintainer"
    echo "$control" | grep -q '^Source: tq820-scan$' || [ "$package" = tq820-scan ] ||
        fail "$package does not come from the source package tq820-scan"
    [ -f "$work/unpacked/$package/usr/share/doc/$package/copyright" ] || fail "$package has no copyright file"
    [ -f "$work/unpacked/$package/usr/share/doc/$package/changelog.gz" ] || fail "$package has no changelog.gz"
    # A -dev package links nothing; it depends on other -dev packages.
    case $package in
        *-dev) ;;
        *) check_copyright_names_linked "$work/unpacked/$package/usr/share/doc/$package/copyright" \
            "$(dpkg-deb --field "$deb" Depends)" ;;
    esac
}

# What each package holds and needs; the declared relationships that no
# tool computes (the platform plugin, the simulator for the demo, the -dev
# package's exact library version) included.
check_package_split() {
    local multiarch outside depends
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    depends=$(dpkg-deb --field "$(deb_of tq820-scan)" Depends)
    for dep in qt6-qpa-plugins libqt6core6 libqt6gui6 libqt6widgets6 libc6; do
        echo "$depends" | grep -E -q "(^|, )$dep( |,|$)" || fail "tq820-scan does not depend on $dep: $depends"
    done
    dpkg-deb --field "$(deb_of tq820-scan)" Recommends | grep -q -w tq820-sim ||
        fail "tq820-scan does not recommend tq820-sim, which its demo runs"
    dpkg-deb --field "$(deb_of tq820-scan)" Section | grep -q '^electronics$' || fail "tq820-scan is not in section electronics"
    dpkg-deb --field "$(deb_of libcorvalen-dev)" Depends | grep -q "libcorvalen0 (= $version)" ||
        fail "libcorvalen-dev does not depend on libcorvalen0 (= $version)"
    dpkg-deb --field "$(deb_of libcorvalen-visa-dev)" Depends | grep -q "libcorvalen-visa0 (= $version)" ||
        fail "libcorvalen-visa-dev does not depend on libcorvalen-visa0 (= $version)"
    # Programs depend on at least the library version they were built with.
    dpkg-deb --ctrl-tarfile "$(deb_of libcorvalen0)" | tar -xO ./shlibs 2>/dev/null |
        grep -q "^libcorvalen 0 libcorvalen0 (>= $version)\$" ||
        fail "libcorvalen0's shlibs is not 'libcorvalen 0 libcorvalen0 (>= $version)'"
    depends=$(dpkg-deb --field "$(deb_of corvalen-tools)" Depends)
    for dep in "libcorvalen0 (>= $version)" libedit2; do
        echo "$depends" | grep -q -F "$dep" || fail "corvalen-tools does not depend on $dep: $depends"
    done
    # The C library's symbols file goes with it, so that programs depend on
    # the version that brought the symbols they use.
    dpkg-deb --ctrl-tarfile "$(deb_of libcorvalen-visa0)" | tar -xO ./symbols 2>/dev/null |
        grep -q "^ viOpen@CORVALEN_VISA_0 " || fail "libcorvalen-visa0 carries no symbols file listing viOpen"

    outside=$(paths_outside "$(deb_of tq820-scan)" './usr/bin/' './usr/bin/tq820-scan' './usr/bin/tq820-scan-demo' \
        './usr/share/applications/*' './usr/share/icons/*' './usr/share/man/' './usr/share/man/man1/' \
        './usr/share/man/man1/tq820-scan*' './usr/share/metainfo/*' './usr/share/lintian/*')
    [ -z "$outside" ] || fail "tq820-scan holds files not of the program:$outside"
    outside=$(paths_outside "$(deb_of tq820-sim)" './usr/bin/' './usr/bin/tq820-sim' './usr/share/man/' \
        './usr/share/man/man1/' './usr/share/man/man1/tq820-sim.1.gz')
    [ -z "$outside" ] || fail "tq820-sim holds files not of the simulator:$outside"
    outside=$(paths_outside "$(deb_of libcorvalen0)" './usr/lib/' "./usr/lib/$multiarch/" \
        "./usr/lib/$multiarch/libcorvalen.so.0*" './usr/share/lintian/*')
    [ -z "$outside" ] || fail "libcorvalen0 holds files not of the run-time library:$outside"
    outside=$(paths_outside "$(deb_of libcorvalen-dev)" './usr/include/' './usr/include/corvalen/*' \
        './usr/lib/' "./usr/lib/$multiarch/" "./usr/lib/$multiarch/libcorvalen.so" \
        "./usr/lib/$multiarch/pkgconfig/" "./usr/lib/$multiarch/pkgconfig/corvalen.pc" \
        "./usr/lib/$multiarch/cmake/*")
    [ -z "$outside" ] || fail "libcorvalen-dev holds files not for building against the library:$outside"
    outside=$(paths_outside "$(deb_of corvalen-tools)" './usr/bin/' './usr/bin/corvalen' './usr/share/man/' \
        './usr/share/man/man1/' './usr/share/man/man1/corvalen.1.gz')
    [ -z "$outside" ] || fail "corvalen-tools holds files not of the command-line tool:$outside"
    outside=$(paths_outside "$(deb_of libcorvalen-visa0)" './usr/lib/' "./usr/lib/$multiarch/" \
        "./usr/lib/$multiarch/libcorvalen-visa.so.0*")
    [ -z "$outside" ] || fail "libcorvalen-visa0 holds files not of the VISA library:$outside"
    outside=$(paths_outside "$(deb_of libcorvalen-visa-dev)" './usr/include/' './usr/include/corvalen-visa/' \
        './usr/include/corvalen-visa/visa.h' './usr/include/corvalen-visa/visatype.h' \
        './usr/lib/' "./usr/lib/$multiarch/" "./usr/lib/$multiarch/libcorvalen-visa.so" \
        "./usr/lib/$multiarch/pkgconfig/" "./usr/lib/$multiarch/pkgconfig/corvalen-visa.pc")
    [ -z "$outside" ] || fail "libcorvalen-visa-dev holds files not for building against the VISA library:$outside"
}

# The libraries as installed under the multiarch libdir: corvalen.pc and
# corvalen-visa.pc find their headers and library relative to where they
# are, and find_package(Corvalen) builds the example from the unpacked
# packages alone.
check_library_files() {
    local root=$work/libroot multiarch pc_dir libdir includedir package
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    for package in libcorvalen0 libcorvalen-dev libcorvalen-visa0 libcorvalen-visa-dev; do
        dpkg-deb -x "$(deb_of "$package")" "$root" || { fail "cannot unpack the library package $package"; return; }
    done
    pc_dir=$root/usr/lib/$multiarch/pkgconfig
    libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir corvalen)
    includedir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=includedir corvalen)
    [ "$(readlink -f "$libdir/libcorvalen.so")" = "$(readlink -f "$root/usr/lib/$multiarch/libcorvalen.so.$version")" ] ||
        fail "corvalen.pc's libdir $libdir has no libcorvalen.so leading to the packaged library"
    [ -f "$includedir/corvalen/corvalen.h" ] || fail "corvalen.pc's includedir $includedir has no corvalen/corvalen.h"
    libdir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=libdir corvalen-visa)
    includedir=$(PKG_CONFIG_PATH=$pc_dir pkg-config --variable=includedir corvalen-visa)
    [ "$(readlink -f "$libdir/libcorvalen-visa.so")" = \
        "$(readlink -f "$root/usr/lib/$multiarch/libcorvalen-visa.so.$version")" ] ||
        fail "corvalen-visa.pc's libdir $libdir has no libcorvalen-visa.so leading to the packaged library"
    [ -f "$includedir/corvalen-visa/visa.h" ] ||
        fail "corvalen-visa.pc's includedir $includedir has no corvalen-visa/visa.h"
    if ! cmake -S "$top/examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$root/usr" \
            -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >"$work/examples.log" 2>&1 ||
        ! cmake --build "$work/examples" --target query >>"$work/examples.log" 2>&1; then
        fail "the example does not build with find_package(Corvalen) from the packages: $(tail -n 20 "$work/examples.log")"
    elif ! grep -q "$root/usr/include" "$work/examples/CMakeFiles/query.dir/flags.make"; then
        fail "find_package(Corvalen) did not take the packaged headers: $(grep INCLUDES "$work/examples/CMakeFiles/query.dir/flags.make")"
    fi
}

check_debian_packages() {
    local package deb all=() root=$work/debroot missing=
    for package in $(declared_packages); do
        deb=$(deb_of "$package")
        if [ -z "$deb" ]; then
            missing="$missing $package"
            continue
        fi
        all+=("$deb")
        mkdir -p "$work/unpacked/$package"
        dpkg-deb -x "$deb" "$work/unpacked/$package" || fail "dpkg-deb cannot unpack $deb"
        check_package_fields "$package" "$deb"
    done
    if [ -n "$missing" ]; then
        fail "no .deb of version $version in $debs for:$missing"
        return
    fi
    # The machine that built the packages has every library they link, so
    # apt must find all their dependencies met here.
    if ! apt-get install --simulate "${all[@]}" >"$work/apt.log" 2>&1 || ! grep -q '^Inst tq820-scan ' "$work/apt.log"; then
        fail "apt-get would not install the packages here: $(tail -n 20 "$work/apt.log")"
    fi
    check_package_split
    # The programs' packages, unpacked together, as the prefix install is.
    dpkg-deb -x "$(deb_of tq820-scan)" "$root" && dpkg-deb -x "$(deb_of tq820-sim)" "$root" ||
        { fail "cannot unpack the programs' packages"; return; }
    check_installed_tree "$root/usr"
    check_versions "$root/usr"
    check_appstream "$root"
    check_library_files
    check_lintian "the binary packages" "${all[@]}" "$debs"/*-dbgsym_"${version}"_*.deb
    if [ -f "$debs/tq820-scan_$version.dsc" ]; then
        check_lintian "the source package" "$debs/tq820-scan_$version.dsc"
    else
        fail "no source package $debs/tq820-scan_$version.dsc"
    fi
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
    deb) check_debian_packages ;;
    *) echo "usage: $0 prefix BUILD_DIR PROGRAM... | deb PACKAGE_DIR PROGRAM..." >&2; exit 2 ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "$mode install checks passed for: ${programs[*]}"
