// SplitFile cuts a source into pieces of random sizes between a minimum and a
// maximum (in KiB), named base.000, base.001, ..., with an optional batch file
// that rebuilds the source by COPY and an optional descriptor. One pass over
// the source through one fixed buffer; CRCs are computed as the bytes pass.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Error.h"
#include "Progress.h"
#include "Text.h"

namespace vokram {

// The largest size in KiB for which every drawn piece length fits in int32.
inline constexpr std::int32_t kMaxSizeKb = 2097151;
// Sources must be below 2 GiB: sizes are int32 in the descriptor.
inline constexpr std::uint64_t kMaxSourceBytes = 0x7FFFFFFF;

struct SplitOptions {
  bool writeVok = true;  // chkVokFile
  bool writeBat = false; // chkBatFile
};

// A value in [0, 1). The default is the process's own generator, never seeded:
// every run draws the same sequence.
using RandomSource = std::function<float()>;
float DefaultRandom();


// The drawn size: round-half-even((r * (maximum - minimum) + minimum) * 1024).
// A piece holds this plus one byte, or what is left of the source.
std::int64_t DrawnPieceSize(float r, std::int32_t minimum, std::int32_t maximum);

// base + "." + the number with at least three digits.
NativeString PieceName(NativeView baseName, std::int32_t number);

struct SplitNames {
  NativeString folder;    // output folder, with its trailing separator (or empty)
  NativeString baseName;  // may be empty
  NativeString sourceName;
  NativeString stem;
  std::filesystem::path PiecePath(std::int32_t number) const;
  std::filesystem::path BatPath() const;
  std::filesystem::path VokPath() const;
};
SplitNames DeriveSplitNames(NativeView sourcePath, NativeView outputBase);

// Draws the length of every piece of a source of `length` bytes, one draw per
// piece in cutting order: the sequence the split then uses. Nothing when the
// drawn pieces would be more than kMaxPieces (it draws no more than that).
std::optional<std::vector<std::uint32_t>> DrawPieceLengths(std::uint64_t length, std::int32_t minimum,
                                                           std::int32_t maximum, const RandomSource& random);

// Every precondition of a split that needs no disk, in the order the front
// ends report them: sizes in range, source not empty, below 2 GiB, at most
// kMaxPieces pieces as really drawn, a valid base name, names that fit the
// descriptor and batch file. The drawn piece lengths on success.
std::variant<VokError, std::vector<std::uint32_t>> PlanSplit(NativeView sourcePath, std::uint64_t sourceLength,
                                                             NativeView outputBase, std::int32_t minimum,
                                                             std::int32_t maximum, const SplitOptions& options,
                                                             const RandomSource& random = {});

// Every file a split of `pieceCount` pieces creates: pieces, then batch file
// and descriptor as the options ask.
std::vector<std::filesystem::path> SplitOutputs(const SplitNames& names, std::size_t pieceCount,
                                                const SplitOptions& options);

struct SplitResult {
  int pieceCount = 0;
  std::uint16_t sourceCrc = 0;
};

// Throws VokError; nothing is written when a precondition fails, also not
// when any file it would create is the source under another name (a link, a
// case-only alias, a short name). Pieces written before a later failure stay,
// and the descriptor's header then still reads as unfinished; a stop
// (Cancelled) removes every file this run wrote. Progress is told at the
// start of every piece and after every buffer that leaves more of it to copy.
SplitResult SplitFile(NativeView sourcePath, NativeView outputBase, std::int32_t minimum,
                      std::int32_t maximum, const SplitOptions& options,
                      const Progress& progress = {}, const RandomSource& random = {});

// The same with the lengths drawn beforehand (PlanSplit); they must add up to
// the source's length, or the source changed since and nothing is written.
SplitResult SplitFile(NativeView sourcePath, NativeView outputBase, const std::vector<std::uint32_t>& pieceLengths,
                      const SplitOptions& options, const Progress& progress = {});

}  // namespace vokram
