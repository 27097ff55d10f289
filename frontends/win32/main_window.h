// The main window on Windows: its class and window procedure, the menu bar built from the
// menu model, the painted client area, and the desktop services the program asks for (boxes
// and choosers through Dialogs).
#pragma once

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <utility>

#include "app/desktop.h"
#include "app/program.h"
#include "display/layout.h"
#include "frontends/win32/ctl3d.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/menu_bar.h"

namespace morva::win32 {

inline constexpr const char* mainWindowClass = "Morva<->PC";
inline constexpr const char* mainWindowTitle = "Vk350 Morva communication program";
// Shows wherever no picture is drawn: RGB(241, 245, 247).
inline constexpr COLORREF windowBackground = 16250353;

// The program's resources: the class icon, the small icon and the background picture.
inline constexpr int classIconResource = 2;
inline constexpr int smallIconResource = 3;
inline constexpr int pictureResource = 4;

// The timer that drives the transfer while a menu is open, and the message that shows the
// boxes put off meanwhile.
inline constexpr UINT_PTR menuStepTimer = 1;
inline constexpr UINT owedBoxesMessage = WM_APP + 1;

// Registers the main window's class: redrawn whole on every size change, MainWndProc, the
// program's icons, the arrow cursor and the background colour. False when Windows refuses.
bool registerMainWindowClass(HINSTANCE instance);

// Dispatches the main window's messages: creation, destruction (which ends the message loop)
// and resizing here, the rest to the MainWindow that owns the window.
LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// CreateWindowExA gave no window; `error` is GetLastError() after it.
class WindowCreationFailed : public std::runtime_error {
 public:
  explicit WindowCreationFailed(DWORD error)
      : std::runtime_error("the main window could not be created"), error(error) {}
  const DWORD error;
};

class MainWindow final : public Desktop {
 public:
  // The window itself is created by showWindow(), after the menus. `picture` may be null.
  MainWindow(HINSTANCE instance, Dialogs& dialogs, HBITMAP picture, int showCommand);
  // Destroys what is left: the window, then the menus.
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The program the window's menus, keys, paints and steps go to.
  void attach(Program& program) { program_ = &program; }

  HWND handle() const { return window_; }
  const MenuHandles& menus() const { return menus_; }
  // The bands the transfer engine asks to repaint, as the last paint placed them.
  const LineRects& lineRects() const { return rects_; }
  // True while a message box or a chooser runs its own message loop.
  bool modalOpen() const { return modalDepth_ > 0; }

  // The window procedure's share: painting, keys, commands, menu highlights and steps.
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The window is going: nothing more is done with its handle or its menus.
  void windowGone();
  // Shutdown's first step: the menu bar goes, if the window did not take it along.
  void destroyMenus() { destroyMenuBar(menus_); }

  Answer showMessage(const Message& message) override;
  std::optional<FileChoice> chooseFile(const FileRequest& request) override;
  void invalidate(Area area, bool erase) override;
  void setPortTick(int portIndex, bool ticked) override;
  // Also registers the program with the 3-D control library, where there is one.
  void installMenus(const MenuTree& menus) override;
  // CreateWindowExA, SetMenu, ShowWindow. Throws WindowCreationFailed when there is no
  // window: nothing could be shown or asked without one.
  void showWindow() override;
  void closeWindow() override;
  void setRepeatEnabled(bool enabled) override;
  std::optional<FontSpec> chooseFont(const FontSpec& current) override;
  bool openHelp(const std::string& path) override;

  // The description GDI gets for `font`: exactly what the font chooser gave back when the font
  // came from it (its character set included), else one made by logFontOf.
  LOGFONTA logFontFor(const FontSpec& font) const;

 private:
  // Counts a modal loop for as long as it runs.
  class ModalScope {
   public:
    explicit ModalScope(int& depth) : depth_(depth) { ++depth_; }
    ~ModalScope() { --depth_; }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

   private:
    int& depth_;
  };

  void paint();
  void menuLoopEntered();
  void menuLoopLeft();
  // Posts the next step, if any, into the menu's loop.
  void postStepInMenu();

  Ctl3d ctl3d_;
  HINSTANCE instance_;
  Dialogs& dialogs_;
  HBITMAP picture_;
  int showCommand_;
  Program* program_ = nullptr;
  HWND window_ = nullptr;
  MenuHandles menus_;
  LineRects rects_;
  int modalDepth_ = 0;
  bool menuLoop_ = false;  // a menu of the window runs its loop
  std::optional<std::pair<FontSpec, LOGFONTA>> chosenFont_;
};

}  // namespace morva::win32
