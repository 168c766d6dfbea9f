#!/usr/bin/env bash
# Checks the tree against .clang-format and .clang-tidy. The Windows-only files are
# analysed for the mingw-w64 target with the cross compiler's C++ headers.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files 'src/*.cc' 'src/*.h' 'tests/*.cc' 'tests/*.h' 'bench/*.cc' 'fuzz/*.cc' 'examples/*.cc')
clang-format --dry-run --Werror "${sources[@]}"

cmake --preset windows >/dev/null
gcc_dir=/usr/lib/gcc/x86_64-w64-mingw32/12-posix
mapfile -t program < <(git ls-files 'src/*.cc')
clang-tidy -p build/windows --quiet --warnings-as-errors='*' \
  --extra-arg=--target=x86_64-w64-mingw32 \
  --extra-arg=-isystem"$gcc_dir/include/c++" \
  --extra-arg=-isystem"$gcc_dir/include/c++/x86_64-w64-mingw32" \
  --extra-arg=-Wno-unknown-warning-option \
  "${program[@]}"
echo "lint: clean"
