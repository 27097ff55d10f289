#!/usr/bin/env bash
# The release as a user gets it. Builds the packages (tools/package.sh, which also unpacks the
# Windows zips and checks their contents and imports), checks the Debian package (its
# dependencies, lintian), installs it with apt-get, and as an ordinary user runs what it
# installed from where it installed it: the programs, a manual page, a simulated write, the
# desktop program's screenshot, the manual Help > Contents opens, the desktop entry, the
# AppStream data and the command line's completion. Then it purges the package and checks that
# none of its files is left behind.
#
# It installs a package for the whole machine, so it runs as root, as CI does, on a machine
# where no morva package is installed. It creates the user morvatest if there is none (and
# removes it again). Under CI=true whatever keeps it from running fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
user=morvatest
stage_name="install test"
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh

[ "$(id -u)" -eq 0 ] || cannot_run "it installs a package, so it runs as root"
command -v apt-get >/dev/null && command -v runuser >/dev/null ||
  cannot_run "it needs apt-get and runuser (Debian)"
if dpkg-query -W -f='${Status}' morva 2>/dev/null | grep -q 'ok installed'; then
  cannot_run "a morva package is installed already (apt-get purge morva first)"
fi

bash tools/deps.sh lintian desktop-file-utils appstream bash-completion man-db
bash tools/package.sh
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
deb_name=morva_${version}_$(dpkg --print-architecture).deb
echo "== packages built: $((SECONDS - start)) s"

# Where apt's sandbox user and the test user may read the package.
work=$(mktemp -d)
chmod 755 "$work"
cp "dist/$deb_name" "$work/"
deb=$work/$deb_name
created_user=false
cleanup() {
  if dpkg-query -W -f='${Status}' morva 2>/dev/null | grep -q 'ok installed'; then
    apt-get purge -y -qq morva >/dev/null 2>&1 || true
  fi
  if $created_user; then userdel -r "$user" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
if ! id -u "$user" >/dev/null 2>&1; then
  useradd -m "$user"
  created_user=true
fi
home=$(getent passwd "$user" | cut -d: -f6)
# The user's own environment, nothing of this shell's (no build folder on PATH, no display).
as_user() {
  runuser -u "$user" -- env -i -C "$home" HOME="$home" USER="$user" LANG=C.UTF-8 \
    PATH=/usr/local/bin:/usr/bin:/bin "$@"
}

# From here on every check runs, whatever the one before it found.
set +e
# The package as apt sees it: run-time packages only, since the build machine has every
# build dependency and would not notice one.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "the package depends on no -dev package" \
  bash -c '! grep -qE -- "-dev([ ,]|$)" <<<"$1"' _ "$depends"
check "the package depends on Qt's run-time libraries" grep -q libqt6widgets6 <<<"$depends"
check "lintian finds no error and no warning" \
  as_user lintian --fail-on error,warning --display-info "$deb"

# The machine's files before: after the purge, the same must be there.
files_now() { find /usr /etc /opt -xdev 2>/dev/null | sort; }
files_now >"$work/files-before"

DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=900 "$deb" \
  >"$work/apt-install.log" 2>&1 || { cat "$work/apt-install.log"; exit 1; }
echo "== installed: $((SECONDS - start)) s"

installed_version() { [ "$(as_user "$1" --version)" = "$1 $version" ]; }
check "morva-cli --version says $version" installed_version morva-cli
check "morva --version says $version, without a display" installed_version morva
check "vk350-sim --version says $version" installed_version vk350-sim
check "the programs are in /usr/bin" \
  bash -c '[ "$(command -v morva) $(command -v morva-cli)" = "/usr/bin/morva /usr/bin/morva-cli" ]'

manual_page() { as_user man -P cat "$1" 2>/dev/null | grep -qE "^ +$1 +- "; }
for page in morva-cli morva vk350-sim; do check "man $page" manual_page "$page"; done

simulated_write() {
  as_user bash -c 'head -c 100000 /dev/urandom >fw.upg' &&
    as_user morva-cli write program fw.upg --simulate --quiet &&
    [ -s "$home/.local/state/morva/simulated-vk350.bin" ] &&
    as_user morva-cli verify program fw.upg --simulate --quiet
}
check "morva-cli writes into the simulated Vk350, which keeps it in ~/.local/state/morva" \
  simulated_write

screenshot() {
  rm -f "$home/shot.png"
  as_user morva --screenshot shot.png && file "$home/shot.png" | grep -q 'PNG image data'
}
check "morva --screenshot renders the main window offscreen" screenshot

manual_beside_program() {
  local program
  program=$(as_user bash -c 'command -v morva')
  as_user test -r "$(dirname "$program")/../share/morva/morva-manual.html"
}
check "the manual is where Help > Contents looks: ../share/morva from the program" \
  manual_beside_program

desktop=/usr/share/applications/org.morva.Morva.desktop
check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
check "the desktop entry starts the installed program" grep -qx 'Exec=morva' "$desktop"
icons() {
  local size
  for size in 16x16 32x32 48x48 256x256; do
    [ -f "/usr/share/icons/hicolor/$size/apps/org.morva.Morva.png" ] || return 1
  done
  [ -f /usr/share/icons/hicolor/scalable/apps/org.morva.Morva.svg ]
}
check "the desktop entry's icon is there in every size" icons
check "appstreamcli validates the AppStream data" \
  appstreamcli validate --no-net /usr/share/metainfo/org.morva.Morva.metainfo.xml

# bash-completion loads the completion by the command's name when it is first needed.
as_user bash -c 'mkdir -p files && cd files && touch a.upg b.lib c.usr d.txt'
complete_line() {  # complete_line LINE EXPECTED: the words offered for the last word of LINE
  local got
  got=$(as_user bash -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader morva-cli
    cd files
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    $(complete -p morva-cli | sed "s/.*-F \([^ ]*\) .*/\1/") morva-cli \
      "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    echo "${COMPREPLY[*]}"' _ "$1")
  [ "$got" = "$2" ] || { echo "'$1' completes to '$got', not '$2'" >&2; return 1; }
}
check "bash completes morva-cli's commands" complete_line "morva-cli " "ports detect write read verify log"
check "bash completes the kinds after write" complete_line "morva-cli --yes write " \
  "program libraries user"
check "bash completes a program's files by their extension" \
  complete_line "morva-cli write program " "a.upg"
check "bash completes the options" complete_line "morva-cli read user x.usr --s" \
  "--simulate --simulate-reset"

DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=900 morva \
  >"$work/apt-purge.log" 2>&1 || { cat "$work/apt-purge.log"; exit 1; }
# The caches that the icon and desktop-entry triggers rebuild are the system's, not the package's.
changed=$(files_now | comm -3 "$work/files-before" - |
  grep -vE '/(icon-theme|mimeinfo)\.cache$' || true)
check "after apt-get purge the machine has the files it had before the install" [ -z "$changed" ]
[ -z "$changed" ] || printf 'only before (indented) or only after:\n%s\n' "$changed"

echo "== install test: $((SECONDS - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
