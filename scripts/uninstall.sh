#!/usr/bin/env bash
# Removes what an install wrote, as listed in its manifest (one path a line, as
# cmake --install writes it), then the folders of our own that are left empty:
# those named robot-simulator or robosim and the ones below them. Folders shared
# with other programs (bin, share/applications, ...) stay, empty or not. Python's
# byte-code caches in the robosim folder go too. Files already gone are skipped.
# The manifest names the files as installed without DESTDIR; a DESTDIR in the
# environment is put in front of every one, as when installing. Given a PREFIX,
# only paths inside it are removed; any other is named and left alone.
#
# With --installed it is make uninstall: the manifest is the list make install
# keeps in the prefix (ROBOSIM_PREFIX and ROBOSIM_DESTDIR from make, checked as
# for make install), which goes too once every file in it is gone, and for a real
# uninstall (no DESTDIR) the desktop's caches are refreshed.
# usage: [DESTDIR=DIR] uninstall.sh MANIFEST [PREFIX] | uninstall.sh --installed BUILD_DIR
set -euo pipefail
here=$(dirname "$0")

if [[ ${1-} == --installed ]]; then
  # shellcheck source=destination.sh
  source "$here/destination.sh"
  check_destination uninstall
  manifest=$DESTDIR$PREFIX/$INSTALLED_LIST
  within=$PREFIX
  [[ -f $manifest ]] || {
    echo "make uninstall: nothing was installed into $DESTDIR$PREFIX by make install (it has" \
      "no $INSTALLED_LIST); give the PREFIX and DESTDIR of the install" >&2
    # Before the lists in the prefix, the last install's list was kept in the build.
    old=${2-}/installed-files.txt
    [[ -z ${2-} || ! -f $old ]] ||
      echo "make uninstall: an install made before those lists is listed in $old;" \
        "bash scripts/uninstall.sh $old PREFIX removes the files of it inside PREFIX" >&2
    exit 1
  }
else
  manifest=${1:?usage: uninstall.sh MANIFEST [PREFIX]}
  within=${2-}
  [[ -f $manifest ]] || { echo "uninstall: no manifest $manifest: nothing was installed from this build" >&2; exit 1; }
fi
within=${within%/}

# A folder is ours when one of its path's components is robot-simulator or robosim.
ours() {
  [[ /$1/ == */robot-simulator/* || /$1/ == */robosim/* ]]
}

# Inside the prefix, and without a ".." that could lead out of it.
inside() {
  [[ -z $within ]] || [[ $1 == "$within"/* && /$1/ != */../* ]]
}

declare -A folders=()
removed=0
left=0
while IFS= read -r path || [[ -n $path ]]; do
  [[ -n $path ]] || continue
  if ! inside "$path"; then
    echo "uninstall: $path is not inside $within; left alone" >&2
    left=$((left + 1))
    continue
  fi
  path=${DESTDIR:-}$path
  if [[ -f $path || -L $path ]]; then
    rm -f -- "$path" || { left=$((left + 1)); continue; }
    removed=$((removed + 1))
  fi
  folders[$(dirname -- "$path")]=1
done <"$manifest"

if [[ ${1-} == --installed ]] && ((left == 0)); then
  rm -f -- "$manifest"
  folders[$(dirname -- "$manifest")]=1
fi
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
if [[ ${1-} == --installed ]]; then
  [[ -n $DESTDIR ]] || bash "$here/refresh_desktop.sh" "$PREFIX"
  ((left == 0)) || { echo "make uninstall: $left files could not be removed; $manifest still lists every file" >&2; exit 1; }
fi
