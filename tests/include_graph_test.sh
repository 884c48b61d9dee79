#!/bin/bash
# The parts of the program include each other one way only (see the README's
# Layout), so the include graph between them has no loop, and the GUI-free
# core includes no GUI code. Fails with every include that breaks this.
# Usage: include_graph_test.sh [source folder]
cd "${1:-$(dirname "$0")/..}" || exit 2

# Sets `part` to the part a path belongs to (empty: none, e.g. a library).
part_of() {
    case "$1" in
        toolkit/ui/*) part=toolkit_ui ;;
        toolkit/*) part=toolkit ;;
        formats/*_ui.*) part=formats_ui ;;
        formats/*) part=formats ;;
        adjust/*_ui.*) part=adjust_ui ;;
        adjust/*) part=adjust ;;
        skybox/*_ui.*) part=skybox_ui ;;
        skybox/*) part=skybox ;;
        editor/*) part=editor ;;
        app/*) part=app ;;
        *) part= ;;
    esac
}

# What each part may include besides itself.
declare -A allowed=(
    [toolkit]=""
    [toolkit_ui]="toolkit"
    [formats]="toolkit"
    [formats_ui]="formats toolkit toolkit_ui"
    [adjust]="formats toolkit"
    [adjust_ui]="adjust formats formats_ui toolkit toolkit_ui"
    [skybox]="adjust formats toolkit"
    [skybox_ui]="skybox adjust adjust_ui formats formats_ui toolkit toolkit_ui"
    [editor]="skybox skybox_ui adjust adjust_ui formats formats_ui toolkit toolkit_ui"
    [app]="editor"
)
core=" toolkit formats adjust skybox "

include='^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">]'
bad=0
files=0
while IFS= read -r file; do
    files=$((files + 1))
    part_of "$file"
    from=$part
    while IFS= read -r line; do
        [[ "$line" =~ $include ]] || continue
        target=${BASH_REMATCH[1]}
        if [[ "$core" == *" $from "* && ( "$target" == wx/* || "$target" == gtk/* ) ]]; then
            echo "$file: GUI include in the core: $target"
            bad=1
            continue
        fi
        part_of "$target"
        to=$part
        [[ -z "$to" || "$to" == "$from" ]] && continue
        if [[ " ${allowed[$from]} " != *" $to "* ]]; then
            echo "$file ($from) includes $target ($to)"
            bad=1
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "$file")
done < <(find toolkit formats adjust skybox editor app -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.inc' \) | sort)

if ((files < 50)); then
    echo "only $files source files found: wrong folder?"
    exit 2
fi
exit $bad
