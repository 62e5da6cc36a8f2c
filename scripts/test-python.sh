#!/usr/bin/env bash
# Builds the library, installs the Python package into a fresh virtual
# environment (its own build backend, Debian's pytest, nothing downloaded)
# and runs its tests against the freshly built library and its headers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh python
build=${VEK_BUILD_DIR:-build-python}
cmake -S . -B "$build" -DBUILD_TESTING=OFF -DVEK_WERROR=ON > /dev/null
cmake --build "$build" -j"$(nproc)" --target vekcommon
venv="$build/venv"
rm -rf "$venv"
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-index --no-build-isolation ./python
# The headers the build installs (generated/include) are what the package's
# copied constants and structure layouts are checked against.
export VEK_LIBRARY="$PWD/$build/src/libvekcommon.so.1" VEK_REQUIRE_LIBRARY=1 \
  VEK_INCLUDE_DIR="$PWD/$build/generated/include"
# Run from outside the source tree so the installed package is the one tested.
cd python/tests
"$PWD/../../$venv/bin/python" -m pytest -q -p no:cacheprovider .
