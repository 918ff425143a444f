# Shared by ./run and ./test: install what packages.txt names, then build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${FENNICK_BUILD_DIR:-$ROOT/build}"

# packages [SECTION...]: the names packages.txt lists in those sections
# ([build], [test], [run]), or in all of them; one a line.
packages() {
    local want=" $* " section="" line
    while read -r line; do
        line="${line%%#*}"; line="${line//[[:space:]]/}"
        [ -n "$line" ] || continue
        if [[ "$line" == \[*\] ]]; then
            section="${line:1:-1}"
        elif [ $# -eq 0 ] || [[ "$want" == *" $section "* ]]; then
            echo "$line"
        fi
    done < "$ROOT/packages.txt"
}

install_packages() {
    local missing=() pkg
    for pkg in $(packages); do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# build_project [TARGET...]: configures and builds everything, or the targets named.
build_project() {
    # Line tables are enough for a backtrace, and build much faster than full
    # debug information (the package strips both).
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE="${FENNICK_BUILD_TYPE:-RelWithDebInfo}" \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
    local targets=()
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$BUILD" "${targets[@]}"
}
