#!/usr/bin/env bash
# Makes the Debian package with scripts/package into DIR and checks it as the distribution
# and the desktop do:
#   tests/package/check_package.sh DIR
# lintian, appstreamcli and desktop-file-validate pass; every file is in its place; the
# dependencies come from the binaries; both programs carry the distribution's hardening;
# the program prints the package's version; the manual page and the shell completion know
# every option that --help lists.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
out=$1
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

"$source_dir/scripts/package" "$out"
out=$(realpath "$out")
deb=$(echo "$out"/brimwell-ticker_*_*.deb)
version=$(dpkg-deb --field "$deb" Version)
root=$out/root
rm -rf "$root"
dpkg-deb --extract "$deb" "$root"
program=$root/usr/bin/brimwell-ticker

echo "== lintian"
# Its temporary files, some of which it leaves behind, stay in DIR.
mkdir -p "$out/tmp"
TMPDIR=$out/tmp lintian --info --pedantic --fail-on error,warning "$out"/brimwell-ticker_*.changes ||
    fail "lintian"

echo "== appstreamcli"
metainfo=$root/usr/share/metainfo/org.brimwell.Ticker.metainfo.xml
appstreamcli validate --no-net --strict --explain "$metainfo" || fail "appstreamcli validate"
for part in "<release version=\"$version\"" "<binary>brimwell-ticker</binary>" \
    '<launchable type="desktop-id">org.brimwell.Ticker.desktop</launchable>'; do
    grep -qF "$part" "$metainfo" || fail "the metainfo lacks $part"
done

echo "== desktop-file-validate"
for entry in usr/share/applications/org.brimwell.Ticker.desktop \
    etc/xdg/autostart/org.brimwell.Ticker.desktop; do
    report=$(desktop-file-validate "$root/$entry" 2>&1) || fail "$entry: $report"
    grep -E ': (error|warning): ' <<<"$report" && fail "$entry is not clean"
    grep -qx "Exec=/usr/bin/brimwell-ticker" "$root/$entry" || fail "$entry does not start the program"
done

echo "== files"
for path in usr/bin/brimwell-ticker usr/libexec/brimwell-ticker/brimwell-ticker-panel \
    usr/share/icons/hicolor/scalable/apps/brimwell-ticker.svg \
    usr/share/icons/hicolor/64x64/apps/brimwell-ticker.png \
    usr/share/icons/hicolor/22x22/apps/brimwell-ticker-stale.png \
    usr/share/applications/org.brimwell.Ticker.desktop \
    etc/xdg/autostart/org.brimwell.Ticker.desktop \
    usr/lib/systemd/user/brimwell-ticker.service \
    usr/share/man/man1/brimwell-ticker.1.gz \
    usr/share/bash-completion/completions/brimwell-ticker \
    usr/share/zsh/vendor-completions/_brimwell-ticker \
    usr/share/fish/vendor_completions.d/brimwell-ticker.fish \
    usr/share/metainfo/org.brimwell.Ticker.metainfo.xml; do
    [ -f "$root/$path" ] || fail "not in the package: /$path"
done
grep -qx "ExecStart=/usr/bin/brimwell-ticker" "$root/usr/lib/systemd/user/brimwell-ticker.service" ||
    fail "the user unit does not start the program"

echo "== dependencies"
depends=$(dpkg-deb --field "$deb" Depends)
echo "$depends"
# Computed from the binaries: Qt's widgets only from the GUI program, libcurl only from
# the agent; declared: the platform plugins and the certificates.
for package in libc6 libqt6core6 libqt6dbus6 libqt6widgets6 libcurl4 \
    qt6-qpa-plugins qt6-wayland ca-certificates; do
    grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "no dependency on $package"
done

echo "== hardening"
for binary in "$program" "$root/usr/libexec/brimwell-ticker/brimwell-ticker-panel"; do
    name=${binary##*/}
    dynamic=$(readelf --dynamic "$binary")
    symbols=$(readelf --dyn-syms --wide "$binary")
    grep -q "Flags: NOW PIE" <<<"$dynamic" || fail "$name: not a PIE bound at once"
    readelf --program-headers "$binary" | grep -q GNU_RELRO || fail "$name: no RELRO"
    grep -q " __stack_chk_fail" <<<"$symbols" || fail "$name: no stack protector"
    grep -qE " __[a-z]+_chk" <<<"$symbols" || fail "$name: no fortified functions"
done

echo "== version"
printed=$("$program" --version)
[ "$printed" = "brimwell-ticker $version" ] || fail "--version says '$printed', the package $version"

echo "== manual page and completion against --help"
options=$("$program" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
# The formats of --bar, as the program names them when given an unknown one.
formats=$({ "$program" --bar=x 2>&1 || true; } | sed -n "1s/.*(\(.*\))$/\1/p" | sed 's/,\| or / /g')
[ -n "$options" ] && [ -n "$formats" ] || fail "no options or formats read from the program"
manual=$(zcat "$root/usr/share/man/man1/brimwell-ticker.1.gz" | MANWIDTH=200 LC_ALL=C.UTF-8 man --nh --nj -l -)
documented=$(awk '/^OPTIONS$/ { on = 1; next } /^[A-Z][A-Z -]*$/ { on = 0 } on' <<<"$manual")
# What bash offers after the words given, with the completion as installed.
complete_bash() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
             _brimwell_ticker; printf "%s\n" "${COMPREPLY[@]}"' \
        bash "$root/usr/share/bash-completion/completions/brimwell-ticker" brimwell-ticker "$@"
}
offered=$(complete_bash "")
for option in $options; do
    grep -qE -- "(^|[^-[:alnum:]])$option([^-[:alnum:]]|$)" <<<"$documented" ||
        fail "the manual page's OPTIONS lack $option"
    grep -qx -- "$option" <<<"$offered" || fail "bash does not complete $option"
    grep -qE -- "[')*{,]$option[=[}]" "$root/usr/share/zsh/vendor-completions/_brimwell-ticker" ||
        fail "zsh does not complete $option"
    grep -qE -- "-l ${option#--}( |$)" "$root/usr/share/fish/vendor_completions.d/brimwell-ticker.fish" ||
        fail "fish does not complete $option"
done
[ "$(complete_bash --bar = | xargs)" = "$(xargs <<<"$formats")" ] ||
    fail "bash completes --bar= with '$(complete_bash --bar = | xargs)', not $formats"
[ "$(complete_bash --once --al | xargs)" = "--alert-above --alert-below" ] ||
    fail "bash does not complete --al"
for format in $formats; do
    grep -qE "^ +$format[: ]" <<<"$documented" || fail "the manual page lacks --bar=$format"
    grep -q "$format" "$root/usr/share/zsh/vendor-completions/_brimwell-ticker" ||
        fail "zsh does not complete --bar=$format"
    grep -q "$format" "$root/usr/share/fish/vendor_completions.d/brimwell-ticker.fish" ||
        fail "fish does not complete --bar=$format"
done

[ $status -eq 0 ] && echo "brimwell-ticker $version: every check passed"
exit $status
