#include "frontends/qt/dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDialog>
#include <QFontInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "frontends/qt/menu_map.h"
#include "frontends/qt/qt_canvas.h"
#include "transfer/engine.h"

namespace morva::qt {

namespace {

QMessageBox::Icon iconOf(Icon icon) {
  switch (icon) {
    case Icon::Warning:
      return QMessageBox::Warning;
    case Icon::Error:
      return QMessageBox::Critical;
    case Icon::Information:
      return QMessageBox::Information;
    case Icon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString text(const std::string& s) {
  return QString::fromStdString(s);
}

bool sameDrawnFont(const QFont& a, const QFont& b) {
  const QFontInfo x(a), y(b);
  return x.family() == y.family() && x.pointSize() == y.pointSize() &&
         x.pixelSize() == y.pixelSize() && x.weight() == y.weight() && x.italic() == y.italic();
}

// The details are for reading: their button and text never take the keyboard. A focused push
// button of a dialog is its default, so Enter and Space would toggle the details instead of
// answering the box once its button had been pressed.
void keepKeysOnTheButtons(QMessageBox& box) {
  for (QPushButton* button : box.findChildren<QPushButton*>()) {
    if (box.standardButton(button) != QMessageBox::NoButton) continue;
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
  }
  for (QTextEdit* details : box.findChildren<QTextEdit*>()) details->setFocusPolicy(Qt::NoFocus);
}

}  // namespace

std::unique_ptr<QMessageBox> makeMessageBox(const Message& message, QWidget* owner) {
  auto box = std::make_unique<QMessageBox>(owner);
  box->setIcon(iconOf(message.icon));
  box->setWindowTitle(text(message.caption));
  box->setText(text(message.text));
  box->setTextFormat(Qt::PlainText);
  if (message.buttons == Buttons::YesNo) {
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(message.secondIsDefault ? QMessageBox::No : QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
  } else {
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
  }
  if (!message.detail.empty()) {
    box->setDetailedText(text(message.detail));
    keepKeysOnTheButtons(*box);
  }
  return box;
}

Answer answerOf(int standardButton, Buttons buttons) {
  if (buttons == Buttons::Ok) return Answer::Ok;
  return standardButton == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString nameFilterOf(const FileRequest& request) {
  QString patterns = text(request.filterPattern);
  patterns.replace(';', ' ');
  // With the name filter details hidden, the chooser shows what comes before the last
  // parentheses and matches what is inside them.
  return text(request.filterDescription) + " (" + patterns + ")";
}

void setUpFileDialog(QFileDialog& dialog, const FileRequest& request) {
  dialog.setWindowTitle(text(request.title));
  // The same chooser on every desktop, and one that the tests can drive.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setNameFilter(nameFilterOf(request));
  // A name typed without extension gets the kind's own.
  dialog.setDefaultSuffix(text(request.defaultExtension));
  // The previous choice is offered again only where the filter shows it: a firmware image
  // offered for the libraries would only meet "Don't change file extension !". Its folder is
  // kept either way.
  if (!request.initialName.empty()) {
    if (fitsFilter(request.initialName, request.filterPattern))
      dialog.selectFile(text(request.initialName));
    else
      dialog.setDirectory(QFileInfo(text(request.initialName)).absolutePath());
  }
  fitColumnsToContents(dialog);
}

void fitColumnsToContents(QFileDialog& dialog) {
  auto* files = dialog.findChild<QFileSystemModel*>();
  auto* view = dialog.findChild<QTreeView*>("treeView");
  if (files == nullptr || view == nullptr) return;
  // Each folder's entries come in the background; once they are in, every column is as wide
  // as what it shows ("128 KiB", the whole date), not as the last run's settings left it.
  QObject::connect(files, &QFileSystemModel::directoryLoaded, view, [view] {
    QTimer::singleShot(0, view,
                       [view] { view->header()->resizeSections(QHeaderView::ResizeToContents); });
  });
}

FileChoice choiceOf(const QString& path, const FileRequest& request) {
  FileChoice choice;
  // Made absolute by joining, never cleaned as text: "link/../x.upg" names what the kernel
  // finds there, which is not "x.upg" when link leads into another folder.
  const QString full = QDir::isAbsolutePath(path) ? path : QDir::currentPath() + '/' + path;
  choice.path = full.toStdString();
  choice.extensionDifferent = extensionDiffers(choice.path, request.defaultExtension);
  return choice;
}

Answer QtDialogs::showMessage(QWidget* owner, const Message& message) {
  auto box = makeMessageBox(message, message.owned ? owner : nullptr);
  if (MenuMap* map = MenuMap::fromEnvironment(box.get())) map->watch(box.get());
  return answerOf(box->exec(), message.buttons);
}

std::optional<FileChoice> QtDialogs::chooseFile(QWidget* owner, const FileRequest& request) {
  QFileDialog dialog(owner);
  setUpFileDialog(dialog, request);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return choiceOf(dialog.selectedFiles().constFirst(), request);
}

std::optional<FontSpec> QtDialogs::chooseFont(QWidget* owner, const FontSpec& current) {
  // Given the face asked for ("Fixedsys", which is not there), the chooser would open on one
  // of its own; it opens on the face the window is drawn with instead.
  const QFont drawn = drawnFont(current);
  QFontDialog dialog(drawn, owner);
  dialog.setOption(QFontDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  // OK with nothing changed keeps the font as it was, whatever the chooser rounded.
  if (sameDrawnFont(dialog.selectedFont(), drawn)) return current;
  return fontSpecOf(dialog.selectedFont());
}

bool QtDialogs::openHelp(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(text(path)));
}

}  // namespace morva::qt
