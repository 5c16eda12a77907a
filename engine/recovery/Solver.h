// Which recovery slices stand in for lost input slices, and with what
// coefficients. Recovery slice e holds the sum over every input slice i of
// c_i^e * D_i (c_i the slice's constant). With m slices lost, m recovery
// slices give m equations in them; exponents 0 .. m-1 always solve, others
// may not (with exponents 0 and 257, slices #0 and #128 cannot be told
// apart), so where elimination meets a zero pivot other recovery slices are
// tried before giving up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "recovery/Gf16.h"

namespace vokram::recovery {

// Beyond this many lost slices the system is not solved: its matrix alone
// would take 32 MiB.
inline constexpr std::uint32_t kMaxSolvedSlices = 4096;

struct Solution {
  std::vector<std::uint32_t> missing;    // input slices to rebuild
  std::vector<std::uint32_t> exponents;  // the recovery slices used, as many
  // missing[j] = sum over k of Coefficient(j, k) * (recovery slice
  // exponents[k] less the known input slices' share of it).
  std::vector<std::uint16_t> inverse;
  std::uint16_t Coefficient(std::size_t j, std::size_t k) const { return inverse[j * missing.size() + k]; }
};

struct SolveResult {
  std::optional<Solution> solution;
  // How many of the missing slices the available recovery slices can stand
  // for; missing - rank more are needed when there is no solution.
  std::uint32_t rank = 0;
  // More missing slices than are ever solved; rank is then not counted.
  bool tooMany = false;
};

// available: the exponents at hand, most wanted first (ascending takes
// 0 .. m-1 where they are there).
SolveResult SolveMissing(const std::vector<std::uint32_t>& missing, const std::vector<std::uint32_t>& available,
                         GfKernel kernel = ChosenGfKernel());

std::uint16_t GfInverse(std::uint16_t a) noexcept;

}  // namespace vokram::recovery
