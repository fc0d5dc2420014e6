#!/bin/sh
# Takes the screenshot of the question box under Wine for the docs:
#   tests/e2e/screenshot.sh [HOST_BUILD [WINDOWS_BUILD [OUT.png]]]
# Uses the e2e session (Xvfb, private prefix) of the host build.
set -eu
host=${1:-build/host}
windows=${2:-build/windows}
out=${3:-docs/question-box.png}
session="$host/tests/e2e/wine"
"$host/tests/e2e/e2e-tests" --session-start
work="$session/work"
printf '\0' > "$work/empty.lzh"
"$host/tools/valkrin-pack" -o "$work/screenshot.exe" --title "サンプル製品 1.0" \
    --folder 'C:\Program Files\Sample' --stub "$windows/valkrin.exe" --archive "$work/empty.lzh"
winpath() { printf 'Z:%s' "$(realpath "$1")" | tr / '\\'; }
export DISPLAY=":$(cat "$session/display")" WINEPREFIX="$(realpath "$session/prefix")" WINEARCH=win32 \
    WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
# No window manager runs on the Xvfb display: let Wine draw the window frames.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
wine "$windows/ui-driver.exe" --record "$(winpath "$work")\\screenshot.record" --windows winxp \
    --delay 4000 --answer no --run "$(winpath "$work/screenshot.exe")" &
sleep 3
import -window root -crop 1024x768+0+0 /tmp/valkrin-screen.png
wait
convert /tmp/valkrin-screen.png -trim +repage "$out"
rm -f /tmp/valkrin-screen.png
"$host/tests/e2e/e2e-tests" --session-stop
echo "wrote $out"
