// The mark of the web: the Zone.Identifier stream that Windows puts on a
// downloaded file. Pieces carry the mark of their source, and a joined file the
// most restrictive mark among its descriptor and pieces, so that cutting a
// file up and putting it together again cannot launder where it came from.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vokram {

// Zones are numbered from 0 (this computer) to 4 (restricted sites); a higher
// number is trusted less, 3 is the internet.

// The ZoneId of a Zone.Identifier text: the first "ZoneId=N" of its
// [ZoneTransfer] section, N in decimal. Section and key in any case, spaces
// around them and around "=", LF or CR LF, a UTF-8 BOM. A number above 4 is
// returned as it stands: it is still a zone (custom zones start at 1000), and
// the system trusts a zone it does not know no more than a restricted one.
// Nothing when there is no such line or its value is no non-negative number.
std::optional<int> ZoneIdOf(std::string_view mark);

// A mark is a few lines. ReadZoneMark reads one byte more than this at most,
// so a longer stream comes back too long rather than cut to look whole; a
// text longer than this has no readable zone, whatever lines it starts with.
inline constexpr std::size_t kMaxMarkBytes = std::size_t{64} * 1024;

// Of the marks of several files (nothing where a file has none), the text of
// the one trusted least; the first of equals wins. A mark without a readable
// zone counts as an internet mark, below one that says so outright: a mark
// that exists cannot make a file look safer than an internet file, and the
// output carries a text every reader understands whenever one is at hand.
// Nothing when no file had a mark.
std::optional<std::string> MostRestrictiveMark(const std::vector<std::optional<std::string>>& marks);

// The text an output's Zone.Identifier stream gets for `mark`: the mark with
// its lines as they are when its zone can be read, else a fresh mark of the
// internet zone. A copy of a mark nobody can read would leave the output as
// good as unmarked.
std::string MarkToWrite(std::string_view mark);

// Where the volume of `file` really holds named streams (Windows): the text
// of its Zone.Identifier stream, nothing when it has none; a stream longer
// than kMaxMarkBytes gives its first kMaxMarkBytes + 1 bytes. Elsewhere
// (POSIX, or a volume without streams) always nothing, and nothing is
// created. Throws VokError(IoFailed) when `file` or its existing stream
// cannot be read.
std::optional<std::string> ReadZoneMark(const std::filesystem::path& file);

// Where the volume of `file` holds named streams: writes MarkToWrite(mark) as
// its Zone.Identifier stream, replacing one it had, and syncs it. Call it when
// the file is closed. Does nothing elsewhere, and never touches an ordinary
// file that merely has the stream's name. Throws VokError(IoFailed) naming
// `file` when the volume holds streams and the write fails.
void WriteZoneMark(const std::filesystem::path& file, std::string_view mark);

}  // namespace vokram
