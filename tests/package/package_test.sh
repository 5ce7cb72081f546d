#!/usr/bin/env bash
# What a package of Zelo delivers: the menu entry, the manual pages, the version and help of both
# programs, and the Debian package itself. One case per call: package_test.sh CASE ARGS...
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The menu entry: no error or warning (hints only suggest further categories).
desktop() {
  local out
  out=$(desktop-file-validate "$1" 2>&1) || fail "desktop-file-validate: $out"
  if grep -E ': (error|warning): ' <<<"$out"; then fail "desktop-file-validate complains about $1"; fi
  # Offered under "Open with" for folders, handed them as file:// addresses or paths; never the
  # desktop's default by its own say (a preference would make it one).
  grep -qx 'MimeType=inode/directory;' "$1" || fail "$1 declares no MimeType=inode/directory;"
  grep -qx 'Exec=zelo32 %U' "$1" || fail "$1 does not start zelo32 with %U: $(grep '^Exec=' "$1")"
  if grep -q '^InitialPreference=' "$1"; then fail "$1 asks to be preferred"; fi
}

# The software centres' entry: valid for AppStream (no network), naming the desktop entry, the
# licence, and the folders it opens.
metainfo() {
  local file=$1 desktop=$2 out
  out=$(appstreamcli validate --no-net --pedantic "$file" 2>&1) || fail "appstreamcli validate: $out"
  if grep -E '^[EW]: ' <<<"$out"; then fail "appstreamcli warns about $file"; fi
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$file" \
    || fail "$file names no launchable $(basename "$desktop")"
  grep -q '<project_license>GPL-3.0-or-later</project_license>' "$file" || fail "$file names no GPL-3.0-or-later"
  grep -q '<mediatype>inode/directory</mediatype>' "$file" || fail "$file provides no inode/directory"
}

# zelo32 started as "Open with" starts it: file:// addresses (escaped bytes), several of them. A
# missing folder is named; the first folder is opened (the panes read it); the rest pass unmentioned.
open_uri() {
  local app=$1 target uri byte i name status LC_ALL=C # the address escapes bytes, not characters
  dir=$(mktemp -d) # global: the exit trap removes it
  trap '[ -z "${pid:-}" ] || kill "$pid" 2>/dev/null; [ -z "${watch:-}" ] || kill "$watch" 2>/dev/null; rm -rf "$dir"' EXIT
  target="$dir/a b/\xe6\x97\xa5"
  target=$(printf "$target")
  mkdir -p "$target/below"
  uri=file://
  name=$target
  for ((i = 0; i < ${#name}; i++)); do
    byte=${name:i:1}
    case $byte in
      [A-Za-z0-9/._~-]) uri+=$byte ;;
      *) uri+=$(printf '%%%02X' "'$byte") ;;
    esac
  done
  inotifywait -t 60 -e open "$target" >"$dir/opened" 2>"$dir/watching" &
  watch=$!
  until grep -q 'Watches established' "$dir/watching"; do kill -0 "$watch" || fail "inotifywait did not start"; done
  QT_QPA_PLATFORM=offscreen ZELO_DRIVES="C=$dir" "$app" 'file:///nonexistent-zelo%20folder' "$uri/" "$dir/unmentioned" \
    >"$dir/out" 2>&1 &
  pid=$!
  status=0
  wait "$watch" || status=$?
  watch=
  [ "$status" = 0 ] && grep -q OPEN "$dir/opened" || fail "zelo32 did not open $uri: $(cat "$dir/out")"
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
  pid=
  grep -qF "zelo32: file:///nonexistent-zelo%20folder: does not exist" "$dir/out" || fail "missing folder unnamed: $(cat "$dir/out")"
  if grep -q unmentioned "$dir/out"; then fail "zelo32 spoke of an argument after the folder: $(cat "$dir/out")"; fi
}

# Each manual page renders without a single warning, as Debian's checks render it.
man_pages() {
  local page out
  for page in "$@"; do
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) \
      || fail "man cannot render $page: $out"
    [ -z "$out" ] || fail "man warns about $page: $out"
  done
}

# Every command that zelo-cli --help lists has its own entry under COMMANDS in the manual page...
man_commands() {
  local cli=$1 page=$2 entries command
  entries=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null | awk '/^COMMANDS/ { on = 1; next } /^[A-Z]/ { on = 0 } on')
  [ -n "$entries" ] || fail "$page has no COMMANDS section"
  for command in $("$cli" --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p'); do
    grep -qE "^ {7}$command( |$)" <<<"$entries" || fail "$page has no entry for the command $command"
  done
  # ... and every option it names has its own entry under OPTIONS.
  local options option
  options=$(LC_ALL=C MANWIDTH=200 man -l "$page" 2>/dev/null | awk '/^OPTIONS/ { on = 1; next } /^[A-Z]/ { on = 0 } on')
  for option in $("$cli" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qE "^ {7}(-[a-zA-Z], )?$option" <<<"$options" || fail "$page has no entry for the option $option"
  done
}

# --version and --help on standard output with status 0, no display needed; a failed write is no success.
versions() {
  local cli=$1 app=$2 version=$3 out err
  [ "$("$cli" --version)" = "zelo-cli $version" ] || fail "zelo-cli --version printed: $("$cli" --version)"
  [ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" --version)" = "zelo32 $version" ] \
    || fail "zelo32 --version printed something else"
  err=$(mktemp)
  out=$("$cli" --help 2>"$err") || fail "zelo-cli --help exited non-zero"
  [ ! -s "$err" ] || fail "zelo-cli --help wrote to standard error: $(cat "$err")"
  rm -f "$err"
  [[ "$out" == "usage: zelo-cli "* ]] || fail "zelo-cli --help printed: $out"
  if "$cli" --version >/dev/full 2>/dev/null; then fail "zelo-cli --version into a full device exited 0"; fi
}

# cpack builds the .deb; it holds the programs (the SMB helper in libexec), the entry, the icons and the
# manual pages, owned by root, and its dependencies come from the linked libraries plus the fonts and the
# platform plugin.
deb() {
  local build=$1 version=$2 listing depends path
  work=$(mktemp -d) # global: the exit trap removes it
  trap 'rm -rf "$work"' EXIT
  cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "cpack failed"
  }
  local debs=("$work"/zelo_"$version"_*.deb)
  [ -f "${debs[0]}" ] || fail "cpack made no zelo_${version}_*.deb: $(ls "$work")"
  listing=$(dpkg -c "${debs[0]}")
  for path in \
    ./usr/bin/zelo32 ./usr/bin/zelo-cli \
    ./usr/share/applications/zelo32.desktop \
    ./usr/share/icons/hicolor/scalable/apps/zelo32.svg \
    ./usr/share/icons/hicolor/16x16/apps/zelo32.png ./usr/share/icons/hicolor/48x48/apps/zelo32.png \
    ./usr/share/icons/hicolor/256x256/apps/zelo32.png \
    ./usr/share/man/man1/zelo-cli.1.gz ./usr/share/man/man1/zelo32.1.gz \
    ./usr/share/doc/zelo/copyright ./usr/share/doc/zelo/changelog.gz \
    ./usr/share/metainfo/org.example.zelo.metainfo.xml \
    ./usr/share/bash-completion/completions/zelo-cli \
    ./usr/libexec/zelo/zelo-smb-helper; do
    grep -qE " $path\$" <<<"$listing" || fail "the package lacks $path"$'\n'"$listing"
  done
  for path in ./usr/bin/zelo32 ./usr/bin/zelo-cli ./usr/libexec/zelo/zelo-smb-helper; do
    grep -qE "^-rwxr-xr-x root/root .* $path\$" <<<"$listing" || fail "$path is not an executable owned by root"
  done
  if grep -E '^[^ ]*[sStT]' <<<"$listing"; then fail "the package carries setuid, setgid or sticky bits"; fi
  # Zelo never makes itself the default for folders: no list of defaults, no script that sets one.
  if grep -E 'mimeapps\.list|defaults\.list' <<<"$listing"; then fail "the package sets default programs"; fi
  dpkg-deb -e "${debs[0]}" "$work/control"
  if grep -rsE 'xdg-mime|mimeapps' "$work/control"; then fail "the package's scripts set default programs"; fi
  depends=$(dpkg-deb -f "${debs[0]}" Depends)
  for path in libqt6widgets6 libicu fonts-ipafont-gothic fonts-ipafont-mincho qt6-qpa-plugins; do
    grep -q "$path" <<<"$depends" || fail "Depends lacks $path: $depends"
  done
  grep -q qt6-wayland <<<"$(dpkg-deb -f "${debs[0]}" Recommends)" || fail "Recommends lacks qt6-wayland"
  # Debian's hardening: PIE, RELRO bound at start, stack protector, fortified calls.
  dpkg-deb -x "${debs[0]}" "$work/root"
  for path in usr/bin/zelo32 usr/bin/zelo-cli usr/libexec/zelo/zelo-smb-helper; do
    local elf="$work/root/$path" headers symbols
    headers=$(readelf -hldW "$elf")
    symbols=$(readelf -sW --dyn-syms "$elf")
    grep -q 'Type:.*DYN' <<<"$headers" || fail "$path is not position-independent"
    grep -q GNU_RELRO <<<"$headers" || fail "$path has no RELRO"
    grep -qE 'BIND_NOW|FLAGS.*NOW' <<<"$headers" || fail "$path is not bound at start"
    grep -q __stack_chk_fail <<<"$symbols" || fail "$path has no stack protector"
    # The SMB helper's few C library calls write into buffers whose sizes are known only at run time: it
    # has nothing to fortify (lintian, below, agrees).
    grep -qE '__[a-z]+_chk@' <<<"$symbols" || [ "$path" = usr/libexec/zelo/zelo-smb-helper ] \
      || fail "$path calls no fortified function"
  done
  # The installed zelo-cli finds its SMB helper in libexec (wherever the package is unpacked): a count
  # of a GVfs share's folder starts it (stood in for by a script that notes its start), and with no
  # server to log in to, the folder is counted as a local one.
  local helper="$work/root/usr/libexec/zelo/zelo-smb-helper" share="$work/gvfs/smb-share:port=1,server=127.0.0.1,share=none"
  mv "$helper" "$helper.real"
  printf '#!/bin/sh\n: >"%s"\nexec "%s"\n' "$work/helper-started" "$helper.real" >"$helper"
  chmod 755 "$helper"
  mkdir -p "$share" && echo data >"$share/file"
  env -u ZELO_SMB_HELPER -u ZELO_SMB_DIRECT ZELO_DRIVES="C=/" "$work/root/usr/bin/zelo-cli" count "$share" >"$work/count.out" 2>&1 \
    || fail "the installed zelo-cli could not count a share's folder: $(cat "$work/count.out")"
  [ -e "$work/helper-started" ] || fail "the installed zelo-cli did not start its SMB helper"
  # Others may pass it on: the copyright file is machine-readable and grants GPL-3.0-or-later.
  local copyright="$work/root/usr/share/doc/zelo/copyright"
  head -n 1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "the copyright file is not machine-readable"
  grep -q '^License: GPL-3+$' "$copyright" && grep -q '/usr/share/common-licenses/GPL-3' "$copyright" \
    || fail "the copyright file grants no GPL-3+"
  if grep -qi 'all rights' "$copyright"; then fail "the copyright file still reserves all rights"; fi
  # Debian's own check, pedantic tags included: not one (its notes on running as root are no tags).
  local report
  report=$(lintian --pedantic --tag-display-limit 0 "${debs[0]}" 2>&1) || true
  echo "lintian: ${report:-no tags}"
  if grep -E '^[EWIP]: ' <<<"$report"; then fail "lintian reports tags"; fi
}

# Bash completes the commands zelo-cli --help lists, each command's options and paths.
completion() {
  local cli=$1 script=$2 expected listed
  expected=$("$cli" --help | sed -n 's/^  \([a-z][a-z-]*\) .*/\1/p' | sort | tr '\n' ' ')
  complete_words() {
    bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _zelo_cli zelo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$@"
  }
  listed=$(complete_words zelo-cli "" | sort | tr '\n' ' ')
  [ "$listed" = "$expected" ] || fail "completion offers '$listed', zelo-cli --help lists '$expected'"
  grep -qx -- --keep-root <<<"$(complete_words zelo-cli delete --keep-r)" || fail "no --keep-root after delete"
  grep -qx -- --verbose <<<"$(complete_words zelo-cli --ve)" || fail "no --verbose"
  if grep -qx -- --keep-root <<<"$(complete_words zelo-cli count --k)"; then fail "--keep-root offered for count"; fi
}

# zelo32 without a display says so and exits 1; a mistyped drive map is named and refused (exit 2).
no_display() {
  local app=$1 out status
  status=0
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" 2>&1) || status=$?
  [ "$status" = 1 ] || fail "zelo32 without a display exited $status: $out"
  grep -q "ディスプレイが見つかりません" <<<"$out" && grep -q "no display found" <<<"$out" \
    || fail "zelo32 without a display said: $out"
  # A display that is not there: the platform plugin fails, the program says the same.
  status=0
  out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:7919 "$app" 2>&1) || status=$?
  [ "$status" = 1 ] && grep -q "no display found" <<<"$out" || fail "zelo32 on a missing display: $status $out"
  status=0
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ZELO_DRIVES='C:=/tmp' "$app" 2>&1) || status=$?
  [ "$status" = 2 ] && grep -q "'C:=/tmp'" <<<"$out" || fail "zelo32 over a mistyped ZELO_DRIVES: $status $out"
}

# README's package recipe configures the programs alone: no test and no benchmark is built first.
recipe() {
  local source=$1 line targets
  line=$(grep -E '^    cmake -S \. -B build-deb ' "$source/README.md") || fail "README has no package recipe"
  dir=$(mktemp -d) # global: the exit trap removes it
  trap 'rm -rf "$dir" "$dir.log"' EXIT
  (cd "$source" && eval "${line/build-deb/$dir}") >"$dir.log" 2>&1 || { cat "$dir.log" >&2; fail "the recipe's configure failed"; }
  rm -f "$dir.log"
  targets=$(cmake --build "$dir" --target help)
  grep -q zelo32 <<<"$targets" && grep -q zelo-cli <<<"$targets" || fail "the recipe builds no programs"
  if grep -E '_test|_bench|gtest' <<<"$targets"; then fail "the recipe builds tests or benchmarks"; fi
}

case "${1:-}" in
  desktop) desktop "$2" ;;
  metainfo) metainfo "$2" "$3" ;;
  open-uri) open_uri "$2" ;;
  man) shift && man_pages "$@" ;;
  man-commands) man_commands "$2" "$3" ;;
  versions) versions "$2" "$3" "$4" ;;
  deb) deb "$2" "$3" ;;
  completion) completion "$2" "$3" ;;
  no-display) no_display "$2" ;;
  recipe) recipe "$2" ;;
  *) fail "unknown case: ${1:-}" ;;
esac
