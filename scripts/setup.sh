#!/usr/bin/env bash
# Installs what building and testing pixmorf needs: Debian's development
# packages and a Python 3.12 virtual environment in .venv. Idempotent: on a
# machine that has everything it only checks.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

PACKAGES=(build-essential pkg-config ninja-build
          libspng-dev libjpeg62-turbo-dev libgif-dev libwebp-dev libtiff-dev
          libgtest-dev clang libclang-rt-14-dev libfuzzer-14-dev
          librsvg2-bin potrace)
missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

find_python312() {
    if command -v python3.12 >/dev/null 2>&1 && python3.12 -c 'import sys' >/dev/null 2>&1; then
        command -v python3.12
        return
    fi
    if command -v pyenv >/dev/null 2>&1; then
        local candidate
        for candidate in $(ls -d "$(pyenv root)"/versions/3.12*/bin/python3.12 2>/dev/null | sort -V -r); do
            [ -x "$candidate" ] && { echo "$candidate"; return; }
        done
    fi
    echo "setup: no python3.12 found on PATH or in pyenv" >&2
    exit 1
}

VENV="$ROOT/.venv"
if [ ! -x "$VENV/bin/python" ] || ! "$VENV/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 12)' 2>/dev/null; then
    rm -rf "$VENV"
    "$(find_python312)" -m venv "$VENV"
fi
REQUIREMENTS="$ROOT/scripts/requirements-dev.txt"
STAMP="$VENV/.requirements-installed"
if [ ! -f "$STAMP" ] || ! cmp -s "$REQUIREMENTS" "$STAMP"; then
    "$VENV/bin/python" -m pip install -q --upgrade pip
    "$VENV/bin/python" -m pip install -q -r "$REQUIREMENTS"
    cp "$REQUIREMENTS" "$STAMP"
fi
