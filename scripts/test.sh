#!/usr/bin/env bash
# Sets up and runs every test: the native tests (GoogleTest under CTest) and
# the Python tests (pytest) against a fresh build.
#   OVK_SANITIZE=1 scripts/test.sh   the same under ASan + UBSan
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build_dir=build/test
cmake_flags=(-G Ninja -DOVK_BUILD_TESTS=ON -DOVK_BUILD_PYTHON=ON
             -DPython_EXECUTABLE="$PWD/.venv/bin/python")
if [[ -n "${OVK_SANITIZE:-}" ]]; then
  build_dir=build/asan
  cmake_flags+=(-DOVK_SANITIZE=ON)
fi
export PATH="$PWD/.venv/bin:$PATH"
cmake -S . -B "$build_dir" "${cmake_flags[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"

echo "== native tests"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"

echo "== python tests"
export PYORVIK_BUILD_DIR="$PWD/$build_dir"
pytest_env=()
if [[ -n "${OVK_SANITIZE:-}" ]]; then
  # The interpreter itself is not instrumented: the sanitizer runtimes must
  # be loaded before it, and its own allocations are not leak-checked.
  pytest_env=(env "LD_PRELOAD=$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
              "ASAN_OPTIONS=detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}")
fi
status=0
"${pytest_env[@]}" .venv/bin/python -m pytest -q tests/python || status=$?
# pytest exits 5 when it collected nothing; that is not a failure here.
if [[ $status -ne 0 && $status -ne 5 ]]; then
  exit "$status"
fi
