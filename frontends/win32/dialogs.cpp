#include "frontends/win32/dialogs.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "transfer/engine.h"

namespace morva::win32 {

namespace {

UINT iconStyle(Icon icon) {
  switch (icon) {
    case Icon::Warning:
      return MB_ICONWARNING;
    case Icon::Error:
      return MB_ICONERROR;
    case Icon::Information:
      return MB_ICONINFORMATION;
    case Icon::Question:
      return MB_ICONQUESTION;
  }
  return 0;
}

// Copies `text` into `buffer`, cut to fit and always terminated.
template <std::size_t N>
void copyTerminated(const std::string& text, std::array<char, N>& buffer) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), n, buffer.begin());
  buffer[n] = '\0';
}

}  // namespace

UINT messageBoxStyle(const Message& message) {
  UINT style = iconStyle(message.icon);
  if (message.buttons == Buttons::YesNo) {
    style |= MB_YESNO;
    if (message.secondIsDefault) style |= MB_DEFBUTTON2;
  } else {
    style |= MB_OK;
  }
  return style;
}

Answer answerOf(int button, Buttons buttons) {
  if (buttons == Buttons::Ok) return Answer::Ok;
  return button == IDYES ? Answer::Yes : Answer::No;
}

std::string filterList(const FileRequest& request) {
  std::string list = request.filterDescription;
  list += '\0';
  list += request.filterPattern;
  list += '\0';
  list += '\0';
  return list;
}

DWORD fileDialogFlags(const FileRequest& request) {
  DWORD flags = 0;
  if (request.mustExist) flags |= OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (request.createPrompt) flags |= OFN_CREATEPROMPT | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  return flags;
}

FileDialogRecord::FileDialogRecord(HWND owner, HINSTANCE instance, const FileRequest& request)
    : filter_(filterList(request)),
      title_(request.title),
      defaultExtension_(request.defaultExtension) {
  record_.lStructSize = sizeof(OPENFILENAMEA);
  record_.hwndOwner = owner;
  record_.hInstance = instance;
  record_.lpstrFilter = filter_.c_str();
  record_.nFilterIndex = 1;  // the list holds one filter
  record_.lpstrFile = name_.data();
  record_.nMaxFile = static_cast<DWORD>(name_.size());
  record_.nMaxFileTitle = 34;  // no title buffer is given, so none comes back
  record_.lpstrTitle = title_.c_str();
  record_.Flags = fileDialogFlags(request);
  record_.lpstrDefExt = defaultExtension_.c_str();
  // The previous choice is offered again only where the filter shows it; its folder is kept
  // either way.
  if (fitsFilter(request.initialName, request.filterPattern)) {
    copyTerminated(request.initialName, name_);
  } else if (!request.initialName.empty()) {
    folder_ = std::filesystem::path(request.initialName).parent_path().string();
    if (!folder_.empty()) record_.lpstrInitialDir = folder_.c_str();
  }
}

FileChoice FileDialogRecord::choice() const {
  std::filesystem::path path(std::string(name_.data()));
  std::error_code error;
  if (!path.is_absolute()) {
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    if (!error) path = full;
  }
  // The chosen name itself is judged, not OFN_EXTENSIONDIFFERENT: dialogs raise that flag only
  // in some of the cases (Wine's only when it added the default extension itself).
  return FileChoice{path.string(), extensionDiffers(path.string(), defaultExtension_)};
}

LOGFONTA logFontOf(const FontSpec& fontSpec, int dotsPerInch) {
  LOGFONTA font{};
  if (fontSpec.pixelSize > 0)
    font.lfHeight = fontSpec.pixelSize;  // positive: the cell height
  else if (fontSpec.pointSize > 0)
    font.lfHeight = -MulDiv(fontSpec.pointSize, dotsPerInch, 72);  // negative: the character height
  font.lfWeight = fontSpec.weight;
  font.lfItalic = fontSpec.italic ? TRUE : FALSE;
  if (fontSpec.fixedPitch) font.lfPitchAndFamily = FF_MODERN | FIXED_PITCH;
  const std::size_t n = std::min(fontSpec.face.size(), sizeof font.lfFaceName - 1);
  std::copy_n(fontSpec.face.begin(), n, font.lfFaceName);
  font.lfFaceName[n] = '\0';
  return font;
}

FontSpec fontSpecOf(const ChosenFont& chosen) {
  const LOGFONTA& font = chosen.font;
  FontSpec fontSpec;
  fontSpec.face.assign(font.lfFaceName, strnlen(font.lfFaceName, sizeof font.lfFaceName));
  if (font.lfHeight < 0 && chosen.pointTenths > 0)
    fontSpec.pointSize = (chosen.pointTenths + 5) / 10;
  else if (font.lfHeight != 0)
    fontSpec.pixelSize = font.lfHeight < 0 ? -font.lfHeight : font.lfHeight;
  fontSpec.fixedPitch = (font.lfPitchAndFamily & 0x03) == FIXED_PITCH;
  fontSpec.weight = font.lfWeight;
  fontSpec.italic = font.lfItalic != 0;
  return fontSpec;
}

LOGFONTA drawnLogFont(const LOGFONTA& asked) {
  LOGFONTA drawn = asked;
  HDC screen = GetDC(nullptr);
  HFONT font = screen != nullptr ? CreateFontIndirectA(&asked) : nullptr;
  if (font != nullptr) {
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICA metrics{};
    char face[LF_FACESIZE] = {};
    if (GetTextMetricsA(screen, &metrics) && GetTextFaceA(screen, LF_FACESIZE, face) > 0) {
      lstrcpynA(drawn.lfFaceName, face, LF_FACESIZE);
      drawn.lfHeight = -(metrics.tmHeight - metrics.tmInternalLeading);  // the character height
      drawn.lfWidth = 0;
      drawn.lfWeight = metrics.tmWeight;
      drawn.lfItalic = metrics.tmItalic;
      drawn.lfCharSet = metrics.tmCharSet;
    }
    SelectObject(screen, previous);
    DeleteObject(font);
  }
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return drawn;
}

bool sameDrawnFont(const LOGFONTA& chosen, const LOGFONTA& drawn, int dotsPerInch) {
  // The chooser offers whole points: a height between two of them comes back as the nearer.
  const int points = MulDiv(drawn.lfHeight < 0 ? -drawn.lfHeight : drawn.lfHeight, 72, dotsPerInch);
  const LONG rounded = -MulDiv(points, dotsPerInch, 72);
  return lstrcmpiA(chosen.lfFaceName, drawn.lfFaceName) == 0 &&
         (chosen.lfHeight == drawn.lfHeight || chosen.lfHeight == rounded) &&
         chosen.lfWeight == drawn.lfWeight && (chosen.lfItalic != 0) == (drawn.lfItalic != 0);
}

std::filesystem::path programDirectory() {
  std::array<char, MAX_PATH> name{};
  const DWORD n = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
  if (n == 0 || n >= name.size()) return {};
  return std::filesystem::path(std::string(name.data(), n)).parent_path();
}

int screenDotsPerInch() {
  HDC screen = GetDC(nullptr);
  const int dots = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dots > 0 ? dots : 96;
}

Answer Win32Dialogs::showMessage(HWND owner, const Message& message) {
  // The OS reason in message.detail is not shown: the box keeps the system's own text, and
  // one failure is one box.
  const int button = MessageBoxA(message.owned ? owner : nullptr, message.text.c_str(),
                                 message.caption.c_str(), messageBoxStyle(message));
  return answerOf(button, message.buttons);
}

std::optional<FileChoice> Win32Dialogs::chooseFile(HWND owner, const FileRequest& request) {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE));
  FileDialogRecord dialog(owner, instance, request);
  if (!GetOpenFileNameA(&dialog.record())) return std::nullopt;
  return dialog.choice();
}

std::optional<ChosenFont> Win32Dialogs::chooseFont(HWND owner, const LOGFONTA& current) {
  // Given a face it lacks ("Fixedsys" on most systems), the chooser opens on the first face of
  // its list; it opens on the face and size the window is drawn with instead.
  const LOGFONTA drawn = drawnLogFont(current);
  ChosenFont chosen{drawn, 0};
  CHOOSEFONTA record{};
  record.lStructSize = sizeof(CHOOSEFONTA);
  record.hwndOwner = owner;
  record.lpLogFont = &chosen.font;
  record.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
  if (!ChooseFontA(&record)) return std::nullopt;
  // OK with nothing changed keeps the font as it was, whatever the chooser rounded.
  if (sameDrawnFont(chosen.font, drawn, screenDotsPerInch())) return ChosenFont{current, 0};
  chosen.pointTenths = record.iPointSize;
  return chosen;
}

bool Win32Dialogs::openHelp(HWND owner, const std::string& path) {
  const std::filesystem::path legacy = programDirectory() / "Morva.hlp";
  std::error_code error;
  if (!legacy.parent_path().empty() && std::filesystem::is_regular_file(legacy, error))
    return WinHelpA(owner, legacy.string().c_str(), HELP_CONTENTS, 0) != FALSE;
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(owner, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;  // ShellExecuteA's way of saying it worked
}

}  // namespace morva::win32
