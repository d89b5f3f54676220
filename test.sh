#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build test
# Built as it is deployed: with a CA pinned (a throwaway one), so that the pinning is tested too.
scripts/make-pki.sh build-test/pki
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIGILOR_CONTENT_SERVER_CA="$PWD/build-test/pki/ca.pem"
cmake --build build-test -j"$(nproc)"
cd build-test
ctest --output-on-failure -j"$(nproc)" --timeout 600
