# Shared set-up of scripts/run and scripts/test: install what is missing, then
# configure and build. Sourced, not run.
set -euo pipefail

CADMO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CADMO_BUILD=${CADMO_BUILD:-$CADMO_ROOT/build}

# Debian packages the build, the tests and the demo need.
CADMO_PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
    libavcodec-dev libavutil-dev libswresample-dev libswscale-dev libpulse-dev
    libgtest-dev libgmock-dev
    ffmpeg xvfb xauth x11-utils xdotool imagemagick pulseaudio pulseaudio-utils
    librsvg2-bin desktop-file-utils appstream
)

cadmo_install_missing() {
    local missing=()
    local p
    for p in "${CADMO_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing Debian packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# cadmo_build [build dir] [extra cmake arguments...]
cadmo_build() {
    local dir=${1:-$CADMO_BUILD}
    shift || true
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$CADMO_ROOT" -B "$dir" -G Ninja "$@"
    else
        cmake "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir" -j "$(nproc)"
}

# cadmo_start_xvfb: starts a private X server for the screenshots and sets
# DISPLAY and CADMO_XVFB_PID. The server picks a free display itself
# (-displayfd) and does not reset when a client disconnects (-noreset), so the
# readiness probe cannot pull it down under the program that comes next.
cadmo_start_xvfb() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
    CADMO_XVFB_PID=$!
    local number=
    read -r -t 60 number <"$fifo" || true
    rm -f "$fifo"
    [ -n "$number" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$number
    local _
    for _ in $(seq 300); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb did not answer on $DISPLAY" >&2
    return 1
}
