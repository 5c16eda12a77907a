// Names inside the descriptor and the batch file are code page 932 bytes,
// whatever the system's own code page is.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vokram {

// Nothing when a character has no code page 932 form (never a silent "?").
std::optional<std::string> EncodeCp932(const std::filesystem::path& name);
// Nothing when the bytes are not valid code page 932 (a cut-off lead byte).
std::optional<std::filesystem::path> DecodeCp932(std::string_view bytes);

}  // namespace vokram
