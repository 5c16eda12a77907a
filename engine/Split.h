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

#include "Error.h"
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

// Lets the window process its pending events; called once per piece.
using PumpEvents = std::function<void()>;

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

// Every precondition of a split, in the order the front ends report them:
// sizes in range, source not empty, below 2 GiB, at most kMaxPieces pieces
// even if every piece is drawn at the smaller size, a valid base name, names
// that fit the descriptor and batch file, and no output file that is the
// source. Nothing on success.
using SameFileTest = std::function<bool(NativeView, NativeView)>;
std::optional<VokError> CheckSplitPlan(NativeView sourcePath, std::uint64_t sourceLength,
                                       NativeView outputBase, std::int32_t minimum,
                                       std::int32_t maximum, const SplitOptions& options,
                                       const SameFileTest& isSameFile = {});

struct SplitResult {
  int pieceCount = 0;
  std::uint16_t sourceCrc = 0;
};

// Throws VokError; pieces written before a failure stay, and the descriptor's
// header then still reads as unfinished.
SplitResult SplitFile(NativeView sourcePath, NativeView outputBase, std::int32_t minimum,
                      std::int32_t maximum, const SplitOptions& options,
                      const PumpEvents& pump = {}, const RandomSource& random = {});

}  // namespace vokram
