// The path boxes of Frm_Bun inside the test process: the pickers answer
// through the test's own functions, so results a real picker cannot give
// (a folder with surrounding spaces) reach the window; drops arrive as the
// system delivers them, and the OLE drop target is called directly.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "Controls.h"
#include "DragDrop.h"
#include "DropTarget.h"
#include "Frm_Bun.h"
#include "MessageBoxes.h"
#include "MessageLoop.h"
#include "Pickers.h"
#include "TestSupport.h"

namespace vokram::ui {
namespace {

using uitest::ComPtr;
using uitest::NewDataObject;
using uitest::NewFileList;
using Paths = std::vector<std::wstring>;
namespace fs = std::filesystem;

// What the pickers were asked and what they answer.
struct PickerCall {
  char kind;  // 'f' file, 'd' folder
  HWND owner;
};
std::vector<PickerCall> pickerCalls;
std::wstring pickerAnswer;

std::wstring AnswerFile(HWND owner) {
  pickerCalls.push_back({'f', owner});
  return pickerAnswer;
}
std::wstring AnswerFolder(HWND owner) {
  pickerCalls.push_back({'d', owner});
  return pickerAnswer;
}

int NoBox(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }

constexpr int kPathBoxes[] = {IDC_txtSrcFile, IDC_txtDstdir, IDC_txtVokFile, IDC_txtSaveDir};
constexpr int kOtherBoxes[] = {IDC_txtMinSize, IDC_txtMaxSize, IDC_txtDstFileName, IDC_txtChkCRC};

class PathFieldsTest : public ::testing::Test {
 protected:
  std::unique_ptr<Frm_Bun> form = std::make_unique<Frm_Bun>();

  void SetUp() override {
    pickerCalls.clear();
    pickerAnswer.clear();
    SetPickerFunctions(AnswerFile, AnswerFolder);
    SetMessageBoxFunction(NoBox);
    ASSERT_TRUE(form->Create(SW_SHOWNORMAL));
    SetForegroundWindow(form->Handle());
    PumpPendingMessages();
  }
  void TearDown() override {
    form.reset();
    SetPickerFunctions(nullptr, nullptr);
    SetMessageBoxFunction(nullptr);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  HWND Ctl(int id) const { return form->Control(id); }
  std::wstring Text(int id) const { return GetText(Ctl(id)); }
  void Set(int id, const std::wstring& text) { SetText(Ctl(id), text); }
  int Focused() const { return GetDlgCtrlID(GetFocus()); }
  std::pair<DWORD, DWORD> Selection(int id) const {
    DWORD start = 0, end = 0;
    SendMessageW(Ctl(id), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
  }
  void Focus(int id) {
    SetFocus(Ctl(id));
    PumpPendingMessages();
  }
  // The system's WM_DROPFILES; the box frees the list as the shell expects.
  void DropFiles(int id, const Paths& paths) {
    SendMessageW(Ctl(id), WM_DROPFILES, reinterpret_cast<WPARAM>(NewFileList(paths)), 0);
  }
  void FillAll() {
    Set(IDC_txtSrcFile, L"src");
    Set(IDC_txtDstdir, L"dst");
    Set(IDC_txtVokFile, L"vok");
    Set(IDC_txtSaveDir, L"save");
  }
};

// --- Browse buttons --------------------------------------------------------

struct BrowseCase {
  int button, box;
  bool join;
  char kind;
  std::wstring answer, expected;
};

TEST_F(PathFieldsTest, EachBrowseButtonFillsItsOwnBoxFileUnalteredFolderTrimmed) {
  const BrowseCase cases[] = {
      {IDC_cmdSrcRef0, IDC_txtSrcFile, false, 'f', L"  C:\\a b\\file.txt  ", L"  C:\\a b\\file.txt  "},
      {IDC_cmdRef0, IDC_txtDstdir, false, 'd', L"  C:\\out dir  ", L"C:\\out dir"},
      {IDC_cmdSrcRef1, IDC_txtVokFile, true, 'f', L" D:\\parts\\x.vok", L" D:\\parts\\x.vok"},
      {IDC_cmdRef1, IDC_txtSaveDir, true, 'd', L"E:\\　全角  ", L"E:\\　全角"},
  };
  for (const BrowseCase& c : cases) {
    SCOPED_TRACE(c.button);
    FillAll();
    const std::wstring before[] = {Text(IDC_txtSrcFile), Text(IDC_txtDstdir), Text(IDC_txtVokFile),
                                   Text(IDC_txtSaveDir)};
    if (c.join) SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(IDM_mnuKetsugou, 0), 0);
    // The box has the focus first: it must not get it back and tidy itself.
    Focus(c.box);
    pickerCalls.clear();
    pickerAnswer = c.answer;
    SendMessageW(Ctl(c.button), BM_CLICK, 0, 0);
    PumpPendingMessages();
    ASSERT_EQ(pickerCalls.size(), 1u);
    EXPECT_EQ(pickerCalls[0].kind, c.kind);
    EXPECT_EQ(pickerCalls[0].owner, form->Handle());
    EXPECT_EQ(Text(c.box), c.expected);
    EXPECT_EQ(Focused(), c.button);
    for (int i = 0; i < 4; ++i) {
      if (kPathBoxes[i] != c.box) {
        EXPECT_EQ(Text(kPathBoxes[i]), before[i]) << kPathBoxes[i];
      }
    }
    SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(IDM_mnuBunkatsu, 0), 0);
  }
}

TEST_F(PathFieldsTest, ACancelledPickerEmptiesTheBox) {
  FillAll();
  pickerAnswer.clear();
  SendMessageW(Ctl(IDC_cmdRef0), BM_CLICK, 0, 0);
  SendMessageW(Ctl(IDC_cmdSrcRef1), BM_CLICK, 0, 0);
  EXPECT_EQ(Text(IDC_txtDstdir), L"");
  EXPECT_EQ(Text(IDC_txtVokFile), L"");
  EXPECT_EQ(Text(IDC_txtSrcFile), L"src");
  EXPECT_EQ(Text(IDC_txtSaveDir), L"save");
}

TEST_F(PathFieldsTest, BrowseClicksDuringASplitOpenNoPicker) {
  test::TempDir dir;
  test::WriteFile(dir / "src.bin", test::RandomBytes(3000));
  Set(IDC_txtSrcFile, (dir / "src.bin").wstring());
  Set(IDC_txtDstdir, dir.Path().wstring());
  Set(IDC_txtMinSize, L"1");
  Set(IDC_txtMaxSize, L"1");
  // Queued now, handled by the split's pump while it runs.
  for (int id : {IDC_cmdSrcRef0, IDC_cmdRef0, IDC_cmdSrcRef1, IDC_cmdRef1}) {
    PostMessageW(Ctl(id), BM_CLICK, 0, 0);
  }
  SendMessageW(Ctl(IDC_cmdRun), BM_CLICK, 0, 0);
  EXPECT_TRUE(pickerCalls.empty());
  EXPECT_EQ(Text(IDC_txtSrcFile), (dir / "src.bin").wstring());
  EXPECT_TRUE(fs::exists(dir / "src.002")) << "the split ran";
}

// --- Focus tidy-up ---------------------------------------------------------

TEST_F(PathFieldsTest, EachPathBoxTrimsItselfAndSelectsAllOnFocus) {
  for (int id : kPathBoxes) {
    SCOPED_TRACE(id);
    SendMessageW(form->Handle(), WM_COMMAND,
                 MAKEWPARAM(id == IDC_txtVokFile || id == IDC_txtSaveDir ? IDM_mnuKetsugou
                                                                          : IDM_mnuBunkatsu, 0),
                 0);
    Focus(IDC_cmdRun);
    Set(id, L"  C:\\my  files  ");
    Focus(id);
    EXPECT_EQ(Text(id), L"C:\\my  files");
    EXPECT_EQ(Selection(id), std::make_pair(DWORD{0}, DWORD{12}));
  }
}

TEST_F(PathFieldsTest, SpacesOnlyBecomeEmptyAndAnEmptyBoxStaysEmpty) {
  Focus(IDC_cmdRun);
  Set(IDC_txtDstdir, L"     ");
  Focus(IDC_txtDstdir);
  EXPECT_EQ(Text(IDC_txtDstdir), L"");
  EXPECT_EQ(Selection(IDC_txtDstdir), std::make_pair(DWORD{0}, DWORD{0}));
  Focus(IDC_cmdRun);
  Focus(IDC_txtDstdir);
  EXPECT_EQ(Text(IDC_txtDstdir), L"");
}

TEST_F(PathFieldsTest, OtherTextBoxesKeepTheirSpacesOnFocus) {
  Set(IDC_txtDstFileName, L"  name  ");
  Set(IDC_txtMinSize, L" 5 ");
  Focus(IDC_txtDstFileName);
  Focus(IDC_txtMinSize);
  EXPECT_EQ(Text(IDC_txtDstFileName), L"  name  ");
  EXPECT_EQ(Text(IDC_txtMinSize), L" 5 ");
}

// --- Drops -----------------------------------------------------------------

TEST_F(PathFieldsTest, PlainDropPutsTheFirstPathUntrimmedIntoEachPathBox) {
  Focus(IDC_cmdRun);
  for (int id : kPathBoxes) {
    Set(id, L"previous text");
    DropFiles(id, {L" C:\\first one ", L"C:\\second", L"C:\\third"});
    EXPECT_EQ(Text(id), L" C:\\first one ") << id;
  }
  EXPECT_EQ(Focused(), IDC_cmdRun);
}

TEST_F(PathFieldsTest, PlainDropOfAnEmptyListLeavesTheBox) {
  Set(IDC_txtSrcFile, L"kept");
  DropFiles(IDC_txtSrcFile, {});
  EXPECT_EQ(Text(IDC_txtSrcFile), L"kept");
}

TEST_F(PathFieldsTest, OnlyThePathBoxesAcceptThePlainDrop) {
  const auto accepts = [](HWND hwnd) {
    return (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
  };
  for (int id : kPathBoxes) EXPECT_TRUE(accepts(Ctl(id))) << id;
  for (int id : kOtherBoxes) EXPECT_FALSE(accepts(Ctl(id))) << id;
  EXPECT_FALSE(accepts(form->Handle()));
  EXPECT_FALSE(accepts(Ctl(IDC_picBunkatsu)));
  EXPECT_FALSE(accepts(Ctl(IDC_picKetsugou)));
}

TEST_F(PathFieldsTest, OnlyThePathBoxesAreOleDropTargets) {
  // A second registration fails exactly where the window registered one.
  for (int id : kPathBoxes) {
    ComPtr<IDropTarget> probe(new PathDropTarget(Ctl(id), {}));
    EXPECT_EQ(RegisterDragDrop(Ctl(id), probe.get()), DRAGDROP_E_ALREADYREGISTERED) << id;
  }
  for (int id : kOtherBoxes) {
    ComPtr<IDropTarget> probe(new PathDropTarget(Ctl(id), {}));
    EXPECT_EQ(RegisterDragDrop(Ctl(id), probe.get()), S_OK) << id;
    RevokeDragDrop(Ctl(id));
  }
}

TEST_F(PathFieldsTest, OleDragOntoAPathBoxReplacesItsText) {
  Focus(IDC_cmdRun);
  Set(IDC_txtDstdir, L"old");
  auto data = NewDataObject(Paths{L"C:\\dragged folder", L"C:\\other"});
  const auto outcome = uitest::DragOnto(Ctl(IDC_txtDstdir), data.get());
  EXPECT_EQ(outcome.result, DRAGDROP_S_DROP);
  EXPECT_EQ(outcome.effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(Text(IDC_txtDstdir), L"C:\\dragged folder");
  EXPECT_EQ(Focused(), IDC_cmdRun);
}

// --- The drop target and the list reader -----------------------------------

struct Received {
  HWND box = nullptr;
  Paths paths;
  int calls = 0;
};

ComPtr<IDropTarget> RecordingTarget(HWND box, Received& received) {
  return ComPtr<IDropTarget>(new PathDropTarget(box, [&received](HWND into, const Paths& paths) {
    received = {into, paths, received.calls + 1};
  }));
}

constexpr DWORD kAnyEffect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;

TEST(PathDropTargetTest, FileListShowsCopyAndHandsTheWholeListOver) {
  const HWND box = reinterpret_cast<HWND>(0x1234);
  Received received;
  auto target = RecordingTarget(box, received);
  auto data = NewDataObject(Paths{L"C:\\x.bin", L"C:\\日本語\\y.bin"});
  DWORD effect = kAnyEffect;
  EXPECT_EQ(target->DragEnter(data.get(), MK_LBUTTON, {10, 10}, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  effect = kAnyEffect;
  target->DragOver(MK_LBUTTON, {11, 10}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(received.calls, 0) << "nothing is taken before the drop";
  effect = kAnyEffect;
  EXPECT_EQ(target->Drop(data.get(), 0, {11, 10}, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(received.calls, 1);
  EXPECT_EQ(received.box, box);
  EXPECT_EQ(received.paths, (Paths{L"C:\\x.bin", L"C:\\日本語\\y.bin"}));
}

TEST(PathDropTargetTest, DataWithoutAFileListIsRefusedAndNotHandedOver) {
  Received received;
  auto target = RecordingTarget(nullptr, received);
  auto text = NewDataObject(std::nullopt, L"C:\\looks\\like\\a\\path");
  DWORD effect = kAnyEffect;
  target->DragEnter(text.get(), MK_LBUTTON, {}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = kAnyEffect;
  target->DragOver(MK_LBUTTON, {}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = kAnyEffect;
  target->Drop(text.get(), 0, {}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(received.calls, 0);
}

TEST(PathDropTargetTest, NoCopyPointerWhenTheSourceForbidsCopyOrTheDragLeft) {
  Received received;
  auto target = RecordingTarget(nullptr, received);
  auto data = NewDataObject(Paths{L"C:\\x.bin"});
  DWORD effect = DROPEFFECT_MOVE;
  target->DragEnter(data.get(), MK_LBUTTON, {}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = kAnyEffect;
  target->DragOver(MK_LBUTTON, {}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  target->DragLeave();
  effect = kAnyEffect;
  target->DragOver(MK_LBUTTON, {}, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
}

TEST(DroppedPathsTest, ReadsEveryPathWhateverItsLength) {
  const std::wstring longPath = L"C:\\" + std::wstring(300, L'長') + L"\\file.bin";
  const Paths paths{L"C:\\a", longPath, L"\\\\server\\share\\フォルダ"};
  HGLOBAL list = NewFileList(paths);
  EXPECT_EQ(DroppedPaths(static_cast<HDROP>(list)), paths);
  GlobalFree(list);
  HGLOBAL empty = NewFileList({});
  EXPECT_TRUE(DroppedPaths(static_cast<HDROP>(empty)).empty());
  GlobalFree(empty);
}

TEST(DroppedPathsTest, FileListOfDataThatOffersNone) {
  EXPECT_EQ(FileListOf(nullptr), std::nullopt);
  auto text = NewDataObject(std::nullopt, L"C:\\a");
  EXPECT_EQ(FileListOf(text.get()), std::nullopt);
  auto files = NewDataObject(Paths{L"C:\\a", L"C:\\b"});
  EXPECT_EQ(FileListOf(files.get()), (Paths{L"C:\\a", L"C:\\b"}));
}

}  // namespace
}  // namespace vokram::ui
