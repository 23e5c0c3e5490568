// The log as an operator uses it: lines selected and copied, time stamps on
// request, "Save log…"; and an image dropped on the window.
#include "tests/gui/WindowFixture.h"

#include <QAction>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

namespace {

class WindowLogTest : public WindowTest {
protected:
  void SetUp() override {
    WriteSampleCfg();
    Open();
    // Three lines of the window's own: Link refuses with the port closed.
    for (int i = 0; i < 3; ++i) dlg->OnLink();
    ASSERT_EQ(dlg->Log()->count(), 3);
  }
  // Drops the file on the window as a file manager would.
  void Drop(const std::string& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.get(), &drop);
  }
};

TEST_F(WindowLogTest, SelectedLinesAreCopiedInTheLogsOrderWithTimeStampsOnRequest) {
  dlg->Log()->item(2)->setSelected(true);
  dlg->Log()->item(0)->setSelected(true);
  dlg->CopyLogSelection();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "Please open com port.\nPlease open com port.\n");
  dlg->TimeStampAction()->setChecked(true);
  const QString shown = dlg->Log()->item(1)->text();
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  Please open com port\\.$"))
                  .match(shown)
                  .hasMatch())
      << shown.toStdString();
  // The lines themselves keep their text; only the display changes.
  EXPECT_EQ(dlg->LogLines()[1], "Please open com port.\n");
  dlg->TimeStampAction()->setChecked(false);
  EXPECT_EQ(dlg->Log()->item(1)->text(), "Please open com port.");
}

TEST_F(WindowLogTest, SaveLogWritesTheLinesAsShownOrSaysWhyNot) {
  const std::string path = dir.File("bench.log");
  prompts.answers.push_back(QString::fromStdString(path));
  dlg->show();
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  QTest::keyClick(dlg->Log(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(TempDir::Read(path), "Please open com port.\nPlease open com port.\nPlease open com port.\n");
  EXPECT_TRUE(prompts.messages.empty());

  // A folder that does not exist: the box names the file, and nothing is left.
  const std::string bad = dir.File("no-such-dir/bench.log");
  prompts.answers.push_back(QString::fromStdString(bad));
  dlg->OnSaveLog();
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_NE(prompts.messages[0].find("Can't save the log in " + bad + ": "), std::string::npos) << prompts.messages[0];
  EXPECT_FALSE(std::filesystem::exists(dir.File("no-such-dir")));
}

TEST_F(WindowLogTest, ADroppedImageIsChosenWithTheChecksOfAppFile) {
  const std::string image = dir.Write("drop.bin", std::string(300, 'x'));
  Drop(image);
  EXPECT_EQ(app.m_settings.m_strAppFile, image);
  EXPECT_EQ(app.m_settings.m_nAppFileSize, 300);
  EXPECT_EQ(dlg->Label(wctl::APPFILE_LABEL)->toolTip().toStdString(), image);
  // Too large: refused with the box, and the earlier choice is gone.
  const std::string big = dir.Write("big.bin", std::string(4194305, 'x'));
  Drop(big);
  EXPECT_EQ(app.m_settings.m_strAppFile, "");
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_NE(prompts.messages[0].find("File cannot large than 4MB!"), std::string::npos);
  EXPECT_EQ(dlg->Label(wctl::APPFILE_LABEL)->toolTip().toStdString(), "");
}

}  // namespace
