#!/usr/bin/env bash
# Prints the size of the tests against the size of the code they test: non-blank lines that
# are not comment lines, in .c/.cpp/.h/.hpp files, tests/ against src/ (without the generated
# shader headers), tools/ and bench/.
#
# Usage: scripts/test-share.sh [--quiet]   (--quiet prints only the ratio)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# Counts code lines of the files named on stdin (NUL-separated). A line counts when, outside
# block comments, it holds something besides whitespace and a // comment.
count_lines() {
    xargs -0 -r awk '
        FNR == 1 { in_block = 0 }
        {
            line = $0
            code = 0
            while (length(line) > 0) {
                if (in_block) {
                    end = index(line, "*/")
                    if (end == 0) { line = ""; break }
                    line = substr(line, end + 2)
                    in_block = 0
                    continue
                }
                sub(/^[ \t\r]+/, "", line)
                if (line == "" || substr(line, 1, 2) == "//") break
                if (substr(line, 1, 2) == "/*") { in_block = 1; line = substr(line, 3); continue }
                code = 1
                break
            }
            if (code) total++
        }
        END { print total + 0 }' | awk '{ sum += $1 } END { print sum + 0 }'
}

list_sources() {
    find "$@" -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) \
        -not -path 'src/gpu/shaders/generated/*' -print0 2>/dev/null
}

code_dirs=()
for dir in src tools bench; do
    [[ -d $dir ]] && code_dirs+=("$dir")
done
test_lines=$(list_sources tests | count_lines)
code_lines=$(list_sources "${code_dirs[@]}" | count_lines)
share=$(awk -v t="$test_lines" -v c="$code_lines" 'BEGIN { printf "%.2f", c ? t / c : 0 }')
if [[ "${1:-}" == --quiet ]]; then
    echo "$share"
else
    echo "test share: $share ($test_lines test lines / $code_lines code lines)"
fi
