// The split as its step-by-step description reads, kept only as a baseline for
// the benchmark: the whole source read into memory for its CRC, one buffer of
// the piece's length per piece, and every piece read back for its CRC.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "Descriptor.h"
#include "GetCRC.h"
#include "Split.h"

namespace {

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: literal_split SOURCE OUTDIR MINKB MAXKB\n");
    return 2;
  }
  const std::string source = argv[1], folder = std::string(argv[2]) + "/";
  const int minimum = std::stoi(argv[3]), maximum = std::stoi(argv[4]);
  const std::string name = source.substr(source.rfind('/') + 1);
  const std::string stem = name.substr(0, name.rfind('.'));

  const auto whole = ReadWhole(source);  // the source CRC, from the whole file in memory
  const std::uint16_t sourceCrc = vokram::UpdateCRC(vokram::kCrcInitial, whole.data(), whole.size());
  const std::size_t length = whole.size();

  std::ifstream in(source, std::ios::binary);
  std::ofstream bat(folder + stem + ".bat", std::ios::binary);
  const std::string vokPath = folder + stem + ".vok";
  std::remove(vokPath.c_str());
  vokram::DescriptorWriter vok(*vokram::File::CreateNew(vokPath), name, length);
  std::size_t done = 0;
  for (int i = 0; done < length; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", i);
    const std::string piece = stem + "." + number;
    const auto wanted = static_cast<std::size_t>(vokram::DrawnPieceSize(vokram::DefaultRandom(), minimum, maximum)) + 1;
    const std::size_t size = std::min(wanted, length - done);
    std::vector<std::uint8_t> buffer(size);  // one buffer of the piece's length
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(size));
    std::ofstream(folder + piece, std::ios::binary).write(reinterpret_cast<const char*>(buffer.data()),
                                                          static_cast<std::streamsize>(size));
    const auto back = ReadWhole(folder + piece);  // read back for its CRC
    vok.AddPiece({piece, static_cast<std::int32_t>(back.size()), vokram::UpdateCRC(vokram::kCrcInitial, back.data(), back.size())});
    bat << (i == 0 ? "COPY " + piece + " " + name : "COPY /B " + name + " + " + piece + " " + name) << "\r\n";
    done += size;
  }
  vok.Finish(sourceCrc);
  return 0;
}
