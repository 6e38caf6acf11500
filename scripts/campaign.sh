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
    build/coverage/tests/campaign/nlconf_campaign --runs "$runs" | tail -n 1 ||
    echo "some campaign runs broke: the coverage is of what ran"
  objects=(-object build/coverage/tests/nlconf_tests -object build/coverage/cli/nlconf-cli
    -object build/coverage/tests/nlconf_posix_tests -object build/coverage/tests/nlconf_cli_tests)
  for target in build/coverage/tests/fuzz/fuzz_*; do
    name=$(basename "$target")
    objects+=(-object "$target")
    LLVM_PROFILE_FILE="$dir/$name.profraw" "$target" "tests/fuzz/corpus/${name#fuzz_}" \
      "build/fuzz/corpus/${name#fuzz_}" -runs=0 >/dev/null 2>&1 || true
  done
  llvm-profdata-14 merge -o "$dir/all.profdata" "$dir"/*.profraw
  # link/ and module/ are in the command line's program too, built a second
  # time over the Linux seam: each file counts once, as its first listing.
  llvm-cov-14 report build/coverage/tests/campaign/nlconf_campaign "${objects[@]}" \
    -instr-profile="$dir/all.profdata" \
    -ignore-filename-regex='(platform|sim|tests|ui|e2e|app|runner)/|^/usr' |
    awk '$1 ~ /(link|module|cli)\// && !seen[$1]++ {
           split($1, part, "/"); d = part[3]; lines[d] += $8; missed[d] += $9
           printf "%-32s %6d lines %5d missed %7.2f%%\n", $1, $8, $9, $10 }
         END { for (d in lines) { all += lines[d]; gone += missed[d]
                 printf "%-32s %6d lines %5d missed %7.2f%%\n", d "/", lines[d], missed[d],
                        100 * (lines[d] - missed[d]) / lines[d] }
               printf "%-32s %6d lines %5d missed %7.2f%%\n", "together", all, gone,
                      100 * (all - gone) / all }'
  exit 0
fi

runs=${1:-100000}
cmake --preset campaign >/dev/null
cmake --build --preset campaign --target nlconf_campaign >/dev/null
build/campaign/tests/campaign/nlconf_campaign --runs "$runs" --first "${CAMPAIGN_FIRST:-0}"
