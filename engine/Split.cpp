#include "Split.h"

#include <cfenv>
#include <cmath>
#include <cwctype>
#include <memory>
#include <random>

#include "Batch.h"
#include "CodePage932.h"
#include "Descriptor.h"
#include "File.h"
#include "GetCRC.h"

namespace vokram {

namespace {

std::string Digits(std::int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits;
}

// Fewest bytes any piece but the last can hold: the smaller size plus one.
std::uint64_t WorstCasePieceCount(std::uint64_t length, std::int32_t minimum, std::int32_t maximum) {
  const std::uint64_t smallest = static_cast<std::uint64_t>(std::min(minimum, maximum)) * 1024 + 1;
  return (length + smallest - 1) / smallest;
}

bool EqualsName(NativeView a, NativeView b) {
#ifdef _WIN32
  // Windows file names compare without regard to case.
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
#else
  return a == b;
#endif
}

// Whether `name` is one of the pieces a split of `pieces` pieces may write.
bool IsPieceName(NativeView name, NativeView base, std::uint64_t pieces) {
  if (name.size() < base.size() + 4 || !EqualsName(name.substr(0, base.size()), base) ||
      name[base.size()] != VOKRAM_NATIVE('.')) {
    return false;
  }
  const NativeView digits = name.substr(base.size() + 1);
  std::uint64_t number = 0;
  for (NativeChar c : digits) {
    if (c < VOKRAM_NATIVE('0') || c > VOKRAM_NATIVE('9') || number > kMaxPieces) return false;
    number = number * 10 + static_cast<std::uint64_t>(c - VOKRAM_NATIVE('0'));
  }
  const bool canonical = digits.size() == 3 || digits[0] != VOKRAM_NATIVE('0');
  return canonical && number < pieces;
}

bool WouldOverwriteSource(const SplitNames& names, NativeView sourcePath, std::uint64_t pieces,
                          const SplitOptions& options, const SameFileTest& isSameFile) {
  const NativeString sameNameInOutput = names.folder + names.sourceName;
  const bool same = isSameFile ? isSameFile(sameNameInOutput, sourcePath)
                               : IsSameFile(std::filesystem::path(sameNameInOutput), std::filesystem::path(sourcePath));
  if (!same) return false;
  const NativeView source = names.sourceName;
  return (options.writeBat && EqualsName(source, names.stem + VOKRAM_NATIVE(".bat"))) ||
         (options.writeVok && EqualsName(source, names.stem + VOKRAM_NATIVE(".vok"))) ||
         IsPieceName(source, names.baseName, pieces);
}

}  // namespace

float DefaultRandom() {
  // Default-constructed, never seeded: every run draws the same sequence.
  static std::mt19937 generator;
  return static_cast<float>(generator() >> 8) * (1.0f / 16777216.0f);
}

std::int64_t DrawnPieceSize(float r, std::int32_t minimum, std::int32_t maximum) {
  const double size =
      (static_cast<double>(r) * (static_cast<double>(maximum) - minimum) + minimum) * 1024.0;
  // nearbyint rounds in the current mode, to nearest with halves to even by default.
  return static_cast<std::int64_t>(std::nearbyint(size));
}

NativeString PieceName(NativeView baseName, std::int32_t number) {
  NativeString name(baseName);
  name += VOKRAM_NATIVE('.');
  for (char c : Digits(number)) name += static_cast<NativeChar>(c);
  return name;
}

std::filesystem::path SplitNames::PiecePath(std::int32_t number) const {
  return std::filesystem::path(folder + PieceName(baseName, number));
}
std::filesystem::path SplitNames::BatPath() const { return std::filesystem::path(folder + stem + VOKRAM_NATIVE(".bat")); }
std::filesystem::path SplitNames::VokPath() const { return std::filesystem::path(folder + stem + VOKRAM_NATIVE(".vok")); }

SplitNames DeriveSplitNames(NativeView sourcePath, NativeView outputBase) {
  SplitNames names;
  names.folder = FolderPart(outputBase);
  names.baseName = NamePart(outputBase);
  names.sourceName = NamePart(sourcePath);
  names.stem = StemOf(names.sourceName);
  return names;
}

std::optional<VokError> CheckSplitPlan(NativeView sourcePath, std::uint64_t sourceLength,
                                       NativeView outputBase, std::int32_t minimum,
                                       std::int32_t maximum, const SplitOptions& options,
                                       const SameFileTest& isSameFile) {
  const std::filesystem::path source(sourcePath);
  if (minimum < 0 || minimum > kMaxSizeKb || maximum < 0 || maximum > kMaxSizeKb) {
    return VokError(ErrorCode::SizeOutOfRange, {});
  }
  if (sourceLength == 0) return VokError(ErrorCode::SourceEmpty, source);
  if (sourceLength > kMaxSourceBytes) return VokError(ErrorCode::SourceTooLarge, source);
  const std::uint64_t pieces = WorstCasePieceCount(sourceLength, minimum, maximum);
  if (pieces > kMaxPieces) return VokError(ErrorCode::TooManyPieces, source);

  const SplitNames names = DeriveSplitNames(sourcePath, outputBase);
  if (!IsValidBaseName(names.baseName)) return VokError(ErrorCode::BadBaseName, {});

  if (options.writeVok || options.writeBat) {
    const auto sourceBytes = EncodeCp932(std::filesystem::path(names.sourceName));
    const auto baseBytes = EncodeCp932(std::filesystem::path(names.baseName));
    const std::size_t longestPiece = baseBytes ? baseBytes->size() + 1 + Digits(static_cast<std::int32_t>(pieces - 1)).size() : 0;
    if (!sourceBytes || sourceBytes->size() > kMaxNameBytes || !baseBytes || longestPiece > kMaxNameBytes) {
      return VokError(ErrorCode::NameNotEncodable, source);
    }
  }
  if (WouldOverwriteSource(names, sourcePath, pieces, options, isSameFile)) {
    return VokError(ErrorCode::OutputIsSource, source);
  }
  return std::nullopt;
}

SplitResult SplitFile(NativeView sourcePath, NativeView outputBase, std::int32_t minimum,
                      std::int32_t maximum, const SplitOptions& options, const PumpEvents& pump,
                      const RandomSource& random) {
  const SplitNames names = DeriveSplitNames(sourcePath, outputBase);
  File source = File::OpenRead(std::filesystem::path(sourcePath));
  const std::uint64_t length = source.Size();
  if (auto refused = CheckSplitPlan(sourcePath, length, outputBase, minimum, maximum, options)) {
    throw *refused;
  }

  std::string sourceBytes, baseBytes;
  if (options.writeVok || options.writeBat) {
    sourceBytes = *EncodeCp932(std::filesystem::path(names.sourceName));
    baseBytes = *EncodeCp932(std::filesystem::path(names.baseName));
  }
  std::optional<BatchWriter> bat;
  if (options.writeBat) bat.emplace(names.BatPath(), names.sourceName);
  std::optional<DescriptorWriter> vok;
  if (options.writeVok) vok.emplace(names.VokPath(), sourceBytes, static_cast<std::int32_t>(length));

  const CopyBuffer buffer = MakeCopyBuffer();
  std::uint16_t sourceCrc = kCrcInitial;
  std::uint64_t done = 0;
  std::int32_t number = 0;
  do {
    const std::filesystem::path piecePath = names.PiecePath(number);
    File piece = File::Create(piecePath);
    const float r = random ? random() : DefaultRandom();
    const std::uint64_t wanted = static_cast<std::uint64_t>(DrawnPieceSize(r, minimum, maximum)) + 1;
    const std::uint64_t pieceLength = std::min(wanted, length - done);
    if (pump) pump();

    std::uint16_t pieceCrc = kCrcInitial;
    for (std::uint64_t left = pieceLength; left > 0;) {
      const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBufferSize));
      if (!source.ReadExact(buffer.get(), chunk)) {
        throw VokError(ErrorCode::IoFailed, source.Path(), "the file ended before its recorded length");
      }
      pieceCrc = UpdateCRC(pieceCrc, buffer.get(), chunk);
      piece.Write(buffer.get(), chunk);
      left -= chunk;
    }
    piece.Close();
    sourceCrc = CombineCRC(sourceCrc, pieceCrc, pieceLength);

    const std::string digits = Digits(number);
    if (vok) vok->AddPiece({baseBytes + "." + digits, static_cast<std::int32_t>(pieceLength), pieceCrc});
    if (bat) bat->AddPiece(PieceName(names.baseName, number));
    done += pieceLength;
    ++number;
  } while (done < length);

  if (vok) vok->Finish(sourceCrc);
  if (bat) bat->Close();
  source.Close();
  return {number, sourceCrc};
}

}  // namespace vokram
