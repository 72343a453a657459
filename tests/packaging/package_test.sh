#!/usr/bin/env bash
# Builds the Debian package from a fresh Release build, unpacks it into an empty root and checks
# what it installs; then the installed korvaconfig, started by the installed launcher, talks to
# the installed korvasim on a copy of the installed demo configuration.
# Usage: package_test.sh SOURCE_DIR VERSION
set -euo pipefail

src=$(cd "$1" && pwd)
version=$2
# cpack's dependency scan, the entry validator, the icon renderer, the manual page checker:
# scripts/test.sh installs them before CTest starts.
for tool in dpkg-shlibdeps desktop-file-validate rsvg-convert groff; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/test.sh)" >&2; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/korva-package.XXXXXX")
started=()
cleanup() {
    local p
    for p in "${started[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for p in "${started[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
bad() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
die() {
    echo "FAIL: $*" >&2
    exit 1
}
step() { echo "== $* ($SECONDS s)"; }
# Runs a command quietly; on failure shows its output and stops the test.
quiet() {
    local log=$tmp/last.log
    "$@" >"$log" 2>&1 || { tail -n 60 "$log" >&2; die "$*"; }
}

# --- the package ------------------------------------------------------------------------------
step "configure and build (Release, no tests)"
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
quiet cmake -S "$src" -B "$tmp/build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCH=OFF -DKORVA_WERROR=ON
quiet cmake --build "$tmp/build" -j "$(nproc)"

step "cpack -G DEB"
# Under the strictest umask, so that the permission checks below show the package fixes its own.
(cd "$tmp/build" && umask 077 && quiet cpack -G DEB)
deb=$tmp/build/korvaconfig_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || die "no package $deb; made: $(ls "$tmp/build"/*.deb 2>/dev/null)"

step "control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = korvaconfig ] || bad "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || bad "Version is '$(field Version)', not $version"
[ "$(field Maintainer)" = "KorvaConfig developers <korvaconfig@brenlow.example>" ] ||
    bad "Maintainer is '$(field Maintainer)'"
case "$(field Section)" in electronics | utils) ;; *) bad "Section is '$(field Section)'" ;; esac
depends=$(field Depends)
echo "Depends: $depends"
# Computed by dpkg-shlibdeps from the binaries: the C and C++ runtimes and Qt must be among them.
depends_names=$(sed -E 's/ *\([^)]*\)//g; s/, */\n/g' <<<"$depends")
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6charts6; do
    grep -qxF "$lib" <<<"$depends_names" || bad "Depends lacks $lib: $depends"
done
description=$(field Description)
[ "$(wc -l <<<"$description")" -ge 3 ] || bad "no long description: $description"
grep -q '&[a-z]*;' <<<"$description" && bad "markup entity in the description: $description"

step "owners, permissions, stripped binaries"
# Every entry root-owned; folders and programs 0755, other files 0644, nothing writable by others.
while read -r perms owner _ _ _ name _; do
    [ "$owner" = root/root ] || bad "$name owned by $owner"
    case "$perms:$name" in
        d*) [ "$perms" = drwxr-xr-x ] || bad "folder $name is $perms" ;;
        l*) ;;
        *:./usr/bin/* | *:./usr/lib/*/wireshark/extcap/*) [ "$perms" = -rwxr-xr-x ] || bad "program $name is $perms" ;;
        *) [ "$perms" = -rw-r--r-- ] || bad "file $name is $perms" ;;
    esac
done < <(dpkg-deb -c "$deb")

root=$tmp/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
share=$root/usr/share
extcap=$(ls -d "$root"/usr/lib/*/wireshark/extcap 2>/dev/null | head -n 1)
for p in "$bin/korvaconfig" "$bin/korvasim" "$bin/korvarun" "$extcap/korvacap"; do
    [ -x "$p" ] || { bad "missing program ${p#"$root"}"; continue; }
    sections=$(readelf -S --wide "$p")
    grep -q ' \.symtab ' <<<"$sections" && bad "$p is not stripped"
    grep -q ' \.comment ' <<<"$sections" && bad "$p keeps its .comment section"
    dynamic=$(readelf -d "$p")
    grep -q 'BIND_NOW' <<<"$dynamic" || bad "$p is not linked with -z now"
done

step "installed files"
for f in "$bin/korvaconfig" "$bin/korvasim" "$bin/korvarun" "$bin/korvaconfig-launch"; do
    [ -f "$f" ] && [ -x "$f" ] || bad "missing program ${f#"$root"}"
done
[ "$(head -n 1 "$bin/korvaconfig-launch")" = '#!/bin/sh' ] || bad "the launcher is not a sh script"
ls "$root"/usr/lib/*/wireshark/plugins/korva.lua >/dev/null 2>&1 || bad "the Wireshark dissector is not among the global Lua plugins"
"$extcap/korvacap" --extcap-interfaces 2>/dev/null | grep -q '^extcap {version=' ||
    bad "korvacap is not among the analyzer's capture programs, or does not answer it"
demo=$share/korvaconfig/demo/config
diff -r -x ports.xml "$src/examples/demo/config" "$demo" || bad "installed demo differs from examples/demo/config"
[ -e "$demo/ports.xml" ] && bad "a local ports.xml was packaged"

entry=$share/applications/korvaconfig.desktop
if [ -f "$entry" ]; then
    desktop-file-validate "$entry" || bad "desktop-file-validate refuses the entry"
    for want in 'Name=KorvaConfig' 'Exec=korvaconfig-launch' 'Icon=korvaconfig' 'Terminal=false' 'Type=Application'; do
        grep -qx "$want" "$entry" || bad "desktop entry lacks $want"
    done
    grep -q '^GenericName=.' "$entry" || bad "desktop entry lacks GenericName"
    grep -q '^Comment=.' "$entry" || bad "desktop entry lacks Comment"
    grep -q '^Categories=.*;' "$entry" || bad "desktop entry lacks Categories"
else
    bad "missing ${entry#"$root"}"
fi

icons=$share/icons/hicolor
svg=$icons/scalable/apps/korvaconfig.svg
rsvg-convert -w 8 -h 8 "$svg" >/dev/null || bad "${svg#"$root"} missing or not a picture"
for n in 16 32 48 64 128 256; do
    png=$icons/${n}x$n/apps/korvaconfig.png
    if [ ! -f "$png" ]; then
        bad "missing ${png#"$root"}"
        continue
    fi
    # Signature, then the IHDR chunk: width and height as big-endian 32-bit numbers.
    [ "$(od -An -tx1 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] || bad "$png is no PNG"
    read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
    w=$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3))
    h=$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))
    [ "$w" = "$n" ] && [ "$h" = "$n" ] || bad "${png#"$root"} is ${w}x$h"
done

step "manual pages and documents"
man1=$share/man/man1
# Roff with its escaped hyphens made plain, for looking words up. Read whole into a variable:
# a "grep -q" at the end of a pipe would cut the pipe short and fail it under pipefail.
plain_page() { zcat "$1" | sed 's/\\-/-/g'; }
for page in korvaconfig korvasim korvarun korvacap; do
    gz=$man1/$page.1.gz
    if ! gzip -t "$gz" 2>/dev/null; then
        bad "missing or broken ${gz#"$root"}"
        continue
    fi
    warnings=$(zcat "$gz" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || bad "groff warns about $page.1: $warnings"
done
[ "$(readlink "$man1/korvaconfig-launch.1.gz")" = korvaconfig.1.gz ] || bad "no page for korvaconfig-launch"
page=$(plain_page "$man1/korvaconfig.1.gz")
for word in KORVACONFIG_HOME KORVACONFIG_EXEC XDG_DATA_HOME config/paths.xml config/ports.xml \
    config/standard config/custom config/tools korvaconfig-launch dialout 'adduser $USER dialout'; do
    grep -qF -- "$word" <<<"$page" || bad "korvaconfig(1) does not mention $word"
done
# korvasim(1) and korvasim --help list the same options with the same value names.
help=$("$bin/korvasim" --help) || bad "korvasim --help failed"
from_help=$(sed -nE 's/^  (--[a-z-]+)( [A-Z]+)?( .*)?$/\1\2/p' <<<"$help" | sort)
# In the page, an option is the line after a .TP of the OPTIONS section.
from_page=$(plain_page "$man1/korvasim.1.gz" | awk '
    /^\.SH / { options = ($2 == "OPTIONS"); next }
    options && tagged { print }
    { tagged = options && /^\.TP/ }' |
    sed -E 's/^\.BI (--[a-z-]+) " ([A-Z]+)"$/\1 \2/; s/^\.B (--[a-z-]+)$/\1/' | sort)
[ "$(wc -l <<<"$from_help")" -ge 10 ] || bad "korvasim --help lists too few options: $from_help"
[ "$from_help" = "$from_page" ] ||
    bad "korvasim(1) and --help differ:$(diff <(echo "$from_help") <(echo "$from_page") | sed 's/^/ /')"

doc=$share/doc/korvaconfig
head -n 1 "$doc/copyright" 2>/dev/null |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    bad "copyright file missing or not machine-readable"
grep -qx 'Copyright: 2026 Brenlow Korva developers' "$doc/copyright" || bad "copyright names no holder"
changelog=$(zcat "$doc/changelog.gz" 2>/dev/null) || bad "no changelog.gz"
[[ "$changelog" == "korvaconfig ($version) "* ]] || bad "changelog.gz does not start with version $version"

# --- the launcher -----------------------------------------------------------------------------
step "launcher"
launch=$bin/korvaconfig-launch
home=$tmp/home
mkdir -p "$home"
# The launcher as a desktop session starts it: only HOME, plus what each case adds.
run_launch() { env -i PATH=/usr/bin:/bin HOME="$home" "$@" "$launch"; }
out=$(env -i PATH=/usr/bin:/bin HOME="$home" "$launch" --help) || bad "--help failed"
for word in KORVACONFIG_HOME XDG_DATA_HOME dialout; do
    grep -q "$word" <<<"$out" || bad "--help does not mention $word"
done
[ -e "$home/.local" ] && bad "--help created files"
env -i PATH=/usr/bin:/bin HOME="$home" "$launch" --bogus >/dev/null 2>&1 && bad "an unknown argument was accepted"

work=$home/.local/share/korvaconfig
out=$(run_launch KORVACONFIG_EXEC=pwd) || bad "first start failed"
[ "$out" = "$work" ] || bad "first start ran in '$out', not $work"
diff -r "$demo" "$work/config" >/dev/null || bad "first start did not copy the demo to $work/config"
[ "$(ls -A "$work")" = config ] || bad "first start left more than config/ in $work: $(ls -A "$work")"
echo "<!-- mine -->" >>"$work/config/plant.xml"
out=$(run_launch KORVACONFIG_EXEC=pwd) || bad "second start failed"
grep -q mine "$work/config/plant.xml" || bad "second start overwrote the user's configuration"

out=$(run_launch XDG_DATA_HOME="$tmp/xdg" KORVACONFIG_EXEC=pwd) || bad "start with XDG_DATA_HOME failed"
[ "$out" = "$tmp/xdg/korvaconfig" ] && [ -f "$tmp/xdg/korvaconfig/config/paths.xml" ] ||
    bad "XDG_DATA_HOME not followed: ran in '$out'"
out=$(cd "$tmp" && run_launch XDG_DATA_HOME=relative KORVACONFIG_EXEC=pwd) || bad "start with a relative XDG_DATA_HOME failed"
[ "$out" = "$work" ] && [ ! -e "$tmp/relative" ] || bad "a relative XDG_DATA_HOME was used: ran in '$out'"

own=$tmp/own
mkdir -p "$own"
out=$(run_launch KORVACONFIG_HOME="$own" KORVACONFIG_EXEC=pwd 2>/dev/null) || bad "start with KORVACONFIG_HOME failed"
[ "$out" = "$own" ] || bad "KORVACONFIG_HOME not followed: ran in '$out'"
[ -z "$(ls -A "$own")" ] || bad "the launcher wrote into KORVACONFIG_HOME"
run_launch KORVACONFIG_HOME="$tmp/none" KORVACONFIG_EXEC=pwd >/dev/null 2>&1 && bad "a missing KORVACONFIG_HOME was accepted"
[ -e "$tmp/none" ] && bad "the launcher created a missing KORVACONFIG_HOME"

# A dangling config link: the launcher says so, copies nothing and leaves no temporary copy.
gone=$tmp/gone-home
mkdir -p "$gone/.local/share/korvaconfig"
ln -s "$tmp/unmounted/config" "$gone/.local/share/korvaconfig/config"
out=$(env -i PATH=/usr/bin:/bin HOME="$gone" KORVACONFIG_EXEC=pwd "$launch" 2>&1) && bad "a dangling config link was accepted"
grep -q "does not exist" <<<"$out" || bad "no reason given for a dangling config link: $out"
[ "$(ls -A "$gone/.local/share/korvaconfig")" = config ] || bad "the launcher left files beside a dangling link"
[ -L "$gone/.local/share/korvaconfig/config" ] || bad "the dangling link was replaced"

# --- the installed programs on the installed demo ---------------------------------------------
step "korvaconfig against korvasim"
site=$tmp/site
mkdir -p "$site"
cp -R "$demo" "$site/config"
# One statement per line: after a ";" the rest of the line is a comment.
printf '%s\n' 'testnode autorun;' 'opencom 1;' 'get FeedPump.SpeedSetpoint;' 'endnode;' >"$site/config/tools/zz_autorun.kts"

"$bin/korvasim" --config-dir "$site/config" --trace >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim=$!
started+=("$sim")
for _ in $(seq 200); do
    grep -q serving "$tmp/sim.out" && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.05
done
grep -q serving "$tmp/sim.out" || die "korvasim did not start: $(cat "$tmp/sim.out" "$tmp/sim.err")"
head -n 1 "$tmp/sim.out"

env -i PATH=/usr/bin:/bin HOME="$home" KORVACONFIG_HOME="$site" QT_QPA_PLATFORM=offscreen \
    "$launch" >"$tmp/program.out" 2>&1 &
program=$!
started+=("$program")
# The read (0x89) of property code 0x10 from the feed pump at 0x22 by the program at 0x6C, one
# data byte: destination, source, code, length, checksum, data. Then the pump's answer (0x8A).
# Each trace line is a capture line: the time, the direction, the packet as the line carries it.
request=' rx \(x22x6Cx89x01x[0-9A-F]{2}x10\)$'
reply=' tx \(x6Cx22x8A'
for _ in $(seq 300); do
    grep -Eq "$reply" "$tmp/sim.out" && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
if grep -Eq "$request" "$tmp/sim.out" && grep -Eq "$reply" "$tmp/sim.out"; then
    echo "korvasim saw: $(grep -Em1 "$request" "$tmp/sim.out"); answered: $(grep -Em1 "$reply" "$tmp/sim.out")"
else
    bad "no request matching '$request' and answer in korvasim's trace; korvasim said:
$(cat "$tmp/sim.out" "$tmp/sim.err")
korvaconfig said:
$(cat "$tmp/program.out")"
fi
if kill -0 "$program" 2>/dev/null; then
    # The launcher must have become the installed program itself, not a child of a shell.
    exe=$(readlink "/proc/$program/exe" || true)
    [ "$exe" = "$bin/korvaconfig" ] || bad "the launcher runs '$exe', not $bin/korvaconfig"
    kill -TERM "$program"
    wait "$program" || true
else
    bad "korvaconfig ended early: $(cat "$tmp/program.out")"
fi
kill -TERM "$sim"
status=0
wait "$sim" || status=$?
[ "$status" = 0 ] || bad "korvasim ended with status $status: $(cat "$tmp/sim.err")"
[ -e "$site/config/ports.xml" ] && bad "korvasim left config/ports.xml behind"
started=()

step "done"
[ "$failures" = 0 ] || die "$failures checks failed"
echo "package checks passed in $SECONDS s"
