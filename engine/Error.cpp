#include "Error.h"

#include "Text.h"

namespace vokram {

namespace {

const char* CodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::SourceBlank: return "no file given";
    case ErrorCode::SourceMissing: return "file not found";
    case ErrorCode::DstDirBlank:
    case ErrorCode::SaveDirBlank: return "no folder given";
    case ErrorCode::FolderMissing: return "folder not found";
    case ErrorCode::MinSizeBlank: return "no minimum size given";
    case ErrorCode::MaxSizeBlank: return "no maximum size given";
    case ErrorCode::NotNumeric: return "not a number";
    case ErrorCode::RecoveryOutOfRange: return "recovery count out of range";
    case ErrorCode::IoFailed: return "I/O failed";
    case ErrorCode::NotVok: return "not a descriptor";
    case ErrorCode::BrokenVok: return "broken descriptor";
    case ErrorCode::PieceUnreadable: return "piece unreadable";
    case ErrorCode::SourceEmpty: return "source empty";
    case ErrorCode::SizeOutOfRange: return "size out of range";
    case ErrorCode::TooManyPieces: return "too many pieces";
    case ErrorCode::RecoveryTooLarge: return "recovery files larger than the pieces";
    case ErrorCode::NoRecoveryFiles: return "no recovery files";
    case ErrorCode::NotRepairable: return "not repairable";
    case ErrorCode::BadBaseName: return "bad base name";
    case ErrorCode::ReservedBaseName: return "reserved base name";
    case ErrorCode::NameNotEncodable: return "name not encodable";
    case ErrorCode::OutputIsSource: return "output is the source";
    case ErrorCode::OutputIsInput: return "output is an input of the join";
    case ErrorCode::OutputIsFolder: return "a folder has the output's name";
    case ErrorCode::OutputExists: return "output exists";
    case ErrorCode::SourceModified: return "source changed while it was split";
    case ErrorCode::NoSpace: return "not enough free space";
    case ErrorCode::TooLargeForVolume: return "the volume holds no file of 4 GiB or more";
    case ErrorCode::Cancelled: return "cancelled";
    case ErrorCode::FolderChanged: return "an earlier file could not be put back";
  }
  return "error";
}

std::string Describe(ErrorCode code, const std::filesystem::path& file, const std::string& reason) {
  std::string text = CodeName(code);
  if (!file.empty()) text += ": " + ToUtf8(file);
  if (!reason.empty()) text += " (" + reason + ")";
  return text;
}

}  // namespace

VokError::VokError(ErrorCode code, std::filesystem::path file, std::string reason)
    : std::runtime_error(Describe(code, file, reason)),
      code_(code),
      file_(std::move(file)),
      reason_(std::move(reason)) {}

VokError::VokError(ErrorCode code, std::filesystem::path file, std::uint64_t bytesNeeded)
    : std::runtime_error(Describe(code, file, std::to_string(bytesNeeded) + " bytes needed")),
      code_(code),
      file_(std::move(file)),
      bytesNeeded_(bytesNeeded) {}

VokError::VokError(ErrorCode code, std::filesystem::path file, vokram::Cause cause)
    : std::runtime_error(Describe(code, file, {})),  // the cause is the front ends' to word
      code_(code),
      file_(std::move(file)),
      cause_(cause) {}

}  // namespace vokram
