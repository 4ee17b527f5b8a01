#!/usr/bin/env bash
# Builds Corvessa with sanitizers and runs the tests there. Not part of CI:
# the build and the run take several times as long as the ordinary ones.
#
#   scripts/sanitize.sh                     every test, AddressSanitizer and
#                                           UndefinedBehaviorSanitizer, in ./build-asan
#   scripts/sanitize.sh -R CorvessaProgram  the tests ctest -R selects
#   SANITIZER=thread scripts/sanitize.sh    ThreadSanitizer instead, in ./build-tsan
#
# SANITIZE_JOBS (default: the number of CPUs) sets the build's and the run's
# parallelism; SANITIZE_TARGETS (default: all) names the targets to build, so
# that a run of a few tests builds only what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${SANITIZE_JOBS:-$(nproc)}"
case "${SANITIZER:-address}" in
address)
  dir=build-asan
  link="-fsanitize=address,undefined"
  flags="$link -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
  run=()
  # Any report fails the test that caused it. Leaks are not checked: Qt, fontconfig
  # and the X and sound libraries keep process-long allocations that would drown ours.
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
  ;;
thread)
  dir=build-tsan
  link="-fsanitize=thread"
  flags="$link -fno-omit-frame-pointer"
  # ThreadSanitizer maps its shadow memory at fixed addresses, which the wider
  # address randomisation of newer kernels can collide with: run without it.
  run=(setarch "$(uname -m)" -R)
  # Every report fails the test that caused it (exit code 66).
  export TSAN_OPTIONS="halt_on_error=0:exitcode=66:second_deadlock_stack=1:history_size=4${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
  ;;
*)
  echo "SANITIZER must be address or thread" >&2
  exit 2
  ;;
esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$link" \
  -DCMAKE_SHARED_LINKER_FLAGS="$link" >/dev/null
# shellcheck disable=SC2086 # the targets are a list
cmake --build "$dir" --parallel "$jobs" ${SANITIZE_TARGETS:+--target $SANITIZE_TARGETS}
cd "$dir"
"${run[@]}" ctest --output-on-failure --parallel "$jobs" "$@"
