// The Run command's checks over the window's field values, in their fixed
// order, as plain functions: the window and the command line share them, and
// tests run them against a fake file system.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "Messages.h"
#include "Split.h"
#include "Text.h"

namespace vokram {

// Where a check wants the keyboard focus after its message.
enum class Focus { Unchanged, MinSize, MaxSize, DstFileName, Recovery };

struct Rejection {
  VokError reason;  // shown through MessageFor
  Focus focus = Focus::Unchanged;
};

// What the checks need to know of the disk.
class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  virtual bool IsExistingFile(NativeView path) const = 0;
  virtual bool IsExistingFolder(NativeView path) const = 0;
  virtual std::optional<std::uint64_t> FileLength(NativeView path) const = 0;
};
// The real disk.
const FileSystemView& RealFileSystem();

// A number as a size field holds it: optional sign, digits (ASCII or
// full-width), an optional "." with a fraction, an optional exponent. Nothing
// when the text is no such number.
std::optional<double> ParseNumberField(NativeView text);
// Rounded to the nearest integer, halves to even; nothing outside 0..kMaxSizeKb.
std::optional<std::int32_t> SizeInRange(double value);

// The most pieces recovery files may stand in for.
inline constexpr std::int32_t kMaxRecovery = 999;

struct SplitFields {
  NativeString srcFile, dstDir, dstFileName, minSize, maxSize;
  // How many pieces may be lost, as typed; nothing: no recovery files.
  std::optional<NativeString> recovery = {};
};

struct SplitRequest {
  NativeString sourcePath;
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
  // Checked and drawn once, here; PlanSplit takes it as it is, and the
  // split cuts exactly these lengths.
  SplitDraw draw;
};

struct SplitValidation {
  // The base name derived from the source, to be written into its field even
  // when a later check refuses.
  std::optional<NativeString> derivedBaseName;
  std::variant<Rejection, SplitRequest> outcome;
};

// Draws the piece lengths from `random` (the program's own generator when
// empty) once the sizes and the source's length are known, and lays out the
// recovery files the count field asks for (options.recovery is not read). What the outputs'
// names lead to is looked at by the split's plan (PlanSplit), off the
// window's thread.
SplitValidation ValidateSplit(const SplitFields& fields, const SplitOptions& options,
                              const FileSystemView& fs, const RandomSource& random = {});

struct JoinFields {
  NativeString vokFile, saveDir;
  bool saveToChosenFolder = true;  // optSavePath index 0
};

struct JoinRequest {
  NativeString vokPath;
  NativeString outputFolder;
};

std::variant<Rejection, JoinRequest> ValidateJoin(const JoinFields& fields,
                                                  const FileSystemView& fs);

// The piece check's own guard: a blank or missing descriptor path.
std::optional<Rejection> ValidateCheck(NativeView vokFile, const FileSystemView& fs);

}  // namespace vokram
