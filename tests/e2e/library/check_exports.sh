#!/usr/bin/env bash
# check_exports.sh: libneatxm.so exports the public API and nothing else: every function that
# neatxm.h marks NEATXM_API, no other defined dynamic symbol, each under the version node of the
# major version (NEATXM_<major>.0), and the SONAME of its major version.
#   check_exports.sh LIBRARY HEADER MAJOR
set -euo pipefail
library="$1" header="$2" major="$3"
node="NEATXM_${major}.0"

symbols="$(nm -D --defined-only "$library" | awk '$2 != "A" {print $3}' | sort)"
exported="$(echo "$symbols" | sed 's/@.*//' | sort)"
unversioned="$(echo "$symbols" | grep -v "@@${node}\$" || true)"
declared="$(grep -v '^#' "$header" | tr '\n' ' ' | grep -o 'NEATXM_API [^(]*(' | sed 's/.*[ *]\([a-z0-9_]*\)($/\1/' | sort)"
status=0
extra="$(comm -23 <(echo "$exported") <(echo "$declared"))"
missing="$(comm -13 <(echo "$exported") <(echo "$declared"))"
if [ -n "$extra" ]; then echo "exported but not in the header:"; echo "$extra"; status=1; fi
if [ -n "$missing" ]; then echo "declared NEATXM_API but not exported:"; echo "$missing"; status=1; fi
if [ -n "$unversioned" ]; then echo "not under the version $node:"; echo "$unversioned"; status=1; fi
nm -D --defined-only "$library" | awk '$2 == "A" {print $3}' | grep -qx "$node" ||
    { echo "no version node $node"; status=1; }
[ "$(echo "$declared" | grep -c .)" -ge 10 ] || { echo "found too few declarations in $header"; status=1; }
soname="$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')"
if [ "$soname" != "libneatxm.so.$major" ]; then echo "SONAME is '$soname', want libneatxm.so.$major"; status=1; fi
[ "$status" -eq 0 ] && echo "$(echo "$exported" | wc -l) symbols, all of the API, under $node; SONAME $soname"
exit "$status"
