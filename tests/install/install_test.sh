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
         share/icons/hicolor/scalable/apps/mapviewer.svg; do
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
exit $fail
