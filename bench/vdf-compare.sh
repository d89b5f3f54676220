#!/usr/bin/env bash
# Compares vdf::parse with key-values parsers from the npm registry on the same generated 50 MB text.
#   vdf-compare.sh BUILD_DIR
# The npm packages are installed into BUILD_DIR/npm-peers and run as black boxes; none of their code
# enters the project.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
peers=$build/npm-peers
mkdir -p "$peers"
[ -d "$peers/node_modules/@node-steam/vdf" ] ||
    npm install --prefix "$peers" --no-audit --no-fund --silent vdf kvparser @node-steam/vdf
text=$build/vdf-bench.txt
attributes=$("$build/bench/vdf-bench" generate "$text" 50)
"$build/bench/vdf-bench" parse "$text"
for package in vdf kvparser @node-steam/vdf; do
    NODE_PATH=$peers/node_modules node --max-old-space-size=8192 "$here/vdf-peer.js" "$package" "$text" "$attributes"
done
rm -f "$text"
