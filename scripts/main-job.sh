#!/usr/bin/env bash
# The main job: builds the stub and the builder, packs the sample installer
# into a self-installing setup.exe (temporary mode), runs it under 32-bit
# Wine and tells what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh >/dev/null

demo=build/demo
rm -rf "$demo/payload" "$demo/setup.exe"
mkdir -p "$demo/payload/docs"
cp build/windows/sample-installer.exe "$demo/payload/"
printf 'Valkrin sample payload.\r\n' > "$demo/payload/docs/readme.txt"
printf '\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x81\x83\x82\r\n' > "$demo/payload/docs/memo.txt"

# valkrin-pack carries the windows build's valkrin.exe (build.sh makes that one first).
pack=build/host/tools/valkrin-pack
"$pack" --version
"$pack" -o "$demo/setup.exe" --title "Valkrin Demo" --no-confirm --grace 1 \
    --run '%ExtractDir%\sample-installer.exe --log C:\valkrin-demo.log' \
    --method lh7 "$demo/payload/sample-installer.exe" "$demo/payload/docs"
echo "== packed: $demo/setup.exe ($(stat -c %s "$demo/setup.exe") bytes)"
"$pack" --inspect "$demo/setup.exe"
"$pack" --list "$demo/setup.exe"

# 32-bit Wine needs a kernel that runs 32-bit x86 programs, and a package
# mirror that has its i386 libraries; without it the packed file is checked
# with lhasa instead, and the job says why it could not run it.
cannot_run() {
    echo "== $1, so setup.exe cannot run here; lhasa checks the package instead"
    lhasa t "$demo/setup.exe"
    exit 2
}
if ! command -v wine >/dev/null 2>&1; then
    reason=$(head -n 1 "${VALKRIN_STATE_DIR:-/var/lib/valkrin}/wine-not-installed" 2>/dev/null || true)
    cannot_run "32-bit Wine is not installed${reason:+ ($reason)}"
fi
if wine --version 2>&1 | grep -q 'Exec format error'; then
    cannot_run "this machine's kernel does not run 32-bit x86 programs"
fi

# LC_ALL=ja_JP.UTF-8 gives Wine the Japanese code page (932); no system locale is needed.
export WINEPREFIX="$PWD/$demo/wineprefix" WINEDEBUG=-all
if [ ! -d "$WINEPREFIX" ]; then
    echo "== creating a Wine prefix (once)"
    xvfb-run -a wineboot -i >/dev/null 2>&1 || true
fi
rm -f "$WINEPREFIX/drive_c/valkrin-demo.log"
echo "== running setup.exe under Wine"
set +e
env LC_ALL=ja_JP.UTF-8 xvfb-run -a wine "$demo/setup.exe" 2>/dev/null
status=$?
set -e
echo "== exit code: $status (1: both passes succeeded)"
echo "== what the installer recorded:"
tr -d '\r' < "$WINEPREFIX/drive_c/valkrin-demo.log" 2>/dev/null || echo "(no record: the installer did not run)"
left=$(find "$WINEPREFIX/drive_c" -maxdepth 6 -type d -name 'valkrin.[0-9][0-9][0-9]' 2>/dev/null | wc -l)
echo "== temporary folders left behind: $left"
[ "$status" -eq 1 ] && [ "$left" -eq 0 ]
