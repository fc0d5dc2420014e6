# Sourced by the shell tests that run Wine: skip_without_wine ends the test
# as skipped (exit 77) with the reason when 32-bit Wine is missing or cannot
# start here. The set-up records why it could not install Wine; that reason
# is shown. VALKRIN_REQUIRE_WINE=1 turns the skip into a failure.
skip_without_wine() {
    local why="" says
    if ! command -v wine >/dev/null 2>&1; then
        why="32-bit Wine is not installed"
        local recorded=${VALKRIN_STATE_DIR:-/var/lib/valkrin}/wine-not-installed
        [ -s "$recorded" ] && why="$why ($(head -n 1 "$recorded"))"
    elif ! says=$(wine --version 2>&1); then
        why="Wine cannot start a 32-bit program on this machine (${says%%$'\n'*})"
    fi
    [ -n "$why" ] || return 0
    if [ -n "${VALKRIN_REQUIRE_WINE:-}" ]; then
        echo "FAILED: $why, and VALKRIN_REQUIRE_WINE is set"
        exit 1
    fi
    echo "$why: skipped"
    exit 77
}
