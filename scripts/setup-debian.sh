#!/usr/bin/env bash
# Installs what Valkrin needs on a Debian 12 machine, as root, skipping what
# is already there: the host toolchain and test libraries, MinGW-w64 for the
# product, 32-bit Wine with Xvfb for the end-to-end tests, and the LZH tools
# that serve as test peers, icoutils and osslsigncode for the tests of the
# installer's resources, manifest and signature.
#
# A package mirror that is out of step must not stop the set-up: apt's
# update is tried a few times, and an index that still fails is named and
# left out. 32-bit Wine is installed on its own, last: when it cannot be
# (its i386 libraries missing from the indexes there are), the set-up says
# why in one line, records the reason for the Wine tests (which then skip
# with it) and goes on. apt's signature and hash checks always apply, and
# the system's sources lists are never changed.
set -uo pipefail

base_packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
               g++-mingw-w64-i686 binutils-mingw-w64-i686 xvfb xauth
               lhasa jlha-utils p7zip-full libarchive-tools imagemagick fonts-ipafont-gothic python3 file
               locales icoutils osslsigncode openssl)
wine_packages=(wine wine32:i386)

# Where the reason Wine is missing is kept for the tests to report.
state_dir=${VALKRIN_STATE_DIR:-/var/lib/valkrin}
wine_reason_file=$state_dir/wine-not-installed
update_tries=${VALKRIN_APT_TRIES:-3}
update_pause=${VALKRIN_APT_PAUSE:-5}

say() { echo "set-up: $*" >&2; }

missing_of() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

# Wine takes the Japanese code page (932) from LC_ALL=ja_JP.UTF-8, and its
# Unix file names from that locale's character set: without the generated
# locale, Japanese file names cannot be created. The tests of Windows outside
# Japan run Wine under LC_ALL=en_US.UTF-8 (code page 1252, English texts).
ensure_locales() {
    local missing=0 name
    for name in ja_JP en_US; do
        locale -a 2>/dev/null | grep -qi "^$name.utf8\$" && continue
        [ -w /etc/locale.gen ] || continue
        sed -i "s/^# *$name.UTF-8 UTF-8/$name.UTF-8 UTF-8/" /etc/locale.gen
        grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" >> /etc/locale.gen
        missing=1
    done
    [ "$missing" -eq 0 ] || locale-gen >/dev/null
}

# apt-get update, tried again after a pause while an index fails (a mirror
# in the middle of its sync serves files that do not match its Release).
# What still fails is named, and the indexes that did load are used.
update_indexes() {
    local try output
    for ((try = 1; try <= update_tries; try++)); do
        if output=$(apt-get update -qq 2>&1) && ! grep -q '^[EW]: Failed to fetch' <<<"$output"; then
            return 0
        fi
        [ "$try" -lt "$update_tries" ] && sleep "$update_pause"
    done
    local failed
    failed=$(grep -o 'Failed to fetch [^ ]*' <<<"$output" | sed 's/^Failed to fetch //; s|^[a-z]*://||' | paste -sd ' ')
    say "package indexes not updated after $update_tries tries, going on without them: ${failed:-$(tail -n 1 <<<"$output")}"
}

# The one line of apt's output that says why an install was refused: the
# first unmet dependency, else its first error.
apt_reason() {
    local line
    line=$(grep -m 1 -E 'Depends:|but it is not going to be installed|has no installation candidate' <<<"$1")
    [ -n "$line" ] || line=$(grep -m 1 '^E: ' <<<"$1")
    [ -n "$line" ] || line=$(tail -n 1 <<<"$1")
    tr -s ' \t' ' ' <<<"$line" | sed 's/^ //'
}

install_packages() {
    apt-get install -y -qq --no-install-recommends "$@" 2>&1
}

# The base packages, as one install; when that is refused, one at a time,
# so that one package the mirror lacks does not keep the others out.
install_base() {
    local output p
    output=$(install_packages "$@") && return 0
    for p in "$@"; do
        install_packages "$p" >/dev/null || true
    done
    local still
    still=$(missing_of "$@" | paste -sd ' ')
    [ -z "$still" ] || say "could not install: $still ($(apt_reason "$output"))"
}

# 32-bit Wine. Its i386 libraries must have the versions of their amd64
# twins; when the security index of i386 is missing, the release's own
# versions of both are asked for instead (-t CODENAME), which apt can match.
# When neither is possible, the reason is said and kept for the tests.
install_wine() {
    local output codename reason
    output=$(install_packages "$@") && return 0
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    if [ -n "$codename" ] && install_packages -t "$codename" "$@" >/dev/null; then
        say "32-bit Wine installed from $codename's own packages (not all their security updates could be had)"
        return 0
    fi
    reason=$(apt_reason "$output")
    mkdir -p "$state_dir" 2>/dev/null && printf '%s\n' "$reason" > "$wine_reason_file" 2>/dev/null
    say "could not install 32-bit Wine (${*}), the Wine tests will skip: $reason"
    return 1
}

mapfile -t missing_base < <(missing_of "${base_packages[@]}")
mapfile -t missing_wine < <(missing_of "${wine_packages[@]}")

if [ ${#missing_base[@]} -gt 0 ] || [ ${#missing_wine[@]} -gt 0 ]; then
    echo "Installing: ${missing_base[*]} ${missing_wine[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Run this as root (or install the packages above)." >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [ ${#missing_wine[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    update_indexes
    [ ${#missing_base[@]} -eq 0 ] || install_base "${missing_base[@]}"
    [ ${#missing_wine[@]} -eq 0 ] || install_wine "${missing_wine[@]}"
fi
[ -n "$(missing_of "${wine_packages[@]}")" ] || rm -f "$wine_reason_file" 2>/dev/null

ensure_locales
[ -n "$(missing_of wine32:i386)" ] || bash "$(dirname "$0")/setup-i386-emulation.sh"

still=$(missing_of "${base_packages[@]}" | paste -sd ' ')
if [ -n "$still" ]; then
    say "the build and the tests need these, which are missing: $still"
    exit 1
fi
exit 0
