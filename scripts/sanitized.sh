# Sourced by ./test and scripts/soak (from the project's root, with ROOT
# set): builds under the sanitizers and runs ctest in them.
#   build_sanitized asan|tsan
#   ctest_sanitized asan|tsan [CTEST ARGUMENTS]
build_sanitized() {
  case "$1" in
    asan) option=-DAURALIST_SANITIZE=ON ;;
    tsan) option=-DAURALIST_TSAN=ON ;;
  esac
  cmake -S . -B "build-$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$option" -DAURALIST_BUILD_BENCH=OFF \
    -DAURALIST_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
  cmake --build "build-$1" -j"$(nproc)"
}

ctest_sanitized() {
  kind=$1
  shift
  case "$kind" in
    asan)
      (cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0" ctest "$@") ;;
    tsan)
      (cd build-tsan && TSAN_OPTIONS="halt_on_error=1:suppressions=$ROOT/tests/tsan.supp" ctest "$@") ;;
  esac
}
