# Counting checks for the shell test scripts: source it, call `check DESCRIPTION COMMAND...`
# for each check, and end with `report_checks [NAME]`, whose status is the script's.
passed=0
failed=0
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}
report_checks() { # report_checks [NAME]
    echo "${1:+$1: }$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
