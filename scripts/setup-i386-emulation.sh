#!/usr/bin/env bash
# Some virtual machines run a 64-bit kernel that refuses every 32-bit x86
# program ("Exec format error"), 32-bit Wine included. There, this script
# hands 32-bit programs to QEMU's user-mode i386 emulator through
# binfmt_misc, so that Wine and the end-to-end tests run anyway, only slower.
# QEMU 7.2 from Debian 12 cannot start Wine's kernel32; the emulator is taken
# from Debian 13's qemu-user package (static binaries, nothing else of it is
# installed). On a kernel that runs 32-bit programs this does nothing.
set -euo pipefail

wine_runs() {
    local out
    out=$(/usr/lib/wine/wine --version 2>&1) || true
    [[ $out == wine-* ]]
}

[ -x /usr/lib/wine/wine ] || exit 0
wine_runs && exit 0

say() { echo "i386 emulation: $*" >&2; }
if [ "$(id -u)" -ne 0 ]; then
    say "32-bit programs do not run here and only root can set up emulation"
    exit 0
fi

binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
if [ ! -w "$binfmt/register" ]; then
    say "binfmt_misc is not available; 32-bit programs stay refused"
    exit 0
fi

emulator=/usr/local/lib/valkrin/qemu-i386
if [ ! -x "$emulator" ]; then
    say "fetching qemu-i386 from Debian 13"
    work=$(mktemp -d)
    chmod 755 "$work"  # apt fetches as its own user
    trap 'rm -rf "$work"' EXIT
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
    cat > "$work/sources.list" <<'EOF'
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main
EOF
    apt_options=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=-
                 -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
                 -o APT::Architecture=amd64 -o APT::Architectures=amd64)
    # A failure here leaves the machine as it was: the Wine tests then say
    # why they skip, instead of the whole set-up failing.
    if ! { apt-get "${apt_options[@]}" update -qq &&
           (cd "$work" && apt-get "${apt_options[@]}" download qemu-user >/dev/null) &&
           dpkg-deb -x "$work"/qemu-user_*.deb "$work/root" &&
           install -D -m 755 "$work/root/usr/bin/qemu-i386" "$emulator"; }; then
        say "could not fetch qemu-i386; 32-bit programs stay refused"
        exit 0
    fi
fi

# The ELF header of an i386 executable or shared object; F opens the
# emulator now, so it also serves programs started inside other roots.
if [ ! -e "$binfmt/valkrin-i386" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":valkrin-i386:M::$magic:$mask:$emulator:F" > "$binfmt/register"
fi

if wine_runs; then
    say "32-bit programs now run under $("$emulator" --version | head -n 1)"
else
    say "32-bit Wine still does not start under the emulator"
fi
