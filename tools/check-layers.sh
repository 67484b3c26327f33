#!/usr/bin/env bash
# Fails, naming the file and line, when a source file includes one from a
# layer above its own, or when one face includes another. The layers, from
# the bottom: framework, system, engine, the faces (ui, report), the entry
# point (app). res/ holds resources that any layer may include.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

rank() {
    case "$1" in
        framework/*) echo 0 ;;
        system/*)    echo 1 ;;
        engine/*)    echo 2 ;;
        ui/*|report/*) echo 3 ;;
        app/*)       echo 4 ;;
        *)           echo -1 ;;
    esac
}

face() {
    case "$1" in
        ui/*) echo ui ;;
        report/*) echo report ;;
        *) echo "" ;;
    esac
}

status=0
while IFS=: read -r file line text; do
    target=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' <<<"$text")
    [ -n "$target" ] || continue
    from=$(rank "$file")
    to=$(rank "$target")
    [ "$to" -ge 0 ] || continue
    if [ "$to" -gt "$from" ]; then
        echo "$file:$line: includes $target from a layer above its own"
        status=1
    elif [ -n "$(face "$file")" ] && [ -n "$(face "$target")" ] && [ "$(face "$file")" != "$(face "$target")" ]; then
        echo "$file:$line: one face includes another: $target"
        status=1
    fi
done < <(grep -rn --include='*.cpp' --include='*.h' --include='*.c' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
             framework system engine ui report app)

[ $status -eq 0 ] && echo "layers: every include runs downwards"
exit $status
