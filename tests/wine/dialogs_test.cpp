// The desktop program's window on Windows, in process: its menus as USER32 builds them, the
// records its boxes and choosers are given, the GDI canvas, and the main window and message
// loop driving a Program over a scripted port. Needs a display (run.sh gives it one).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

#include "app/commands.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/gdi_canvas.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/menu_bar.h"
#include "frontends/win32/message_loop.h"
#include "platform/win32/file_service.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/files.h"
#include "tests/support/quiet_console.h"
#include "tests/support/recording_operator.h"
#include "tests/support/requests.h"
#include "transfer/frames.h"

namespace morva::testing {
namespace {

using namespace std::chrono_literals;
using win32::ChosenFont;
using win32::MainWindow;

std::string menuText(HMENU menu, int position) {
  char text[256] = {};
  GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
  return text;
}

UINT menuState(HMENU menu, int position) {
  return GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
}

// --- menus ----------------------------------------------------------------------------------

TEST(MenuBarTest, MirrorsTheModelItemByItem) {
  const MenuTree tree = buildMenuTree({"COM1", "COM3"});
  auto handles = win32::buildMenuBar(tree);
  ASSERT_TRUE(handles.has_value());
  ASSERT_EQ(GetMenuItemCount(handles->bar), 3);
  for (int b = 0; b < 3; ++b) {
    const MenuItem& entry = tree.bar.items[static_cast<std::size_t>(b)];
    EXPECT_EQ(menuText(handles->bar, b), entry.text);
    HMENU popup = GetSubMenu(handles->bar, b);
    ASSERT_EQ(popup, handles->handle(entry.popup));
    const Menu& model = tree.menu(entry.popup);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(model.items.size())) << entry.text;
    for (std::size_t p = 0; p < model.items.size(); ++p) {
      SCOPED_TRACE(entry.text + " position " + std::to_string(p));
      const MenuItem& item = model.items[p];
      const int position = static_cast<int>(p);
      const UINT state = menuState(popup, position);
      EXPECT_EQ((state & MF_SEPARATOR) != 0, item.type == MenuItem::Type::Separator);
      if (item.type == MenuItem::Type::Separator) continue;  // some systems call them grayed
      EXPECT_EQ((state & MF_GRAYED) != 0, item.grayed);
      EXPECT_EQ((state & MF_CHECKED) != 0, item.checked);
      EXPECT_EQ(menuText(popup, position), item.text);
      if (item.type == MenuItem::Type::Command)
        EXPECT_EQ(GetMenuItemID(popup, position), static_cast<UINT>(item.command));
      else
        EXPECT_EQ(GetSubMenu(popup, position), handles->choice);
    }
  }
  ASSERT_EQ(GetMenuItemCount(handles->choice), 3);
  EXPECT_EQ(menuText(handles->choice, 0), "&Write to Vk350");
  EXPECT_EQ(GetMenuItemID(handles->choice, 2), static_cast<UINT>(CMD_VERIFY));
  EXPECT_EQ(menuText(handles->port, 2), "COM3");
  EXPECT_EQ(GetMenuItemID(handles->port, 2), static_cast<UINT>(CMD_PORT_FIRST + 1));
  win32::destroyMenuBar(*handles);
  EXPECT_EQ(handles->bar, nullptr);
}

TEST(MenuBarTest, KnowsItsOwnMenusOnly) {
  auto handles = win32::buildMenuBar(buildMenuTree({"COM1"}));
  ASSERT_TRUE(handles.has_value());
  for (MenuId id : {MenuId::Bar, MenuId::Action, MenuId::Port, MenuId::Help, MenuId::Choice})
    EXPECT_EQ(handles->idOf(handles->handle(id)), id);
  HMENU stranger = CreatePopupMenu();
  EXPECT_EQ(handles->idOf(stranger), std::nullopt);
  EXPECT_EQ(handles->idOf(nullptr), std::nullopt);
  DestroyMenu(stranger);
  HMENU choice = handles->choice;
  win32::destroyMenuBar(*handles);
  EXPECT_FALSE(IsMenu(choice));  // it went with the bar that held it
}

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

// --- the GDI canvas ---------------------------------------------------------------------------

// A 32-bit memory surface whose pixels the test can read.
class Surface {
 public:
  Surface(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    previous_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~Surface() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  COLORREF pixel(int x, int y) const {
    GdiFlush();
    const auto value = static_cast<const std::uint32_t*>(bits_)[y * width_ + x];
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
  }
  int count(COLORREF colour, const RECT& area) const {
    int n = 0;
    for (int y = area.top; y < area.bottom && y < height_; ++y)
      for (int x = area.left; x < area.right && x < width_; ++x) n += pixel(x, y) == colour;
    return n;
  }

 private:
  int width_;
  int height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  void* bits_ = nullptr;
};

constexpr COLORREF white = RGB(255, 255, 255);
constexpr COLORREF red = RGB(200, 0, 0);
constexpr COLORREF firmwareColour = RGB(255, 64, 96);

// A screen bitmap holding what `source` (of `size` pixels square) shows.
HBITMAP pictureOf(const Surface& source, int size) {
  HDC screen = GetDC(nullptr);
  HBITMAP picture = CreateCompatibleBitmap(screen, size, size);
  ReleaseDC(nullptr, screen);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, picture);
  BitBlt(dc, 0, 0, size, size, source.dc(), 0, 0, SRCCOPY);
  SelectObject(dc, previous);
  DeleteDC(dc);
  return picture;
}

// A 2 by 2 picture, one colour.
HBITMAP solidPicture(COLORREF colour) {
  return pictureOf(Surface(2, 2, colour), 2);
}

LOGFONTA plainResolver(const FontSpec& fontSpec) {
  return win32::logFontOf(fontSpec, 96);
}

TEST(GdiCanvasTest, PictureIsStretchedOverTheWholeTarget) {
  Surface surface(200, 100, white);
  HBITMAP picture = solidPicture(red);
  {
    win32::GdiCanvas canvas(surface.dc(), picture, plainResolver);
    canvas.drawImage({0, 0, 150, 100});
  }
  EXPECT_EQ(surface.pixel(0, 0), red);
  EXPECT_EQ(surface.pixel(149, 99), red);
  EXPECT_EQ(surface.pixel(150, 50), white);
  DeleteObject(picture);

  Surface bare(20, 20, white);
  win32::GdiCanvas noPicture(bare.dc(), nullptr, plainResolver);
  noPicture.drawImage({0, 0, 20, 20});
  EXPECT_EQ(bare.pixel(10, 10), white);
}

// A picture shrunk into a smaller window keeps its colours: red and blue stripes one pixel
// wide, stretched to half their width, come out as their blend (Windows) or one of the two
// (Wine), never merged into the black of the default stretch mode.
TEST(GdiCanvasTest, AShrunkPictureKeepsItsColours) {
  Surface stripes(8, 8, red);
  for (int x = 1; x < 8; x += 2) {
    RECT column{x, 0, x + 1, 8};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 200));
    FillRect(stripes.dc(), &column, blue);
    DeleteObject(blue);
  }
  HBITMAP picture = pictureOf(stripes, 8);
  Surface surface(4, 4, white);
  {
    win32::GdiCanvas canvas(surface.dc(), picture, plainResolver);
    canvas.drawImage({0, 0, 4, 4});
  }
  DeleteObject(picture);
  for (int x = 0; x < 4; ++x) {
    const COLORREF pixel = surface.pixel(x, 2);
    EXPECT_GE(GetRValue(pixel) + GetBValue(pixel), 180) << x;
  }
  EXPECT_EQ(GetStretchBltMode(surface.dc()), BLACKONWHITE);  // the context's own mode is back
}

TEST(GdiCanvasTest, TextIsDrawnInItsColourWithoutABox) {
  Surface surface(300, 60, red);
  HGDIOBJ ownFont = GetCurrentObject(surface.dc(), OBJ_FONT);
  TextMetrics metrics;
  {
    win32::GdiCanvas canvas(surface.dc(), nullptr, plainResolver);
    canvas.setFont(FontSpec{});
    metrics = canvas.textMetrics();
    TEXTMETRICA selected{};
    GetTextMetricsA(surface.dc(), &selected);
    EXPECT_EQ(metrics, (TextMetrics{selected.tmHeight, selected.tmAveCharWidth}));
    canvas.setTextColor({255, 64, 96});
    canvas.drawText(5, 5, "Firmware version : N/A | N/A");
  }
  ASSERT_GT(metrics.height, 0);
  ASSERT_GT(metrics.averageCharWidth, 0);
  const RECT line{5, 5, 5 + 28 * metrics.averageCharWidth, 5 + metrics.height};
  EXPECT_GT(surface.count(firmwareColour, line), 20);
  EXPECT_EQ(surface.count(white, line), 0);  // no opaque background behind the letters
  EXPECT_GT(surface.count(red, line), 0);
  EXPECT_EQ(surface.count(firmwareColour, RECT{0, line.bottom, 300, 60}), 0);
  EXPECT_EQ(GetCurrentObject(surface.dc(), OBJ_FONT), ownFont);  // the canvas put it back
}

// --- the main window and the loop over a scripted device -----------------------------------

// A visible dialog-class window with this caption, looked for every 20 ms for up to `ms`.
HWND waitForDialog(const std::string& caption, HWND owner = nullptr, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 20) {
    HWND found = FindWindowA("#32770", caption.c_str());
    if (found != nullptr && IsWindowVisible(found) &&
        (owner == nullptr || GetWindow(found, GW_OWNER) == owner))
      return found;
    Sleep(20);
  }
  return nullptr;
}

void pressButton(HWND dialog, int button) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

// Works the real file dialog titled `title` from another thread, as a person would: `name`
// typed into its name field, then Open. Should the dialog refuse the name with a box of its
// own, the box is answered and the dialog cancelled; its text comes back.
std::string typeIntoFileDialog(const std::string& title, const std::string& name) {
  constexpr int nameCombo = 0x47C, nameEdit = 0x480;  // cmb13, and edt1 in the older layout
  HWND dialog = waitForDialog(title);
  if (dialog == nullptr) return "no dialog";
  if (!SetDlgItemTextA(dialog, nameCombo, name.c_str()))
    SetDlgItemTextA(dialog, nameEdit, name.c_str());
  pressButton(dialog, IDOK);
  for (int waited = 0; IsWindow(dialog) && waited < 10000; waited += 20) {
    for (HWND box = GetWindow(GetDesktopWindow(), GW_CHILD); box != nullptr;
         box = GetWindow(box, GW_HWNDNEXT)) {
      if (GetWindow(box, GW_OWNER) != dialog || !IsWindowVisible(box)) continue;
      char text[512] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      pressButton(box, IDOK);
      Sleep(100);
      pressButton(dialog, IDCANCEL);
      return text;
    }
    Sleep(20);
  }
  return {};
}

class ScriptedDialogs : public win32::Dialogs {
 public:
  struct Shown {
    Message message;
    HWND owner;
  };
  std::vector<Shown> shown;
  std::deque<Answer> answers;  // for questions; the default button when empty
  std::deque<std::optional<FileChoice>> files;
  std::vector<FileRequest> fileRequests;
  std::deque<std::optional<ChosenFont>> fonts;
  std::vector<LOGFONTA> fontRequests;
  std::function<void(const Message&)> onMessage;  // runs while the "box" is up

  Answer showMessage(HWND owner, const Message& message) override {
    shown.push_back({message, owner});
    if (onMessage) onMessage(message);
    return scriptedAnswer(message, answers);
  }
  // When set, the real file dialog is shown, and this name typed into it.
  std::optional<std::string> typeIntoRealChooser;
  std::string chooserSaid;  // the real dialog's own box, if it refused the name

  std::optional<FileChoice> chooseFile(HWND owner, const FileRequest& request) override {
    fileRequests.push_back(request);
    if (!typeIntoRealChooser) return nextOf(files);
    std::thread person(
        [&] { chooserSaid = typeIntoFileDialog(request.title, *typeIntoRealChooser); });
    auto choice = win32::Win32Dialogs().chooseFile(owner, request);
    person.join();
    return choice;
  }
  // When set, the real font chooser is shown and accepted as it opens; what its face field
  // showed is kept.
  bool acceptRealFontChooser = false;
  std::string fontChooserFace;

  std::optional<ChosenFont> chooseFont(HWND owner, const LOGFONTA& current) override {
    fontRequests.push_back(current);
    if (!acceptRealFontChooser) return nextOf(fonts);
    std::thread person([&] {
      constexpr int faceCombo = 0x470;  // cmb1
      HWND dialog = waitForDialog("Font", owner);
      if (dialog == nullptr) return;
      char face[LF_FACESIZE] = {};
      GetDlgItemTextA(dialog, faceCombo, face, sizeof face);
      fontChooserFace = face;
      pressButton(dialog, IDOK);
    });
    auto chosen = win32::Win32Dialogs().chooseFont(owner, current);
    person.join();
    return chosen;
  }
  bool openHelp(HWND, const std::string&) override { return false; }
};

// A port whose pending operations name a deadline just ahead, so that the loop's waits on it
// end at once.
class PromptPort : public FakeSerialPort {
 public:
  WaitHint waitHint() const override {
    return hasOutstanding() ? WaitHint{-1, Clock::now() + 1ms} : WaitHint{};
  }
};

// Takes every message off the thread's queue (a WM_QUIT left by a destroyed window too).
void drainQueue() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// What a thread timer calls: the test's condition, through this one slot.
std::function<void()>& timerAction() {
  thread_local std::function<void()> action;
  return action;
}
void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (timerAction()) timerAction()();
}

class DesktopTest : public ::testing::Test {
 protected:
  PromptPort port;
  Win32FileService files;
  ListedPorts lister;
  ScriptedDialogs dialogs;
  std::optional<MainWindow> window;
  std::optional<Program> program;
  std::vector<std::vector<std::uint8_t>> dataFrames;  // what the device stored, in order
  ScratchDir folder;     // of this run's own: another run's tests may share the temporary folder
  int pendingPolls = 1;  // how often each operation of the device answers Pending first
  // The device refuses the frame it gets as the n-th (once), when set.
  std::optional<std::size_t> refuseFrame;

  void SetUp() override {
    static const bool registered = win32::registerMainWindowClass(GetModuleHandleA(nullptr));
    ASSERT_TRUE(registered);
    drainQueue();
    ASSERT_FALSE(folder.path().empty());
    // The device answers on COM1 only: identification, an ACK for every command and frame.
    port.device = [this](const Operation& op) {
      if (!op.isRead) {
        if (op.size == dataFrameSize) dataFrames.push_back(op.written);
        return Reply::written(pendingPolls);
      }
      if (port.name() != "COM1") return Reply::bytes({});
      if (op.size == identificationSize) return Reply::bytes(deviceIdentification, pendingPolls);
      if (refuseFrame && dataFrames.size() == *refuseFrame) {
        refuseFrame.reset();
        return Reply::bytes({NAK}, pendingPolls);
      }
      return Reply::bytes({ACK}, pendingPolls);
    };
  }
  void TearDown() override {
    program.reset();
    window.reset();
    drainQueue();
  }

  int start(std::vector<std::string> ports = {"COM1", "COM2"}) {
    lister.names = std::move(ports);
    window.emplace(GetModuleHandleA(nullptr), dialogs, nullptr, SW_SHOWNOACTIVATE);
    ProgramOptions options;
    options.files = &files;
    program.emplace(*window, port, lister, options);
    window->attach(*program);
    return program->start();
  }
  HWND handle() { return window->handle(); }
  LRESULT send(UINT message, WPARAM wParam, LPARAM lParam = 0) {
    return SendMessageA(handle(), message, wParam, lParam);
  }
  HMENU action() { return GetSubMenu(GetMenu(handle()), 0); }
  HMENU ports() { return GetSubMenu(GetMenu(handle()), 1); }

  std::string imageFile(const char* name, std::size_t size) {
    return writeFile(folder / name, Bytes(size, 0x5A));
  }

  // Runs the message loop until `done` holds, looking every 5 ms; a hang guard ends it after
  // `limit`. The loop's exit code: 0 when done, 1 when the guard ended it.
  int loopUntil(const std::function<bool()>& done, win32::LoopCounts* counts = nullptr,
                std::chrono::milliseconds limit = 300s) {
    const auto until = Clock::now() + limit;
    timerAction() = [&] {
      if (done())
        PostQuitMessage(0);
      else if (Clock::now() > until)
        PostQuitMessage(1);
    };
    const UINT_PTR timer = SetTimer(nullptr, 0, 5, onTimer);
    const int status = win32::runMessageLoop(*window, *program, counts);
    KillTimer(nullptr, timer);
    timerAction() = nullptr;
    return status;
  }
};

TEST_F(DesktopTest, StartUpShowsTheWindowWithItsMenusAndTicksThePortFound) {
  ASSERT_EQ(start(), 0);
  ASSERT_NE(handle(), nullptr);
  EXPECT_TRUE(IsWindowVisible(handle()));
  char title[100] = {};
  GetWindowTextA(handle(), title, sizeof title);
  EXPECT_STREQ(title, "Vk350 Morva communication program");
  char className[100] = {};
  GetClassNameA(handle(), className, sizeof className);
  EXPECT_STREQ(className, "Morva<->PC");
  EXPECT_EQ(GetMenu(handle()), window->menus().bar);
  EXPECT_TRUE(menuState(ports(), 1) & MF_CHECKED);
  EXPECT_FALSE(menuState(ports(), 2) & MF_CHECKED);
  EXPECT_TRUE(menuState(action(), 0) & MF_GRAYED);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DesktopTest, NoPortShowsOnlyAnUnownedBoxAndNoWindow) {
  EXPECT_EQ(start({}), exitNoPort);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].message.text, "No serial port available !");
  EXPECT_EQ(dialogs.shown[0].owner, nullptr);
  EXPECT_EQ(handle(), nullptr);
}

TEST_F(DesktopTest, NotFoundBoxIsOwnedByTheShownWindow) {
  bool visibleAtBox = false;
  dialogs.onMessage = [&](const Message&) { visibleAtBox = IsWindowVisible(handle()); };
  ASSERT_EQ(start({"COM2"}), 0);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].message.caption, "A problem :");
  EXPECT_EQ(dialogs.shown[0].owner, handle());
  EXPECT_TRUE(visibleAtBox);
}

TEST_F(DesktopTest, OnlyTheKindEntriesOfTheActionPopupChooseTheKind) {
  ASSERT_EQ(start(), 0);
  auto highlight = [&](HMENU menu, int item, UINT flags) {
    return send(WM_MENUSELECT, MAKEWPARAM(item, flags), reinterpret_cast<LPARAM>(menu));
  };
  EXPECT_EQ(highlight(action(), 3, MF_POPUP | MF_HILITE), 0);
  EXPECT_EQ(program->state().dataKind, DataKind::FixtureLibraries);
  highlight(window->menus().choice, 4, MF_HILITE);  // not an entry of the Action popup
  highlight(action(), CMD_STOP, MF_HILITE);
  highlight(GetMenu(handle()), 2, MF_POPUP | MF_HILITE);
  EXPECT_EQ(program->state().dataKind, DataKind::FixtureLibraries);
  highlight(action(), 4, MF_POPUP | MF_HILITE);
  EXPECT_EQ(program->state().dataKind, DataKind::UserData);
  highlight(action(), 2, MF_POPUP | MF_HILITE);
  EXPECT_EQ(program->state().dataKind, DataKind::FirmwareUpgrade);
}

TEST_F(DesktopTest, ATransferCommandAsksForAFileAndEnablesRepeat) {
  ASSERT_EQ(start(), 0);
  send(WM_MENUSELECT, MAKEWPARAM(4, MF_POPUP | MF_HILITE), reinterpret_cast<LPARAM>(action()));
  EXPECT_EQ(send(WM_COMMAND, CMD_READ), 0);  // the chooser is cancelled
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].title, "Choose file to write into :");
  EXPECT_EQ(dialogs.fileRequests[0].filterPattern, "*.usr;*.bin");
  EXPECT_FALSE(menuState(action(), 0) & MF_GRAYED);
}

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

TEST_F(DesktopTest, PortCommandsMoveTheTick) {
  ASSERT_EQ(start(), 0);
  send(WM_COMMAND, CMD_PORT_FIRST + 1);
  EXPECT_FALSE(menuState(ports(), 1) & MF_CHECKED);
  EXPECT_TRUE(menuState(ports(), 2) & MF_CHECKED);
  port.unopenable = {"COM1"};
  send(WM_COMMAND, CMD_PORT_FIRST);
  EXPECT_FALSE(menuState(ports(), 1) & MF_CHECKED);
  EXPECT_FALSE(menuState(ports(), 2) & MF_CHECKED);
  ASSERT_FALSE(dialogs.shown.empty());
  EXPECT_EQ(dialogs.shown.back().message.text, "Port open error !");
  EXPECT_EQ(dialogs.shown.back().owner, handle());
}

TEST_F(DesktopTest, EscapeStopsTheTransferAndOtherCharactersOnlyRepaint) {
  ASSERT_EQ(start(), 0);
  dialogs.files.push_back(FileChoice{imageFile("image.upg", 1024), false});
  send(WM_COMMAND, CMD_VERIFY);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  ValidateRect(handle(), nullptr);
  send(WM_CHAR, 'a');
  EXPECT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  EXPECT_TRUE(GetUpdateRect(handle(), nullptr, FALSE));
  send(WM_CHAR, escapeCharacter);
  EXPECT_EQ(program->state().transferStep, TransferStep::Idle);
  EXPECT_EQ(program->state().outcome, SessionOutcome::Stopped);
}

TEST_F(DesktopTest, PaintPlacesTheLineBandsByTheFontAndTheEngineRepaintsThem) {
  ASSERT_EQ(start(), 0);
  InvalidateRect(handle(), nullptr, TRUE);
  UpdateWindow(handle());
  HDC screen = GetDC(handle());
  const LOGFONTA description = window->logFontFor(program->displayFont());
  HFONT font = CreateFontIndirectA(&description);
  HGDIOBJ previous = SelectObject(screen, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(screen, &metrics);
  SelectObject(screen, previous);
  DeleteObject(font);
  ReleaseDC(handle(), screen);
  const int h = metrics.tmHeight;
  const int w = metrics.tmAveCharWidth;
  ASSERT_GT(h, 0);
  EXPECT_EQ(window->lineRects().statusLineRect, (Rect{10, 3 * h + 4, 42 * w + 4, 4 * h + 4}));
  EXPECT_EQ(window->lineRects().blockLineRect, (Rect{10, h + 4, 42 * w + 4, 3 * h + 4}));

  window->invalidate(Area::StatusLine, true);
  RECT update{};
  ASSERT_TRUE(GetUpdateRect(handle(), &update, FALSE));
  EXPECT_EQ((Rect{update.left, update.top, update.right, update.bottom}),
            window->lineRects().statusLineRect);
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

TEST_F(DesktopTest, AnIdleLoopPostsNoStepAndSleeps) {
  ASSERT_EQ(start(), 0);
  win32::LoopCounts counts;
  const auto until = Clock::now() + 200ms;
  EXPECT_EQ(loopUntil([&] { return Clock::now() > until; }, &counts), 0);
  EXPECT_EQ(counts.stepsPosted, 0);
  // One wake for each timer tick and paint, give or take; a spinning loop wakes millions.
  EXPECT_LT(counts.waits, 200);
}

TEST_F(DesktopTest, TheLoopCarriesAWriteToItsEndWaitingOnThePort) {
  ASSERT_EQ(start(), 0);
  const std::string image = imageFile("image.upg", 512 * 256);
  dialogs.files.push_back(FileChoice{image, false});
  send(WM_COMMAND, CMD_WRITE);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  win32::LoopCounts counts;
  const int status =
      loopUntil([&] { return program->state().outcome != SessionOutcome::Running; }, &counts);
  ASSERT_EQ(status, 0) << "the session did not end";
  EXPECT_EQ(program->state().outcome, SessionOutcome::Completed);
  ASSERT_EQ(dataFrames.size(), 512u);
  EXPECT_EQ(dataFrames[511][0], 0x5A);
  // Every operation was pending once: the loop slept on the port instead of posting again.
  EXPECT_GT(counts.portWakes, 1000);
  EXPECT_GE(counts.waits, counts.portWakes);
  EXPECT_GT(counts.stepsPosted, 2000);
  EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DesktopTest, AStepThatArrivesWhileABoxIsUpIsDroppedAndPostedAgainLater) {
  ASSERT_EQ(start(), 0);
  // The WakeUp is sent at once: a step 1 that ran would start reading the identification.
  pendingPolls = 0;
  dialogs.files.push_back(FileChoice{imageFile("image.upg", 512 * 256), false});
  send(WM_COMMAND, CMD_VERIFY);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  const auto step = program->stepToPost(false);
  ASSERT_TRUE(step.has_value());
  PostMessageA(handle(), WM_USER, static_cast<WPARAM>(*step), 0);
  std::size_t operationsDuringBox = 0;
  dialogs.onMessage = [&](const Message&) {
    const std::size_t before = port.operations.size();
    drainQueue();  // the box's own message loop
    operationsDuringBox = port.operations.size() - before;
  };
  Message about;
  about.text = "A box";
  window->showMessage(about);
  dialogs.onMessage = nullptr;
  EXPECT_EQ(operationsDuringBox, 0u);
  EXPECT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  // Once the box has gone, the loop posts the step again: the session reads on. Its first
  // operation is the one looked at; the loop may have run further steps before it stopped.
  const std::size_t operations = port.operations.size();
  ASSERT_EQ(loopUntil([&] { return port.operations.size() > operations; }), 0);
  EXPECT_TRUE(port.operations[operations].isRead);
}

BOOL CALLBACK countOpenMenu(HWND window, LPARAM count) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (IsWindowVisible(window) && std::string(name) == "#32768") ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// Open menus show as visible windows of the menu class.
int openMenus() {
  int count = 0;
  EnumWindows(countOpenMenu, reinterpret_cast<LPARAM>(&count));
  return count;
}

// With the Action menu open the write goes on to the frame the device refuses; the failure's
// box waits until the menu has closed.
TEST_F(DesktopTest, WithAMenuOpenTheTransferGoesOnAndItsBoxWaitsForTheMenuToClose) {
  ASSERT_EQ(start(), 0);
  refuseFrame = 30;
  dialogs.files.push_back(FileChoice{imageFile("image.upg", 512 * 256), false});
  send(WM_COMMAND, CMD_WRITE);
  ASSERT_EQ(program->state().transferStep, TransferStep::AwaitWakeUpSent);
  int menusAtEnd = 0;
  std::size_t boxesAtEnd = 1;
  const auto until = Clock::now() + 30s;
  // Runs inside the menu's own loop: once the session has ended (or a guard ran out), notes
  // what stands and closes the menu.
  timerAction() = [&] {
    if (program->state().outcome == SessionOutcome::Running && Clock::now() < until) return;
    menusAtEnd = openMenus();
    boxesAtEnd = dialogs.shown.size();
    EndMenu();
  };
  const UINT_PTR timer = SetTimer(nullptr, 0, 5, onTimer);
  SendMessageA(handle(), WM_SYSCOMMAND, SC_KEYMENU, 'a');  // returns once the menu has closed
  KillTimer(nullptr, timer);
  timerAction() = nullptr;
  EXPECT_EQ(program->state().outcome, SessionOutcome::Failed);
  EXPECT_EQ(dataFrames.size(), 30u);
  EXPECT_GT(menusAtEnd, 0) << "the menu had closed before the session ended";
  EXPECT_EQ(boxesAtEnd, 0u) << "a box came over the open menu";
  drainQueue();
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].message.text, "Transmission error : got NAK");
  EXPECT_EQ(dialogs.shown[0].owner, handle());
}

TEST_F(DesktopTest, ExitEndsTheLoopWithStatusZeroAndTheWindowGone) {
  ASSERT_EQ(start(), 0);
  PostMessageA(handle(), WM_COMMAND, CMD_EXIT, 0);
  EXPECT_EQ(win32::runMessageLoop(*window, *program), 0);
  EXPECT_EQ(handle(), nullptr);
  EXPECT_EQ(window->menus().bar, nullptr);
}

TEST(MessageLoopTest, WaitsAreWholeMillisecondsUpToAQuarterSecond) {
  const auto now = Clock::now();
  EXPECT_EQ(win32::waitMilliseconds(now - 5ms, now), 0u);
  EXPECT_EQ(win32::waitMilliseconds(now, now), 0u);
  EXPECT_EQ(win32::waitMilliseconds(now + 1200us, now), 2u);
  EXPECT_EQ(win32::waitMilliseconds(now + 40ms, now), 40u);
  EXPECT_EQ(win32::waitMilliseconds(now + 10s, now), 250u);
  EXPECT_EQ(win32::waitMilliseconds(Clock::time_point::max(), now), 250u);
}

}  // namespace
}  // namespace morva::testing
