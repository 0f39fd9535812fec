#!/usr/bin/env bash
# Installs the wheel from dist/ (see scripts/wheel.sh) into fresh virtual
# environments for CPython 3.12 and 3.13, checks that the module resolves every
# library beyond the C and C++ runtimes to the copies inside the wheel, and runs
# tests/python against the installed wheel from outside the source tree.
#   scripts/wheel_test.sh [pytest arguments]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
wheels=("$ROOT"/dist/pixmorf-*.whl)
if ((${#wheels[@]} != 1)); then
    echo "wheel_test: expected one wheel in dist/, found ${#wheels[@]}; run scripts/wheel.sh" >&2
    exit 1
fi
WHEEL=${wheels[0]}

find_python() {  # find_python 3.13
    local candidate
    if command -v pyenv >/dev/null 2>&1; then
        for candidate in $(ls -d "$(pyenv root)"/versions/"$1"*/bin/python"$1" 2>/dev/null | sort -V -r); do
            [ -x "$candidate" ] && { echo "$candidate"; return; }
        done
    fi
    if command -v "python$1" >/dev/null 2>&1 && "python$1" -c 'import sys' >/dev/null 2>&1; then
        command -v "python$1"
        return
    fi
    echo "wheel_test: no python$1 found in pyenv or on PATH" >&2
    exit 1
}

# Libraries a manylinux system provides; everything else must come from the wheel.
SYSTEM_LIBRARIES='^(libc|libm|libstdc\+\+|libgcc_s|libpthread|libdl|librt|libz)\.so\.[0-9]+$'

check_bundled_libraries() {  # check_bundled_libraries MODULE
    local libs_dir bundled=0 name arrow path rest
    libs_dir="$(dirname "$1")/pixmorf.libs"
    while read -r name arrow path rest; do
        [ "$arrow" = "=>" ] || continue  # the vDSO and the loader
        if [ "$path" = "not" ]; then
            echo "wheel_test: $name not found" >&2
            return 1
        elif [[ "$path" == "$libs_dir"/* ]]; then
            bundled=$((bundled + 1))
        elif ! [[ "$name" =~ $SYSTEM_LIBRARIES ]]; then
            echo "wheel_test: $name resolves outside the wheel, to $path" >&2
            return 1
        fi
    done < <(ldd "$1")
    echo "wheel_test: $bundled libraries resolve to $libs_dir, the rest are system runtimes"
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
unset PYTHONPATH PIXMORF_TEST_TOOLS
for version in 3.12 3.13; do
    venv="$ROOT/build/wheel-test/python$version"
    rm -rf "$venv"
    "$(find_python "$version")" -m venv "$venv"
    "$venv/bin/python" -m pip install -q "$WHEEL" pytest pillow
    # -P keeps the working directory off sys.path.
    module=$("$venv/bin/python" -P -c 'import pixmorf; print(pixmorf.__file__)')
    if [[ "$module" != "$venv"/* ]]; then
        echo "wheel_test: pixmorf was imported from $module, not from $venv" >&2
        exit 1
    fi
    echo "wheel_test: Python $version uses $module"
    check_bundled_libraries "$module"
    "$venv/bin/python" -P -m pytest -q -p no:cacheprovider "$ROOT/tests/python" "$@"
done
