# Sourced by the scripts: what this machine can run.

# True when the kernel runs 32-bit x86 programs (some cloud and hardened kernels refuse them, and
# then 32-bit Wine cannot start). Tried, not guessed: a 93-byte static 32-bit program that only
# exits 0 (xor ebx,ebx; mov eax,1; int 0x80), written out and run.
runs_32bit_programs() {
  local build probe
  build="$(dirname "${BASH_SOURCE[0]}")/../build" # not /tmp, which may forbid running programs
  mkdir -p "$build" && probe=$(mktemp -p "$build" runs32.XXXXXX) || return 1
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0' >"$probe"
  printf '\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >>"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0' >>"$probe"
  printf '\61\333\270\1\0\0\0\315\200' >>"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  local status=$?
  rm -f "$probe"
  return $status
}

# True when the Windows suites take the x86-64 path (built for x86-64, run under 64-bit Wine): where
# 32-bit programs cannot run, or where LARKMOOR_WINDOWS_X64=1 asks for it, so that a machine with
# both Wines can check both paths.
windows_x64_path() {
  [ "${LARKMOOR_WINDOWS_X64:-0}" = 1 ] || ! runs_32bit_programs
}
