#!/usr/bin/env bash
# check_writable_globals.sh ARCHIVE...: fails when an object of the given static libraries
# defines a symbol in a writable data section (.data, .bss and their thread-local kinds). Data
# that is read-only once relocated (.data.rel.ro, e.g. tables of function pointers) and the
# compiler's own references to exception type information are allowed.
set -euo pipefail
found=0
for archive in "$@"; do
    while read -r line; do
        echo "writable global: $line"
        found=1
    done < <(objdump -t "$archive" | awk '
        /file format/ { member = $1; sub(/:$/, "", member); next }
        $2 == "g" || $2 == "l" || $2 == "w" || $2 == "u" {
            section = ""
            for (i = 3; i <= NF; ++i) if ($i ~ /^\./) { section = $i; break }
            # DW.ref.* are the exception tables references the compiler emits itself.
            if (section ~ /^\.(data|bss|tdata|tbss)(\.|$)/ && section !~ /^\.data\.rel\.ro/ &&
                $0 ~ / O / && $NF !~ /^DW\.ref\./) print member ": " $NF " in " section
        }')
done
if [ "$found" -ne 0 ]; then exit 1; fi
echo "no writable globals in: $*"
