# Shared set-up of scripts/run and scripts/test: install what is missing, then
# configure and build. Sourced, not run.
set -euo pipefail

CADMO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CADMO_BUILD=${CADMO_BUILD:-$CADMO_ROOT/build}

# Debian packages the build, the tests and the demo need.
CADMO_PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
    libavcodec-dev libavutil-dev libswscale-dev libpulse-dev
    libgtest-dev libgmock-dev
    ffmpeg xvfb xauth x11-utils xdotool imagemagick pulseaudio pulseaudio-utils
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
