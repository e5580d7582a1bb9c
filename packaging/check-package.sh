#!/usr/bin/env bash
# Checks the Debian package as a user's machine would meet it: the package
# and its desktop files pass their validators, it installs with apt-get, the
# installed program and GIMP find the installed filter with no help, and
# removing it leaves none of its files behind. Runs as root; the package is
# removed again at the end, also when a check fails.
#
#   check-package.sh PACKAGE.deb
set -euo pipefail

deb=$(realpath "$1")
name=$(dpkg-deb -f "$deb" Package)
work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$name" >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-package: $*" >&2; exit 1; }
step() { echo "== $*"; }

if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed"; then
  fail "$name is installed already: remove it first, so that its removal can be checked"
fi

step "lintian"
lintian --fail-on error "$deb"

step "desktop entry and AppStream metadata"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/$name.desktop"
appstreamcli validate --no-net "$work/root"/usr/share/metainfo/*.metainfo.xml
for png in "$work/root"/usr/share/icons/hicolor/*/apps/"$name".png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  file "$png" | grep -q "PNG image data, ${size/x/ x }, 8-bit/color RGBA" ||
    fail "$png is no $size RGBA PNG: $(file -b "$png")"
done

step "apt-get install"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb"
/usr/bin/kelvane --version

step "the installed program finds the installed filter"
cd "$work"
/usr/bin/kelvane --list | tee list.txt
grep -q "^/usr/lib/.*/kelvane/plugins/kelvane.8bf" list.txt || fail "kelvane --list shows no installed module"
/usr/bin/kelvane --flatten white --demo photo.jpg
printf 'background 0%%,0%% 100%%,0%%\nobject 50%%,50%%\napply\nok\n' > sky.txt
/usr/bin/kelvane --script sky.txt photo.jpg cut-out.png
file cut-out.png | grep -q "PNG image data, .* RGBA" || fail "the script run wrote no RGBA PNG: $(file -b cut-out.png)"

step "a headless GIMP finds the installed plug-in"
mkdir -p gimp/gradients
DISPLAY= WAYLAND_DISPLAY= HOME="$work" GIMP2_DIRECTORY="$work/gimp" XDG_CONFIG_HOME="$work/config" \
XDG_CACHE_HOME="$work/cache" gimp-console-2.10 -i -d -f -b '
(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "photo.jpg" "photo.jpg")))
       (layer (car (gimp-image-get-active-layer image))))
  (plug-in-kelvane RUN-NONINTERACTIVE image layer "background 0%,0% 100%,0%\nobject 50%,50%\napply\nok\n")
  (file-png-save2 RUN-NONINTERACTIVE image layer "gimp.png" "gimp.png" 0 9 0 0 0 0 0 0 1))' \
  -b '(gimp-quit 0)' 2>&1 | tee gimp.log
file gimp.png | grep -q "PNG image data, .* RGBA" || fail "GIMP wrote no cut-out: the plug-in was not found or failed"

step "manual page and bash completion"
MANPAGER=cat MANWIDTH=80 man kelvane > man.txt
for option in $(/usr/bin/kelvane --help | sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p'); do
  grep -q -- "$option" man.txt || fail "man kelvane does not show $option"
done
# What bash offers at the end of the words given, one a line.
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion
    _completion_loader kelvane
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _kelvane kelvane "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    printf "%s\n" "${COMPREPLY[@]}"' complete "$@" | sort
}
long_options=$(/usr/bin/kelvane --help | sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p' | sort)
[ "$(complete_words kelvane --)" = "$long_options" ] || fail "kelvane --<Tab> does not offer exactly the options of --help"
[ "$(complete_words kelvane --format w)" = webp ] || fail "kelvane --format w<Tab> does not complete to webp"
mkdir -p results
complete_words kelvane --out-dir "" > folders.txt
grep -qx results folders.txt && ! grep -qx photo.jpg folders.txt ||
  fail "kelvane --out-dir <Tab> does not offer folders only: $(tr '\n' ' ' < folders.txt)"
complete_words kelvane --script sky.txt "" | grep -qx photo.jpg || fail "kelvane --script sky.txt <Tab> offers no picture"

step "removal leaves nothing"
dpkg-query -L "$name" > files.txt
# Removed, not purged: a user's "apt remove" must leave nothing either.
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "$name"
installed=0
left=0
while read -r path; do
  # Folders shared with other packages (/usr/share/man/man1 ...) stay.
  if [ -e "$path" ] && { [ ! -d "$path" ] || [[ $path == *kelvane* ]]; }; then
    echo "left behind: $path" >&2
    left=1
  fi
done < files.txt
[ "$left" = 0 ] || fail "removing $name left files behind"
echo "check-package: $(basename "$deb") passed"
