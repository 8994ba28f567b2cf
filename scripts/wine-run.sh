#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix.
# Usage: wine-run.sh PREFIX_DIR PROGRAM [ARGS...]
# The prefix is created on first use (32-bit, no Mono/Gecko prompts). Code pages come
# from the locale: uk_UA.UTF-8 gives ANSI 1251 and OEM 866. Without a display the
# program runs under a private Xvfb.
set -eu
prefix=$1; shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL="${WINE_LOCALE:-uk_UA.UTF-8}"
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/system.reg" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w
        fi
    ) 9>"$prefix.lock"
fi
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
fi
exec wine "$@"
