#!/usr/bin/env bash
# The main job from nothing: installs what is missing (scripts/setup.sh),
# builds and installs pyorvik into .venv, then runs examples/quickstart.py,
# which uploads, lists, reads, copies and downloads a file on a store kept in
# a temporary directory and verifies the checksums. Exits non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
.venv/bin/python -m pip install -q --no-build-isolation .
cd examples
../.venv/bin/python quickstart.py
