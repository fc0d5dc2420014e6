#!/bin/sh
# Takes the screenshots of the progress window under Wine at 96 and 192 DPI
# (100 % and 200 % scaling) for the docs:
#   tests/e2e/progress_screenshots.sh [HOST_BUILD [WINDOWS_BUILD [OUT_FOLDER]]]
# writes OUT_FOLDER/progress-window-96dpi.png and progress-window-192dpi.png.
# Uses the e2e session (Xvfb, private prefix) of the host build; the prefix
# is set back to 96 DPI afterwards.
set -eu
host=${1:-build/host}
windows=${2:-build/windows}
out=${3:-docs}
session="$host/tests/e2e/wine"
"$host/tests/e2e/e2e-tests" --session-start
work="$session/work/progress-screenshots"
mkdir -p "$work/payload" "$work/out"
# Enough data that the extract pass lasts several seconds.
head -c 400000000 /dev/zero > "$work/payload/data.bin"
"$host/tools/valkrin-pack" -o "$work/progress.exe" --title "サンプル製品 1.0" --no-confirm \
    --folder "$(printf 'Z:%s' "$(realpath "$work/out")" | tr / '\\')" --stub "$windows/valkrin.exe" \
    "$work/payload/data.bin"
winpath() { printf 'Z:%s' "$(realpath "$1")" | tr / '\\'; }
export DISPLAY=":$(cat "$session/display")" WINEPREFIX="$(realpath "$session/prefix")" WINEARCH=win32 \
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
# No window manager runs on the Xvfb display: let Wine draw the window frames.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
    wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
}
for dpi in 96 192; do
    set_dpi "$dpi"
    rm -rf "$work/out"/*
    # The driver leaves the window alone for 8 s, then cancels the extraction.
    wine "$windows/ui-driver.exe" --record "$(winpath "$work")\\progress.record" --windows win10 \
        --delay 8000 --answer cancel --run "$(winpath "$work/progress.exe")" &
    sleep 4
    import -window root -crop 1024x768+0+0 "/tmp/valkrin-progress-$dpi.png"
    wait
    convert "/tmp/valkrin-progress-$dpi.png" -trim +repage "$out/progress-window-${dpi}dpi.png"
    rm -f "/tmp/valkrin-progress-$dpi.png"
    echo "wrote $out/progress-window-${dpi}dpi.png"
done
set_dpi 96
rm -rf "$work"
"$host/tests/e2e/e2e-tests" --session-stop
