# shellcheck shell=bash
# PASS/FAIL lines and their counts, for the check scripts that end with
# "<label>: N passed, M failed".
passed=0
failed=0

pass() {
  echo "PASS $1"
  passed=$((passed + 1))
}

fail() {
  echo "FAIL $1: $2"
  failed=$((failed + 1))
}
