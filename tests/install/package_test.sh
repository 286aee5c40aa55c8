#!/usr/bin/env bash
# Builds the Debian package and checks what it holds: the files, one version everywhere,
# manual pages that cover mapsheet's usage and show without warnings, the completion, the
# metainfo, lintian. As root it then installs the package with apt, runs what it installed
# (mapsheet, and the viewer under an X server of its own), and removes it, leaving nothing
# under /usr. The package is removed on every way out.
#   package_test.sh BUILD_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
fail=0
bad() {
    echo "package: $*"
    fail=1
}

installed=0
xserver=
viewer=
cleanup() {
    [[ -n "$viewer" ]] && kill -KILL "$viewer" 2>/dev/null
    [[ -n "$xserver" ]] && kill -TERM "$xserver" 2>/dev/null && wait "$xserver" 2>/dev/null
    if [[ $installed -eq 1 ]] && dpkg-query -W -f='${Status}' mapviewer 2>/dev/null |
        grep -q 'ok installed'; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq mapviewer >/dev/null 2>&1 ||
            echo "package: could not remove mapviewer: remove it by hand" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "package: interrupted" >&2; exit 1' INT TERM HUP
trap 'echo "package: line $LINENO failed" >&2' ERR

if ! deb=$("$src/scripts/package" "$build" 2>"$work/package.log"); then
    cat "$work/package.log"
    exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ $(basename "$deb") == "mapviewer_${version}_$(dpkg --print-architecture).deb" ]] ||
    bad "named $(basename "$deb"), not after version $version"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || bad "package version is not $version"

# What it holds, and nothing outside /usr.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/contents"
for f in /usr/bin/mapviewer /usr/bin/mapsheet /usr/share/applications/mapviewer.desktop \
    /usr/share/icons/hicolor/scalable/apps/mapviewer.svg /usr/share/mapviewer/mapviewer.svg \
    /usr/share/metainfo/org.example.mapviewer.metainfo.xml /usr/share/man/man1/mapsheet.1.gz \
    /usr/share/man/man1/mapviewer.1.gz /usr/share/bash-completion/completions/mapsheet \
    /usr/share/doc/mapviewer/copyright /usr/share/doc/mapviewer/changelog.gz; do
    grep -qxF "$f" "$work/contents" || bad "does not hold $f"
done
grep -v '^/usr/' "$work/contents" && bad "holds files outside /usr"
dpkg-deb -c "$deb" | awk '$2 != "root/root"' | grep . && bad "holds files not owned by root"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libpng16-16 qt6-qpa-plugins; do
    tr ',' '\n' <<<"$depends" | grep -qE "^ *$d( |$)" || bad "does not depend on $d: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
[[ $("$root/usr/bin/mapsheet" --version) == "mapsheet $version" ]] || bad "mapsheet --version"
[[ $("$root/usr/bin/mapviewer" --version) == "mapviewer $version" ]] ||
    bad "mapviewer --version"
metainfo="$root/usr/share/metainfo/org.example.mapviewer.metainfo.xml"
grep -q "<release version=\"$version\"" "$metainfo" || bad "the metainfo's release is not $version"
appstreamcli validate --no-net "$metainfo" >"$work/appstream" ||
    bad "appstreamcli: $(cat "$work/appstream")"
zcat "$root/usr/share/doc/mapviewer/changelog.gz" | head -1 | grep -qF "mapviewer ($version)" ||
    bad "the changelog's entry is not $version"

# The manual pages show without a warning, on a UTF-8 terminal and on a plain one.
for page in mapsheet mapviewer; do
    for locale in C.UTF-8 C; do
        warnings=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l \
            "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
        [[ -z "$warnings" ]] || bad "$page(1) in $locale: $warnings"
    done
done
# Every command and option in mapsheet's usage is in its manual page and its completion.
mapsheetPage=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/mapsheet.1.gz")
completion="$root/usr/share/bash-completion/completions/mapsheet"
for command in info raster export render sample; do
    grep -q "^       $command " <<<"$mapsheetPage" || bad "mapsheet(1) lacks the command $command"
    for option in $("$root/usr/bin/mapsheet" "$command" --help | grep -o -- '--[a-z-]*' | sort -u); do
        grep -qe "$option" <<<"$mapsheetPage" || bad "mapsheet(1) lacks $command $option"
        bash -c 'source /usr/share/bash-completion/bash_completion
                 source "$1"
                 COMP_WORDS=(mapsheet "$2" --); COMP_CWORD=2; COMP_LINE="mapsheet $2 --"
                 COMP_POINT=${#COMP_LINE}; _mapsheet mapsheet -- "$2"
                 printf "%s\n" "${COMPREPLY[@]}" | grep -qxe "$3"' \
            _ "$completion" "$command" "$option" || bad "no completion for $command $option"
    done
done
for status in 0 1 2; do
    grep -qE "^       $status +[A-Z]" <<<"$mapsheetPage" || bad "mapsheet(1) lacks exit status $status"
done
grep -q TMPDIR <<<"$mapsheetPage" || bad "mapsheet(1) does not tell of TMPDIR"

# lintian passes or names its errors.
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || bad "lintian: $(cat "$work/lintian")"
grep '^W:' "$work/lintian" || true

if [[ $(id -u) -ne 0 ]]; then
    echo "package: not root: its contents are checked, it is not installed"
    exit $fail
fi

# Installed for real. A mapsheet or mapviewer of some other origin in /usr/bin is left alone.
if dpkg-query -W -f='${Status}' mapviewer 2>/dev/null | grep -q 'ok installed'; then
    echo "package: mapviewer was installed before the test; it is replaced and removed"
    installed=1
else
    for f in /usr/bin/mapsheet /usr/bin/mapviewer; do
        if [[ -e "$f" ]]; then
            bad "$f is there and is no package's: not installing over it"
            exit 1
        fi
    done
fi
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt" 2>&1 ||
    { bad "apt-get install: $(cat "$work/apt")"; exit 1; }
[[ $(dpkg-query -W -f='${Version}' mapviewer) == "$version" ]] || bad "installed version"
[[ $(command -v mapsheet) == /usr/bin/mapsheet ]] || bad "mapsheet is not /usr/bin/mapsheet"
[[ $(/usr/bin/mapsheet --version) == "mapsheet $version" ]] || bad "installed mapsheet --version"
if [[ -e /usr/share/man/man1/mapsheet.1.gz ]]; then
    [[ $(man -w mapsheet 2>/dev/null) == /usr/share/man/man1/mapsheet.1.gz ]] ||
        bad "man does not find mapsheet(1)"
else
    # A slim image's dpkg leaves out every manual page (path-exclude).
    echo "package: dpkg installs no manual pages here: man mapsheet is not tried"
fi

home="$work/home"
mkdir -p "$home/tmp"
/usr/bin/mapsheet sample "$home/C1.tif" --width 300 --height 200 || bad "installed mapsheet sample"
TMPDIR="$home/tmp" /usr/bin/mapsheet export "$home/C1.tif" "$home/C1.png" --rate 1/2 ||
    bad "installed mapsheet export"
[[ $(head -c 4 "$home/C1.png" | od -An -tx1 | tr -d ' ') == 89504e47 ]] ||
    bad "the export is no PNG"
[[ -z $(ls -A "$home/tmp") ]] || bad "mapsheet left files in TMPDIR: $(ls -A "$home/tmp")"

# The installed viewer on an X server of its own: its window is shown, and its scratch file
# and settings go to the user's directories, not beside /usr/bin.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xserver=$!
exec 3>&-
for _ in $(seq 500); do
    grep -q . "$work/display" 2>/dev/null && break
    sleep 0.02
done
display=":$(head -1 "$work/display")"
[[ "$display" != ":" ]] || { bad "Xvfb did not start"; exit 1; }
HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    XDG_DATA_HOME="$home/data" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    /usr/bin/mapviewer "$home/C1.tif" >"$work/viewer.log" 2>&1 &
viewer=$!
shown=
for _ in $(seq 500); do
    for id in $(DISPLAY="$display" xwininfo -root -tree 2>/dev/null |
        awk '/\("mapviewer" "mapviewer"\)/ { print $1 }'); do
        DISPLAY="$display" xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' &&
            shown=$id
    done
    [[ -n "$shown" && $(stat -c %s "$home/cache/mapviewer/tiff.tmp" 2>/dev/null) == 60000 ]] &&
        break
    sleep 0.02
done
[[ -n "$shown" ]] || bad "the installed viewer shows no window: $(cat "$work/viewer.log")"
[[ $(stat -c %s "$home/cache/mapviewer/tiff.tmp" 2>/dev/null) == 60000 ]] ||
    bad "no scratch file of the sheet in \$XDG_CACHE_HOME/mapviewer"
kill -TERM "$viewer"
wait "$viewer" || bad "the installed viewer did not end cleanly on SIGTERM"
viewer=
[[ -f "$home/config/mapviewer/mapviewer.ini" ]] ||
    bad "no settings in \$XDG_CONFIG_HOME/mapviewer"
[[ ! -e "$home/cache/mapviewer/tiff.tmp" ]] || bad "the scratch file stayed"
for f in tiff.tmp tiff.lock mapviewer.ini Mapmgr; do
    [[ ! -e "/usr/bin/$f" ]] || bad "the viewer wrote /usr/bin/$f"
done
[[ $(ls -A /usr/share/mapviewer) == mapviewer.svg ]] ||
    bad "the viewer wrote into /usr/share/mapviewer: $(ls -A /usr/share/mapviewer)"

# Removed, nothing of it stays: no file it listed, no directory of its own, no trace in the
# desktop's caches.
dpkg -L mapviewer >"$work/listed"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq mapviewer >"$work/apt" 2>&1 ||
    bad "apt-get remove: $(cat "$work/apt")"
installed=0
if dpkg-query -W -f='${Status}' mapviewer 2>/dev/null | grep -q 'ok installed'; then
    bad "still installed after apt-get remove"
fi
while read -r path; do
    [[ "$path" == /usr/* ]] || continue
    if [[ -d "$path" && ! -L "$path" ]]; then
        [[ -n $(ls -A "$path") ]] || bad "left the empty directory $path"
    elif [[ -e "$path" || -L "$path" ]]; then
        bad "left $path"
    fi
done <"$work/listed"
left=$(find /usr -path /usr/local -prune -o \( -name '*mapviewer*' -o -name 'mapsheet*' \) -print)
[[ -z "$left" ]] || bad "left under /usr: $left"
if grep -qs mapviewer /usr/share/applications/mimeinfo.cache; then
    bad "the desktop's MIME cache still names the viewer"
fi
exit $fail
