#!/usr/bin/env bash
# Builds the two Debian packages from the build tree into a scratch folder, unpacks them into a
# scratch root and checks what a user gets: kaviod (the service, kavioctl and kaviosim) depends on
# no graphical library, kaviocc (the window) depends on Qt's widgets and on kaviod, the programs
# run from there, and the desktop entry, icons, manual pages, copyright and changelog are where the
# desktop, man and Debian look for them, with nothing else beside them. Where lintian is installed,
# it must find nothing to complain about in either (no error, no warning).
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
if [ ${#debs[@]} -ne 2 ]; then
    echo "FAIL: expected two packages, cpack made ${#debs[@]}: ${debs[*]}" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
debversion=$(dpkg-deb -f "${debs[0]}" Version)
# The project's version with a Debian revision: the package's own changelog is then
# changelog.Debian.gz, as Debian names it for a package that is not native.
[[ "${debversion%-*}" = "$version" && "${debversion##*-}" =~ ^[1-9][0-9]*$ ]] ||
    fail "Version is '$debversion', expected $version-REVISION"
service_deb=$scratch/out/kaviod_${debversion}_${arch}.deb
window_deb=$scratch/out/kaviocc_${debversion}_${arch}.deb
for deb in "$service_deb" "$window_deb"; do
    [ -f "$deb" ] || { echo "FAIL: no $(basename "$deb") among: ${debs[*]}" >&2; exit 1; }
done

# Names in a package's Depends, without versions or alternatives' bars.
depends_names() {
    printf ' %s ' "$(dpkg-deb -f "$1" Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//' |
        tr '\n' ' ')"
}
# The control fields of both.
for deb in "$service_deb" "$window_deb"; do
    package=$(basename "$deb" | cut -d_ -f1)
    [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] ||
        fail "Package of $(basename "$deb") is '$(dpkg-deb -f "$deb" Package)'"
    [ "$(dpkg-deb -f "$deb" Version)" = "$debversion" ] || fail "$package has another version"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "$package has no Maintainer"
    [ -n "$(dpkg-deb -f "$deb" Section)" ] || fail "$package has no Section"
    description=$(dpkg-deb -f "$deb" Description)
    [ "$(printf '%s\n' "$description" | wc -l)" -gt 2 ] || fail "no long description: $description"
done
# The service's package brings no graphical library: a headless lab server installs it alone.
names=$(depends_names "$service_deb")
for needed in libqt6core6 libqt6network6 libqt6sql6 libqt6sql6-sqlite libqt6httpserver6; do
    [[ "$names" == *" $needed "* ]] || fail "kaviod's Depends lacks $needed: $names"
done
for unwanted in libqt6gui6 libqt6widgets6 libgl1 libx11-6 kaviocc; do
    [[ "$names" != *" $unwanted "* ]] || fail "kaviod depends on $unwanted: $names"
done
# The window's package brings Qt's widgets and the service's package of the same version.
names=$(depends_names "$window_deb")
for needed in libqt6gui6 libqt6widgets6 libqt6sql6-sqlite kaviod; do
    [[ "$names" == *" $needed "* ]] || fail "kaviocc's Depends lacks $needed: $names"
done
dpkg-deb -f "$window_deb" Depends | grep -qF "kaviod (= $debversion)" ||
    fail "kaviocc does not depend on kaviod $debversion exactly"

# Exactly these files in each, nothing more: no static libraries, tests, benchmarks or demos.
service_files=(
    usr/bin/kavioctl
    usr/bin/kaviosim
    usr/bin/kaviod
    usr/lib/systemd/user/kaviod.service
    usr/share/man/man8/kaviod.8.gz
    usr/share/man/man1/kavioctl.1.gz
    usr/share/man/man1/kaviosim.1.gz
    usr/share/doc/kaviod/copyright
    usr/share/doc/kaviod/changelog.Debian.gz
    usr/share/lintian/overrides/kaviod
    usr/share/bash-completion/completions/kavioctl
)
window_files=(
    usr/bin/kaviocc
    usr/share/applications/kaviocc.desktop
    usr/share/icons/hicolor/scalable/apps/kaviocc.svg
    usr/share/man/man1/kaviocc.1.gz
    usr/share/doc/kaviocc/copyright
    usr/share/doc/kaviocc/changelog.Debian.gz
    usr/share/lintian/overrides/kaviocc
)
sizes=(16 22 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
    window_files+=("usr/share/icons/hicolor/${size}x${size}/apps/kaviocc.png")
done
check_files() { # DEB FILE...
    local deb=$1
    shift
    local actual wanted
    actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)
    wanted=$(printf '%s\n' "$@" | sort)
    if [ "$actual" != "$wanted" ]; then
        fail "the files of $(basename "$deb") differ from the expected list:"
        diff <(echo "$wanted") <(echo "$actual") >&2 || true
    fi
}
check_files "$service_deb" "${service_files[@]}"
check_files "$window_deb" "${window_files[@]}"
dpkg -x "$service_deb" "$scratch/root"
dpkg -x "$window_deb" "$scratch/root"

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
    man/man8/kaviod.8.gz doc/kaviocc/changelog.Debian.gz doc/kaviod/changelog.Debian.gz; do
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
for package in kaviod kaviocc; do
    [ "$(gzip -dc "$root/usr/share/doc/$package/changelog.Debian.gz" | head -1)" = \
        "kaviocc ($debversion) unstable; urgency=medium" ] ||
        fail "the changelog of $package does not begin with the entry of $debversion"
    grep -qxF 'License: Expat' "$root/usr/share/doc/$package/copyright" ||
        fail "the copyright file of $package names no MIT (Expat) licence"
done

# Lintian, Debian's package checker, where it is installed: any error or warning fails.
if command -v lintian >/dev/null; then
    for deb in "$service_deb" "$window_deb"; do
        if ! complaints=$(lintian --fail-on error,warning "$deb" 2>&1); then
            fail "lintian complains about $(basename "$deb"): $complaints"
        fi
    done
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "packages $(basename "$service_deb") ($(stat -c %s "$service_deb") bytes) and" \
    "$(basename "$window_deb") ($(stat -c %s "$window_deb") bytes): all checks passed"
