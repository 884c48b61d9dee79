#!/bin/bash
# The parts of the program include each other one way only (see the README's
# Layout), so the include graph between them has no loop, and the GUI-free
# core includes no GUI code. Fails with every include that breaks this.
# Usage: include_graph_test.sh [source folder]
cd "${1:-$(dirname "$0")/..}" || exit 2

# The part a path belongs to (empty: none, e.g. a library).
part_of() {
    case "$1" in
        toolkit/ui/*) echo toolkit_ui ;;
        toolkit/* | editor/* | app/*) echo "${1%%/*}" ;;
        formats/*_ui.* | adjust/*_ui.* | skybox/*_ui.*) echo "${1%%/*}_ui" ;;
        formats/* | adjust/* | skybox/*) echo "${1%%/*}" ;;
    esac
}

# What each part may include besides itself.
declare -A allowed=(
    [toolkit]="" [toolkit_ui]="toolkit" [formats]="toolkit" [formats_ui]="formats toolkit toolkit_ui"
    [adjust]="formats toolkit" [adjust_ui]="adjust formats formats_ui toolkit toolkit_ui"
    [skybox]="adjust formats toolkit" [skybox_ui]="skybox adjust adjust_ui formats formats_ui toolkit toolkit_ui"
    [editor]="skybox skybox_ui adjust adjust_ui formats formats_ui toolkit toolkit_ui" [app]="editor"
)

bad=0
files=$(find toolkit formats adjust skybox editor app -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inc' \) |
    sort)
for file in $files; do
    from=$(part_of "$file")
    for target in $(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">].*/\1/p' "$file"); do
        to=$(part_of "$target")
        if [[ " toolkit formats adjust skybox " == *" $from "* && ( "$target" == wx/* || "$target" == gtk/* ) ]]; then
            echo "$file: GUI include in the core: $target"
            bad=1
        elif [[ -n "$to" && "$to" != "$from" && " ${allowed[$from]} " != *" $to "* ]]; then
            echo "$file ($from) includes $target ($to)"
            bad=1
        fi
    done
done

if (($(wc -w <<<"$files") < 50)); then
    echo "only $(wc -w <<<"$files") source files found: wrong folder?"
    exit 2
fi
exit $bad
