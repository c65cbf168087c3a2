#!/usr/bin/env bash
# The programs without a window load no window library: kaviod serves the units of a lab server
# that has no display, kavioctl and kaviosim run in scripts. What a program loads is asked of the
# dynamic loader (ldd), so that a library pulled in by another library counts as well. The control
# center, which has windows, shows that the check finds them.
#
# Usage: test_links.sh WINDOW_PROGRAM CONSOLE_PROGRAM...
set -euo pipefail
export LC_ALL=C

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# check PROGRAM KIND: KIND is "windows" (must load Qt's widgets) or "console" (must load neither
# Qt's widgets nor its graphical base).
check() {
    local program=$1 kind=$2 name libraries found
    name=$(basename "$program")
    if ! libraries=$(ldd "$program" 2>&1); then
        fail "ldd $name failed: $libraries"
        return
    fi
    # Every program here is built on Qt: a list without Qt's core is not a list of libraries.
    if ! grep -q 'libQt6Core\.so' <<<"$libraries"; then
        fail "ldd $name names no libQt6Core: $libraries"
        return
    fi
    # grep finds nothing in a console program: that is no failure.
    found=$(grep -oE 'libQt6(Gui|Widgets)\.so' <<<"$libraries" | sort -u | tr '\n' ' ') || true
    case $kind in
    windows) [[ "$found" == *libQt6Widgets* ]] || fail "$name does not load libQt6Widgets" ;;
    console) [ -z "$found" ] || fail "$name loads ${found% }" ;;
    esac
    echo "$name: ${found:-no window library}"
}

check "$1" windows
for program in "${@:2}"; do
    check "$program" console
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
