#!/usr/bin/env bash
# Builds the Debian package from the build tree into a scratch folder, unpacks it into a scratch
# root and checks what a user gets: the programs run from there, the package depends on Qt and
# its SQLite driver, and the desktop entry, icons, manual pages, copyright and changelog are where
# the desktop, man and Debian look for them, with nothing else beside them. Where lintian is
# installed, it must find nothing to complain about (no error, no warning).
#
# Usage: test_package.sh CPACK CPACK_CONFIG VERSION BUILT_FILE...
set -euo pipefail
export LC_ALL=C

cpack=$1 config=$2 version=$3
shift 3

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for built in "$@"; do
    [ -f "$built" ] || { echo "FAIL: $built is not built; build the project first" >&2; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! "$cpack" --config "$config" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
shopt -s nullglob
debs=("$scratch/out"/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: expected one package, cpack made ${#debs[@]}: ${debs[*]}" >&2
    exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
# The project's version with a Debian revision: the package's own changelog is then
# changelog.Debian.gz, as Debian names it for a package that is not native.
debversion=$(dpkg-deb -f "$deb" Version)
[[ "${debversion%-*}" = "$version" && "${debversion##*-}" =~ ^[1-9][0-9]*$ ]] ||
    fail "Version is '$debversion', expected $version-REVISION"
[ "$(basename "$deb")" = "kaviocc_${debversion}_${arch}.deb" ] ||
    fail "package file is $(basename "$deb"), expected kaviocc_${debversion}_${arch}.deb"

# The control fields.
[ "$(dpkg-deb -f "$deb" Package)" = kaviocc ] || fail "Package is '$(dpkg-deb -f "$deb" Package)'"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb -f "$deb" Section)" ] || fail "no Section"
description=$(dpkg-deb -f "$deb" Description)
[ "$(printf '%s\n' "$description" | wc -l)" -gt 2 ] || fail "no long description: $description"
depends=$(dpkg-deb -f "$deb" Depends)
# Names in Depends, without versions or alternatives' bars.
names=" $(printf '%s' "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//' | tr '\n' ' ') "
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6sql6 libqt6sql6-sqlite \
    libqt6httpserver6; do
    [[ "$names" == *" $needed "* ]] || fail "Depends lacks $needed: $depends"
done

# Exactly these files, nothing more: no static libraries, tests, benchmarks or demos.
dpkg -x "$deb" "$scratch/root"
expected=(
    usr/bin/kaviocc
    usr/bin/kavioctl
    usr/bin/kaviosim
    usr/bin/kaviod
    usr/lib/systemd/user/kaviod.service
    usr/share/man/man8/kaviod.8.gz
    usr/share/applications/kaviocc.desktop
    usr/share/icons/hicolor/scalable/apps/kaviocc.svg
    usr/share/man/man1/kaviocc.1.gz
    usr/share/man/man1/kavioctl.1.gz
    usr/share/man/man1/kaviosim.1.gz
    usr/share/doc/kaviocc/copyright
    usr/share/doc/kaviocc/changelog.Debian.gz
    usr/share/lintian/overrides/kaviocc
    usr/share/bash-completion/completions/kavioctl
)
sizes=(16 22 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/kaviocc.png")
done
actual=$(cd "$scratch/root" && find . ! -type d | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$actual" != "$wanted" ]; then
    fail "the package's files differ from the expected list:"
    diff <(echo "$wanted") <(echo "$actual") >&2 || true
fi

# The programs run from the unpacked root, with the libraries the package depends on.
root=$scratch/root
if output=$("$root/usr/bin/kavioctl" --version 2>&1); then
    [ "$output" = "kavioctl $version" ] || fail "kavioctl --version printed '$output'"
else
    fail "kavioctl --version exited with $?: $output"
fi
if output=$("$root/usr/bin/kaviosim" --count 2 --sql 2>&1); then
    [ "$(grep -c '^INSERT INTO "Master"' <<<"$output")" -eq 2 ] ||
        fail "kaviosim --sql printed '$output'"
else
    fail "kaviosim --sql exited with $?: $output"
fi
# kaviocc refuses an unknown option without a display too.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$root/usr/bin/kaviocc" --bogus >/dev/null 2>&1 ||
    status=$?
[ "$status" -eq 64 ] || fail "kaviocc --bogus without a display exited with $status"
# kaviocc answers --version without a display, instead of starting its window.
if output=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$root/usr/bin/kaviocc" --version 2>&1); then
    [ "$output" = "kaviocc $version" ] || fail "kaviocc --version printed '$output'"
else
    fail "kaviocc --version exited with $?: $output"
fi

# The bash completion offers commands, a command's options, and the database's names, quoted.
completions=$(
    PATH=$root/usr/bin:$PATH
    db=$scratch/complete/KavioCC.db
    mkdir -p "$scratch/complete"
    # The longest name is not ASCII: its bytes outnumber its characters by more than the
    # blanks between the columns.
    printf 'name,address,port,password,groups\nRack 2,127.0.0.2,4001,pw,Lab east\nrouter,127.0.0.3,4001,pw,\nKühlraum Ölpumpe Süd,127.0.0.4,4001,pw,Büro\n' \
        >"$scratch/complete/units.csv"
    export LC_ALL=C.UTF-8
    kavioctl --database "$db" --create import "$scratch/complete/units.csv" >/dev/null
    # shellcheck source=/dev/null
    source "$root/usr/share/bash-completion/completions/kavioctl"
    offered() {
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _kavioctl
        echo "${COMPREPLY[*]}"
    }
    offered kavioctl p
    offered kavioctl --database "$db" off --a
    offered kavioctl --database "$db" off R
    offered kavioctl --database "$db" off K
    offered kavioctl --database "$db" list --group ''
    offered kavioctl history --source t
)
[ "$completions" = $'pulse poll\n--all\nRack\\ 2\nKühlraum\\ Ölpumpe\\ Süd\nBüro Lab\\ east\ntimed\\ poll timer' ] ||
    fail "the bash completion offered: $completions"

if output=$("$root/usr/bin/kaviod" --version 2>&1); then
    [ "$output" = "kaviod $version" ] || fail "kaviod --version printed '$output'"
else
    fail "kaviod --version exited with $?: $output"
fi
# The service's user unit starts the installed program.
grep -qxF 'ExecStart=/usr/bin/kaviod' "$root/usr/lib/systemd/user/kaviod.service" ||
    fail "the user unit does not start /usr/bin/kaviod"
# Stripped: no debugging sections left in the programs.
for program in kaviocc kavioctl kaviosim kaviod; do
    if readelf -S "$root/usr/bin/$program" | grep -q '\.debug_info'; then
        fail "usr/bin/$program is not stripped"
    fi
done

# The desktop entry starts the program under its name and icon.
desktop=$root/usr/share/applications/kaviocc.desktop
for line in 'Name=Kavio Control Center' 'Exec=kaviocc' 'Icon=kaviocc' 'Type=Application' \
    'Categories=Network;Utility;'; do
    grep -qxF "$line" "$desktop" || fail "desktop entry lacks the line '$line'"
done
grep -q '^Comment=.' "$desktop" || fail "desktop entry has no Comment"
if command -v desktop-file-validate >/dev/null; then
    # Hints (such as two main categories) are advice; errors and warnings are not.
    if desktop-file-validate "$desktop" | grep -E 'error|warning' >&2; then
        fail "desktop-file-validate complains"
    fi
fi

# Each PNG is drawn at the size of its folder (width and height from the IHDR chunk).
for size in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/kaviocc.png
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        fail "$png is not a PNG"
    read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    [ "$width $height" = "$size $size" ] || fail "$png is $width x $height, expected $size"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/kaviocc.svg" ||
    fail "the scalable icon is not SVG"

# The manual pages and the changelog: compressed without a stored name or time stamp, and the
# right pages.
for gz in man/man1/kaviocc.1.gz man/man1/kavioctl.1.gz man/man1/kaviosim.1.gz \
    man/man8/kaviod.8.gz doc/kaviocc/changelog.Debian.gz; do
    read -r flags mtime < <(od -An -tu1 -j3 -N5 "$root/usr/share/$gz" |
        awk '{ print $1, $2 + $3 + $4 + $5 }')
    [ $((flags & 8)) -eq 0 ] && [ "$mtime" -eq 0 ] ||
        fail "$gz stores a file name or time stamp (gzip without -n)"
done
for program in kaviocc kavioctl kaviosim kaviod; do
    manual=1
    [ "$program" = kaviod ] && manual=8
    page=$(gzip -dc "$root/usr/share/man/man$manual/$program.$manual.gz")
    title=${program^^}
    grep -q "^\.TH $title $manual .*$program $version" <<<"$page" ||
        fail "manual page of $program has no .TH line for $version"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS '"SEE ALSO"'; do
        grep -qxF ".SH $section" <<<"$page" || fail "manual page of $program lacks $section"
    done
    if command -v groff >/dev/null; then
        warnings=$(groff -man -Tutf8 -ww -z <<<"$page" 2>&1)
        [ -z "$warnings" ] || fail "groff warns about the manual page of $program: $warnings"
    fi
done
page=$(gzip -dc "$root/usr/share/man/man1/kavioctl.1.gz")
for section in COMMANDS '"CSV FORMAT"' '"EXIT STATUS"' ENVIRONMENT FILES EXAMPLES; do
    grep -qxF ".SH $section" <<<"$page" || fail "manual page of kavioctl lacks $section"
done
[ "$(gzip -dc "$root/usr/share/doc/kaviocc/changelog.Debian.gz" | head -1)" = \
    "kaviocc ($debversion) unstable; urgency=medium" ] ||
    fail "the changelog does not begin with the entry of $debversion"
grep -qxF 'License: Expat' "$root/usr/share/doc/kaviocc/copyright" ||
    fail "the copyright file names no MIT (Expat) licence"

# Lintian, Debian's package checker, where it is installed: any error or warning fails.
if command -v lintian >/dev/null; then
    if ! complaints=$(lintian --fail-on error,warning "$deb" 2>&1); then
        fail "lintian complains: $complaints"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, all checks passed"
