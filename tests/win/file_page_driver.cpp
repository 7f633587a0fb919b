// Drives the running vorlan-install window as a user would on its file page: a name typed into
// the file name field, "Kaydet", "Yükle", a file that is not a storage file, a recorded
// machine's archive, no name at all.
// It runs beside the window, in the same Wine prefix and on the same display, and finds the
// controls by what they show, not by their ids.
// Argument: the folder to write in (a Windows path).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/WinApi.h"

#include "compound/Ole.h"
#include "platform/Text.h"
#include "platform/win32/Win32Platform.h"

namespace {

using kyvex::platform::Narrow;
using kyvex::platform::Widen;

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    ++failures;
  }
}

std::string TextOf(HWND w) {
  wchar_t buffer[2048] = {};
  SendMessageW(w, WM_GETTEXT, sizeof buffer / sizeof buffer[0], reinterpret_cast<LPARAM>(buffer));
  return Narrow(buffer);
}

std::string ClassOf(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return Narrow(name);
}

BOOL CALLBACK Collect(HWND w, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(parent, &Collect, reinterpret_cast<LPARAM>(&out));
  return out;
}

bool SameClass(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

HWND ButtonCalled(HWND main, const std::string& caption) {
  for (HWND w : Children(main))
    if (SameClass(ClassOf(w), "Button") && TextOf(w) == caption) return w;
  return nullptr;
}

// The visible static text that starts with `start` (or contains `part`), or nothing.
std::string VisibleStatic(HWND main, const std::string& start, bool anywhere = false) {
  for (HWND w : Children(main)) {
    if (!SameClass(ClassOf(w), "Static") || !IsWindowVisible(w)) continue;
    const std::string text = TextOf(w);
    if (anywhere ? text.find(start) != std::string::npos : text.rfind(start, 0) == 0) return text;
  }
  return {};
}

void Click(HWND main, HWND button) {
  SendMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: file_page_driver FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  HWND main = nullptr;
  for (int i = 0; i < 600 && !main; ++i) {
    main = FindWindowW(L"KyvexMainForm", nullptr);
    if (!main) Sleep(100);
  }
  if (!main) {
    std::fprintf(stderr, "the window did not appear\n");
    return 1;
  }
  // The window refreshes its data when it is shown; let that finish before the first click.
  SendMessageW(main, WM_NULL, 0, 0);

  HWND list = FindWindowExW(main, nullptr, L"ListBox", nullptr);
  Check(list != nullptr, "the navigation list");
  SendMessageW(list, LB_SETCURSEL, 6, 0);
  SendMessageW(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));

  HWND edit = nullptr;
  for (HWND w : Children(main))
    if (SameClass(ClassOf(w), "Edit") && !(GetWindowLongW(w, GWL_STYLE) & ES_MULTILINE)) edit = w;
  HWND save = ButtonCalled(main, "Kaydet"), load = ButtonCalled(main, "Yükle");
  Check(edit && IsWindowVisible(edit), "the file name field on the file page");
  Check(save && IsWindowVisible(save) && load && IsWindowVisible(load), "the save and load buttons");
  Check(ButtonCalled(main, "Gözat…") != nullptr, "the browse button");
  if (failures) return 1;

  auto setName = [&](const std::string& name) {
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
  };
  // Typed: one character message after the other through the window's message loop, where
  // the key filter sees them.
  auto typeName = [&](const std::string& name) {
    setName("");
    const std::wstring wide = Widen(name);
    for (wchar_t ch : wide) PostMessageW(edit, WM_CHAR, ch, 1);
    for (int i = 0; i < 250 && GetWindowTextLengthW(edit) < static_cast<int>(wide.size()); ++i) Sleep(20);
  };

  // A lower-case name with a dotless i: the field keeps it as typed.
  const std::string file = folder + "\\kay\xC4\xB1t-bilgi.kyx";
  typeName(file);
  Check(TextOf(edit) == file, "the typed name stays as typed: " + TextOf(edit));
  Click(main, save);
  Check(!VisibleStatic(main, "Kaydedildi: " + file).empty(), "saved: " + VisibleStatic(main, "Ka"));
  // The engine takes UTF-8 names and answers for Windows paths on Windows.
  std::shared_ptr<kyvex::ole::IStorage> root;
  Check(kyvex::ole::StgOpenStorage(file, nullptr, 0x10, nullptr, 0, &root) == S_OK,
        "the file is a storage file");
  for (const char* part : {"\005SummaryInformation", "CPU", "SMBIOS", "Storage"}) {
    kyvex::ole::STATSTG stat;
    Check(root && root->StatElement(kyvex::text::Utf8ToUtf16(part), &stat) == S_OK,
          std::string("the file holds ") + (part[0] == 5 ? "the header" : part));
  }
  root.reset();
  Check(VisibleStatic(main, "canlı veri değil", true).empty(), "no marker before a load");

  Click(main, load);
  Check(!VisibleStatic(main, "Yüklendi: " + file).empty(), "loaded: " + VisibleStatic(main, "Y"));
  const std::string marker = VisibleStatic(main, "canlı veri değil", true);
  Check(marker.rfind("Dosyadan: ", 0) == 0, "the not-live marker: " + marker);

  const std::string garbage = folder + "\\garbage.kyx";
  std::ofstream(garbage, std::ios::binary) << std::string(700, 'Z');
  setName(garbage);
  Click(main, load);
  Check(!VisibleStatic(main, "Bu bir depolama dosyası değil: " + garbage).empty(), "not a storage file");
  Check(VisibleStatic(main, "canlı veri değil", true) == marker, "the marker stays after a bad file");

  // A machine recorded on Linux opens from its archive (put beside by the script), marked as
  // that machine and not live.
  const std::string capture = folder + "\\vm.tar.gz";
  setName(capture);
  Click(main, load);
  Check(!VisibleStatic(main, "Yüklendi: " + capture + " (kayıtlı makine)").empty(),
        "the capture loaded: " + VisibleStatic(main, "Y"));
  Check(VisibleStatic(main, "canlı veri değil", true) == "Kayıtlı makine: VM (" + capture + ") — canlı veri değil",
        "the capture's marker: " + VisibleStatic(main, "canlı veri değil", true));

  setName("");
  Click(main, save);
  Check(!VisibleStatic(main, "Önce bir dosya adı").empty(), "no name");

  PostMessageW(main, WM_CLOSE, 0, 0);
  std::printf("file page: %s\n", failures ? "failures" : "save, load, bad file, capture and no name as expected");
  return failures == 0 ? 0 : 1;
}
