// The operator's boxes and choosers on the desktop. The main window asks through Dialogs, so
// tests (and the screenshot run) substitute scripted answers for the modal windows.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "display/canvas.h"
#include "transfer/operator.h"

class QFileDialog;
class QMessageBox;
class QWidget;

namespace morva::qt {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // `owner` is the main window, or null for the box shown before it exists.
  virtual Answer showMessage(QWidget* owner, const Message& message) = 0;
  virtual std::optional<FileChoice> chooseFile(QWidget* owner, const FileRequest& request) = 0;
  virtual std::optional<FontSpec> chooseFont(QWidget* owner, const FontSpec& current) = 0;
  // Opens a local document in the desktop's viewer; false when nothing took it.
  virtual bool openHelp(const std::string& path) = 0;
};

// The real modal windows: QMessageBox, a non-native QFileDialog and QFontDialog.
class QtDialogs : public Dialogs {
 public:
  Answer showMessage(QWidget* owner, const Message& message) override;
  std::optional<FileChoice> chooseFile(QWidget* owner, const FileRequest& request) override;
  std::optional<FontSpec> chooseFont(QWidget* owner, const FontSpec& current) override;
  bool openHelp(const std::string& path) override;
};

// The box for `message`: its text, caption, icon, buttons and default button; an OS reason
// goes into the details, never into the text.
std::unique_ptr<QMessageBox> makeMessageBox(const Message& message, QWidget* owner);
// What the operator's button means; a question closed by other means is answered No.
Answer answerOf(int standardButton, Buttons buttons);

// The one filter, shown as its description ("User data (*.usr)") while matching every
// pattern of the kind ("*.usr *.bin").
QString nameFilterOf(const FileRequest& request);
// Title, filter, start name (the previous choice where the filter shows it, else its folder)
// and the direction's checks; the chooser never asks about overwriting, since the session start
// asks itself.
void setUpFileDialog(QFileDialog& dialog, const FileRequest& request);
// Sizes the chooser's columns to their contents whenever a folder's entries have come in.
void fitColumnsToContents(QFileDialog& dialog);
FileChoice choiceOf(const QString& path, const FileRequest& request);

}  // namespace morva::qt
