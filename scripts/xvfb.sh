# Helpers for scripts that show windows on a virtual display (sourced, not run).
start_xvfb() {
    local n
    for n in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 ${XVFB_SIZE:-1024x768}x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            xdpyinfo >/dev/null 2>&1 && { trap 'kill $XVFB_PID 2>/dev/null || true' EXIT; return 0; }
            sleep 0.1
        done
        kill $XVFB_PID 2>/dev/null || true
    done
    echo "could not start Xvfb" >&2
    return 1
}

# Waits (bounded) until a top-level window with the given title is mapped.
wait_for_window() {
    local title=$1 limit=${2:-30} i
    for i in $(seq $((limit * 10))); do
        xwininfo -root -tree 2>/dev/null | grep -q "\"$title\"" && return 0
        sleep 0.1
    done
    return 1
}
