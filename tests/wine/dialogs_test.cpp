// The records the boxes, the file dialog and the font chooser are given and give back, and
// the real dialogs worked through the main window as a person would.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "app/commands.h"
#include "frontends/win32/dialogs.h"
#include "tests/support/requests.h"
#include "tests/wine/win32_desktop.h"

namespace morva::testing {
namespace {

// --- the records of boxes and choosers ---------------------------------------------------

TEST(DialogRecordsTest, MessageBoxStylesAndAnswers) {
  struct Case {
    Icon icon;
    Buttons buttons;
    bool secondIsDefault;
    UINT style;
  };
  const Case cases[] = {
      {Icon::Warning, Buttons::Ok, false, MB_ICONWARNING | MB_OK},
      {Icon::Error, Buttons::Ok, false, MB_ICONERROR | MB_OK},
      {Icon::Information, Buttons::Ok, false, MB_ICONINFORMATION | MB_OK},
      {Icon::Question, Buttons::YesNo, true, MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2},
      {Icon::Warning, Buttons::YesNo, false, MB_ICONWARNING | MB_YESNO},
  };
  for (const Case& c : cases) {
    Message message;
    message.icon = c.icon;
    message.buttons = c.buttons;
    message.secondIsDefault = c.secondIsDefault;
    EXPECT_EQ(win32::messageBoxStyle(message), c.style) << static_cast<int>(c.icon);
  }
  EXPECT_EQ(win32::answerOf(IDYES, Buttons::YesNo), Answer::Yes);
  EXPECT_EQ(win32::answerOf(IDNO, Buttons::YesNo), Answer::No);
  EXPECT_EQ(win32::answerOf(0, Buttons::YesNo), Answer::No);  // the box failed
  EXPECT_EQ(win32::answerOf(IDOK, Buttons::Ok), Answer::Ok);
}

TEST(DialogRecordsTest, FilterListAndFlagsFollowTheRequest) {
  const std::string list = win32::filterList(userDataRequest(false));
  EXPECT_EQ(list, std::string("User data (*.usr)\0*.usr;*.bin\0\0", 31));
  EXPECT_EQ(win32::fileDialogFlags(userDataRequest(false)), 0x1800u);
  EXPECT_EQ(win32::fileDialogFlags(userDataRequest(true)), 0x2006u);
}

TEST(DialogRecordsTest, FileDialogRecordCarriesTheRequest) {
  FileRequest request = userDataRequest(true);
  request.initialName = "C:\\data\\old.usr";
  HWND owner = GetDesktopWindow();
  win32::FileDialogRecord dialog(owner, GetModuleHandleA(nullptr), request);
  const OPENFILENAMEA& r = dialog.record();
  EXPECT_EQ(r.lStructSize, sizeof(OPENFILENAMEA));
  EXPECT_EQ(r.hwndOwner, owner);
  EXPECT_EQ(r.nFilterIndex, 1u);
  EXPECT_EQ(r.nMaxFile, 260u);
  EXPECT_EQ(r.lpstrFileTitle, nullptr);
  EXPECT_EQ(r.lpstrInitialDir, nullptr);
  EXPECT_EQ(r.Flags, 0x2006u);
  EXPECT_STREQ(r.lpstrFile, "C:\\data\\old.usr");
  EXPECT_STREQ(r.lpstrTitle, "Choose file to write into :");
  EXPECT_STREQ(r.lpstrDefExt, "usr");
  EXPECT_EQ(std::string(r.lpstrFilter, 31), win32::filterList(request));
  // A previous name the filter would not show is not offered; the dialog starts in its folder.
  request.initialName = "C:\\data\\fw.upg";
  win32::FileDialogRecord other(owner, GetModuleHandleA(nullptr), request);
  EXPECT_STREQ(other.record().lpstrFile, "");
  EXPECT_STREQ(other.record().lpstrInitialDir, "C:\\data");
}

TEST(DialogRecordsTest, ALongPreviousNameIsCutInsideTheBuffer) {
  FileRequest request = userDataRequest(false);
  request.initialName = "C:\\" + std::string(400, 'x') + ".usr";
  win32::FileDialogRecord dialog(nullptr, nullptr, request);
  EXPECT_EQ(std::string(dialog.record().lpstrFile).size(), 259u);
}

TEST(DialogRecordsTest, TheChoiceIsAFullPathWithItsOwnExtensionJudged) {
  win32::FileDialogRecord dialog(nullptr, nullptr, userDataRequest(false));
  OPENFILENAMEA& r = dialog.record();
  lstrcpyA(r.lpstrFile, "C:\\data\\image.bin");
  const FileChoice choice = dialog.choice();
  EXPECT_EQ(choice.path, "C:\\data\\image.bin");
  EXPECT_TRUE(choice.extensionDifferent);
  // The dialog's flag says nothing either way.
  lstrcpyA(r.lpstrFile, "C:\\data\\image.USR");
  r.Flags |= OFN_EXTENSIONDIFFERENT;
  EXPECT_FALSE(dialog.choice().extensionDifferent);
  lstrcpyA(r.lpstrFile, "image.usr");
  EXPECT_TRUE(std::filesystem::path(dialog.choice().path).is_absolute());
}

// --- fonts ------------------------------------------------------------------------------------

TEST(FontTest, DescriptionsOfSpecs) {
  const LOGFONTA start = win32::logFontOf(FontSpec{}, 96);
  EXPECT_STREQ(start.lfFaceName, "Fixedsys");
  EXPECT_EQ(start.lfHeight, 0);
  EXPECT_EQ(start.lfWeight, 0);
  EXPECT_EQ(start.lfCharSet, 0);
  // Where "Fixedsys" is missing, the mapper still picks a monospaced face.
  EXPECT_EQ(start.lfPitchAndFamily, FF_MODERN | FIXED_PITCH);

  FontSpec sized;
  sized.face = "Courier New";
  sized.pointSize = 12;
  sized.weight = 700;
  sized.italic = true;
  const LOGFONTA points = win32::logFontOf(sized, 120);
  EXPECT_EQ(points.lfHeight, -20);  // a character height: 12 pt at 120 dots per inch
  EXPECT_EQ(points.lfWeight, 700);
  EXPECT_TRUE(points.lfItalic);

  FontSpec cells;
  cells.face = std::string(60, 'F');  // longer than the face field
  cells.pixelSize = 18;
  cells.fixedPitch = false;
  const LOGFONTA pixels = win32::logFontOf(cells, 96);
  EXPECT_EQ(pixels.lfHeight, 18);  // a cell height
  EXPECT_EQ(pixels.lfPitchAndFamily, 0);
  EXPECT_EQ(std::string(pixels.lfFaceName), std::string(31, 'F'));
}

TEST(FontTest, WhatTheChooserGivesBackIsTheFontItWasGiven) {
  FontSpec a;
  FontSpec b;
  b.face = "Courier New";
  b.pointSize = 10;
  b.weight = 400;
  FontSpec c;
  c.face = "Arial";
  c.pixelSize = 22;
  c.fixedPitch = false;
  c.weight = 700;
  c.italic = true;
  for (const FontSpec& fontSpec : {a, b, c}) {
    const ChosenFont chosen{win32::logFontOf(fontSpec, 96), fontSpec.pointSize * 10};
    EXPECT_EQ(win32::fontSpecOf(chosen), fontSpec) << fontSpec.face;
  }
}

// --- the real dialogs through the main window ----------------------------------------------

// Through the real file dialog: a name whose extension is not the kind's is refused by the
// program itself, before anything goes to the device; user data also takes ".bin".
TEST_F(DesktopTest, TheRealFileDialogsNameMustHaveTheKindsExtension) {
  ASSERT_EQ(start(), 0);
  const char* names[] = {"a.upg", "b.lib", "c.usr", "d.bin", "e.BIN", "f.txt", "g"};
  for (const char* name : names) imageFile(name, 256);
  struct Kind {
    int position;
    std::vector<std::string> accepted;
  };
  const Kind kinds[] = {{2, {"a.upg"}}, {3, {"b.lib"}}, {4, {"c.usr", "d.bin", "e.BIN"}}};
  for (const Kind& kind : kinds) {
    for (const char* name : names) {
      SCOPED_TRACE(std::to_string(kind.position) + " " + name);
      dialogs.shown.clear();
      port.operations.clear();
      dialogs.typeIntoRealChooser = (folder / name).string();
      send(WM_MENUSELECT, MAKEWPARAM(kind.position, MF_POPUP | MF_HILITE),
           reinterpret_cast<LPARAM>(action()));
      send(WM_COMMAND, CMD_WRITE);
      const bool accepted =
          std::find(kind.accepted.begin(), kind.accepted.end(), name) != kind.accepted.end();
      EXPECT_EQ(dialogs.chooserSaid, "");
      EXPECT_EQ(port.writes(), accepted ? std::vector<Bytes>{{ESC}} : std::vector<Bytes>{});
      if (accepted) {
        EXPECT_TRUE(dialogs.shown.empty());
      } else {
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].message.text, "Don't change file extension !");
      }
      send(WM_COMMAND, CMD_STOP);
    }
  }
}

TEST_F(DesktopTest, TheFontChosenIsUsedExactlyAsTheChooserGaveIt) {
  ASSERT_EQ(start(), 0);
  LOGFONTA terminal = win32::logFontOf(FontSpec{}, 96);
  lstrcpyA(terminal.lfFaceName, "Terminal");
  terminal.lfCharSet = OEM_CHARSET;
  terminal.lfHeight = 12;
  dialogs.fonts.push_back(ChosenFont{terminal, 90});
  send(WM_COMMAND, CMD_FONT);
  ASSERT_EQ(dialogs.fontRequests.size(), 1u);
  EXPECT_STREQ(dialogs.fontRequests[0].lfFaceName, "Fixedsys");
  EXPECT_EQ(program->displayFont().face, "Terminal");
  EXPECT_EQ(program->displayFont().pixelSize, 12);
  EXPECT_EQ(window->logFontFor(program->displayFont()).lfCharSet, OEM_CHARSET);
  send(WM_COMMAND, CMD_FONT);  // cancelled: the font stays
  EXPECT_EQ(dialogs.fontRequests[1].lfCharSet, OEM_CHARSET);
  EXPECT_EQ(program->displayFont().face, "Terminal");
}

// The face, character height, weight and slant GDI draws for `font` on the screen.
std::tuple<std::string, LONG, LONG, BYTE> drawnBy(const LOGFONTA& font) {
  HDC screen = GetDC(nullptr);
  HFONT created = CreateFontIndirectA(&font);
  HGDIOBJ previous = SelectObject(screen, created);
  TEXTMETRICA metrics{};
  GetTextMetricsA(screen, &metrics);
  char face[LF_FACESIZE] = {};
  GetTextFaceA(screen, LF_FACESIZE, face);
  SelectObject(screen, previous);
  DeleteObject(created);
  ReleaseDC(nullptr, screen);
  return {face, metrics.tmHeight - metrics.tmInternalLeading, metrics.tmWeight, metrics.tmItalic};
}

TEST_F(DesktopTest, TheFontChooserOpensOnTheDrawnFontAndOkAsItOpensChangesNothing) {
  ASSERT_EQ(start(), 0);
  dialogs.acceptRealFontChooser = true;
  const auto before = drawnBy(window->logFontFor(program->displayFont()));
  ASSERT_FALSE(std::get<0>(before).empty());
  send(WM_COMMAND, CMD_FONT);
  EXPECT_EQ(dialogs.fontChooserFace, std::get<0>(before));
  EXPECT_EQ(drawnBy(window->logFontFor(program->displayFont())), before);
}

}  // namespace
}  // namespace morva::testing
