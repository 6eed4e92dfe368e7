#!/usr/bin/env bash
# check_exports.sh: libneatxm.so exports the public API and nothing else: every function that
# neatxm.h marks NEATXM_API, no other defined dynamic symbol, and the SONAME of its major version.
#   check_exports.sh LIBRARY HEADER MAJOR
set -euo pipefail
library="$1" header="$2" major="$3"

exported="$(nm -D --defined-only "$library" | awk '{print $3}' | sort)"
declared="$(grep -v '^#' "$header" | tr '\n' ' ' | grep -o 'NEATXM_API [^(]*(' | sed 's/.*[ *]\([a-z0-9_]*\)($/\1/' | sort)"
status=0
extra="$(comm -23 <(echo "$exported") <(echo "$declared"))"
missing="$(comm -13 <(echo "$exported") <(echo "$declared"))"
if [ -n "$extra" ]; then echo "exported but not in the header:"; echo "$extra"; status=1; fi
if [ -n "$missing" ]; then echo "declared NEATXM_API but not exported:"; echo "$missing"; status=1; fi
[ "$(echo "$declared" | grep -c .)" -ge 10 ] || { echo "found too few declarations in $header"; status=1; }
soname="$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')"
if [ "$soname" != "libneatxm.so.$major" ]; then echo "SONAME is '$soname', want libneatxm.so.$major"; status=1; fi
[ "$status" -eq 0 ] && echo "$(echo "$exported" | wc -l) symbols, all of the API; SONAME $soname"
exit "$status"
