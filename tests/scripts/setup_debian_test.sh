#!/usr/bin/env bash
# scripts/setup-debian.sh with stand-ins for apt-get, dpkg-query, dpkg, id
# and locale first on PATH: nothing on the machine is changed.
#   1. a mirror out of step: `apt-get update` fails on one index every time
#      and apt refuses 32-bit Wine; everything else installs. The set-up must
#      end 0, name the index and what it could not install with apt's
#      reason, record that reason for the Wine tests, and install the rest.
#   2. a mirror in step: everything installs, nothing is reported, and the
#      reason recorded before is gone.
#   setup_debian_test.sh SETUP_SCRIPT WORK_FOLDER
set -uo pipefail
setup=$1 work=$2
rm -rf "$work" && mkdir -p "$work/bin" "$work/state"
fail() {
    echo "FAILED: $*"
    exit 1
}

cat > "$work/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STAND_IN_LOG"
if [ "$1" = update ]; then
    [ "$STAND_IN_MIRROR" = broken ] || exit 0
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100
fi
shift
packages=()
for argument in "$@"; do
    case $argument in -*|bookworm) ;; *) packages+=("$argument") ;; esac
done
if [ "$STAND_IN_MIRROR" = broken ] && [[ " ${packages[*]} " == *" wine32:i386 "* ]]; then
    echo "Some packages could not be installed."
    echo "The following packages have unmet dependencies:"
    echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
fi
printf '%s\n' "${packages[@]}" >> "$STAND_IN_INSTALLED"
STAND_IN
cat > "$work/bin/dpkg-query" <<'STAND_IN'
#!/usr/bin/env bash
grep -qxF -- "${@: -1}" "$STAND_IN_INSTALLED" && printf 'install ok installed'
exit 0
STAND_IN
printf '#!/bin/sh\n[ "$1" = --print-foreign-architectures ] && echo i386\nexit 0\n' > "$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' > "$work/bin/id"
printf '#!/bin/sh\nprintf "C.utf8\\nen_US.utf8\\nja_JP.utf8\\n"\n' > "$work/bin/locale"
chmod +x "$work/bin"/*

run_setup() {
    : > "$STAND_IN_LOG"
    PATH="$work/bin:$PATH" VALKRIN_STATE_DIR="$work/state" VALKRIN_APT_PAUSE=0 \
        bash "$setup" > "$work/out" 2>&1
}
export STAND_IN_LOG=$work/apt.log STAND_IN_INSTALLED=$work/installed
: > "$STAND_IN_INSTALLED"

export STAND_IN_MIRROR=broken
run_setup || fail "the set-up ended $? with a mirror out of step: $(cat "$work/out")"
cat "$work/out"
[ "$(grep -c '^apt-get update' "$STAND_IN_LOG")" -eq 3 ] || fail "apt-get update was not tried 3 times"
grep -q 'not updated.*bookworm-security/main/binary-i386/Packages.xz' "$work/out" ||
    fail "the index that failed is not named"
grep -q 'could not install 32-bit Wine (wine wine32:i386).*wine32:i386 : Depends: libwine:i386' "$work/out" ||
    fail "the Wine packages and apt's reason are not named"
grep -q 'Depends: libwine:i386' "$work/state/wine-not-installed" || fail "the reason is not recorded"
for package in cmake g++-mingw-w64-i686 lhasa osslsigncode; do
    grep -qx "$package" "$STAND_IN_INSTALLED" || fail "$package was not installed"
done
grep -q '^apt-get install .* cmake .*osslsigncode' "$STAND_IN_LOG" || fail "no apt-get install of the rest"
grep -qx 'wine32:i386' "$STAND_IN_INSTALLED" && fail "Wine is reported installed"
[ "$(grep -c 'wine32:i386' "$STAND_IN_LOG")" -eq 2 ] || fail "Wine was not tried again from the release's packages"

export STAND_IN_MIRROR=whole
run_setup || fail "the set-up ended $? with a mirror in step: $(cat "$work/out")"
grep -q 'could not\|not updated' "$work/out" && fail "a whole mirror reported a failure: $(cat "$work/out")"
grep -qx 'wine32:i386' "$STAND_IN_INSTALLED" || fail "Wine was not installed"
[ ! -e "$work/state/wine-not-installed" ] || fail "the old reason was left behind"
run_setup || fail "a second run ended $?"
grep -q '^apt-get' "$STAND_IN_LOG" && fail "a machine with everything called apt-get again"
echo "set-up with stand-ins: passed"
