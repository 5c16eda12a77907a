// The piece check: one report line per piece in txtChkCRC, the check running
// off the window's thread.
#include <filesystem>

#include "Check.h"
#include "Journal.h"
#include "Messages.h"
#include "ControlIds.h"
#include "Controls.h"
#include "Frm_Bun.h"

namespace vokram::ui {

void Frm_Bun::cmdChk_Click() {
  const std::wstring field = FieldText(IDC_txtVokFile);
  if (auto rejection = ValidateCheck(field, RealFileSystem())) {
    Reject(*rejection, Operation::Check);
    return;
  }
  const std::wstring vokPath = TrimSpaces(field);
  // A new check replaces the last report; its lines come in batches, as the
  // window takes them (appending to a long text costs time in proportion to
  // it).
  HWND report = Control(IDC_txtChkCRC);
  SetText(report, L"");
  // The report is the check's while it runs: a key, a paste or Enter typed
  // into it would land between its lines.
  SendMessageW(report, EM_SETREADONLY, TRUE, 0);
  runner_.Run(Operation::Check, vokPath, false, [&](BackgroundOperation& background, const Progress& progress) {
    // The check changes nothing: an interrupted run beside the pieces is only told of.
    const std::string pending = PendingMessage(PendingSettlement(FolderPart(vokPath)));
    if (!pending.empty()) background.AddLine(NativeFromUtf8(pending + "\r\n"));
    CheckPieces(
        std::filesystem::path(vokPath),
        [&background](const PieceReport& piece) { background.AddLine(NativeFromUtf8(ReportLine(piece))); },
        progress);
  });
  SendMessageW(report, EM_SETREADONLY, FALSE, 0);
  // The report is read from its first piece: lines were appended at its end.
  SendMessageW(report, EM_SETSEL, 0, 0);
  SendMessageW(report, EM_SCROLLCARET, 0, 0);
}

}  // namespace vokram::ui
