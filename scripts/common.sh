# Shared by the run and test scripts: install the Debian packages that are missing, and only those.
ensure_packages() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running the program needs; the test build needs the rest.
RUN_PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev librsvg2-bin)
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev libpq-dev postgresql junitparser python3-junitparser clang-format libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev clang libclang-rt-14-dev dpkg-dev desktop-file-utils librsvg2-bin groff-base tshark)
