// POSIX file systems have no named streams; a mark has nowhere to go. (A name
// such as "x:Zone.Identifier" is an ordinary file here and is never touched.)
#include "../ZoneMark.h"

namespace vokram {

std::optional<std::string> ReadZoneMark(const std::filesystem::path&) { return std::nullopt; }

void WriteZoneMark(const std::filesystem::path&, std::string_view) {}

}  // namespace vokram
