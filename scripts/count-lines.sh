#!/bin/bash
# Non-blank, non-comment C++ lines per folder: scripts/count-lines.sh DIR...
for dir in "$@"; do
    n=$(find "$dir" -maxdepth 1 -name '*.cpp' -o -maxdepth 1 -name '*.h' | xargs cat 2>/dev/null |
        sed -e 's://.*$::' | awk '/\/\*/{c=1} !c && NF{n++} /\*\//{c=0} END{print n+0}')
    echo "$n $dir"
done
