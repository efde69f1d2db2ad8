# Sourced by scripts/run and scripts/test: installs the Debian packages that are missing.
# Usage: install_packages <package>...

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
}

# What building and running Hoardly needs.
BUILD_PACKAGES=(
    cmake ninja-build g++ ccache pkg-config
    libsqlite3-dev libtinyxml2-dev libboost-dev
    qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libqt6webenginecore6-bin liblitehtml-dev
    libx11-dev libxcb1-dev libxi-dev libxtst-dev
)
# What making the package needs on top: the icons are drawn with rsvg-convert, the
# package's dependencies found with dpkg-shlibdeps, its files checked with the
# desktop's and AppStream's validators.
PACKAGE_PACKAGES=(librsvg2-bin dpkg-dev desktop-file-utils appstream)
# What the test suite needs on top.
TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool xclip trayer
    locales
)
# Node.js may come from elsewhere than Debian (its npm then conflicts with Debian's):
# ask for Debian's packages only when the commands are missing.
if ! command -v node >/dev/null 2>&1; then TEST_PACKAGES+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then TEST_PACKAGES+=(npm); fi
