#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the tree and the desktop entry.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
for f in bin/mapviewer bin/mapsheet share/applications/mapviewer.desktop \
         share/icons/hicolor/scalable/apps/mapviewer.svg share/mapviewer/mapviewer.svg; do
    if [[ ! -e "$prefix/$f" ]]; then
        echo "missing: $f"
        fail=1
    fi
done
[[ -x "$prefix/bin/mapsheet" ]] || { echo "mapsheet is not executable"; fail=1; }
"$prefix/bin/mapsheet" --help | grep -q "usage: mapsheet" || { echo "installed mapsheet does not run"; fail=1; }
desktop-file-validate "$prefix/share/applications/mapviewer.desktop" || fail=1
entry="$prefix/share/applications/mapviewer.desktop"
for line in 'Exec=mapviewer %f' 'MimeType=image/tiff;' 'Categories=Graphics;Viewer;' 'Icon=mapviewer'; do
    grep -qxF "$line" "$entry" || { echo "desktop entry lacks: $line"; fail=1; }
done
grep -q '^Name\[ja\]=' "$entry" && grep -q '^Comment\[ja\]=' "$entry" || { echo "no Japanese name"; fail=1; }

# Installed where its bin can be written (as into ~/.local), the viewer still keeps its
# files in the user's directories, and a SIGTERM ends it as closing its window does.
home="$prefix/home"
mkdir -p "$home"
"$prefix/bin/mapsheet" sample "$home/C1.tif" --width 300 --height 200
HOME="$home" XDG_CACHE_HOME="$home/cache" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/mapviewer" "$home/C1.tif" 2>/dev/null &
viewer=$!
for _ in $(seq 500); do
    [[ $(stat -c %s "$home/cache/mapviewer/tiff.tmp" 2>/dev/null) == 60000 ]] && break
    sleep 0.02
done
[[ -f "$home/cache/mapviewer/tiff.tmp" ]] || { echo "no scratch file in the user's cache"; fail=1; }
[[ -d "$home/data/mapviewer/Mapmgr" ]] || { echo "no management directory in the user's data"; fail=1; }
if ls "$prefix/bin" | grep -qv -e '^mapviewer$' -e '^mapsheet$'; then
    echo "files beside the installed programs: $(ls "$prefix/bin")"
    fail=1
fi
kill -TERM "$viewer"
wait "$viewer" || { echo "the viewer did not end cleanly on SIGTERM"; fail=1; }
[[ ! -e "$home/cache/mapviewer/tiff.tmp" ]] || { echo "the scratch file stayed"; fail=1; }
exit $fail
