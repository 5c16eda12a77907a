// Recovery sets checked against Debian's par2 as an independent reader and
// writer: the same packets as its own for the same slices, a clean verify,
// and a repair of the lost pieces byte for byte.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <thread>

#include "TestSupport.h"
#include "recovery/Packets.h"
#include "recovery/Rebuild.h"
#include "recovery/Recovery.h"
#include "recovery/SetReader.h"

namespace vokram::recovery {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

struct Piece {
  std::string name;
  std::size_t length;
  std::u16string wide;  // the name as UniFileN must hold it
};

struct Pieces {
  RecoveryRequest request;
  std::vector<Bytes> contents;
};

Pieces MakePieces(const test::TempDir& dir, const std::vector<Piece>& pieces, std::uint32_t losses,
                  std::uint64_t largestFile, std::uint32_t seed) {
  Pieces made{{{}, {}, losses, largestFile, 37}, {}};
  for (const auto& piece : pieces) {
    made.contents.push_back(test::RandomBytes(piece.length, seed++));
    test::WriteFile(dir / piece.name, made.contents.back());
    made.request.names.push_back(piece.name);
    made.request.lengths.push_back(piece.length);
  }
  return made;
}

// Each piece hashed as a split would feed it, in chunks of odd sizes, small
// and large (those hash the file on a second thread).
std::vector<RecoveryInput> Hash(const test::TempDir& dir, const Pieces& pieces, std::uint64_t sliceSize) {
  std::vector<RecoveryInput> inputs;
  std::mt19937 generator(1);
  for (std::size_t i = 0; i < pieces.contents.size(); ++i) {
    FileHasher hasher(sliceSize);
    const Bytes& bytes = pieces.contents[i];
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t n = std::min<std::size_t>(generator() % 150000 + 1, bytes.size() - at);
      hasher.Update(bytes.data() + at, n);
      at += n;
    }
    inputs.push_back({pieces.request.names[i], dir / pieces.request.names[i], hasher.Finish()});
  }
  return inputs;
}

// What a split gives when the encoder takes the checksums as it reads.
std::vector<RecoveryInput> FirstBytes(const test::TempDir& dir, const Pieces& pieces) {
  std::vector<RecoveryInput> inputs;
  for (std::size_t i = 0; i < pieces.contents.size(); ++i) {
    inputs.push_back({pieces.request.names[i], dir / pieces.request.names[i],
                      FirstBytesChecksums(pieces.contents[i].size(), pieces.contents[i])});
  }
  return inputs;
}

std::vector<fs::path> WriteSet(const test::TempDir& dir, const RecoveryPlan& plan,
                               const std::vector<RecoveryInput>& inputs, const EncoderOptions& options,
                               const std::string& prefix = "") {
  const Bytes descriptor = test::RandomBytes(37, 99);
  std::deque<File> files;
  std::vector<fs::path> paths;
  WriteRecoverySet(
      plan, inputs, descriptor,
      [&](std::size_t i) -> File& {
        paths.push_back(dir.Path() / (prefix + plan.outputs[i].name));
        files.push_back(*File::CreateNew(paths.back()));
        return files.back();
      },
      {}, options);
  for (auto& file : files) file.Close();
  return paths;
}

// The same set computed beside a writer that hands the pieces over one by
// one from another thread, in the order of the request.
std::vector<fs::path> WriteAlongside(const test::TempDir& dir, const RecoveryPlan& plan,
                                     const std::vector<RecoveryInput>& inputs, const std::string& prefix) {
  const Bytes descriptor = test::RandomBytes(37, 99);
  std::deque<File> files;
  std::vector<fs::path> paths;
  RecoveryAlongside alongside(plan, inputs);
  std::thread writer([&] {
    for (const RecoveryInput& input : inputs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      alongside.Written(input.path);
    }
  });
  writer.join();
  EXPECT_TRUE(alongside.Finish(
      descriptor,
      [&](std::size_t i) -> File& {
        paths.push_back(dir.Path() / (prefix + plan.outputs[i].name));
        files.push_back(*File::CreateNew(paths.back()));
        return files.back();
      },
      {}));
  for (auto& file : files) file.Close();
  return paths;
}

int Par2(const test::TempDir& dir, const std::string& arguments) {
  const int status = std::system(("cd '" + dir.Path().string() + "' && par2 " + arguments + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += " '" + name + "'";
  return text;
}

// The packets that must match another writer's, by type and file or
// exponent, and the names of the UniFileN packets. Every file must also hold
// the descriptor packet.
std::map<Bytes, Bytes> SetPacketsOf(const std::vector<fs::path>& files, bool withDescriptor,
                                    std::set<std::u16string>* wideNames = nullptr) {
  std::map<Bytes, Bytes> packets;
  for (const auto& path : files) {
    const Bytes bytes = test::ReadFile(path);
    bool descriptor = false;
    for (std::size_t at = 0; at + kHeaderBytes <= bytes.size();) {
      std::uint64_t length = 0;
      for (int i = 7; i >= 0; --i) length = length << 8 | bytes[at + 8 + static_cast<std::size_t>(i)];
      EXPECT_TRUE(length >= kHeaderBytes && length % 4 == 0 && at + length <= bytes.size()) << path;
      if (length < kHeaderBytes || at + length > bytes.size()) break;
      const Bytes packet(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
      const PacketType type = [&] { PacketType t; std::copy_n(packet.begin() + 48, 16, t.begin()); return t; }();
      Bytes key(type.begin(), type.end());
      if (type == kFileDescType || type == kIfscType) key.insert(key.end(), &packet[64], &packet[80]);
      if (type == kUniFileNType && wideNames) {
        std::u16string name;
        for (std::size_t i = 80; i + 1 < packet.size(); i += 2) name += static_cast<char16_t>(packet[i] | packet[i + 1] << 8);
        wideNames->insert(name.substr(0, name.find(u'\0')));
      }
      if (type == kRecvSlicType) key.insert(key.end(), &packet[64], &packet[68]);
      if (type == kDescriptorType) {
        descriptor = packet.size() == kHeaderBytes + 8 + 40 && packet[64] == 37 &&
                     Bytes(&packet[72], &packet[109]) == test::RandomBytes(37, 99);
      }
      if (type == kMainType || key.size() > 16) {
        const auto [where, added] = packets.emplace(key, packet);
        EXPECT_EQ(where->second, packet) << "a repeated packet differs in " << path;
      }
      at += length;
    }
    EXPECT_EQ(descriptor, withDescriptor) << path;
  }
  return packets;
}

// The packets one side lacks or holds otherwise, by type and key.
std::string Differences(const std::map<Bytes, Bytes>& ours, const std::map<Bytes, Bytes>& theirs) {
  std::string text;
  const auto name = [](const Bytes& key) {
    std::string s(key.begin() + 8, key.begin() + 16);
    for (std::size_t i = 16; i < key.size(); ++i) s += " " + std::to_string(key[i]);
    return s + "; ";
  };
  for (const auto& [key, packet] : ours) {
    const auto other = theirs.find(key);
    if (other == theirs.end()) text += "only ours: " + name(key);
    else if (other->second != packet) text += "differs: " + name(key);
  }
  for (const auto& [key, packet] : theirs) {
    if (!ours.count(key)) text += "only theirs: " + name(key);
  }
  return text;
}

void ExpectPar2AgreesAndRepairs(const std::vector<Piece>& pieceList, std::uint32_t losses, std::uint64_t largestFile,
                                bool alsoInPasses) {
  test::TempDir dir;
  const Pieces pieces = MakePieces(dir, pieceList, losses, largestFile, 7);
  const auto plan = PlanRecovery(pieces.request, VOKRAM_NATIVE("set"));
  ASSERT_TRUE(plan);
  // In one pass the encoder takes the checksums; in passes they are the
  // hasher's, taken beforehand; beside a writer, the pieces are read as they
  // come; with room for only two lanes, in rounds of two.
  ASSERT_TRUE(ChecksumsWhileEncoding(*plan));
  const auto ours = WriteSet(dir, *plan, FirstBytes(dir, pieces), {});
  EncoderOptions twoLanes;
  const std::size_t span = (plan->sliceSize + kGfBlock - 1) / kGfBlock * kGfBlock, r = plan->recoverySlices;
  twoLanes.memoryLimit = (r + 4) * span + 4 * r * GfPreparedBytes(twoLanes.kernel);
  ASSERT_EQ(ShapeEncoder(plan->sliceSize, plan->recoverySlices, plan->inputSlices, twoLanes).lanes, 2u);
  const auto inPairs = WriteSet(dir, *plan, FirstBytes(dir, pieces), twoLanes, "two-");
  for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(test::ReadFile(inPairs[i]), test::ReadFile(ours[i]));
  for (const auto& path : inPairs) fs::remove(path);
  ASSERT_TRUE(RecoveryAlongside::Fits(*plan, *std::max_element(pieces.request.lengths.begin(),
                                                               pieces.request.lengths.end())));
  const auto beside = WriteAlongside(dir, *plan, FirstBytes(dir, pieces), "beside-");
  for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(test::ReadFile(beside[i]), test::ReadFile(ours[i]));
  for (const auto& path : beside) fs::remove(path);
  if (alsoInPasses) {
    ASSERT_GT(ShapeEncoder(plan->sliceSize, plan->recoverySlices, plan->inputSlices, {32 << 10, 1}).passes, 2u);
    const auto again = WriteSet(dir, *plan, Hash(dir, pieces, plan->sliceSize), {32 << 10, 1}, "passes-");
    for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(test::ReadFile(again[i]), test::ReadFile(ours[i]));
    for (const auto& path : again) fs::remove(path);
  }

  const std::string names = Quoted(pieces.request.names);
  ASSERT_EQ(Par2(dir, "create -q -s" + std::to_string(plan->sliceSize) + " -c" +
                          std::to_string(plan->recoverySlices) + " -n1 ref.par2 --" + names),
            0);
  std::vector<fs::path> reference;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().filename().string().rfind("ref", 0) == 0) reference.push_back(entry.path());
  }
  std::set<std::u16string> wideNames, expectedWide;
  EXPECT_EQ(Differences(SetPacketsOf(ours, true, &wideNames), SetPacketsOf(reference, false)), "");
  for (const auto& piece : pieceList) expectedWide.insert(piece.wide);
  EXPECT_EQ(wideNames, expectedWide);
  for (const auto& path : reference) fs::remove(path);

  EXPECT_EQ(Par2(dir, "verify -q set.par2"), 0);
  std::vector<std::size_t> largest(pieceList.size());
  std::iota(largest.begin(), largest.end(), std::size_t{0});
  std::sort(largest.begin(), largest.end(), [&](auto a, auto b) { return pieceList[a].length > pieceList[b].length; });
  for (std::size_t i = 0; i < losses; ++i) fs::remove(dir / pieceList[largest[i]].name);
  ASSERT_EQ(Par2(dir, "repair -q set.par2"), 0);
  for (std::size_t i = 0; i < pieceList.size(); ++i) {
    EXPECT_EQ(test::ReadFile(dir / pieceList[i].name), pieces.contents[i]) << pieceList[i].name;
  }
}

TEST(RecoveryOracle, JapaneseNamesShortPiecesAndOddLengths) {
  // Under 16 KiB, 16 KiB exactly, a 1-byte last piece, lengths not multiples
  // of 4; two losses.
  ExpectPar2AgreesAndRepairs({{"分割テスト.000", 200000, u"分割テスト.000"},
                              {"分割テスト.001", 150001, u"分割テスト.001"},
                              {"分割テスト.002", 16383, u"分割テスト.002"},
                              {"分割テスト.003", 16384, u"分割テスト.003"},
                              {"分割テスト.004", 99999, u"分割テスト.004"},
                              {"𠮷.005", 1, u"𠮷.005"}},
                             2, 200000, false);
}

TEST(RecoveryOracle, DashNameWholeSlicesManyVolumesAndPasses) {
  // Slices of 1000 bytes that every piece fills exactly; volumes of at most
  // 20000 bytes; the same files when computed in passes.
  ExpectPar2AgreesAndRepairs({{"-x.000", 64000, u"-x.000"}, {"-x.001", 32000, u"-x.001"}, {"-x.002", 5000, u"-x.002"}}, 1, 20000, true);
}

// More pieces than MD5 lanes: lanes take new pieces as theirs end, longest
// first or, beside a writer, as they come.
TEST(RecoveryOracle, AnyPieceOfARandomSetComesBack) {
  std::mt19937 generator(21);
  std::vector<Piece> pieces;
  for (int i = 0; i < 20; ++i) {
    const std::string name = "r." + std::to_string(i);
    pieces.push_back({name, generator() % 300000 + 1, std::u16string(name.begin(), name.end())});
  }
  ExpectPar2AgreesAndRepairs(pieces, 3, 300000, false);
}

// par2's verdict on a set: its exit code and the recovery slices it lacks.
std::pair<int, std::uint32_t> Par2Verify(const test::TempDir& dir, const std::string& index) {
  const int status =
      std::system(("cd '" + dir.Path().string() + "' && par2 verify " + index + " >verify.log 2>&1").c_str());
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::string log(reinterpret_cast<const char*>(test::ReadFile(dir / "verify.log").data()),
                        test::ReadFile(dir / "verify.log").size());
  fs::remove(dir / "verify.log");
  const auto at = log.find("You need ");
  return {code, at == std::string::npos ? 0u : static_cast<std::uint32_t>(std::stoul(log.substr(at + 9)))};
}

struct Ours {
  SetReading reading;
  std::optional<SetMatch> match;
  SetVerdict verdict;
};

Ours VerifyOurselves(const test::TempDir& dir, const std::vector<std::string>& names) {
  Ours ours;
  std::vector<fs::path> setFiles, pieceNames, piecePaths;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().extension() == ".par2") setFiles.push_back(entry.path());
  }
  for (const auto& name : names) pieceNames.push_back(test::U8(name)), piecePaths.push_back(dir / name);
  ours.reading = ReadRecoverySets(setFiles);
  ours.match = MatchSet(ours.reading, pieceNames);
  if (ours.match) {
    const RecoverySet& set = ours.reading.sets[ours.match->set];
    ours.verdict = VerifySet(set, PathsOfFiles(set, *ours.match, piecePaths));
  }
  return ours;
}

// Writes every piece that is not sound as "fixed-N" and compares it with the
// original.
void ExpectRepairs(const test::TempDir& dir, const Ours& ours, const Pieces& pieces) {
  const RecoverySet& set = ours.reading.sets[ours.match->set];
  std::deque<File> outs;
  std::vector<FileOutput> outputs;
  std::vector<std::size_t> written;
  for (std::size_t i = 0; i < pieces.contents.size(); ++i) {
    const std::uint32_t f = *ours.match->fileOfName[i];
    if (ours.verdict.files[f].condition == FileCondition::Sound) continue;
    outs.push_back(*File::CreateNew(dir / ("fixed-" + std::to_string(i))));
    outputs.push_back({f, &outs.back()});
    written.push_back(i);
  }
  EXPECT_TRUE(WriteFiles(set, ours.verdict, outputs));
  for (auto& out : outs) out.Close();
  for (const std::size_t i : written) {
    EXPECT_EQ(test::ReadFile(dir / ("fixed-" + std::to_string(i))), pieces.contents[i]) << pieces.request.names[i];
  }
}

// Damage of every kind to a set written by Vokram and to one par2 wrote over
// the same pieces: the verdict (sound, repairable, not and what it lacks)
// is par2's, and a repair gives back the originals.
TEST(RecoveryOracle, DamageMatrixAgreesWithPar2AndRepairs) {
  std::mt19937 generator(5);
  std::vector<Piece> list;
  for (int i = 0; i < 6; ++i) {
    const std::string name = "m." + std::to_string(i);
    list.push_back({name, generator() % 120000 + 1000, {}});
  }
  using Damage = std::function<void(const test::TempDir&, const Pieces&)>;
  const auto piece = [](const test::TempDir& dir, const Pieces& p, std::size_t i) { return dir / p.request.names[i]; };
  const auto flip = [&](const test::TempDir& dir, const Pieces& p, std::size_t i, std::size_t at) {
    Bytes bytes = p.contents[i];
    bytes[at % bytes.size()] ^= 0x81;
    test::WriteFile(piece(dir, p, i), bytes);
  };
  const std::vector<std::pair<const char*, Damage>> damages = {
      {"intact", [](const auto&, const auto&) {}},
      {"two pieces lost",
       [&](const auto& d, const auto& p) {
         fs::remove(piece(d, p, 1));
         fs::remove(piece(d, p, 4));
       }},
      {"three pieces lost",
       [&](const auto& d, const auto& p) {
         for (std::size_t i : {0u, 2u, 5u}) fs::remove(piece(d, p, i));
       }},
      {"bytes flipped in four",
       [&](const auto& d, const auto& p) {
         for (std::size_t i : {0u, 1u, 3u, 5u}) flip(d, p, i, 977 * i + 5);
       }},
      {"one cut short, one lost, one longer", [&](const auto& d, const auto& p) {
         fs::resize_file(piece(d, p, 2), 777), fs::remove(piece(d, p, 3));
         fs::resize_file(piece(d, p, 0), p.contents[0].size() + 3);
       }},
      {"volumes gone", [&](const auto& d, const auto& p) {
         fs::remove(piece(d, p, 0));
         for (const auto& entry : fs::directory_iterator(d.Path())) {
           if (entry.path().filename().string().find(".vol0") != std::string::npos) fs::remove(entry.path());
         }
       }},
  };
  for (const bool byPar2 : {false, true}) {
    for (const auto& [what, damage] : damages) {
      SCOPED_TRACE(std::string(byPar2 ? "par2's set: " : "Vokram's set: ") + what);
      test::TempDir dir;
      const Pieces pieces = MakePieces(dir, list, 2, 150000, 3);
      const auto plan = PlanRecovery(pieces.request, VOKRAM_NATIVE("set"));
      ASSERT_TRUE(plan);
      if (byPar2) {
        const std::string sizes = "-s" + std::to_string(plan->sliceSize) + " -c" + std::to_string(plan->recoverySlices);
        ASSERT_EQ(Par2(dir, "create -q " + sizes + " -n4 set.par2 --" + Quoted(pieces.request.names)), 0);
      } else {
        WriteSet(dir, *plan, Hash(dir, pieces, plan->sliceSize), {});
      }
      damage(dir, pieces);
      const auto [code, needed] = Par2Verify(dir, "set.par2");
      const Ours ours = VerifyOurselves(dir, pieces.request.names);
      ASSERT_TRUE(ours.match);
      EXPECT_EQ(ours.match->matched, list.size());
      const int verdict = ours.verdict.AllSound() ? 0 : ours.verdict.repairable ? 1 : 2;
      EXPECT_EQ(verdict, code);
      EXPECT_EQ(ours.verdict.blocksNeeded, needed);
      if (verdict == 1) ExpectRepairs(dir, ours, pieces);
    }
  }
}

// A set par2 made, in volumes of one exponent each: with exponents 0 and 257
// the lost slices #0 and #128 cannot be solved (par2 aborts there); with a
// third volume they can, and the pieces come back.
TEST(RecoveryOracle, Par2SetWithAnUnsolvablePairRepairsWithAThirdVolume) {
  test::TempDir dir;
  const Pieces pieces =
      MakePieces(dir, {{"片.000", 90000, {}}, {"片.001", 70001, {}}, {"片.002", 40000, {}}}, 1, 0, 11);
  const std::string names = Quoted(pieces.request.names);
  for (const auto& [base, first] : {std::pair{"a", 0}, {"b", 257}, {"c", 300}}) {
    ASSERT_EQ(Par2(dir, "create -q -s1000 -c1 -f" + std::to_string(first) + " -n1 " + base + ".par2 --" + names), 0);
  }
  const fs::path third = dir / "c.vol300+1.par2";
  ASSERT_TRUE(fs::exists(third));
  fs::rename(third, dir / "c.hidden");
  Ours ours = VerifyOurselves(dir, pieces.request.names);
  ASSERT_TRUE(ours.match);
  const RecoverySet& set = ours.reading.sets[ours.match->set];
  ASSERT_EQ(set.recovery.size(), 2u);
  // Damage slices #0 and #128 of the set.
  for (const std::uint32_t slice : {0u, 128u}) {
    std::size_t f = 0;
    while (f + 1 < set.files.size() && set.files[f + 1].firstSlice <= slice) ++f;
    const auto i = static_cast<std::size_t>(*ours.match->nameOfFile[f]);
    Bytes bytes = test::ReadFile(dir / pieces.request.names[i]);
    bytes[(slice - set.files[f].firstSlice) * 1000 + 10] ^= 1;
    test::WriteFile(dir / pieces.request.names[i], bytes);
  }
  ours = VerifyOurselves(dir, pieces.request.names);
  EXPECT_EQ(ours.verdict.missingSlices, 2u);
  EXPECT_FALSE(ours.verdict.repairable);
  EXPECT_EQ(ours.verdict.blocksNeeded, 1u);

  fs::rename(dir / "c.hidden", third);
  ours = VerifyOurselves(dir, pieces.request.names);
  ASSERT_TRUE(ours.verdict.repairable);
  EXPECT_EQ(ours.verdict.solution->exponents.size(), 2u);
  ExpectRepairs(dir, ours, pieces);
}

}  // namespace
}  // namespace vokram::recovery
