#!/usr/bin/env bash
# Installs the build into a staging folder and checks what a desktop, a software centre and a
# reader of manual pages take from it: the three programs, the desktop entry and the metainfo as
# their validators see them, the icon at every size, and quorlan-cli's manual page, which must
# render without warnings and name every command and option that quorlan-cli --help names.
#   package_install.sh CMAKE BUILD_DIR APP_ID
set -uo pipefail
cmake=$1 build=$2 id=$3

for tool in desktop-file-validate appstreamcli groff gzip; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)"; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! out=$("$cmake" --install "$build" --prefix "$stage/usr" 2>&1); then
  echo "$out"
  echo "FAIL: cmake --install"
  exit 1
fi
usr=$stage/usr
share=$usr/share

for program in quorlan quorlan-cli korvel-sim; do
  [ -f "$usr/bin/$program" ] && [ -x "$usr/bin/$program" ] || fail "bin/$program is not installed"
done

# The desktop entry: valid, and what it starts and shows is installed.
desktop=$share/applications/$id.desktop
if [ ! -f "$desktop" ]; then
  fail "no desktop entry $id.desktop"
else
  out=$(desktop-file-validate "$desktop" 2>&1)
  [ $? -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate: $out"
  exec_line=$(sed -n 's/^Exec=//p' "$desktop")
  [ -x "$usr/bin/${exec_line%% *}" ] || fail "Exec=$exec_line starts no installed program"
  for key in Name Comment; do
    grep -q "^$key\[ru\]=." "$desktop" || fail "desktop entry has no $key[ru]"
  done
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  for size in 16 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/$icon.png
    if [ ! -f "$png" ]; then
      fail "icon $icon missing at ${size}x${size}"
      continue
    fi
    # The PNG signature, then IHDR's width and height as big-endian 32-bit numbers.
    read -r -a b < <(od -An -tu1 -N24 "$png" | tr '\n' ' ')
    width=$(( (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19] ))
    height=$(( (b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23] ))
    [ "${b[*]:0:8}" = "137 80 78 71 13 10 26 10" ] && [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
      fail "${size}x${size}/apps/$icon.png is not a ${size}x${size} PNG (${width}x${height})"
  done
fi

# The metainfo: valid without the network, naming this desktop entry and the installed programs.
metainfo=$share/metainfo/$id.metainfo.xml
if [ ! -f "$metainfo" ]; then
  fail "no metainfo $id.metainfo.xml"
else
  out=$(appstreamcli validate --no-net --strict "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
  grep -q "<id>$id</id>" "$metainfo" || fail "metainfo's component id is not $id"
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not launch $id.desktop"
  for binary in $(sed -n 's:.*<binary>\(.*\)</binary>.*:\1:p' "$metainfo"); do
    [ -x "$usr/bin/$binary" ] || fail "metainfo provides $binary, which is not installed"
  done
fi

# quorlan-cli's bash completion, where bash-completion looks for it, defines its function.
completion=$share/bash-completion/completions/quorlan-cli
if [ ! -f "$completion" ]; then
  fail "no bash completion completions/quorlan-cli"
elif ! bash -c ". '$completion' && complete -p quorlan-cli" >/dev/null 2>&1; then
  fail "completions/quorlan-cli does not complete quorlan-cli"
fi

# The manual page: renders without a warning, and covers what the program's help lists.
man=$share/man/man1/quorlan-cli.1.gz
if [ ! -f "$man" ]; then
  fail "no manual page man1/quorlan-cli.1.gz"
elif [ -x "$usr/bin/quorlan-cli" ]; then
  warnings=$(gzip -dc "$man" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "groff warns on the manual page: $warnings"
  # Plain text, no hyphenation, long lines: every word stays whole.
  page=$(gzip -dc "$man" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P-cbou -rHY=0 -rLL=300n 2>/dev/null)
  # What the help says is all that is asked of the program here; a sanitizer build's leak
  # check at exit only slows that down.
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
  help=$("$usr/bin/quorlan-cli" --help)
  commands=$(printf '%s\n' "$help" | sed -n 's/^  \([a-z]\+\) .*/\1/p')
  [ -n "$commands" ] || fail "quorlan-cli --help lists no commands"
  checked=0
  # Each command's help at once: the sanitizer build starts slowly.
  for command in $commands; do "$usr/bin/quorlan-cli" "$command" --help >"$stage/help-$command" & done
  wait
  for command in $commands; do
    whole="(^|[^-a-z])$command([^-a-z]|$)"
    [[ $page =~ $whole ]] || fail "manual page lacks the command $command"
    for word in $(<"$stage/help-$command"); do
      [[ $word =~ ^\[?(--?[a-z]+)\]?$ ]] || continue
      option=${BASH_REMATCH[1]}
      checked=$((checked + 1))
      whole="(^|[^-a-z])$option([^-a-z]|$)"
      [[ $page =~ $whole ]] || fail "manual page lacks $command's option $option"
    done
  done
  [ "$checked" -gt 0 ] || fail "no command's help names an option"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installed and checked: $(find "$usr" -type f | wc -l) files, $checked options in the manual page"
