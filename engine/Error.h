// The one failure type: a VokError names what went wrong and the file it
// concerns, from a check of the fields to a failed write. Front ends turn it
// into their message (app/Messages.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace vokram {

enum class ErrorCode {
  // The checks of the fields before a run, in the front ends' order.
  SourceBlank,       // no source, descriptor (or other file to read) was given
  SourceMissing,     // it does not exist
  DstDirBlank,       // no split output folder was given
  SaveDirBlank,      // no join output folder was given
  FolderMissing,     // the output folder does not exist
  MinSizeBlank,
  MaxSizeBlank,
  NotNumeric,
  RecoveryOutOfRange,  // the count of pieces recovery files stand in for is not 1..999
  // What the engine finds.
  IoFailed,          // open, read, write, seek, rename or close failed
  NotVok,            // the magic is not "VOK"
  BrokenVok,         // truncated, inconsistent, or names an unsafe file
  PieceUnreadable,   // a piece is missing, empty or unreadable during a join
  SourceEmpty,       // a split source of 0 bytes
  SizeOutOfRange,    // a piece size outside 0..kMaxSizeKb
  TooManyPieces,     // more pieces than the descriptor can count
  RecoveryTooLarge,  // recovery files would not fit within the largest piece's size
  NoRecoveryFiles,   // no recovery set beside a descriptor names its pieces
  NotRepairable,     // the recovery set cannot restore what is lost (BytesNeeded(): blocks lacking, 0: unknown)
  BadBaseName,       // a base name with a character forbidden in file names
  ReservedBaseName,  // a base name Windows takes for a device or cuts short (CON, "a.")
  NameNotEncodable,  // a name not representable in 255 bytes of code page 932
  OutputIsSource,    // a piece, the batch or the descriptor would overwrite the source
  OutputIsInput,     // a join's output would be its descriptor or a piece, or a piece is its temporary
  OutputIsFolder,    // a folder stands under an output's name
  OutputExists,      // a file stands under an output's name and replacing was not agreed
  SourceModified,    // the source changed while it was being split
  NoSpace,           // the output folder's volume has less free space than the run will write
  TooLargeForVolume, // a joined file of 4 GiB or more for a volume that cannot hold one (FAT)
  Cancelled,         // the caller asked the operation to stop
  FolderChanged,     // a run could not put an old file back: File() still holds new content (or none), the old
                     // file is kept under Reason(), and the journal stays for the next run
};

// Why an I/O step failed when the engine itself found the fault (the system's
// own failures carry its text instead).
enum class Cause {
  None,
  SourceEndedEarly,  // the source ended before the length it had when the split began
  SourceChanged,     // the source's length changed between the checks and the split
  NoTemporaryName,   // every temporary name in the output folder is taken
  OutputAppeared,    // another program created a file under an output's free name meanwhile
  FolderBusy,        // another run is writing into the folder (its journal is held), or a stranger's file has
                     // the journal's name
  PieceMissing,      // a piece is not there under its name or any name it may have been saved as
  PieceEmpty,        // a piece has no bytes: it was lost on its way
};

class VokError : public std::runtime_error {
 public:
  VokError(ErrorCode code, std::filesystem::path file, std::string reason = {});
  VokError(ErrorCode code, std::filesystem::path file, Cause cause);
  // NoSpace: how many bytes the run needs.
  VokError(ErrorCode code, std::filesystem::path file, std::uint64_t bytesNeeded);

  ErrorCode Code() const noexcept { return code_; }
  // The file involved; empty where none is (a size out of range).
  const std::filesystem::path& File() const noexcept { return file_; }
  // The system's own description of an I/O failure, UTF-8; may be empty.
  const std::string& Reason() const noexcept { return reason_; }
  // Set when the engine found the fault itself; Reason() is then empty.
  vokram::Cause Cause() const noexcept { return cause_; }
  std::uint64_t BytesNeeded() const noexcept { return bytesNeeded_; }

 private:
  ErrorCode code_;
  std::filesystem::path file_;
  std::string reason_;
  vokram::Cause cause_ = Cause::None;
  std::uint64_t bytesNeeded_ = 0;
};

}  // namespace vokram
