# The stage runner of .ci/run (sourced, not run). Every stage runs even
# after an earlier one failed; a stage whose prerequisite failed or was
# skipped in this run is skipped with the reason. ci_summary prints the
# table of stages and returns 1 when any failed.
#
#   ci_stage NAME NEEDS TITLE COMMAND [ARG...]
#     NAME     short name, used in the table and in VEK_CI_ONLY
#     NEEDS    name of the stage whose output this one uses, or "-"
#     TITLE    the header line printed before the stage's output
#
# VEK_CI_ONLY="name name ...": run only the stages named (a stage whose
# prerequisite is not among them runs on what an earlier run left).
# An unknown name in it is an error, told at the end.

ci_names=()
ci_results=()
ci_seconds=()
ci_notes=()
declare -A ci_result_of=()
declare -A ci_known=()
ci_all=()

# True when the stage is selected by VEK_CI_ONLY (or that is unset/empty).
ci_selected() {
    local want
    [ -z "${VEK_CI_ONLY:-}" ] && return 0
    for want in ${VEK_CI_ONLY}; do
        [ "$want" = "$1" ] && return 0
    done
    return 1
}

ci_record() { # NAME RESULT SECONDS NOTE
    ci_names+=("$1")
    ci_results+=("$2")
    ci_seconds+=("$3")
    ci_notes+=("$4")
    ci_result_of[$1]=$2
}

ci_stage() {
    local name=$1 needs=$2 title=$3
    shift 3
    ci_known[$name]=1
    ci_all+=("$name")
    ci_selected "$name" || return 0
    echo "== $title =="
    if [ "$needs" != "-" ] && [ -n "${ci_result_of[$needs]:-}" ] && [ "${ci_result_of[$needs]}" != passed ]; then
        local was=${ci_result_of[$needs]}
        [ "$was" = skipped ] && was="was skipped"
        echo "skipped: it needs the output of stage '$needs', which $was"
        ci_record "$name" skipped 0 "$needs ${ci_result_of[$needs]}"
        return 0
    fi
    local start=$SECONDS rc=0
    "$@" || rc=$?
    local took=$((SECONDS - start))
    if [ $rc -eq 0 ]; then
        ci_record "$name" passed "$took" ""
    else
        echo "stage '$name' failed (exit status $rc)"
        ci_record "$name" failed "$took" "exit status $rc"
    fi
}

ci_summary() {
    local i ok=0 bad=0 skipped=0 want unknown=""
    for want in ${VEK_CI_ONLY:-}; do
        [ -n "${ci_known[$want]:-}" ] || unknown+=" $want"
    done
    echo
    echo "== CI stages =="
    printf '%-10s %-8s %8s  %s\n' stage result seconds note
    for i in "${!ci_names[@]}"; do
        printf '%-10s %-8s %8s  %s' "${ci_names[$i]}" "${ci_results[$i]}" "${ci_seconds[$i]}" "${ci_notes[$i]}" |
            sed 's/ *$//'
        echo
        case "${ci_results[$i]}" in
            passed) ok=$((ok + 1)) ;;
            failed) bad=$((bad + 1)) ;;
            *) skipped=$((skipped + 1)) ;;
        esac
    done
    if [ -n "$unknown" ]; then
        echo "VEK_CI_ONLY names no such stage:$unknown (stages: ${ci_all[*]})"
    fi
    echo "CI stages: $ok ok, $bad failed, $skipped skipped"
    [ $bad -eq 0 ] && [ -z "$unknown" ]
}
