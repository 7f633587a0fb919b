// vorlan-install on Windows: the main window drawn with the plain Win32 controls. Its
// behaviour lives in TMainForm; this file only builds the controls and forwards the events.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32/WinApi.h"
#include <commctrl.h>
#include <commdlg.h>

#include "app/Ana.h"
#include "app/Lib01.h"
#include "report/CpuReport.h"
#include "report/HeaderReport.h"
#include "report/Report.h"
#include "report/SmbiosReport.h"
#include "report/StorageReport.h"
#include "common/Kyvex_Native.h"
#include "cpu/KSI_CPU.h"
#include "platform/Text.h"
#include "platform/win32/Win32Platform.h"
#include "smbios/KSI_SMBIOS.h"
#include "storage/KSI_Storage.h"

namespace kyvex {
namespace {

constexpr int kClientWidth = 572;
constexpr int kClientHeight = 369;
constexpr int kHeaderHeight = 60;
constexpr int kFooterHeight = 45;
constexpr int kListWidth = 145;
constexpr int kEntryHeight = 33;
constexpr COLORREF kWindowColour = RGB(215, 211, 204);  // 13423575
constexpr COLORREF kBannerColour = RGB(10, 36, 107);    // 7021578

enum ControlId {
  kIdList = 100,
  kIdPageTitle,
  kIdPageBody,
  kIdFileEdit,
  kIdSave,
  kIdLoad,
  kIdBrowse,
  kIdFileStatus,
  kIdFileData,
  kIdHelp,
  kIdCancel = IDCANCEL
};
constexpr int kFilePage = 6;
constexpr COLORREF kWarningColour = RGB(160, 0, 0);

const char* const kEntries[kNavigationEntryCount] = {
    "Sistem", "İşlemci", "Anakart ve BIOS", "Bellek ve kartlar", "Diskler", "Sürücüler", "Dosya", "Hakkında"};
const char* const kPageTitles[kPageCount] = {
    "Sistem özeti", "İşlemci", "Anakart ve BIOS", "Bellek ve kartlar", "Fiziksel aygıtlar",
    "Mantıksal sürücüler", "Dosya", "Yardım", "Hakkında"};

std::wstring W(const std::string& s) { return platform::Widen(s); }

class TMainFormWin32 : public TMainFormView {
 public:
  explicit TMainFormWin32(HINSTANCE instance) : instance_(instance), form_(*this, GetVersionText()) {}

  bool Create() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TMainFormWin32::WndProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = CreateSolidBrush(kWindowColour);
    wc.lpszClassName = L"KyvexMainForm";
    if (!RegisterClassExW(&wc)) return false;
    // A fixed dialog frame: no resizing, no minimise or maximise box.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT r{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    hwnd_ = CreateWindowExW(exStyle, wc.lpszClassName, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance_, this);
    return hwnd_ != nullptr;
  }

  HWND Handle() const { return hwnd_; }
  TMainForm& Form() { return form_; }

  // Key preview: every typed character and Escape pass through the window first.
  bool PreTranslate(MSG& msg) {
    if (!IsChild(hwnd_, msg.hwnd) && msg.hwnd != hwnd_) return false;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
      form_.JvFooterBtn3Click();
      return true;
    }
    if (msg.message == WM_CHAR && (msg.wParam < 0xD800 || msg.wParam > 0xDFFF)) {
      char32_t ch = static_cast<char32_t>(msg.wParam);
      form_.FormKeyPress(ch, msg.hwnd == fileEdit_ ? TMainForm::TKeyTarget::FileName : TMainForm::TKeyTarget::Other);
      msg.wParam = static_cast<WPARAM>(ch);
    }
    return false;
  }

  // TMainFormView
  void SetCaption(const std::string& caption) override { SetWindowTextW(hwnd_, W(caption).c_str()); }

  void SetActivePage(int page) override {
    page_ = page;
    SetWindowTextW(title_, W(kPageTitles[page]).c_str());
    SetWindowTextW(body_, W(pageText_[page]).c_str());
    // The file page's text is one line: its controls take the rest of the page.
    const bool filePage = page == kFilePage;
    MoveWindow(body_, pageX_, kHeaderHeight + 32, pageWidth_, filePage ? 40 : bodyHeight_, TRUE);
    ShowScrollBar(body_, SB_VERT, !filePage);
    for (HWND control : {fileEdit_, saveButton_, loadButton_, browseButton_, fileStatus_})
      ShowWindow(control, filePage ? SW_SHOW : SW_HIDE);
    const int entry = page == 8 ? 7 : page;
    SendMessageW(list_, LB_SETCURSEL, page == kHelpPage ? static_cast<WPARAM>(-1) : entry, 0);
  }

  void CloseWindow() override { PostMessageW(hwnd_, WM_CLOSE, 0, 0); }

  void ComponentRefreshed(TKyvex_KSIC_Component& component) override {
    if (auto* cpu = dynamic_cast<TKyvex_CPU*>(&component)) {
      SetPage(1, report::CpuSections(*cpu));
    } else if (auto* smbios = dynamic_cast<TKyvex_SMBIOS*>(&component)) {
      SetPage(2, report::SmbiosSystemSections(*smbios));
      SetPage(3, report::SmbiosDeviceSections(*smbios));
    } else if (auto* storage = dynamic_cast<TKyvex_Storage*>(&component)) {
      SetPage(4, report::StoragePhysicalSections(*storage));
      SetPage(5, report::StorageLogicalSections(*storage));
    }
  }

  void ComponentNotLoaded(TKyvex_KSIC_Component& component, const std::string& reason) override {
    if (dynamic_cast<TKyvex_CPU*>(&component)) {
      SetPageText(1, reason);
    } else if (dynamic_cast<TKyvex_SMBIOS*>(&component)) {
      SetPageText(2, reason);
      SetPageText(3, reason);
    } else if (dynamic_cast<TKyvex_Storage*>(&component)) {
      SetPageText(4, reason);
      SetPageText(5, reason);
    }
  }

  void ShowFileData(const std::string& marker, const TStorageInfoRecord& info) override {
    SetWindowTextW(fileData_, W(marker).c_str());
    ShowWindow(fileData_, SW_SHOW);
    // The system page describes the machine the file was written on, not this one.
    SetPage(0, {{"Dosyadaki bilgilerin makinesi", report::StorageInfoLines(info)}});
  }

  void ShowLiveData() override {
    ShowWindow(fileData_, SW_HIDE);
    SetWindowTextW(fileData_, L"");
    SetPage(0, {{"", report::SummaryLines(report::CollectSystemSummary())}});
  }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TMainFormWin32*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
      self = static_cast<TMainFormWin32*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    return self ? self->Handle(msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
  }

  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
      case WM_CREATE:
        BuildControls();
        form_.FormCreate();
        return 0;
      case WM_SHOWWINDOW:
        if (wp) {
          form_.FormShow();
          SetActivePage(form_.ActivePage());
        }
        break;
      case WM_COMMAND:
        if (LOWORD(wp) == kIdList && HIWORD(wp) == LBN_SELCHANGE) {
          const int entry = static_cast<int>(SendMessageW(list_, LB_GETCURSEL, 0, 0));
          form_.JvItemsPanel1ItemClick(entry);
        } else if (LOWORD(wp) == kIdSave && HIWORD(wp) == BN_CLICKED) {
          RunFileAction([this](const std::string& name) { return form_.SaveDataToFile(name); });
        } else if (LOWORD(wp) == kIdLoad && HIWORD(wp) == BN_CLICKED) {
          RunFileAction([this](const std::string& name) { return form_.LoadDataFromFile(name); });
        } else if (LOWORD(wp) == kIdBrowse && HIWORD(wp) == BN_CLICKED) {
          BrowseForFile();
        } else if (LOWORD(wp) == kIdHelp) {
          form_.JvFooterBtn1Click();
        } else if (LOWORD(wp) == kIdCancel) {
          form_.JvFooterBtn3Click();
        }
        return 0;
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORLISTBOX: {
        const HWND control = reinterpret_cast<HWND>(lp);
        if (control == fileData_ || (control == fileStatus_ && lastActionFailed_))
          SetTextColor(reinterpret_cast<HDC>(wp), kWarningColour);
        SetBkColor(reinterpret_cast<HDC>(wp), kWindowColour);
        return reinterpret_cast<LRESULT>(windowBrush_);
      }
      case WM_PAINT:
        PaintBanner();
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
  }

  HWND Child(const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y, int w, int h, int id,
             DWORD exStyle = 0) {
    HWND c = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    return c;
  }

  void BuildControls() {
    windowBrush_ = CreateSolidBrush(kWindowColour);
    font_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
    boldFont_ = CreateFontW(-14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
    boldSmallFont_ = CreateFontW(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
    // The pages align their columns with blanks: a fixed-pitch font keeps them aligned.
    monoFont_ = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FIXED_PITCH | FF_MODERN,
                            L"Courier New");
    const int middle = kClientHeight - kHeaderHeight - kFooterHeight;
    list_ = Child(L"LISTBOX", L"", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, kHeaderHeight, kListWidth, middle, kIdList);
    for (const char* entry : kEntries) SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(entry).c_str()));
    SendMessageW(list_, LB_SETITEMHEIGHT, 0, kEntryHeight);
    const int px = kListWidth + 12, pw = kClientWidth - kListWidth - 24;
    pageX_ = px;
    pageWidth_ = pw;
    bodyHeight_ = middle - 40;
    title_ = Child(L"STATIC", L"", SS_LEFT, px, kHeaderHeight + 8, pw, 20, kIdPageTitle);
    SendMessageW(title_, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), TRUE);
    body_ = Child(L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL, px, kHeaderHeight + 32, pw,
                  bodyHeight_, kIdPageBody);
    SendMessageW(body_, WM_SETFONT, reinterpret_cast<WPARAM>(monoFont_), TRUE);
    // The file page, below its one line of text.
    const int fileY = kHeaderHeight + 80;
    fileEdit_ = Child(L"EDIT", L"", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, px, fileY, pw, 22, kIdFileEdit);
    saveButton_ = Child(L"BUTTON", W("Kaydet"), BS_PUSHBUTTON | WS_TABSTOP, px, fileY + 30, 80, 25, kIdSave);
    loadButton_ = Child(L"BUTTON", W("Yükle"), BS_PUSHBUTTON | WS_TABSTOP, px + 88, fileY + 30, 80, 25, kIdLoad);
    browseButton_ =
        Child(L"BUTTON", W("Gözat…"), BS_PUSHBUTTON | WS_TABSTOP, px + pw - 80, fileY + 30, 80, 25, kIdBrowse);
    fileStatus_ = Child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, px, fileY + 64, pw, 90, kIdFileStatus);
    for (HWND control : {fileEdit_, saveButton_, loadButton_, browseButton_, fileStatus_}) ShowWindow(control, SW_HIDE);
    const int fy = kClientHeight - kFooterHeight + 10;
    Child(L"BUTTON", W("Yardım"), BS_PUSHBUTTON | WS_TABSTOP, 10, fy, 80, 25, kIdHelp);
    // Between the footer buttons, on every page, while the pages show data from a file.
    fileData_ = Child(L"STATIC", L"", SS_CENTER | SS_NOPREFIX, 100, fy - 4, kClientWidth - 200, 34, kIdFileData);
    SendMessageW(fileData_, WM_SETFONT, reinterpret_cast<WPARAM>(boldSmallFont_), TRUE);
    ShowWindow(fileData_, SW_HIDE);
    Child(L"BUTTON", W("Vazgeç"), BS_PUSHBUTTON | WS_TABSTOP, kClientWidth - 90, fy, 80, 25, kIdCancel);
    pageText_.assign(kPageCount, "");
    pageText_[6] = "Bilgileri bir dosyaya kaydedin ya da bir dosyadan yükleyin.";
    pageText_[7] = "Soldaki listeden bir bölüm seçin. Bilgiler pencere her açıldığında yeniden toplanır.\r\n"
                   "Vazgeç ya da Esc programı kapatır.";
    pageText_[8] = form_.Kyvex_CPU1->_About();
  }

  void SetPage(int page, const report::Sections& sections) {
    SetPageText(page, sections.empty() ? "Bilgi bulunamadı." : report::FormatSections(sections));
  }

  void SetPageText(int page, const std::string& text) {
    std::string crlf;
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    pageText_[page] = crlf;
    if (page == page_) SetWindowTextW(body_, W(crlf).c_str());
  }

  void RunFileAction(const std::function<TFileActionResult(const std::string&)>& action) {
    std::wstring name(static_cast<std::size_t>(GetWindowTextLengthW(fileEdit_)) + 1, L'\0');
    name.resize(static_cast<std::size_t>(GetWindowTextW(fileEdit_, name.data(), static_cast<int>(name.size()))));
    // A save collects every processor again and a load may refresh live data: it takes a while.
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    const TFileActionResult result = action(platform::Narrow(name));
    SetCursor(previous);
    lastActionFailed_ = !result.Succeeded;
    SetWindowTextW(fileStatus_, W(result.Message).c_str());
  }

  void BrowseForFile() {
    // One dialog serves both actions: it takes a new name for a save as well as an existing
    // file for a load, and does not warn about replacing, since a save into an existing
    // storage file replaces only this program's parts of it.
    std::vector<wchar_t> file(32768, L'\0');
    GetWindowTextW(fileEdit_, file.data(), static_cast<int>(file.size()));
    const std::wstring filter = W("Kyvex depolama dosyaları (*.kyx)") + L'\0' + L"*.kyx" + L'\0' +
                                W("Tüm dosyalar (*.*)") + L'\0' + L"*.*" + L'\0';
    const std::wstring title = W("Dosya seçin");
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&ofn)) return;
    // Set here, not typed: the window's key filter would upper-case a typed path.
    SetWindowTextW(fileEdit_, file.data());
  }

  void PaintBanner() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // A horizontal gradient from the banner colour to the window colour.
    for (int x = 0; x < kClientWidth; ++x) {
      const double t = static_cast<double>(x) / (kClientWidth - 1);
      auto mix = [t](int a, int b) { return static_cast<int>(a + (b - a) * t + 0.5); };
      HPEN pen = CreatePen(PS_SOLID, 1,
                           RGB(mix(GetRValue(kBannerColour), GetRValue(kWindowColour)),
                               mix(GetGValue(kBannerColour), GetGValue(kWindowColour)),
                               mix(GetBValue(kBannerColour), GetBValue(kWindowColour))));
      HGDIOBJ old = SelectObject(dc, pen);
      MoveToEx(dc, x, 0, nullptr);
      LineTo(dc, x, kHeaderHeight);
      SelectObject(dc, old);
      DeleteObject(pen);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    HGDIOBJ old = SelectObject(dc, boldFont_);
    RECT r{12, 6, kClientWidth - 12, 30};
    DrawTextW(dc, L"Kyvex System Information", -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, font_);
    r = {24, 32, kClientWidth - 12, 54};
    DrawTextW(dc, W("Programımızı tercih ettiğiniz için teşekkür ederiz..").c_str(), -1, &r,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
    EndPaint(hwnd_, &ps);
  }

  HINSTANCE instance_;
  TMainForm form_;
  HWND hwnd_ = nullptr, list_ = nullptr, title_ = nullptr, body_ = nullptr, fileEdit_ = nullptr;
  HWND saveButton_ = nullptr, loadButton_ = nullptr, browseButton_ = nullptr, fileStatus_ = nullptr;
  HWND fileData_ = nullptr;
  HBRUSH windowBrush_ = nullptr;
  HFONT font_ = nullptr, boldFont_ = nullptr, boldSmallFont_ = nullptr, monoFont_ = nullptr;
  std::vector<std::string> pageText_;
  int page_ = 0;
  int pageX_ = 0, pageWidth_ = 0, bodyHeight_ = 0;
  bool lastActionFailed_ = false;
};

}  // namespace
}  // namespace kyvex

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  kyvex::TMainFormWin32 window(instance);
  if (!window.Create()) return 1;
  ShowWindow(window.Handle(), show == SW_HIDE ? SW_SHOWNORMAL : show);
  UpdateWindow(window.Handle());
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (window.PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  try {
    kyvex::UnbindNativeAPI();
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, kyvex::platform::Widen(e.what()).c_str(), L"Vorlan Install", MB_ICONERROR);
  }
  return static_cast<int>(msg.wParam);
}
