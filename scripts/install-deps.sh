#!/bin/sh
# Installs the Debian 12 packages Ferrowalk needs to build, test and run: as root with
# apt-get, otherwise prints the command to run. Quiet when everything is present.
set -eu

PACKAGES="build-essential cmake clang clang-format libsdl2-dev libgl-dev libgl1-mesa-dri
libegl1 libegl-mesa0 libstb-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev libgtest-dev libgmock-dev googletest
libbenchmark-dev assimp-utils imagemagick xvfb xdotool g++-mingw-w64-x86-64 wine64"

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "install-deps: not a Debian system; make sure the equivalents of these are installed:" >&2
    echo "  $(echo $PACKAGES)" >&2
    exit 0
fi

missing=""
for package in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $package" ;;
    esac
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "install-deps: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends $missing
else
    echo "install-deps: these packages are missing; install them with:" >&2
    echo "  sudo apt-get install$missing" >&2
    exit 1
fi
