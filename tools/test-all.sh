#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs every
# test (fuzz corpora replayed included), then builds the threaded suites with ThreadSanitizer and runs them,
# then checks the install and the Debian packages (tools/package-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh
jobs=$(nproc)

cmake --preset asan-ubsan
cmake --build --preset asan-ubsan -j "$jobs"
ctest --preset asan-ubsan -j "$jobs"

cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs"

# The installed tree, the consumers of the libraries and the Debian packages.
tools/package-test.sh
