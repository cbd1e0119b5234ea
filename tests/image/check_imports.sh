#!/usr/bin/env bash
# Checks what an executable asks of Windows at load time: only the system
# DLLs below, exactly the functions of the checked-in allowlist for its
# architecture (a new import is reviewed, then added), and for the 32-bit
# build subsystem and OS version 4.0 (Windows NT 4.0).
#   check_imports.sh OBJDUMP EXE ALLOWLIST ARCH [nt4]
set -euo pipefail
objdump=$1
exe=$2
allowlist=$3
here=$(dirname "$0")
headers=$("$objdump" -p "$exe")
allowed='^(KERNEL32|ADVAPI32|SHELL32|msvcrt)\.dll$'
status=0
dlls=$(printf '%s\n' "$headers" | sed -n 's/^\tDLL Name: //p')
echo "imports: $(echo $dlls)"
for dll in $dlls; do
    if ! [[ $dll =~ $allowed ]]; then
        echo "not a system DLL: $dll"
        status=1
    fi
done
# The lines for every build, and those that end in this one's architecture.
expected=$(grep -v '^#' "$allowlist" | awk -v arch="$4" 'NF == 2 || $3 == arch {print $1, $2}')
if ! diff -u <(printf '%s\n' "$expected") <(python3 "$here/list_imports.py" "$objdump" "$exe"); then
    echo "the imports differ from $allowlist (- allowed, + imported)"
    status=1
fi
if [ "${5:-}" = nt4 ]; then
    for field in MajorSubsystemVersion MinorSubsystemVersion MajorOSystemVersion MinorOSystemVersion; do
        value=$(printf '%s\n' "$headers" | awk -v f="$field" '$1 == f {print $2}')
        want=$([[ $field == Major* ]] && echo 4 || echo 0)
        if [ "$value" != "$want" ]; then
            echo "$field is $value, want $want"
            status=1
        fi
    done
fi
exit $status
