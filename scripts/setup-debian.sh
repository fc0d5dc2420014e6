#!/usr/bin/env bash
# Installs what Valkrin needs on a Debian 12 machine, as root, skipping what
# is already there: the host toolchain and test libraries, MinGW-w64 for the
# product, 32-bit Wine with Xvfb for the end-to-end tests, and the LZH tools
# that serve as test peers, icoutils and osslsigncode for the tests of the
# installer's resources, manifest and signature.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth
          lhasa jlha-utils p7zip-full imagemagick fonts-ipafont-gothic python3 file locales
          icoutils osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Wine takes the Japanese code page (932) from LC_ALL=ja_JP.UTF-8, and its
# Unix file names from that locale's character set: without the generated
# locale, Japanese file names cannot be created. The tests of Windows outside
# Japan run Wine under LC_ALL=en_US.UTF-8 (code page 1252, English texts).
ensure_locales() {
    local missing=0
    for name in ja_JP en_US; do
        locale -a 2>/dev/null | grep -qi "^$name.utf8\$" && continue
        sed -i "s/^# *$name.UTF-8 UTF-8/$name.UTF-8 UTF-8/" /etc/locale.gen
        grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" >> /etc/locale.gen
        missing=1
    done
    [ "$missing" -eq 0 ] || locale-gen >/dev/null
}

if [ ${#missing[@]} -eq 0 ]; then
    ensure_locales
    bash "$(dirname "$0")/setup-i386-emulation.sh"
    exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "Run this as root (or install the packages above)." >&2
    exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ensure_locales
bash "$(dirname "$0")/setup-i386-emulation.sh"
