#include "FileDialogRules.h"

#include <algorithm>

namespace vokram {

std::wstring TrimAtNull(std::wstring_view text) {
  return std::wstring(text.substr(0, text.find(L'\0')));
}

void NormaliseFileDialogParams(FileDialogParams& params) {
  if (!params.DefaultExt.empty() && params.DefaultExt.front() == L'.') params.DefaultExt.erase(0, 1);
  if (params.DialogTitle.empty()) params.DialogTitle = kDefaultDialogTitle;
  if (params.MaxPathLength < 1 || params.MaxPathLength > kLargestMaxPathLength) {
    params.MaxPathLength = kDefaultMaxPathLength;
  }
  if (params.FileTitle.empty()) {
    params.FileTitle.assign(static_cast<std::size_t>(params.MaxPathLength), L'\0');
  }
}

SystemFilter ConvertFilter(std::wstring_view filter) {
  SystemFilter converted{std::wstring(filter), 1};
  for (wchar_t& c : converted.Text) {
    if (c == L'|') {
      c = L'\0';
      ++converted.Segments;
    }
  }
  converted.Text.append(2, L'\0');
  return converted;
}

std::int32_t SystemFilterIndex(std::int32_t filterIndex, std::int32_t segments) {
  return filterIndex >= 1 && filterIndex <= segments ? filterIndex : 0;
}

FileDialogParams FileDialogAnswer(const FileDialogParams& request, std::wstring_view fileBuffer,
                                  std::wstring_view fileTitleBuffer, std::size_t fileOffset,
                                  std::int16_t result) {
  FileDialogParams answer = request;
  answer.Result = result;
  if (result == 0) {
    answer.FullPath.clear();
    answer.FolderPath.clear();
    answer.FileTitle = TrimAtNull(request.FileTitle);
    return answer;
  }
  answer.FullPath = TrimAtNull(fileBuffer);
  // The wide dialog counts the offset in characters, so the characters before
  // it are the folder, whatever their width in the ANSI code page.
  answer.FolderPath = TrimAtNull(fileBuffer.substr(0, std::min(fileOffset, fileBuffer.size())));
  answer.FileTitle = TrimAtNull(fileTitleBuffer);
  return answer;
}

FileDialogParams BrowseFileRequest() {
  FileDialogParams request;
  request.DialogTitle = L"ファイルを選択して下さい。";
  request.Filter = L"全てのﾌｧｲﾙ(*.*)|*.*";
  request.FilterIndex = 1;
  request.Flags = kBrowseFileFlags;
  request.InitialDir = L"c:\\";
  request.MaxPathLength = kDefaultMaxPathLength;
  return request;
}

}  // namespace vokram
