# Sourced by scripts/test and scripts/tsan. A dummy JACK server on a loaded machine misses
# cycles, and an integration test that measures timing through it can fail for that alone.
#
# second_run BUILD_DIR LOG WHO: when ctest's run logged in LOG failed only integration tests, runs
# them once more (in BUILD_DIR, with their fixtures) and returns 0 if they all pass then, after
# printing "WHO: passed on a second run: NAMES". Returns 1 when a unit test failed, when the log
# names no failed test, or when a test fails again. A unit test is never run again.
second_run() {
  local build=$1 log=$2 who=$3 t listed pattern
  local failed_list='/^The following tests FAILED:$/,/^Errors while running CTest$/'
  local failed_tests=()
  # The names in ctest's list of failed tests (not its list of skipped ones).
  mapfile -t failed_tests < <(sed -n "${failed_list}s/^[[:space:]]*[0-9]* - \(.*\) ([^)]*)\$/\1/p" "$log")
  [ "${#failed_tests[@]}" -gt 0 ] || return 1
  for t in "${failed_tests[@]}"; do
    listed=$(ctest --test-dir "$build" -N -L integration -R "^${t}\$" | sed -n 's/^Total Tests: //p')
    [ "${listed:-0}" -ge 1 ] || return 1
  done
  echo
  echo "$who: running the ${#failed_tests[@]} failed integration test(s) once more"
  pattern=$(printf '^%s$|' "${failed_tests[@]}")
  ctest --test-dir "$build" --output-on-failure -R "${pattern%|}" 2>&1 |
    tee "$build/ctest-second-run.log" || return 1
  echo "$who: passed on a second run: ${failed_tests[*]}"
}
