#include <iconv.h>

#include <cerrno>

#include "../CodePage932.h"

namespace vokram {

namespace {

// Strict conversion: iconv without //TRANSLIT refuses what it cannot map.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in) {
  iconv_t cd = iconv_open(to, from);
  // iconv_open reports failure as (iconv_t)-1.
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;  // NOLINT(performance-no-int-to-ptr)
  std::string out(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  const bool ok = r != static_cast<std::size_t>(-1) && srcLeft == 0 &&
                  iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok || r != 0) return std::nullopt;  // r > 0: irreversible (substituted) conversions
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace

std::optional<std::string> EncodeCp932(const std::filesystem::path& name) {
  auto bytes = Convert("CP932", "UTF-8", name.native());
  // iconv takes some characters one way only (U+301C and U+FF5E both become
  // 0x8160, which reads back as U+FF5E): such a name would come back as
  // another name, so it has no code page 932 form.
  if (!bytes || Convert("UTF-8", "CP932", *bytes) != name.native()) return std::nullopt;
  return bytes;
}

std::optional<std::filesystem::path> DecodeCp932(std::string_view bytes) {
  auto utf8 = Convert("UTF-8", "CP932", bytes);
  if (!utf8) return std::nullopt;
  return std::filesystem::path(*utf8);
}

}  // namespace vokram
