#!/usr/bin/env bash
# Removes what an install wrote, as listed in its manifest (one path a line, as
# cmake --install writes it), then the folders of our own that are left empty:
# those named robot-simulator or robosim and the ones below them. Folders shared
# with other programs (bin, share/applications, ...) stay, empty or not. Python's
# byte-code caches in the robosim folder go too. Files already gone are skipped.
# The manifest names the files as installed without DESTDIR; a DESTDIR in the
# environment is put in front of every one, as when installing.
# usage: [DESTDIR=DIR] uninstall.sh MANIFEST
set -euo pipefail

manifest=${1:?usage: uninstall.sh MANIFEST}
[[ -f $manifest ]] || { echo "uninstall: no manifest $manifest: nothing was installed from this build" >&2; exit 1; }

# A folder is ours when one of its path's components is robot-simulator or robosim.
ours() {
  [[ /$1/ == */robot-simulator/* || /$1/ == */robosim/* ]]
}

declare -A folders=()
removed=0
while IFS= read -r path || [[ -n $path ]]; do
  [[ -n $path ]] || continue
  path=${DESTDIR:-}$path
  if [[ -f $path || -L $path ]]; then
    rm -f -- "$path"
    removed=$((removed + 1))
  fi
  folders[$(dirname -- "$path")]=1
done <"$manifest"

for folder in "${!folders[@]}"; do
  [[ $(basename -- "$folder") == robosim ]] && rm -rf -- "$folder/__pycache__"
done
# Deepest first, so that a folder's emptied subfolders are gone before it is tried.
while IFS= read -r folder; do
  while ours "$folder" && [[ -d $folder ]] && rmdir -- "$folder" 2>/dev/null; do
    folder=$(dirname -- "$folder")
  done
done < <(printf '%s\n' "${!folders[@]}" | awk '{ print length, $0 }' | sort -rn | cut -d' ' -f2-)
echo "uninstall: removed $removed files listed in $manifest"
