// The operator's boxes and choosers on Windows: MessageBoxA, GetOpenFileNameA, ChooseFontA and
// the help viewer. The main window asks through Dialogs, so tests substitute scripted answers
// for the modal windows; the records the real ones are given are built by the functions below.
#pragma once

#include <windows.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "display/canvas.h"
#include "transfer/operator.h"

namespace morva::win32 {

// The font chooser's answer: the description, and the size in tenths of a point it was
// picked at (CHOOSEFONT.iPointSize).
struct ChosenFont {
  LOGFONTA font;
  int pointTenths = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // `owner` is the main window, or null for the box shown before it exists.
  virtual Answer showMessage(HWND owner, const Message& message) = 0;
  virtual std::optional<FileChoice> chooseFile(HWND owner, const FileRequest& request) = 0;
  // Starts from `current` and gives back what the operator chose; none when cancelled.
  virtual std::optional<ChosenFont> chooseFont(HWND owner, const LOGFONTA& current) = 0;
  // Opens the manual at `path`; false when nothing took it.
  virtual bool openHelp(HWND owner, const std::string& path) = 0;
};

// The real modal windows.
class Win32Dialogs : public Dialogs {
 public:
  Answer showMessage(HWND owner, const Message& message) override;
  std::optional<FileChoice> chooseFile(HWND owner, const FileRequest& request) override;
  std::optional<ChosenFont> chooseFont(HWND owner, const LOGFONTA& current) override;
  // A "Morva.hlp" beside the program still goes to the WinHelp viewer, which current Windows
  // lacks; otherwise the manual opens in whatever the desktop opens .html files with.
  bool openHelp(HWND owner, const std::string& path) override;
};

// MessageBoxA's style for `message`: its icon, OK or Yes/No, and No as the default button
// when asked for.
UINT messageBoxStyle(const Message& message);
// What the button MessageBoxA returned means; a failed box answers a question with No.
Answer answerOf(int button, Buttons buttons);

// The file dialog's filter list: description, zero, pattern, zero, zero.
std::string filterList(const FileRequest& request);
// OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST to send or verify a file; OFN_CREATEPROMPT |
// OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT to read into one.
DWORD fileDialogFlags(const FileRequest& request);

// Everything GetOpenFileNameA is handed, kept together so that the pointers in the record
// stay good while the dialog runs. Not copyable: the record points into itself.
class FileDialogRecord {
 public:
  static constexpr std::size_t nameSize = 260;

  FileDialogRecord(HWND owner, HINSTANCE instance, const FileRequest& request);
  FileDialogRecord(const FileDialogRecord&) = delete;
  FileDialogRecord& operator=(const FileDialogRecord&) = delete;

  OPENFILENAMEA& record() { return record_; }
  // The choice the dialog wrote back: the full path, and whether its extension differs from
  // the default one, ignoring case.
  FileChoice choice() const;

 private:
  std::string filter_;
  std::string title_;
  std::string defaultExtension_;
  std::string folder_;  // where the dialog starts when the previous name does not fit the kind
  std::array<char, nameSize> name_{};
  OPENFILENAMEA record_{};
};

// The description of `font` on a screen of `dotsPerInch`: the face, the cell height (or the
// point size made into a character height), weight and slant; a fixed-pitch font asks for
// FF_MODERN | FIXED_PITCH, so that the mapper picks a monospaced face when the named one is
// missing.
LOGFONTA logFontOf(const FontSpec& font, int dotsPerInch);
// The operator's font as the font chooser gave it back. A character height (negative
// lfHeight) is kept as the chosen point size, a cell height as pixels.
FontSpec fontSpecOf(const ChosenFont& chosen);

// The font GDI draws for `asked` on the screen: the face the mapper picked, its character
// height, weight, slant and character set.
LOGFONTA drawnLogFont(const LOGFONTA& asked);
// What the font chooser gave back is the font it opened on: the same face (ignoring case),
// weight and slant, and the same height or that height in whole points on a screen of
// `dotsPerInch`, as the chooser shows it.
bool sameDrawnFont(const LOGFONTA& chosen, const LOGFONTA& drawn, int dotsPerInch);

// The vertical resolution of the screen, for point sizes.
int screenDotsPerInch();

// The folder the running program was started from; empty when Windows cannot tell.
std::filesystem::path programDirectory();

}  // namespace morva::win32
