#!/usr/bin/env bash
# Builds the example against the zalmor installed for PYTHON three ways, with
# zalmor-config, with pkg-config and zalmor.pc, and with CMake and zalmor's
# package config, into OUT, and runs check.py against each build.
#   examples/native_consumer/build.sh PYTHON OUT
set -euo pipefail
PY=${1:?the python of the environment zalmor is installed in}
OUT=${2:?an output directory}
HERE=$(cd "$(dirname "$0")" && pwd)
CONFIG="$(dirname "$PY")/zalmor-config"
EXT=$("$PY" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
FLAGS=(-shared -fPIC -O2 -Wall -Wextra -Werror)
rm -rf "$OUT" && mkdir -p "$OUT/zalmor-config" "$OUT/pkg-config"

${CC:-cc} "${FLAGS[@]}" $("$CONFIG" --cflags) "$HERE/zalmor_example.c" -o "$OUT/zalmor-config/zalmor_example$EXT"

# zalmor.pc gives the header's directory; Python's headers come from Python.
PC_FLAGS=$(PKG_CONFIG_PATH="$("$CONFIG" --pkgconfigdir)" pkg-config --cflags zalmor)
PY_INCLUDE=$("$PY" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
${CC:-cc} "${FLAGS[@]}" $PC_FLAGS -I"$PY_INCLUDE" "$HERE/zalmor_example.c" -o "$OUT/pkg-config/zalmor_example$EXT"

cmake -S "$HERE" -B "$OUT/cmake" -G Ninja -DPython_EXECUTABLE="$PY" -Dzalmor_DIR="$("$CONFIG" --cmakedir)" >/dev/null
cmake --build "$OUT/cmake" >/dev/null

for way in zalmor-config pkg-config cmake; do
  PYTHONPATH="$OUT/$way" "$PY" "$HERE/check.py" "$way"
done
