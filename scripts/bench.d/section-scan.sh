#!/bin/bash
# Scanning a generated 2 GiB setup file for its sections, as start-up and the
# payload copy do. Goals: at least 1 GB/s, peak memory under 64 MiB.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${ZUL_NATIVE_BUILD:-build/native}
cmake --build "$build" --target section_scan_bench -j2 >/dev/null
"$build/tools/bench/section_scan_bench" "${ZUL_BENCH_DIR:-/tmp/zul-bench}/sections.exe" 2048
