#!/usr/bin/env bash
# Makes the Debian package of the build and checks it as Debian and a desktop would: lintian
# finds no error and no warning; unpacked, it holds the three programs, the desktop entry and the
# metainfo as their validators see them, the icon at every size, and a manual page for each
# program, which renders without warnings; quorlan-cli's and korvel-sim's pages name every
# command, option and fault their --help names; the changelog's latest entry is the package's
# version.
#   package_install.sh CPACK BUILD_DIR APP_ID
set -uo pipefail
cpack=$1 build=$2 id=$3

for tool in desktop-file-validate appstreamcli groff gzip dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)"; exit 1; }
done

stage=$(mktemp -d)
lintian_pid=
trap '[ -n "$lintian_pid" ] && kill "$lintian_pid" 2>/dev/null; rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! out=$("$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$stage/out" 2>&1); then
  echo "$out"
  echo "FAIL: cpack"
  exit 1
fi
debs=("$stage"/out/*.deb)
deb=${debs[0]}
[ ${#debs[@]} -eq 1 ] && [ -f "$deb" ] || { echo "$out"; echo "FAIL: cpack made no single .deb"; exit 1; }
# lintian takes longest; it reads the package while the unpacked files are checked.
lintian --fail-on error,warning "$deb" >"$stage/lintian" 2>&1 &
lintian_pid=$!
dpkg-deb -x "$deb" "$stage/root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
usr=$stage/root/usr
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

# The manual pages: one for each program, each rendering without a warning.
for program in quorlan quorlan-cli korvel-sim; do
  man=$share/man/man1/$program.1.gz
  if [ ! -f "$man" ]; then
    fail "no manual page man1/$program.1.gz"
    continue
  fi
  warnings=$(gzip -dc "$man" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "groff warns on $program.1: $warnings"
done
# Plain text, no hyphenation, long lines: every word stays whole.
render() { gzip -dc "$share/man/man1/$1.1.gz" 2>/dev/null | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P-cbou -rHY=0 -rLL=300n 2>/dev/null; }
checked=0
# has_word PROGRAM PAGE WHAT WORD: the page names WORD, not as part of a longer word or option.
has_word() {
  checked=$((checked + 1))
  local whole="(^|[^-a-z0-9])$4([^-a-z0-9]|\$)"
  [[ $2 =~ $whole ]] || fail "$1's manual page lacks $3 $4"
}
# What the help says is all that is asked of the programs here; a sanitizer build's leak check
# at exit only slows that down.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

# quorlan-cli's page covers every command and option its help lists.
if [ -x "$usr/bin/quorlan-cli" ] && [ -f "$share/man/man1/quorlan-cli.1.gz" ]; then
  page=$(render quorlan-cli)
  help=$("$usr/bin/quorlan-cli" --help)
  commands=$(printf '%s\n' "$help" | sed -n 's/^  \([a-z]\+\) .*/\1/p')
  [ -n "$commands" ] || fail "quorlan-cli --help lists no commands"
  # Each command's help at once: the sanitizer build starts slowly.
  pids=()
  for command in $commands; do
    "$usr/bin/quorlan-cli" "$command" --help >"$stage/help-$command" &
    pids+=($!)
  done
  wait "${pids[@]}"
  options=0
  for command in $commands; do
    has_word quorlan-cli "$page" "the command" "$command"
    for word in $(<"$stage/help-$command"); do
      [[ $word =~ ^\[?(--?[a-z]+)\]?$ ]] || continue
      options=$((options + 1))
      has_word quorlan-cli "$page" "$command's option" "${BASH_REMATCH[1]}"
    done
  done
  [ "$options" -gt 0 ] || fail "no quorlan-cli command's help names an option"
fi

# korvel-sim's page covers every option and every --fault its help lists.
if [ -x "$usr/bin/korvel-sim" ] && [ -f "$share/man/man1/korvel-sim.1.gz" ]; then
  page=$(render korvel-sim)
  help=$("$usr/bin/korvel-sim" --help)
  options=$(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u)
  # A fault's line: its name, its arguments, two spaces or more, what it does.
  faults=$(sed -n 's/^  \([a-z][a-z0-9-]*\)\([:[][^ ]*\)\?  .*/\1/p' <<<"$help")
  [ -n "$options" ] && [ -n "$faults" ] || fail "korvel-sim --help lists no options or no faults"
  for option in $options; do has_word korvel-sim "$page" "the option" "$option"; done
  for fault in $faults; do has_word korvel-sim "$page" "the fault" "$fault"; done
fi

# The changelog's latest entry is this version: a new version needs an entry in packaging/changelog.
version=$(dpkg-deb -f "$deb" Version)
changelog=$usr/share/doc/$(dpkg-deb -f "$deb" Package)/changelog.gz
latest=$(gzip -dc "$changelog" 2>/dev/null | sed -n '1s/^[a-z0-9.+-]* (\([^)]*\)).*/\1/p')
[ "$latest" = "$version" ] ||
  fail "the changelog's latest entry is '$latest', the package's version $version (packaging/changelog)"

# Debian's own verdict on the package: no error, no warning.
wait "$lintian_pid"
lintian_rc=$?
lintian_pid=
report=$(grep -v '^running with root privileges' "$stage/lintian")
if [ "$lintian_rc" -ne 0 ] || grep -q '^[EW]: ' <<<"$report"; then
  fail "lintian (exit $lintian_rc): $report"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "packaged and checked: $(basename "$deb"), $(find "$usr" -type f | wc -l) files, lintian clean," \
     "$checked commands, options and faults in the manual pages"
