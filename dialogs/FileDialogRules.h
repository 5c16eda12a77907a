// The request record of the file dialog and the rules that turn it into what
// the system receives and back. Kept free of <windows.h> so that the rules
// are tested without a dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vokram {

// Request and answer of ShowFileDialog, fields in the order of the design.
struct FileDialogParams {
  std::wstring DefaultExt;   // in: appended to a name typed without one
  std::wstring DialogTitle;  // in
  std::wstring FullPath;     // out
  std::wstring FolderPath;   // out: up to and including the "\" before the name
  std::wstring FileTitle;    // in: buffer for the bare name; out: the bare name
  std::wstring Filter;       // in: "description|pattern|description|pattern..."
  std::int32_t FilterIndex = 0;    // in: counted from 1
  std::int32_t Flags = 0;          // in: passed to the system unchanged
  std::wstring InitialDir;         // in
  std::int32_t MaxPathLength = 0;  // in: capacity of the path buffer in characters
  std::int16_t Result = 0;         // out: nonzero when the user confirmed

  friend bool operator==(const FileDialogParams&, const FileDialogParams&) = default;
};

inline constexpr std::wstring_view kDefaultDialogTitle = L"ﾌｧｲﾙを開く";
inline constexpr std::int32_t kDefaultMaxPathLength = 261;
inline constexpr std::int32_t kLargestMaxPathLength = 32768;

// The folder browser's prompt and flags (BIF_RETURNONLYFSDIRS |
// BIF_DONTGOBELOWDOMAIN), spelt out here so that the rules need no shell header.
inline constexpr std::wstring_view kBrowseFolderPrompt = L"保存するフォルダを選択し、[OK] を押してください";
inline constexpr unsigned kBrowseFolderFlags = 0x1 | 0x2;

// OFN_HIDEREADONLY alone: the file need not exist, and no overwrite question.
inline constexpr std::int32_t kBrowseFileFlags = 0x4;

// The text before the first NUL; the whole text when it holds none.
std::wstring TrimAtNull(std::wstring_view text);

// In place: the leading "." of DefaultExt goes, an empty title becomes the
// default one, a MaxPathLength outside 1..32768 becomes 261, and an empty
// FileTitle becomes a buffer of MaxPathLength NULs.
void NormaliseFileDialogParams(FileDialogParams& params);

// The filter as the system takes it: every "|" replaced by a NUL, the list
// ended by two more NULs. Segments counts descriptions and patterns alike.
struct SystemFilter {
  std::wstring Text;
  std::int32_t Segments = 0;
};
SystemFilter ConvertFilter(std::wstring_view filter);

// The index handed to the system: the requested one when it names a segment,
// otherwise 0.
std::int32_t SystemFilterIndex(std::int32_t filterIndex, std::int32_t segments);

// The answer built from the buffers the dialog wrote. fileOffset is the
// position of the bare name in fileBuffer, as the system reports it.
// A result of 0 is a cancel or a dialog error: the system may have written
// into the buffers (the needed size, for one), so the answer then holds what
// went in: no paths, and the request's FileTitle.
FileDialogParams FileDialogAnswer(const FileDialogParams& request, std::wstring_view fileBuffer,
                                  std::wstring_view fileTitleBuffer, std::size_t fileOffset,
                                  std::int16_t result);

// What BrowseFile asks of ShowFileDialog: any one file, starting in "c:\".
// BrowseFile then widens MaxPathLength to kLargestMaxPathLength, for paths
// beyond MAX_PATH.
FileDialogParams BrowseFileRequest();

}  // namespace vokram
