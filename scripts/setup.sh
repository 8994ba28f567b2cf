#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine.
# Idempotent: packages already present are skipped; nothing is done when all are there.
set -euo pipefail

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then echo sudo; else
            echo "setup: run as root (or install sudo) to install packages" >&2; exit 1
        fi
    fi
}

NATIVE_PKGS=(build-essential cmake pkg-config git zip unzip
    libpoco-dev zlib1g-dev googletest libgtest-dev libgmock-dev
    clang clang-format lld libclang-rt-14-dev iproute2 socat locales xvfb xauth dpkg-dev)
WIN_PKGS=(mingw-w64 mingw-w64-tools libwine-dev wine wine64 wine32:i386 wixl msitools)
# The simulators' browser consoles are tested in headless Chromium through WebDriver
# (Debian's python3-selenium, run by /usr/bin/python3); a font with Cyrillic for the pages.
BROWSER_PKGS=(chromium chromium-driver python3-selenium fonts-dejavu-core)

missing=()
for p in "${NATIVE_PKGS[@]}" "${WIN_PKGS[@]}" "${BROWSER_PKGS[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

SUDO=""
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=$(need_root)
    echo "setup: installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian's POCO sources: the add-in links its own static build of them (scripts/build-poco.sh).
src_list=/etc/apt/sources.list.d/debian-src.sources
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    [ -n "$SUDO" ] || SUDO=$( [ "$(id -u)" -eq 0 ] && echo "" || need_root )
    echo "setup: adding a deb-src entry for bookworm"
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm bookworm-updates' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $SUDO tee "$src_list" >/dev/null
    $SUDO apt-get update -qq
fi
BUILD_ROOT="${BUILD_ROOT:-$(cd "$(dirname "$0")/.." && pwd)/build}" bash "$(dirname "$0")/build-poco.sh" fetch

# Locales for the Windows code pages (1251 ANSI / 866 OEM under Wine).
for loc in uk_UA ru_RU; do
    if ! locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$"; then
        [ -n "$SUDO" ] || SUDO=$( [ "$(id -u)" -eq 0 ] && echo "" || need_root )
        echo "setup: generating locale ${loc}.UTF-8"
        $SUDO localedef -i "$loc" -f UTF-8 "${loc}.UTF-8"
    fi
done
echo "setup: all packages present"
