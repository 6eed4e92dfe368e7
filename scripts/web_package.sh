#!/usr/bin/env bash
# web_package.sh: builds the npm package (preset `web`, target neatxm_package) and packs it.
#   scripts/web_package.sh [DEST]    (default build/web/dist; prints the tarball's path)
# The tarball holds index.js, core.js, worklet.js, index.d.ts, neatxm.wasm and the README;
# `npm install path/to/neatxm-X.Y.Z.tgz` installs it (it has no dependencies). Needs Debian's
# emscripten (scripts/setup.sh) and npm; no registry is asked for anything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dest="${1:-$root/build/web/dist}"
cd "$root"
cmake --preset web >/dev/null
nice cmake --build --preset web -j"${JOBS:-2}" --target neatxm_package
mkdir -p "$dest"
dest="$(cd "$dest" && pwd)"
tarball="$(cd "$dest" && npm pack --silent "$root/build/web/package")"
package="$root/build/web/package"
raw=0
gz=0
for f in index.js core.js worklet.js neatxm.wasm; do
  raw=$((raw + $(stat -c %s "$package/$f")))
  gz=$((gz + $(gzip -9c "$package/$f" | wc -c)))
done
echo "web_package.sh: $dest/$tarball (wasm + scripts: $raw bytes, $gz gzipped)"
