#!/usr/bin/env bash
# Builds Corvessa with AddressSanitizer and UndefinedBehaviorSanitizer into
# ./build-asan and runs the tests there. Not part of CI: the build and the
# run take several times as long as the ordinary ones.
#
#   scripts/sanitize.sh                     every test
#   scripts/sanitize.sh -R CorvessaProgram  the tests ctest -R selects
#
# SANITIZE_JOBS (default: the number of CPUs) sets the build's and the run's
# parallelism; SANITIZE_TARGETS (default: all) names the targets to build, so
# that a run of a few tests builds only what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${SANITIZE_JOBS:-$(nproc)}"
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
# shellcheck disable=SC2086 # the targets are a list
cmake --build build-asan --parallel "$jobs" ${SANITIZE_TARGETS:+--target $SANITIZE_TARGETS}
# Any report fails the test that caused it. Leaks are not checked: Qt, fontconfig
# and the X and sound libraries keep process-long allocations that would drown ours.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
cd build-asan
ctest --output-on-failure --parallel "$jobs" "$@"
