#include "frontends/qt/dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "app/program.h"
#include "frontends/qt/options.h"
#include "frontends/qt/qt_canvas.h"
#include "link/link.h"
#include "tests/qt/qt_support.h"
#include "tests/support/files.h"
#include "tests/support/requests.h"

namespace morva::testing {
namespace {

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { ensureApplication(); }
};

TEST_F(DialogsTest, MessageBoxCarriesTextCaptionIconAndButtons) {
  struct Case {
    Message message;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
  };
  const Message question = overwriteQuestion();
  Message failure{"Error code : 5", "Fail", Icon::Error, Buttons::Ok, false, "EIO", true};
  Message info{"Sorry, help file is inaccessible at this time !",
               "No access !",
               Icon::Information,
               Buttons::Ok,
               false,
               "",
               true};
  Message warning{"Port open error !",
                  "Warning",
                  Icon::Warning,
                  Buttons::Ok,
                  false,
                  "/dev/ttyUSB0: Permission denied",
                  true};
  Message yesFirst = question;
  yesFirst.secondIsDefault = false;
  const Case cases[] = {
      {question, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
      {yesFirst, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes},
      {failure, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
      {info, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok},
      {warning, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok},
  };
  QWidget owner;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.text);
    auto box = qt::makeMessageBox(c.message, &owner);
    EXPECT_EQ(box->text().toStdString(), c.message.text);
    EXPECT_EQ(box->windowTitle().toStdString(), c.message.caption);
    EXPECT_EQ(box->icon(), c.icon);
    EXPECT_EQ(box->standardButtons(), c.buttons);
    EXPECT_EQ(box->defaultButton(), box->button(c.defaultButton));
    EXPECT_EQ(box->detailedText().toStdString(), c.message.detail);
    EXPECT_EQ(box->parentWidget(), &owner);
  }
}

// Every box with one OK button, with and without details: OK is its default and focused button
// when it shows and after the details were opened with the mouse, and Enter and Space close it.
TEST_F(DialogsTest, EveryOkOnlyBoxKeepsTheKeysOnOkAlsoAfterItsDetailsWereOpened) {
  SearchResult searched;
  searched.report = {"/dev/ttyUSB0: no answer", "/dev/ttyUSB1: Permission denied"};
  Message help = helpMissingMessage();
  help.detail = "The manual is in none of these places:\n/usr/share/morva/morva-manual.html";
  const Message boxes[] = {
      noPortMessage(),
      notFoundMessage(searched),
      help,
      aboutMessage(),
      {"Port open error !", "Warning", Icon::Warning, Buttons::Ok, false,
       "/dev/ttyUSB0: Permission denied", true},
      {"File open error !", "Fail", Icon::Error, Buttons::Ok, false,
       "/tmp/fw.upg: Permission denied", true},
      {"Don't change file extension !", "Warning", Icon::Error, Buttons::Ok, false, "", true},
  };
  for (const Message& message : boxes) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
      SCOPED_TRACE(message.text + (key == Qt::Key_Space ? " / Space" : " / Return"));
      auto box = qt::makeMessageBox(message, nullptr);
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      ASSERT_NE(ok, nullptr);
      std::vector<std::string> seen;  // what was wrong, at each look
      bool detailsOpened = message.detail.empty(), pressed = false, guarded = false;
      QTimer look;
      look.setInterval(5);
      QObject::connect(&look, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() != box.get() || !box->isActiveWindow()) return;
        if (box->defaultButton() != ok) seen.push_back("OK is not the default button");
        if (QApplication::focusWidget() != ok) seen.push_back("OK has not the keyboard");
        if (!detailsOpened) {
          for (QPushButton* button : box->findChildren<QPushButton*>())
            if (box->standardButton(button) == QMessageBox::NoButton)
              QTest::mouseClick(button, Qt::LeftButton);
          detailsOpened = true;
          return;
        }
        if (!pressed) {
          pressed = true;
          QTest::keyClick(box->windowHandle(), key);
          return;
        }
        guarded = true;  // the key did not close it
        box->reject();
      });
      look.start();
      EXPECT_EQ(box->exec(), QMessageBox::Ok);
      EXPECT_FALSE(guarded);
      EXPECT_TRUE(seen.empty()) << seen.front();
    }
  }
}

TEST_F(DialogsTest, AnswersFollowTheButtons) {
  EXPECT_EQ(qt::answerOf(QMessageBox::Yes, Buttons::YesNo), Answer::Yes);
  EXPECT_EQ(qt::answerOf(QMessageBox::No, Buttons::YesNo), Answer::No);
  EXPECT_EQ(qt::answerOf(QMessageBox::Cancel, Buttons::YesNo), Answer::No);
  EXPECT_EQ(qt::answerOf(QMessageBox::Ok, Buttons::Ok), Answer::Ok);
}

TEST_F(DialogsTest, FileChooserShowsOneFilterMatchingEveryPatternOfTheKind) {
  EXPECT_EQ(qt::nameFilterOf(userDataRequest(false)), "User data (*.usr) (*.usr *.bin)");
  for (bool forRead : {false, true}) {
    QFileDialog dialog;
    qt::setUpFileDialog(dialog, userDataRequest(forRead));
    EXPECT_EQ(dialog.windowTitle().toStdString(), userDataRequest(forRead).title);
    EXPECT_EQ(dialog.fileMode(), forRead ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog.nameFilters(), QStringList{"User data (*.usr) (*.usr *.bin)"});
    EXPECT_EQ(dialog.defaultSuffix(), "usr");
  }
}

TEST_F(DialogsTest, ChoiceIsTheFullPathWithItsExtensionJudged) {
  const FileRequest request = userDataRequest(false);
  struct Case {
    QString path;
    bool different;
  };
  for (const Case& c : {Case{"/tmp/a.usr", false}, Case{"/tmp/a.USR", false},
                        Case{"/tmp/a.bin", true}, Case{"/tmp/a", true}}) {
    const FileChoice choice = qt::choiceOf(c.path, request);
    EXPECT_EQ(choice.path, c.path.toStdString());
    EXPECT_EQ(choice.extensionDifferent, c.different) << c.path.toStdString();
  }
  EXPECT_TRUE(std::filesystem::path(qt::choiceOf("rel.usr", request).path).is_absolute());
}

// The previous choice is offered again only where the kind's filter shows it; otherwise the
// chooser starts in its folder with no name.
TEST_F(DialogsTest, FileChooserOffersThePreviousNameOnlyWhereTheFilterShowsIt) {
  ScratchDir dir;
  struct Case {
    const char* previous;
    const char* offered;
  };
  for (const Case& c : {Case{"old.usr", "old.usr"}, Case{"old.BIN", "old.BIN"}, Case{"fw.upg", ""},
                        Case{"notes", ""}, Case{"a.usr.txt", ""}}) {
    SCOPED_TRACE(c.previous);
    FileRequest request = userDataRequest(true);
    request.initialName = dir.file(c.previous);
    QFileDialog dialog;
    qt::setUpFileDialog(dialog, request);
    EXPECT_EQ(dialog.findChild<QLineEdit*>("fileNameEdit")->text(), c.offered);
    EXPECT_EQ(std::filesystem::path(dialog.directory().absolutePath().toStdString()),
              std::filesystem::path(dir.path()));
  }
}

// Once a folder's entries are in, no column is narrower than what it shows.
TEST_F(DialogsTest, FileChooserColumnsFitTheirContents) {
  ScratchDir dir;
  writeFile(dir / "firmware-upgrade.upg", Bytes(131072, 1));
  FileRequest request = userDataRequest(false);
  request.filterPattern = "*.upg";
  request.initialName = (dir / "firmware-upgrade.upg").string();
  QFileDialog dialog;
  qt::setUpFileDialog(dialog, request);
  auto* view = dialog.findChild<QTreeView*>("treeView");
  ASSERT_NE(view, nullptr);
  const QAbstractItemView* items = view;  // where the contents' widths are public
  dialog.resize(625, 430);
  dialog.show();
  const auto fitted = [&] {
    if (view->model()->rowCount(view->rootIndex()) == 0) return false;
    for (int column = 1; column < view->header()->count(); ++column)
      if (view->header()->sectionSize(column) < items->sizeHintForColumn(column)) return false;
    return true;
  };
  EXPECT_TRUE(runUntil(fitted, 10000));
  runUntil([] { return false; }, 500);
  for (int column = 0; column < view->header()->count(); ++column)
    printf("col %d size %d hint %d w %d\n", column, view->header()->sectionSize(column),
           items->sizeHintForColumn(column), view->width());
  dialog.hide();
}

TEST_F(DialogsTest, RealChooserReturnsTheTypedFileAndCancelReturnsNothing) {
  ScratchDir dir;
  const std::string typed = writeFile(dir / "data.bin", {});
  FileRequest request = userDataRequest(false);
  request.initialName = dir.file("old.usr");

  bool cancel = false;
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    if (cancel) {
      dialog->reject();
      return;
    }
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText("data.bin");
    static_cast<QDialog*>(dialog)->accept();
  });
  answer.start();
  qt::QtDialogs dialogs;
  const auto choice = dialogs.chooseFile(nullptr, request);
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->path, typed);
  EXPECT_TRUE(choice->extensionDifferent);
  cancel = true;
  EXPECT_FALSE(dialogs.chooseFile(nullptr, request));
}

// A proportional bold italic face by points, and a monospaced one by pixels.
FontSpec boldItalic() {
  FontSpec bold;
  bold.face = "DejaVu Sans";
  bold.pointSize = 14;
  bold.weight = 700;
  bold.italic = true;
  bold.fixedPitch = false;
  return bold;
}

FontSpec cellFont(std::int32_t weight = 0) {
  FontSpec cell;
  cell.face = "DejaVu Sans Mono";
  cell.pixelSize = 15;
  cell.weight = weight;
  return cell;
}

TEST_F(DialogsTest, FontsKeepWhatTheOperatorChose) {
  for (const FontSpec& fontSpec : {boldItalic(), cellFont(400)})
    EXPECT_EQ(qt::fontSpecOf(qt::qtFont(fontSpec)), fontSpec);
  // "Fixedsys" is nowhere but on Windows: the hint still gives a monospaced face.
  EXPECT_TRUE(QFontInfo(qt::qtFont(FontSpec{})).fixedPitch());
}

// The chooser accepted as it opens: it showed the face, size, weight and slant the window is
// drawn with, and the window's font stays drawn as it was.
TEST_F(DialogsTest, FontChooserOpensOnTheDrawnFontAndOkAsItOpensChangesNothing) {
  for (const FontSpec& before : {FontSpec{}, boldItalic(), cellFont()}) {
    SCOPED_TRACE(before.face);
    std::optional<QFont> opened;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      opened = dialog->currentFont();
      dialog->accept();
    });
    answer.start();
    const auto chosen = qt::QtDialogs().chooseFont(nullptr, before);
    ASSERT_TRUE(chosen && opened);
    const QFontInfo drawn(qt::qtFont(before)), shown(*opened), after(qt::qtFont(*chosen));
    for (const QFontInfo* info : {&shown, &after}) {
      EXPECT_EQ(info->family(), drawn.family());
      EXPECT_EQ(info->pointSize(), drawn.pointSize());
      EXPECT_EQ(info->weight(), drawn.weight());
      EXPECT_EQ(info->italic(), drawn.italic());
    }
  }
}

TEST(GuiOptionsTest, PortsSimulatorAndScreenshot) {
  const auto parsed = qt::parseGuiOptions(
      {"--port", "/dev/pts/3", "--port=/tmp/vk350", "--simulate", "--screenshot", "shot.png"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  EXPECT_EQ(parsed.options->ports, (std::vector<std::string>{"/dev/pts/3", "/tmp/vk350"}));
  EXPECT_TRUE(parsed.options->simulate);
  EXPECT_EQ(parsed.options->screenshot, "shot.png");
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--port"}, {"--port="}, {"--screenshot"}, {"--bogus"}, {"/dev/ttyUSB0"}})
    EXPECT_FALSE(qt::parseGuiOptions(bad).options) << bad[0];
  EXPECT_TRUE(qt::parseGuiOptions({"--help"}).options->help);
}

}  // namespace
}  // namespace morva::testing
