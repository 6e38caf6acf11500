#!/usr/bin/env bash
# The seeded fault campaign, long: RUNS seeds (default 100000) from
# CAMPAIGN_FIRST (default 0) in an optimised build without sanitizers. Every
# failing seed is printed with the command that replays it with a trace.
#
#   scripts/campaign.sh [RUNS]
#   scripts/campaign.sh --coverage [RUNS]   line coverage of link/, module/ and
#                                           cli/ under the native tests (the
#                                           command line's journeys among them),
#                                           the campaign and the fuzz corpora
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

if [[ ${1:-} == --coverage ]]; then
  shift
  runs=${1:-20000}
  cmake --preset coverage >/dev/null
  cmake --build --preset coverage >/dev/null
  dir=$PWD/build/coverage/profiles
  rm -rf "$dir" && mkdir -p "$dir"
  # %m: a preloaded library writes a file of its own beside its program.
  LLVM_PROFILE_FILE="$dir/test-%p-%m.profraw" ctest --preset coverage >/dev/null ||
    echo "some tests failed: the coverage is of what ran"
  LLVM_PROFILE_FILE="$dir/campaign.profraw" \
    build/coverage/tests/campaign/nlconf_campaign --runs "$runs" | tail -n 1
  objects=(-object build/coverage/tests/nlconf_tests -object build/coverage/cli/nlconf-cli
    -object build/coverage/tests/nlconf_posix_tests)
  for target in build/coverage/tests/fuzz/fuzz_*; do
    name=$(basename "$target")
    objects+=(-object "$target")
    LLVM_PROFILE_FILE="$dir/$name.profraw" "$target" "tests/fuzz/corpus/${name#fuzz_}" \
      "build/fuzz/corpus/${name#fuzz_}" -runs=0 >/dev/null 2>&1 || true
  done
  llvm-profdata-14 merge -o "$dir/all.profdata" "$dir"/*.profraw
  llvm-cov-14 report build/coverage/tests/campaign/nlconf_campaign "${objects[@]}" \
    -instr-profile="$dir/all.profdata" link/*.cpp module/*.cpp $(ls cli/*.cpp | grep -v _win32)
  exit 0
fi

runs=${1:-100000}
cmake --preset campaign >/dev/null
cmake --build --preset campaign --target nlconf_campaign >/dev/null
build/campaign/tests/campaign/nlconf_campaign --runs "$runs" --first "${CAMPAIGN_FIRST:-0}"
