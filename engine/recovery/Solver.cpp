#include "Solver.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vokram::recovery {

namespace {

// A square matrix whose rows are kept in the multiply-add kernels' working
// layout, so a row operation is one kernel call.
class Matrix {
 public:
  Matrix(std::size_t rows, std::size_t columns, GfKernel kernel)
      : columns_(columns),
        stride_((columns + kWords - 1) / kWords * kGfBlock),
        kernel_(kernel),
        data_(rows * stride_, 0),
        scratch_(stride_) {}

  std::uint16_t Get(std::size_t row, std::size_t column) const noexcept {
    const std::uint8_t* p = At(row, column);
    return static_cast<std::uint16_t>(p[0] | p[kWords] << 8);
  }
  void Set(std::size_t row, std::size_t column, std::uint16_t value) noexcept {
    std::uint8_t* p = data_.data() + (At(row, column) - data_.data());
    p[0] = static_cast<std::uint8_t>(value);
    p[kWords] = static_cast<std::uint8_t>(value >> 8);
  }
  void Fill(std::size_t row, std::uint32_t exponent, const std::vector<std::uint32_t>& missing) noexcept {
    for (std::size_t j = 0; j < columns_; ++j) Set(row, j, InputFactor(missing[j], exponent));
  }
  // row dst += factor * row src
  void AddMultiple(std::size_t dst, std::size_t src, std::uint16_t factor) noexcept {
    GfPrepare(kernel_, factor, prepared_);
    GfMultiplyAdd(kernel_, Row(dst), Row(src), stride_, prepared_);
  }
  void Scale(std::size_t row, std::uint16_t factor) noexcept {
    std::fill(scratch_.begin(), scratch_.end(), std::uint8_t{0});
    GfPrepare(kernel_, factor, prepared_);
    GfMultiplyAdd(kernel_, scratch_.data(), Row(row), stride_, prepared_);
    std::memcpy(Row(row), scratch_.data(), stride_);
  }
  void Swap(std::size_t a, std::size_t b) noexcept { std::swap_ranges(Row(a), Row(a) + stride_, Row(b)); }
  // Clears column c from every other row with row c (in place: an entry
  // cleared is set to 0 first, so its slot takes the inverse's entry).
  void ClearColumn(std::size_t c, std::size_t rows) noexcept {
    for (std::size_t i = 0; i < rows; ++i) {
      const std::uint16_t f = i == c ? 0 : Get(i, c);
      if (f == 0) continue;
      Set(i, c, 0);
      AddMultiple(i, c, f);
    }
  }

 private:
  static constexpr std::size_t kWords = kGfBlock / 2;
  const std::uint8_t* At(std::size_t row, std::size_t column) const noexcept {
    return data_.data() + row * stride_ + column / kWords * kGfBlock + column % kWords;
  }
  std::uint8_t* Row(std::size_t row) noexcept { return data_.data() + row * stride_; }

  std::size_t columns_;
  std::size_t stride_;
  GfKernel kernel_;
  std::vector<std::uint8_t> data_;
  std::vector<std::uint8_t> scratch_;
  alignas(64) std::uint8_t prepared_[1024];
};

// Gauss-Jordan in place: the matrix becomes its inverse. A row exchange
// exchanges the exponents too, so the inverse stays that of the rows as
// listed. False when a column has no pivot left.
bool Invert(Matrix& a, std::vector<std::uint32_t>& exponents) {
  const std::size_t m = exponents.size();
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t p = c;
    while (p < m && a.Get(p, c) == 0) ++p;
    if (p == m) return false;
    if (p != c) {
      a.Swap(p, c);
      std::swap(exponents[p], exponents[c]);
    }
    // The identity's column c, still e_c, takes column c's place.
    const std::uint16_t inverse = GfInverse(a.Get(c, c));
    a.Set(c, c, 1);
    a.Scale(c, inverse);
    a.ClearColumn(c, m);
  }
  return true;
}

// Takes the available rows in order, keeping each that is independent of
// those kept before; stops at m. The rows kept are the exponents returned.
std::vector<std::uint32_t> Independent(const std::vector<std::uint32_t>& missing,
                                       const std::vector<std::uint32_t>& available, GfKernel kernel) {
  const std::size_t m = missing.size();
  Matrix basis(m + 1, m, kernel);
  std::vector<std::size_t> pivots;
  std::vector<std::uint32_t> kept;
  for (const std::uint32_t exponent : available) {
    const std::size_t row = kept.size();
    basis.Fill(row, exponent, missing);
    // Each kept row has 1 at its pivot and, having been reduced by the rows
    // before it, 0 at theirs: reducing in that order clears every pivot.
    for (std::size_t t = 0; t < row; ++t) {
      if (const std::uint16_t f = basis.Get(row, pivots[t])) basis.AddMultiple(row, t, f);
    }
    std::size_t q = 0;
    while (q < m && basis.Get(row, q) == 0) ++q;
    if (q == m) continue;
    basis.Scale(row, GfInverse(basis.Get(row, q)));
    pivots.push_back(q);
    kept.push_back(exponent);
    if (kept.size() == m) break;
  }
  return kept;
}

}  // namespace

std::uint16_t GfInverse(std::uint16_t a) noexcept {
  // a^(2^16 - 2) = a^-1.
  std::uint16_t result = 1, power = a;
  for (std::uint32_t e = 65534; e != 0; e >>= 1) {
    if (e & 1) result = GfMultiply(result, power);
    power = GfMultiply(power, power);
  }
  return result;
}

SolveResult SolveMissing(const std::vector<std::uint32_t>& missing, const std::vector<std::uint32_t>& available,
                         GfKernel kernel) {
  SolveResult result;
  const std::size_t m = missing.size();
  if (m > kMaxSolvedSlices) {
    result.tooMany = true;
    return result;
  }
  std::vector<std::uint32_t> exponents;
  if (m <= available.size()) exponents.assign(available.begin(), available.begin() + static_cast<std::ptrdiff_t>(m));
  const auto tryInvert = [&]() -> bool {
    Matrix a(m, m, kernel);
    for (std::size_t k = 0; k < m; ++k) a.Fill(k, exponents[k], missing);
    if (!Invert(a, exponents)) return false;
    Solution solution{missing, exponents, std::vector<std::uint16_t>(m * m)};
    for (std::size_t j = 0; j < m; ++j) {
      for (std::size_t k = 0; k < m; ++k) solution.inverse[j * m + k] = a.Get(j, k);
    }
    result.solution = std::move(solution);
    result.rank = static_cast<std::uint32_t>(m);
    return true;
  };
  if (m <= available.size() && tryInvert()) return result;
  exponents = Independent(missing, available, kernel);
  result.rank = static_cast<std::uint32_t>(exponents.size());
  if (exponents.size() == m) tryInvert();
  return result;
}

}  // namespace vokram::recovery
