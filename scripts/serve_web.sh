#!/usr/bin/env bash
# serve_web.sh: builds the web page (preset `web`) and serves it on localhost.
#   scripts/serve_web.sh [PORT]     (default 8015; prints the address to open)
# The page needs nothing but a plain static server: no cross-origin isolation, no special
# headers (the wasm is served as application/wasm by Python's server).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port="${1:-8015}"
cd "$root"
cmake --preset web >/dev/null
nice cmake --build --preset web -j"${JOBS:-2}"
site="$root/build/web/site"
echo "serve_web.sh: open http://127.0.0.1:$port/ (Ctrl+C stops the server)"
echo "serve_web.sh: the module player is at http://127.0.0.1:$port/player/"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
