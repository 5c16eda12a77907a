# Sourced by the benchmark scripts: the random source file of MIB mebibytes in
# WORK, made again only when its size differs. Prints its path.
#   bench_source WORK MIB
bench_source() {
  local src=$1/source.bin
  mkdir -p "$1"
  if [ ! -f "$src" ] || [ "$(stat -c %s "$src")" -ne $(($2 * 1048576)) ]; then
    rm -f "$src"
    head -c $(($2 * 1048576)) /dev/urandom >"$src"
  fi
  echo "$src"
}
