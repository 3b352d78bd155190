#!/usr/bin/env bash
# Runs two builds of vbconv on the same inputs and fails unless they wrote
# the same bytes: every output file, standard output, standard error and the
# exit status, in the default way, with -q, with --check and with --escape.
#
#   compare_builds.sh VBCONV_A VBCONV_B INPUT_FOLDER [ESCAPE_FILES]
#
# Each build works in a folder of its own under the same relative names, so
# that the messages that name files agree.  Escape mode stops a run at the
# first file it cannot convert, so its first ESCAPE_FILES inputs (300 by
# default) are converted one run each.
set -euo pipefail

abs() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
a=$(abs "$1") b=$(abs "$2") inputs=$(cd "$3" && pwd)
escape_files=${4:-300}
scratch=$(mktemp -d)
[ -n "${KEEP:-}" ] && echo "scratch: $scratch" || trap 'rm -rf "$scratch"' EXIT
mapfile -t names < <(cd "$inputs" && ls)

# run BUILD MODE ARGS...: one run over every input, in scratch/BUILD/MODE,
# its outputs in out/ there (but for --check, which writes none).
run() {
    local build=$1 mode=$2
    shift 2
    local dir=$scratch/$build/$mode
    mkdir -p "$dir/out"
    ln -s "$inputs" "$dir/in"
    local status=0
    local to=(-o out/)
    [ "${1:-}" != --check ] || to=()
    (cd "$dir" && "${!build}" "$@" "${to[@]}" "${names[@]/#/in/}" >stdout 2>stderr) || status=$?
    echo "$status" >"$dir/status"
}

for build in a b; do
    run "$build" default
    run "$build" quiet -q
    run "$build" check --check
    dir=$scratch/$build/escape
    mkdir -p "$dir/out"
    ln -s "$inputs" "$dir/in"
    for name in "${names[@]:0:$escape_files}"; do
        status=0
        (cd "$dir" && "${!build}" --escape -o out/ "in/$name" >>stdout 2>>stderr) || status=$?
        echo "$name $status" >>"$dir/status"
    done
done

if diff -r "$scratch/a" "$scratch/b" >"$scratch/diff" 2>&1; then
    echo "identical: ${#names[@]} inputs, default, -q and --check; $escape_files inputs with --escape"
else
    head -n 40 "$scratch/diff"
    echo "the builds differ (above)" >&2
    exit 1
fi
