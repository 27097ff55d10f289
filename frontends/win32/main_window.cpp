#include "frontends/win32/main_window.h"

#include "display/paint.h"
#include "frontends/win32/gdi_canvas.h"

namespace morva::win32 {

namespace {

MainWindow* ownerOf(HWND window) {
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

RECT winRect(const Rect& r) {
  return RECT{r.left, r.top, r.right, r.bottom};
}

// The Action popup and the Port popup, found in the bar by their places as the commands know
// them.
constexpr int actionPopupPosition = 0;
constexpr int portPopupPosition = 1;

}  // namespace

bool registerMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(WNDCLASSEXA);
  windowClass.style = CS_VREDRAW | CS_HREDRAW;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(classIconResource));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = CreateSolidBrush(windowBackground);
  windowClass.lpszClassName = mainWindowClass;
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(smallIconResource), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  if (RegisterClassExA(&windowClass) != 0) return true;
  if (windowClass.hbrBackground != nullptr) DeleteObject(windowClass.hbrBackground);
  return false;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      // The picture follows the outer size and the firmware line the width: all of it moves.
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_NCDESTROY:
      if (MainWindow* owner = ownerOf(window)) owner->windowGone();
      break;
    default:
      if (MainWindow* owner = ownerOf(window)) return owner->handleMessage(message, wParam, lParam);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

MainWindow::MainWindow(HINSTANCE instance, Dialogs& dialogs, HBITMAP picture, int showCommand)
    : instance_(instance), dialogs_(dialogs), picture_(picture), showCommand_(showCommand) {}

MainWindow::~MainWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
  destroyMenus();
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (program_ != nullptr) {
    switch (message) {
      case WM_PAINT:
        paint();
        return 0;
      case WM_CHAR:
        program_->character(LOWORD(wParam));
        return 0;
      case WM_COMMAND:
        if (program_->command(LOWORD(wParam))) return 0;
        break;
      case WM_MENUSELECT:
        // For a popup entry the low word is its position; for a command item, its number.
        if (const auto id = menus_.idOf(reinterpret_cast<HMENU>(lParam)))
          program_->menuSelect(*id, LOWORD(wParam));
        return 0;
      case WM_USER:
        // Message boxes and choosers dispatch the posted step too; the program drops it then.
        program_->runStep(static_cast<TransferStep>(LOWORD(wParam)), modalOpen());
        if (menuLoop_) postStepInMenu();
        return 0;
      case WM_ENTERMENULOOP:
        menuLoopEntered();
        return 0;
      case WM_EXITMENULOOP:
        menuLoopLeft();
        return 0;
      case WM_TIMER:
        if (wParam != menuStepTimer) break;
        // The menu's loop never waits on the port: the port is looked at again on each tick.
        program_->portReady();
        postStepInMenu();
        return 0;
      case owedBoxesMessage:
        if (!menuLoop_ && !modalOpen()) program_->showOwedBoxes();
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

void MainWindow::menuLoopEntered() {
  // An open menu runs a loop of its own, which posts no step: the transfer would stop. The
  // menu's loop dispatches what is posted and the timer's ticks, so each step posts the next
  // and a tick wakes a step that waits on the port.
  menuLoop_ = true;
  program_->menuShown(true);
  SetTimer(window_, menuStepTimer, USER_TIMER_MINIMUM, nullptr);
  postStepInMenu();
}

void MainWindow::menuLoopLeft() {
  menuLoop_ = false;
  KillTimer(window_, menuStepTimer);
  program_->menuShown(false);
  // After the menu's own handling, and after the command it chose (which shows them itself).
  PostMessageA(window_, owedBoxesMessage, 0, 0);
}

void MainWindow::postStepInMenu() {
  if (const auto step = program_->stepToPost(modalOpen()))
    PostMessageA(window_, WM_USER, static_cast<WPARAM>(stepNumber(*step)), 0);
}

void MainWindow::windowGone() {
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  window_ = nullptr;
  // A window takes its menu bar along when it is destroyed.
  menus_ = MenuHandles{};
}

Answer MainWindow::showMessage(const Message& message) {
  ModalScope modal(modalDepth_);
  return dialogs_.showMessage(message.owned ? window_ : nullptr, message);
}

std::optional<FileChoice> MainWindow::chooseFile(const FileRequest& request) {
  ModalScope modal(modalDepth_);
  return dialogs_.chooseFile(window_, request);
}

void MainWindow::invalidate(Area area, bool erase) {
  if (window_ == nullptr) return;
  RECT band{};
  switch (area) {
    case Area::Window:
      InvalidateRect(window_, nullptr, erase);
      return;
    case Area::BlockLine:
      band = winRect(rects_.blockLineRect);
      break;
    case Area::StatusLine:
      band = winRect(rects_.statusLineRect);
      break;
  }
  InvalidateRect(window_, &band, erase);
}

void MainWindow::setPortTick(int portIndex, bool ticked) {
  HMENU ports = GetSubMenu(menus_.bar, portPopupPosition);
  if (ports == nullptr) return;
  CheckMenuItem(ports, static_cast<UINT>(portItemPosition(portIndex)),
                MF_BYPOSITION | (ticked ? MF_CHECKED : MF_UNCHECKED));
}

void MainWindow::installMenus(const MenuTree& menus) {
  ctl3d_.registerProgram(instance_);
  destroyMenuBar(menus_);
  menus_ = buildMenuBar(menus).value_or(MenuHandles{});
}

void MainWindow::showWindow() {
  window_ = CreateWindowExA(0, mainWindowClass, mainWindowTitle,
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, nullptr);
  if (window_ == nullptr) throw WindowCreationFailed(GetLastError());
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetMenu(window_, menus_.bar);
  ShowWindow(window_, showCommand_);
}

void MainWindow::closeWindow() {
  if (window_ != nullptr) SendMessageA(window_, WM_CLOSE, 0, 0);
}

void MainWindow::setRepeatEnabled(bool enabled) {
  HMENU action = GetSubMenu(menus_.bar, actionPopupPosition);
  if (action == nullptr) return;
  EnableMenuItem(action, static_cast<UINT>(repeatPosition),
                 MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
}

std::optional<FontSpec> MainWindow::chooseFont(const FontSpec& current) {
  ModalScope modal(modalDepth_);
  const auto chosen = dialogs_.chooseFont(window_, logFontFor(current));
  if (!chosen) return std::nullopt;
  FontSpec fontSpec = fontSpecOf(*chosen);
  chosenFont_.emplace(fontSpec, chosen->font);
  return fontSpec;
}

bool MainWindow::openHelp(const std::string& path) {
  // The shell may ask the operator something before it gives up.
  ModalScope modal(modalDepth_);
  return dialogs_.openHelp(window_, path);
}

LOGFONTA MainWindow::logFontFor(const FontSpec& fontSpec) const {
  if (chosenFont_ && chosenFont_->first == fontSpec) return chosenFont_->second;
  return logFontOf(fontSpec, screenDotsPerInch());
}

void MainWindow::paint() {
  // The outer size: the picture is stretched over the whole window, frame and menu bar
  // included, and what does not fit the client area is clipped.
  RECT outer{};
  GetWindowRect(window_, &outer);
  RECT client{};
  GetClientRect(window_, &client);
  PAINTSTRUCT paintStruct{};
  HDC dc = BeginPaint(window_, &paintStruct);
  if (dc != nullptr) {
    GdiCanvas canvas(dc, picture_,
                     [this](const FontSpec& fontSpec) { return logFontFor(fontSpec); });
    const WindowGeometry geometry{outer.right - outer.left, outer.bottom - outer.top,
                                  client.right - client.left};
    paintMainWindow(canvas, program_->state(), geometry,
                    DisplaySettings{program_->displayFont(), picture_ != nullptr}, rects_);
  }
  EndPaint(window_, &paintStruct);
  UpdateWindow(window_);
}

}  // namespace morva::win32
