#include "Split.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <memory>
#include <random>
#include <set>

#include "Batch.h"
#include "CodePage932.h"
#include "Descriptor.h"
#include "File.h"
#include "GetCRC.h"
#include "ZoneMark.h"
#include "recovery/Recovery.h"

namespace vokram {

namespace {

std::string Digits(std::int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits;
}

std::optional<VokError> CheckNames(const SplitNames& names, std::size_t pieceCount, const SplitOptions& options,
                                   NativeView sourcePath) {
  // A base name's own faults come without a file: its field is the one to mend.
  if (HasForbiddenNameChar(names.baseName)) return VokError(ErrorCode::BadBaseName, {});
  if (!IsValidBaseName(names.baseName)) return VokError(ErrorCode::ReservedBaseName, {});
  // The source's name is recorded for the join and names the descriptor and
  // batch file: a device name there would write nowhere.
  if (!IsPlainFileName(names.sourceName)) return VokError(ErrorCode::BadBaseName, std::filesystem::path(sourcePath));
  if (options.writeVok || options.writeBat) {
    const auto sourceBytes = EncodeCp932(std::filesystem::path(names.sourceName));
    const auto baseBytes = EncodeCp932(std::filesystem::path(names.baseName));
    const std::size_t longestPiece =
        baseBytes ? baseBytes->size() + 1 + Digits(static_cast<std::int32_t>(pieceCount - 1)).size() : 0;
    if (!sourceBytes || sourceBytes->size() > kMaxNameBytes) {
      return VokError(ErrorCode::NameNotEncodable, std::filesystem::path(sourcePath));
    }
    if (!baseBytes || longestPiece > kMaxNameBytes) return VokError(ErrorCode::NameNotEncodable, {});
  }
  return std::nullopt;
}

// What a split writes, the descriptor and batch file counted generously (by
// their names' UTF-8 length, never below their code page 932 length).
std::uint64_t BytesToWrite(const SplitNames& names, const std::vector<std::uint32_t>& lengths,
                           const SplitOptions& options) {
  std::uint64_t bytes = 0;
  const std::uint64_t source = ToUtf8(std::filesystem::path(names.sourceName)).size();
  const std::uint64_t piece = ToUtf8(std::filesystem::path(names.baseName)).size() + 7;  // "." and up to 5 digits, quotes
  for (std::uint32_t length : lengths) {
    bytes += length;
    if (options.writeVok) bytes += 8 + piece;
    if (options.writeBat) bytes += 16 + 2 * source + piece;  // "COPY /B a + b a" and CR LF
  }
  if (options.writeVok) bytes += kHeaderSize + source + 6;
  return bytes;
}

// The descriptor's exact length, which the recovery files carry.
std::uint64_t DescriptorLength(const SplitNames& names, std::size_t pieceCount) {
  const std::string base = *EncodeCp932(std::filesystem::path(names.baseName));
  std::uint64_t length = kHeaderSize + EncodeSourceRecord(*EncodeCp932(std::filesystem::path(names.sourceName)), 0, 0).size();
  for (std::size_t i = 0; i < pieceCount; ++i) {
    length += EncodePieceRecord({base + "." + Digits(static_cast<std::int32_t>(i)), 0, 0}).size();
  }
  return length;
}

// The recovery files' layout over the drawn pieces, each no larger than the
// largest piece; nothing when that cannot be.
std::optional<recovery::RecoveryPlan> PlanRecoveryFiles(const SplitDraw& draw, const SplitOptions& options) {
  recovery::RecoveryRequest request;
  for (std::size_t i = 0; i < draw.lengths.size(); ++i) {
    request.names.push_back(ToUtf8(std::filesystem::path(PieceName(draw.names.baseName, static_cast<std::int32_t>(i)))));
    request.lengths.push_back(draw.lengths[i]);
  }
  request.losses = options.recovery;
  request.largestFile = *std::max_element(draw.lengths.begin(), draw.lengths.end());
  request.descriptorLength = options.writeVok ? DescriptorLength(draw.names, draw.lengths.size()) : 0;
  return recovery::PlanRecovery(request, draw.names.baseName);
}

std::vector<NativeString> OutputNames(const SplitNames& names, std::size_t pieceCount,
                                      const std::optional<recovery::RecoveryPlan>& recovery,
                                      const SplitOptions& options) {
  std::vector<NativeString> outputs;
  outputs.reserve(pieceCount + 2);
  for (std::size_t i = 0; i < pieceCount; ++i) outputs.push_back(PieceName(names.baseName, static_cast<std::int32_t>(i)));
  if (recovery) {
    for (const recovery::RecoveryOutput& file : recovery->outputs) outputs.push_back(file.name);
  }
  if (options.writeBat) outputs.push_back(names.stem + VOKRAM_NATIVE(".bat"));
  if (options.writeVok) outputs.push_back(names.stem + VOKRAM_NATIVE(".vok"));
  return outputs;
}

}  // namespace

namespace {

// The recovery files over the pieces just written (their temporaries), with
// the descriptor's bytes when there is one, into the set's temporaries from
// `first` on: `write` computes them into the files `open` hands out.
using RecoveryWrite = std::function<void(std::span<const std::uint8_t> descriptor,
                                         const std::function<File&(std::size_t output)>& open)>;
void WriteRecoveryFiles(const recovery::RecoveryPlan& plan, const std::filesystem::path& vokPath, std::size_t first,
                        const std::optional<std::string>& mark, OutputSet& outputs, const RecoveryWrite& write) {
  std::vector<std::uint8_t> descriptor;
  if (!vokPath.empty()) {
    File vok = File::OpenRead(vokPath);
    descriptor.resize(static_cast<std::size_t>(vok.Size()));
    if (!vok.ReadExact(descriptor.data(), descriptor.size())) throw VokError(ErrorCode::IoFailed, vokPath);
    vok.Close();
  }
  std::vector<File> files;
  files.reserve(plan.outputs.size());  // handed out by reference
  write(descriptor, [&](std::size_t index) -> File& {
    files.push_back(outputs.Create(first + index));
    return files.back();
  });
  for (File& file : files) {
    file.Close();
    if (mark) WriteZoneMark(file.Path(), *mark);
  }
}

// What orders a recovery set's files, read from the source before the copy
// (a read per piece, where the stop is heard): each piece's name, length and
// first 16 KiB.
std::vector<recovery::RecoveryInput> FirstBytesOfPieces(File& source, const std::vector<std::uint32_t>& lengths,
                                                        const NativeString& baseName, const Progress& progress) {
  std::vector<recovery::RecoveryInput> pieces;
  std::vector<std::uint8_t> buffer(recovery::kFirstBytesHashed);
  const Progress stopOnly{nullptr, progress.stop};
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    stopOnly.Step(0, 0);
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(lengths[i], buffer.size()));
    source.Seek(at);
    if (!source.ReadExact(buffer.data(), n)) throw VokError(ErrorCode::SourceModified, source.Path());
    pieces.push_back({ToUtf8(std::filesystem::path(PieceName(baseName, static_cast<std::int32_t>(i)))),
                      {},
                      recovery::FirstBytesChecksums(lengths[i], {buffer.data(), n})});
    at += lengths[i];
  }
  source.Seek(0);
  return pieces;
}

// Writes every output to its temporary and commits the set; its files are
// closed when it returns or throws.
SplitResult WriteSet(SplitPlan& plan, const SplitOptions& options, const Progress& progress, OutputSet& outputs) {
  const SplitNames& names = plan.names;
  const std::vector<std::uint32_t>& lengths = plan.lengths;
  const std::uint64_t sourceLength = plan.stamp.size;
  File& source = plan.source;
  std::string sourceBytes, baseBytes;
  if (options.writeVok || options.writeBat) {
    sourceBytes = *EncodeCp932(std::filesystem::path(names.sourceName));
    baseBytes = *EncodeCp932(std::filesystem::path(names.baseName));
  }
  const std::size_t firstRecoveryFile = lengths.size();
  std::size_t next = firstRecoveryFile + (plan.recovery ? plan.recovery->outputs.size() : 0);
  std::optional<BatchWriter> bat;
  if (options.writeBat) bat.emplace(outputs.Create(next++), names.sourceName);
  std::optional<DescriptorWriter> vok;
  std::filesystem::path vokPath;
  if (options.writeVok) {
    File file = outputs.Create(next++);
    vokPath = file.Path();
    vok.emplace(std::move(file), sourceBytes, sourceLength);
  }
  // With recovery files, reading the pieces again for them is half the work.
  const std::uint64_t total = plan.recovery ? 2 * sourceLength : sourceLength;
  std::vector<recovery::RecoveryInput> recoveryInputs;

  // The recovery files are computed on other threads as the copy goes on:
  // where they fit in memory, each piece is read back once written, hashed
  // in MD5 lanes beside others and multiplied into the recovery slices;
  // otherwise the chunk just written is hashed while the next one is copied
  // (three buffers take turns), and the slices are computed afterwards.
  std::vector<CopyBuffer> buffers;
  buffers.push_back(MakeCopyBuffer());
  std::optional<recovery::RecoveryAlongside> alongside;  // stopped before the set is abandoned
  std::optional<recovery::HashingThread> hashing;      // after the buffers it reads: it ends first
  if (plan.recovery) {
    if (recovery::RecoveryAlongside::Fits(*plan.recovery, *std::max_element(lengths.begin(), lengths.end()))) {
      alongside.emplace(*plan.recovery, FirstBytesOfPieces(source, lengths, names.baseName, progress));
    } else {
      buffers.push_back(MakeCopyBuffer());
      buffers.push_back(MakeCopyBuffer());
      hashing.emplace(plan.recovery->sliceSize);
    }
  }
  std::size_t turn = 0;
  std::uint16_t sourceCrc = kCrcInitial;
  std::uint64_t done = 0;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const auto number = static_cast<std::int32_t>(i);
    progress.Step(done, total);
    File piece = outputs.Create(i);
    const std::uint64_t pieceLength = lengths[i];

    std::uint16_t pieceCrc = kCrcInitial;
    for (std::uint64_t left = pieceLength; left > 0;) {
      std::uint8_t* const buffer = buffers[turn].get();
      turn = (turn + 1) % buffers.size();
      if (hashing) hashing->WaitUntilAtMost(buffers.size() - 1);  // this buffer's last chunk is hashed
      const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBufferSize));
      if (!source.ReadExact(buffer, chunk)) throw VokError(ErrorCode::SourceModified, source.Path());
      pieceCrc = UpdateCRC(pieceCrc, buffer, chunk);
      piece.Write(buffer, chunk);
      if (hashing) hashing->Add(buffer, chunk);
      left -= chunk;
      done += chunk;
      if (left > 0) progress.Step(done, total);
    }
    piece.Close();
    if (plan.mark) WriteZoneMark(piece.Path(), *plan.mark);
    sourceCrc = CombineCRC(sourceCrc, pieceCrc, pieceLength);
    if (hashing) hashing->EndFile();
    if (alongside) alongside->Written(piece.Path());
    if (hashing) {
      recoveryInputs.push_back({ToUtf8(std::filesystem::path(PieceName(names.baseName, number))), piece.Path(), {}});
    }

    if (vok) vok->AddPiece({baseBytes + "." + Digits(number), static_cast<std::int32_t>(pieceLength), pieceCrc});
    if (bat) bat->AddPiece(PieceName(names.baseName, number));
  }

  if (vok) vok->Finish(sourceCrc);
  if (bat) bat->Close();
  // What was cut must be what the source still is: a source written to
  // meanwhile (appended to, rewritten in place) gives pieces of no file.
  if (source.Stamp() != plan.stamp) throw VokError(ErrorCode::SourceModified, source.Path());
  source.Close();
  if (plan.recovery) {
    const Progress recoveryProgress{[&](std::uint64_t part, std::uint64_t whole) {
                                      if (progress.onProgress && whole > 0) {
                                        progress.onProgress(sourceLength + part * sourceLength / whole, total);
                                      }
                                    },
                                    progress.stop};
    WriteRecoveryFiles(*plan.recovery, vokPath, firstRecoveryFile, plan.mark, outputs,
                       [&](std::span<const std::uint8_t> descriptor, const auto& open) {
                         if (alongside) {
                           // A piece that reads back otherwise than the source did beforehand.
                           if (!alongside->Finish(descriptor, open, recoveryProgress)) {
                             throw VokError(ErrorCode::SourceModified, source.Path());
                           }
                           return;
                         }
                         std::vector<recovery::FileChecksums> sums = hashing->Finish();
                         for (std::size_t i = 0; i < sums.size(); ++i) recoveryInputs[i].sums = std::move(sums[i]);
                         recovery::WriteRecoverySet(*plan.recovery, recoveryInputs, descriptor, open, recoveryProgress);
                       });
  }
  outputs.Commit();
  return {static_cast<int>(lengths.size()), sourceCrc, outputs.NotRemoved()};
}

}  // namespace

SplitResult SplitFile(SplitPlan& plan, const SplitOptions& options, const Progress& progress) {
  if (plan.ExistingCount() > 0 && !options.replaceExisting) throw VokError(ErrorCode::OutputExists, plan.FirstExisting());
  OutputSet outputs(plan.names.folder, plan.outputs, plan.removed);
  try {
    return WriteSet(plan, options, progress, outputs);
  } catch (...) {
    // The set's files are closed by now, so that they can go.
    outputs.Abandon();
    throw;
  }
}

float DefaultRandom() {
  // Default-constructed, never seeded: every run draws the same sequence.
  static std::mt19937 generator;
  return UnitInterval(generator());
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

std::optional<std::vector<std::uint32_t>> DrawPieceLengths(std::uint64_t length, std::int32_t minimum,
                                                           std::int32_t maximum, const RandomSource& random) {
  std::vector<std::uint32_t> lengths;
  for (std::uint64_t done = 0; done < length;) {
    if (lengths.size() == static_cast<std::size_t>(kMaxPieces)) return std::nullopt;
    const float r = random ? random() : DefaultRandom();
    const std::uint64_t wanted = static_cast<std::uint64_t>(DrawnPieceSize(r, minimum, maximum)) + 1;
    lengths.push_back(static_cast<std::uint32_t>(std::min(wanted, length - done)));
    done += lengths.back();
  }
  return lengths;
}

std::variant<VokError, SplitDraw> DrawSplit(NativeView sourcePath, std::uint64_t sourceLength, NativeView folder,
                                            NativeView baseName, std::int32_t minimum, std::int32_t maximum,
                                            const SplitOptions& options, const RandomSource& random) {
  const std::filesystem::path source(sourcePath);
  if (minimum < 0 || minimum > kMaxSizeKb || maximum < 0 || maximum > kMaxSizeKb) {
    return VokError(ErrorCode::SizeOutOfRange, {});
  }
  if (sourceLength == 0) return VokError(ErrorCode::SourceEmpty, source);
  auto lengths = DrawPieceLengths(sourceLength, minimum, maximum, random);
  if (!lengths) return VokError(ErrorCode::TooManyPieces, source);
  // The base name as typed, so that a separator in it is refused.
  NativeString sourceName = NamePart(sourcePath);
  NativeString stem = StemOf(sourceName);
  SplitDraw draw{{WithTrailingSeparator(folder), NativeString(baseName), std::move(sourceName), std::move(stem)},
                 std::move(*lengths), std::nullopt};
  if (auto refused = CheckNames(draw.names, draw.lengths.size(), options, sourcePath)) return *refused;
  if (options.recovery > 0) {
    draw.recovery = PlanRecoveryFiles(draw, options);
    if (!draw.recovery) return VokError(ErrorCode::RecoveryTooLarge, {});
  }
  return draw;
}

namespace {

// Thousands of names on either side are compared by a key that is the same
// for names that Windows takes as one (ASCII letters in any case).
NativeString NameKey(NativeString name) {
#ifdef _WIN32
  for (NativeChar& c : name) {
    if (c >= L'a' && c <= L'z') c = static_cast<NativeChar>(c - L'a' + L'A');
  }
#endif
  return name;
}

bool AllDigits(NativeView text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](NativeChar c) { return c >= '0' && c <= '9'; });
}

// "base.par2" or "base.volF+C.par2" for the base of a piece "base.NNN" (keys).
bool IsRecoveryFileOf(const NativeString& name, const NativeString& piece) {
  const std::size_t dot = piece.rfind(VOKRAM_NATIVE('.'));
  if (dot == NativeString::npos || !AllDigits(NativeView(piece).substr(dot + 1))) return false;
  const NativeView base = NativeView(piece).substr(0, dot + 1);
  const NativeString suffix = NameKey(VOKRAM_NATIVE(".par2"));
  if (!name.starts_with(base) || !name.ends_with(suffix)) return false;
  NativeView middle = NativeView(name).substr(base.size(), name.size() - base.size() - suffix.size());
  if (middle.empty()) return true;  // the index
  const NativeString vol = NameKey(VOKRAM_NATIVE("vol"));
  const std::size_t plus = middle.find(VOKRAM_NATIVE('+'));
  return middle.starts_with(vol) && plus != NativeView::npos && AllDigits(middle.substr(vol.size(), plus - vol.size())) &&
         AllDigits(middle.substr(plus + 1));
}

bool IsRecoveryFile(const std::filesystem::path& path) {
  constexpr char kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
  try {
    File file = File::OpenRead(path);
    char start[8];
    return file.ReadExact(start, sizeof start) && std::equal(start, start + 8, kMagic);
  } catch (const VokError&) {
    return false;  // not this split's to judge
  }
}

// The pieces of the earlier set under the descriptor's name that the new set
// does not reuse, and the recovery files beside them (PAR2 files named after
// those pieces as recovery tools name them), which would only undo the new
// pieces. A file there that is no descriptor names none (one that cannot be
// read at all fails the split); a name that leads to the source, a folder or
// nothing is left alone.
std::vector<PlannedOutput> EarlierPieces(const SplitPlan& plan, const std::vector<NativeString>& outputNames,
                                         const FileIdentity& source) {
  const PlannedOutput& vok = plan.outputs.back();
  if (!vok.exists) return {};
  std::vector<NativeString> names;
  std::set<NativeString> seen;
  for (const NativeString& name : outputNames) seen.insert(NameKey(name));
  std::vector<NativeString> earlier;  // keys
  try {
    for (const DescriptorPiece& piece : ReadDescriptor(vok.path).pieces) {
      const NativeString& name = piece.name.native();
      earlier.push_back(NameKey(name));
      // Not one the new set reuses, nor one listed twice.
      if (seen.insert(NameKey(name)).second && !IsTemporaryName(name)) names.push_back(name);
    }
  } catch (const VokError& error) {
    if (error.Code() == ErrorCode::IoFailed) throw;
    return {};
  }
  if (!earlier.empty()) {
    for (const NativeString& name : FileNamesIn(plan.names.folder)) {
      const NativeString key = NameKey(name);
      if (!IsRecoveryFileOf(key, earlier.front()) || seen.count(key) > 0) continue;
      if (IsRecoveryFile(std::filesystem::path(plan.names.folder + name))) {
        seen.insert(key);
        names.push_back(name);
      }
    }
  }
  const auto found = LookUpNames(plan.names.folder, names);
  std::vector<PlannedOutput> removed;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!found[i].exists || found[i].folder || found[i].identity == source) continue;
    removed.push_back({std::filesystem::path(plan.names.folder + names[i]), true});
  }
  return removed;
}

}  // namespace

SplitPlan PlanSplit(NativeView sourcePath, SplitDraw draw, const SplitOptions& options) {
  SplitPlan plan;
  plan.settled = SettleInterruptedRun(draw.names.folder);
  plan.source = File::OpenRead(std::filesystem::path(sourcePath));
  plan.stamp = plan.source.Stamp();
  std::uint64_t planned = 0;
  for (std::uint32_t length : draw.lengths) planned += length;
  if (planned != plan.stamp.size) throw VokError(ErrorCode::IoFailed, plan.source.Path(), Cause::SourceChanged);
  plan.names = std::move(draw.names);
  plan.lengths = std::move(draw.lengths);
  plan.recovery = std::move(draw.recovery);
  // Names are no guide to what a file is: the source's identity is compared
  // with what every output's name leads to, before anything is written.
  const std::vector<NativeString> outputNames = OutputNames(plan.names, plan.lengths.size(), plan.recovery, options);
  const FileIdentity source = plan.source.Identity();
  plan.outputs = PlanOutputs(plan.names.folder, outputNames, {source}, ErrorCode::OutputIsSource);
  if (options.writeVok) plan.removed = EarlierPieces(plan, outputNames, source);
  // Pieces of at most 2 GiB fit any volume; the question is only room.
  RefuseWhatCannotFit(plan.names.folder,
                      BytesToWrite(plan.names, plan.lengths, options) + (plan.recovery ? plan.recovery->TotalSize() : 0),
                      0);
  plan.mark = ReadZoneMark(std::filesystem::path(sourcePath));
  return plan;
}

}  // namespace vokram
