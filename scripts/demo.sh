#!/usr/bin/env bash
# Two copies of Kelvaro on one machine call each other over 127.0.0.1, driven as a user would
# (mouse clicks and typing through xdotool) on a virtual display: call, ring, answer, a few
# lines each way. Screenshots of both windows go to build/screenshots/demo-*.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/screenshots"
exe="${KELVARO_EXE:-$root/build/win/Kelvaro.exe}"
mkdir -p "$out"
for tool in xdotool xclip import convert; do
    command -v "$tool" >/dev/null || { echo "demo: $tool is missing (make setup installs it)" >&2; exit 1; }
done
[ -f "$exe" ] || { echo "demo: $exe not built" >&2; exit 1; }

source "$root/scripts/xvfb.sh"
unset DISPLAY
XVFB_SIZE=1280x1024 start_xvfb
export KELVARO_WINE=x11

work=$(mktemp -d /tmp/kelvaro-demo-XXXXXX)
pids=()
images=()
cleanup() {
    local i
    for i in "${images[@]}"; do
        timeout 10 "$root/scripts/wine.sh" taskkill /im "$i" >/dev/null 2>&1 || true
    done
    for i in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$i" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$i" 2>/dev/null || true
    done
    rm -rf "$work"
    kill "${XVFB_PID:-}" 2>/dev/null || true
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# start_copy DIR NAME PORT: its own folder and settings file; prints the X window id.
start_copy() {
    local dir=$work/$1 name=$2 port=$3 before after id
    mkdir -p "$dir"
    cp "$exe" "$dir/Kelvaro-demo-$1.exe"
    cp "$(dirname "$exe")"/libgcrypt-20.dll "$(dirname "$exe")"/libgpg-error-0.dll "$dir/"
    images+=("Kelvaro-demo-$1.exe")
    printf '[Setting]\r\nIP=127.0.0.1\r\nPort=%s\r\nName=%s\r\n[Nearby]\r\nBrowse=0\r\n' "$port" "$(printf '%s' "$name" | iconv -f UTF-8 -t CP932)" \
        >"$dir/Kelvaro.ini"
    before=$(xdotool search --name '^Kelvaro$' 2>/dev/null | sort || true)
    (cd "$dir" && exec "$root/scripts/wine.sh" "./Kelvaro-demo-$1.exe" >/dev/null 2>&1) &
    pids+=($!)
    for _ in $(seq 200); do
        after=$(xdotool search --onlyvisible --name '^Kelvaro$' 2>/dev/null | sort || true)
        id=$(comm -13 <(echo "$before") <(echo "$after") | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "demo: the window of $1 did not appear" >&2
    return 1
}

north_port=$(free_port)
south_port=$(free_port)
north=$(start_copy north 北 "$north_port")
xdotool windowmove "$north" 10 10
# Dialog units to screen pixels, from the window's size (template 102 is 319 x 299 units).
eval "$(xdotool getwindowgeometry --shell "$north")"
unit_w=$WIDTH unit_h=$HEIGHT
south=$(start_copy south 南 "$south_port")
xdotool windowmove "$south" $((20 + unit_w)) 10
sleep 0.5
# click WIN X Y: a click at the centre of a control given in dialog units.
click() {
    local win=$1 x=$2 y=$3 px py
    eval "$(xdotool getwindowgeometry --shell "$win")"
    px=$((X + x * unit_w / 319)) py=$((Y + y * unit_h / 299))
    xdotool mousemove --sync "$px" "$py" click 1
    sleep 0.3
}
# type_into WIN X Y TEXT: clicks an edit, empties it and types ASCII text.
type_into() {
    click "$1" "$2" "$3"
    xdotool key --clearmodifiers End shift+Home BackSpace
    xdotool type --delay 30 "$4"
    sleep 0.2
}
# paste_line WIN TEXT: a Japanese line goes in through the clipboard, then Enter sends it.
paste_line() {
    click "$1" 159 189
    printf '%s' "$2" | xclip -selection clipboard
    xdotool key --clearmodifiers ctrl+v
    sleep 0.3
    xdotool key Return
    sleep 0.5
}
say() { type_into "$1" 159 189 "$2"; xdotool key Return; sleep 0.5; }
shot() {
    local win=$1 file=$2
    eval "$(xdotool getwindowgeometry --shell "$win")"
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
}

# North dials south: address and port boxes, then "かける".
type_into "$north" 108 22 127.0.0.1
type_into "$north" 200 22 "$south_port"
click "$north" 32 41
sleep 1.5
shot "$north" "$out/demo-caller-ringing.png"
shot "$south" "$out/demo-callee-ringing.png"

# South answers ("受ける"); they talk.
click "$south" 32 63
sleep 0.5
say "$north" "Hello from north"
paste_line "$south" "はい、南です。"
say "$north" "How is the weather?"
paste_line "$south" "晴れています"
sleep 0.5
shot "$north" "$out/demo-caller.png"
shot "$south" "$out/demo-callee.png"
echo "demo: screenshots in $out: demo-caller-ringing.png demo-callee-ringing.png demo-caller.png demo-callee.png"
