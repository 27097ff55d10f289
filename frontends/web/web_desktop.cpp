#include "frontends/web/web_desktop.h"

#include <emscripten.h>

#include <cstdlib>

#include "frontends/web/json.h"
#include "platform/web/browser.h"
#include "transfer/engine.h"
#include "transfer/kinds.h"

// clang-format off
EM_ASYNC_JS(int, morva_ui_message, (const char* json), {
  return await morvaHost.ui.message(JSON.parse(UTF8ToString(json)));
});
EM_ASYNC_JS(char*, morva_ui_choose_file, (const char* json), {
  const name = await morvaHost.ui.chooseFile(JSON.parse(UTF8ToString(json)));
  return name === null ? 0 : morvaHost.text(name);
});
EM_ASYNC_JS(char*, morva_ui_choose_font, (const char* json), {
  const font = await morvaHost.ui.chooseFont(JSON.parse(UTF8ToString(json)));
  return font === null ? 0 : morvaHost.text([font.face, font.pixelSize, font.weight, font.italic ? 1 : 0].join("\n"));
});
EM_JS(void, morva_ui_invalidate, (int left, int top, int right, int bottom, int erase), {
  morvaHost.ui.invalidate(left, top, right, bottom, erase != 0);
});
EM_JS(void, morva_ui_session_ended, (int outcome), { morvaHost.ui.sessionEnded(outcome); });
EM_JS(void, morva_ui_port_tick, (int index, int ticked), { morvaHost.ui.setPortTick(index, ticked != 0); });
EM_JS(void, morva_ui_menus, (const char* json), { morvaHost.ui.installMenus(JSON.parse(UTF8ToString(json))); });
EM_JS(void, morva_ui_show, (), { morvaHost.ui.showWindow(); });
EM_JS(void, morva_ui_repeat, (int enabled), { morvaHost.ui.setRepeatEnabled(enabled != 0); });
EM_JS(int, morva_ui_help, (), { return morvaHost.ui.openHelp() ? 1 : 0; });
// clang-format on

namespace morva::web {
namespace {

const char* iconName(Icon icon) {
  switch (icon) {
    case Icon::Warning:
      return "warning";
    case Icon::Error:
      return "error";
    case Icon::Information:
      return "information";
    case Icon::Question:
      return "question";
  }
  return "warning";
}

std::string field(const char* name, const std::string& json) {
  return std::string("\"") + name + "\":" + json;
}

std::string menuJson(const Menu& menu) {
  std::string items;
  for (const MenuItem& item : menu.items) {
    const char* type = item.type == MenuItem::Type::Separator ? "separator"
                       : item.type == MenuItem::Type::Popup   ? "popup"
                                                              : "command";
    if (!items.empty()) items += ",";
    items += "{" + field("type", jsonString(type)) + "," + field("text", jsonString(item.text)) +
             "," + field("command", std::to_string(item.command)) + "," +
             field("popup", std::to_string(static_cast<int>(item.popup))) + "," +
             field("grayed", item.grayed ? "true" : "false") + "," +
             field("checked", item.checked ? "true" : "false") + "}";
  }
  return "{" + field("id", std::to_string(static_cast<int>(menu.id))) + "," +
         field("items", "[" + items + "]") + "}";
}

// A font as JSON, and back from the chooser's {face, pixelSize, weight, italic}.
std::string fontJson(const FontSpec& font) {
  return "{" + field("face", jsonString(font.face)) + "," +
         field("pixelSize", std::to_string(font.pixelSize)) + "," +
         field("weight", std::to_string(font.weight)) + "," +
         field("italic", font.italic ? "true" : "false") + "}";
}

// The chooser's answer is "face\npixels\nweight\nitalic".
FontSpec fontFrom(const std::string& text, FontSpec font) {
  std::size_t a = text.find('\n');
  std::size_t b = text.find('\n', a + 1);
  std::size_t c = text.find('\n', b + 1);
  if (c == std::string::npos) return font;
  font.face = text.substr(0, a);
  font.pixelSize = std::atoi(text.substr(a + 1, b - a - 1).c_str());
  font.pointSize = 0;
  font.weight = std::atoi(text.substr(b + 1, c - b - 1).c_str());
  font.italic = text.substr(c + 1) == "1";
  font.fixedPitch = false;
  return font;
}

}  // namespace

std::string menusJson(const MenuTree& menus) {
  return "[" + menuJson(menus.bar) + "," + menuJson(menus.action) + "," + menuJson(menus.port) +
         "," + menuJson(menus.help) + "," + menuJson(menus.choice) + "]";
}

Answer WebDesktop::showMessage(const Message& message) {
  const std::string json = "{" + field("text", jsonString(message.text)) + "," +
                           field("caption", jsonString(message.caption)) + "," +
                           field("detail", jsonString(message.detail)) + "," +
                           field("icon", jsonString(iconName(message.icon))) + "," +
                           field("yesNo", message.buttons == Buttons::YesNo ? "true" : "false") +
                           "," + field("noIsDefault", message.secondIsDefault ? "true" : "false") +
                           "}";
  switch (morva_ui_message(json.c_str())) {
    case 1:
      return Answer::Yes;
    case 2:
      return Answer::No;
    default:
      return message.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
  }
}

std::optional<FileChoice> WebDesktop::chooseFile(const FileRequest& request) {
  // The bytes the session's kind covers: the chooser tells the person when a file holds more.
  std::size_t range = 0;
  for (const DataKind kind :
       {DataKind::FirmwareUpgrade, DataKind::FixtureLibraries, DataKind::UserData})
    if (kindInfo(kind)->defaultExtension == request.defaultExtension)
      range = std::size_t{kindInfo(kind)->blockCount} * 256;
  const bool verify = request.title == directionInfo(Direction::Verify)->dialogTitle;
  const std::string json = "{" + field("title", jsonString(request.title)) + "," +
                           field("filter", jsonString(request.filterDescription)) + "," +
                           field("pattern", jsonString(request.filterPattern)) + "," +
                           field("initialName", jsonString(request.initialName)) + "," +
                           field("extension", jsonString(request.defaultExtension)) + "," +
                           field("save", request.createPrompt ? "true" : "false") + "," +
                           field("verify", verify ? "true" : "false") + "," +
                           field("range", std::to_string(range)) + "}";
  char* chosen = morva_ui_choose_file(json.c_str());
  if (chosen == nullptr) return std::nullopt;
  FileChoice choice;
  choice.path = browser::adopt(chosen);
  choice.extensionDifferent = extensionDiffers(choice.path, request.defaultExtension);
  return choice;
}

void WebDesktop::invalidate(Area area, bool erase) {
  Rect r{0, 0, 1 << 20, 1 << 20};
  if (area == Area::BlockLine) r = rects_.blockLineRect;
  if (area == Area::StatusLine) r = rects_.statusLineRect;
  morva_ui_invalidate(r.left, r.top, r.right, r.bottom, erase ? 1 : 0);
}

void WebDesktop::sessionEnded(SessionOutcome outcome) {
  morva_ui_session_ended(static_cast<int>(outcome));
}

void WebDesktop::setPortTick(int portIndex, bool ticked) {
  morva_ui_port_tick(portIndex, ticked ? 1 : 0);
}

void WebDesktop::installMenus(const MenuTree& menus) {
  morva_ui_menus(menusJson(menus).c_str());
}

void WebDesktop::showWindow() {
  morva_ui_show();
}

void WebDesktop::setRepeatEnabled(bool enabled) {
  morva_ui_repeat(enabled ? 1 : 0);
}

std::optional<FontSpec> WebDesktop::chooseFont(const FontSpec& current) {
  char* chosen = morva_ui_choose_font(fontJson(current).c_str());
  if (chosen == nullptr) return std::nullopt;
  return fontFrom(browser::adopt(chosen), current);
}

bool WebDesktop::openHelp(const std::string&) {
  return morva_ui_help() != 0;
}

}  // namespace morva::web
