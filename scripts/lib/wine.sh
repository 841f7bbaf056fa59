# A Wine session for the Windows programs of build-windows/, sourced by the scripts that run
# them: the build tree's own prefix, a private Xvfb display and one wineserver kept running.
#
#   start_wine_session BUILD_DIR   exports WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES and DISPLAY
#   stop_wine_session              ends only what start_wine_session started
#
# The caller sets the traps: trap stop_wine_session EXIT.

wine_xvfb_pid=

start_wine_session() {
    local build=$1
    # Nothing outside the build tree is touched: the prefix lives in it. No Mono or Gecko:
    # nothing here needs them, and their installers would ask.
    export WINEPREFIX=$build/wineprefix
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="

    # A Win32 window program without a display hangs: a display of its own, on a number Xvfb
    # picks itself.
    local display_file=$build/xvfb.display
    rm -f "$display_file"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$display_file" \
        >"$build/xvfb.log" 2>&1 &
    wine_xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$display_file" ] && break
        sleep 0.1
    done
    [ -s "$display_file" ] || { echo "Xvfb did not start (see $build/xvfb.log)" >&2; return 1; }
    export DISPLAY=:$(head -n 1 "$display_file")

    # One wineserver for every program (about 0.1 s a start instead of about 3 s); its output
    # must not hold the caller's pipes open.
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    # Made once (about 10 s), then only started: its services and desktop begin here, with
    # their output going nowhere; begun by a test program, they would keep ctest's pipes open.
    timeout 300 wineboot -i >/dev/null 2>&1
    # Wine ends the desktop's explorer when the last window program ends, and the next one
    # starts it again with its own standard error inherited: a test reading that program's output
    # would wait for a stream the desktop holds open. One holder keeps the desktop in use for
    # the whole session (wineserver -k ends it), while wineboot's explorer still runs.
    local holder=$build/bin/test_window_driver.exe
    if [ -f "$holder" ]; then
        wine "$holder" --hold-desktop </dev/null >/dev/null 2>&1 &
        for _ in $(seq 1 100); do
            pgrep -f "test_window_driver.exe --hold-desktop" >/dev/null && break
            sleep 0.1
        done
    fi
}

stop_wine_session() {
    # Only what was started: the prefix's own wineserver (with the programs of this prefix),
    # and the Xvfb by its PID.
    wineserver -k 2>/dev/null || true
    if [ -n "$wine_xvfb_pid" ]; then
        kill "$wine_xvfb_pid" 2>/dev/null || true
        wait "$wine_xvfb_pid" 2>/dev/null || true
        wine_xvfb_pid=
    fi
}
