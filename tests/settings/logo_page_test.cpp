// The logo page driven through its controls: drawing, new, save, open and
// import, with the question whether to save the changes.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <functional>

#include "logo_fixture.h"
#include "support/file_access.h"
#include "support/gui_fixture.h"

using namespace logotest;

namespace {

const QString kFormat = QStringLiteral("Формат выбранного файла не соответствует нужному формату.");

class LogoPageTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    start();
  }
  void press(const char* name) { find<QToolButton>(name)->click(); }
  // Saves through the toolbar under the name given.
  void saveAs(const QString& name) {
    dlg.files.push_back(path(name));
    press("SpeedButton35");
  }
  void open(const QString& name) {
    dlg.files.push_back(path(name));
    press("SpeedButton34");
  }
  void import(const QString& name) {
    dlg.files.push_back(path(name));
    press("SpeedButton36");
  }
  QString saveBlackPicture(const QString& name, int side) {
    QImage img(side, side, QImage::Format_RGB32);
    img.fill(Qt::black);
    EXPECT_TRUE(img.save(path(name)));
    return name;
  }
};

}  // namespace

TEST_F(LogoPageTest, PageControlsAndStartState) {
  for (const char* name : {"SpeedButton33", "SpeedButton34", "SpeedButton35", "SpeedButton36", "SpeedButton37",
                           "SpeedButton38", "SpeedButton39"})
    EXPECT_TRUE(find<QToolButton>(name)->isEnabled()) << name;
  EXPECT_EQ(find<QToolButton>("SpeedButton36")->toolTip(), QStringLiteral("Открыть и конвертировать графический файл"));
  EXPECT_EQ(find<QPushButton>("Button12")->text(), QStringLiteral("Прочитать"));
  EXPECT_EQ(find<QPushButton>("Button13")->text(), QStringLiteral("Загрузить"));
  EXPECT_EQ(form->Image1->canvas().size(), QSize(320, 320));
  EXPECT_EQ(form->Image2->canvas().size(), QSize(64, 64));
  EXPECT_EQ(raster(form), std::string(512, '\0'));
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_FALSE(form->LogoModified);

  QSlider* t = find<QSlider>("TrackBar1");
  EXPECT_EQ(t->minimum(), 0);
  EXPECT_EQ(t->maximum(), 255);
  EXPECT_EQ(t->value(), 128);
  EXPECT_EQ(t->tickInterval(), 10);
  EXPECT_TRUE(t->toolTip().isEmpty());
  t->setValue(200);
  EXPECT_EQ(t->toolTip(), QStringLiteral("200"));
}

TEST_F(LogoPageTest, ClickingASquareTogglesItAndTwiceRestoresIt) {
  click(form, 12, 7);  // logo pixel (2, 1)
  std::string expected(512, '\0');
  expected[8] = char(0x20);
  EXPECT_EQ(raster(form), expected);
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_TRUE(form->LogoModified);

  click(form, 14, 9, Qt::RightButton);  // the same square, another button
  EXPECT_EQ(raster(form), std::string(512, '\0'));
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_TRUE(form->LogoModified);

  click(form, 319, 319);
  EXPECT_EQ(uint8_t(raster(form)[511]), 0x01);
  EXPECT_TRUE(dlg.shown.isEmpty());
}

TEST_F(LogoPageTest, AButtonReleasedOutsideTheFieldTogglesNothing) {
  for (QPoint out : {QPoint(320, 5), QPoint(5, 320), QPoint(-1, 5), QPoint(400, 400)}) {
    QTest::mousePress(form->Image1, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(form->Image1, Qt::LeftButton, Qt::NoModifier, out);
  }
  EXPECT_EQ(raster(form), std::string(512, '\0'));
  EXPECT_FALSE(form->LogoModified);
}

TEST_F(LogoPageTest, SavingWritesThe512RasterBytesUnderTheNameAsChosen) {
  saveAs("white.kmi");
  EXPECT_EQ(readFile("white.kmi"), std::string(512, '\0'));
  const dialogs::FileRequest& r = dlg.fileRequests.back();
  EXPECT_EQ(r.title, QStringLiteral("Сохранение логотипа"));
  EXPECT_EQ(r.filter, QStringLiteral("рисунки (*.kmi)|*.kmi"));
  EXPECT_EQ(r.fileName, QStringLiteral("noname01"));
  EXPECT_TRUE(r.defaultExt.isEmpty());

  // All black; a name without an extension stays without one and an
  // existing file is replaced once the operator said Yes.
  import(saveBlackPicture("black.bmp", 64));
  ASSERT_TRUE(form->LogoModified);
  writeFile("logo", "old");
  dlg.answers = {Answer::Yes};
  saveAs("logo");
  EXPECT_EQ(readFile("logo"), std::string(512, '\xFF'));
  EXPECT_FALSE(QFile::exists(path("logo.kmi")));
  EXPECT_FALSE(form->LogoModified);
  EXPECT_EQ(dlg.take().size(), 1);
  EXPECT_EQ(QDir(dir->path()).entryList({"*~"}, QDir::Files | QDir::Hidden), QStringList());

  // A cancelled dialog writes nothing and leaves the flag.
  click(form, 1, 1);
  dlg.files.push_back(std::nullopt);
  press("SpeedButton35");
  EXPECT_TRUE(form->LogoModified);
}

TEST_F(LogoPageTest, AFailedSaveKeepsTheOldFileAndTheFlag) {
  writeFile("old.kmi", std::string(512, 'o'));
  // A file its owner made read-only: it cannot be replaced.
  ASSERT_TRUE(QFile::setPermissions(path("old.kmi"), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
  click(form, 1, 1);
  {
    WithoutFileOverride user;
    ASSERT_TRUE(user.ok());
    dlg.answers = {Answer::Yes};
    saveAs("old.kmi");
  }
  ASSERT_EQ(dlg.shown.size(), 2);  // the question, then the error
  EXPECT_TRUE(dlg.shown[1].startsWith("ERROR: ")) << dlg.shown[1].toStdString();
  EXPECT_EQ(readFile("old.kmi"), std::string(512, 'o'));
  EXPECT_TRUE(form->LogoModified);

  // A directory of the chosen name.
  dlg.shown.clear();
  ASSERT_TRUE(QDir(dir->path()).mkdir("dir.kmi"));
  saveAs("dir.kmi");
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: "));
  EXPECT_TRUE(form->LogoModified);

  // Asked before New, Yes and a failing save: the drawing is not lost.
  dlg.shown.clear();
  dlg.answers.push_back(Answer::Yes);
  dlg.files.push_back(path("dir.kmi"));
  press("SpeedButton33");
  EXPECT_EQ(dlg.shown.size(), 2);
  EXPECT_EQ(uint8_t(raster(form)[0]), 0x80);
  EXPECT_TRUE(form->LogoModified);
}

TEST_F(LogoPageTest, SavingThenOpeningGivesBackTheSamePixels) {
  for (QPoint p : {QPoint(1, 1), QPoint(100, 3), QPoint(317, 211), QPoint(160, 160)}) click(form, p.x(), p.y());
  const std::string drawn = raster(form);
  saveAs("a.kmi");
  press("SpeedButton33");  // saved: New asks nothing
  EXPECT_EQ(raster(form), std::string(512, '\0'));
  EXPECT_TRUE(editFieldShowsPreview(form));

  open("a.kmi");
  EXPECT_EQ(raster(form), drawn);
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_FALSE(form->LogoModified);
  EXPECT_TRUE(dlg.shown.isEmpty());
  EXPECT_EQ(dlg.fileRequests.back().title, QStringLiteral("Открытие файла логотипа"));
  EXPECT_EQ(dlg.fileRequests.back().filter, QStringLiteral("рисунки (*.kmi)|*.kmi"));
}

TEST_F(LogoPageTest, OpenRefusesFilesOfAnotherSizeAndNamesAMissingOne) {
  click(form, 1, 1);
  dlg.answers = {Answer::No, Answer::No, Answer::No};
  writeFile("short.kmi", std::string(511, '\xFF'));
  writeFile("long.kmi", std::string(513, '\xFF'));
  open("short.kmi");
  open("long.kmi");
  open("none.kmi");
  EXPECT_EQ(dlg.shown, QStringList({kQuestion, kFormat, kQuestion, kFormat, kQuestion,
                                    QStringLiteral("Ошибка открытия файла ") + path("none.kmi")}));
  EXPECT_EQ(uint8_t(raster(form)[0]), 0x80);
  EXPECT_TRUE(form->LogoModified);

  // Any 512 bytes open, whatever their content and name.
  dlg.shown.clear();
  dlg.answers = {Answer::No};
  writeFile("any.bin", logotest::pattern());
  open("any.bin");
  EXPECT_EQ(raster(form), logotest::pattern());
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_FALSE(form->LogoModified);
}

TEST_F(LogoPageTest, EveryAnswerOfTheSaveQuestion) {
  writeFile("other.kmi", logotest::pattern(3));
  saveBlackPicture("pic.bmp", 8);
  struct Action {
    const char* button;
    const char* file;                // what its own dialog answers, if it has one
    std::function<bool()> wentOn;    // the action's effect is there
  };
  const Action actions[] = {
      {"SpeedButton33", nullptr, [&] { return raster(form) == std::string(512, '\0'); }},
      {"SpeedButton34", "other.kmi", [&] { return raster(form) == logotest::pattern(3); }},
      {"SpeedButton36", "pic.bmp", [&] { return uint8_t(raster(form)[0]) == 0xFF; }},
  };
  auto draw = [&](int y) {
    for (int x = 1; x < 6; ++x) click(form, 5 * x, y);
    return raster(form);
  };
  for (const Action& a : actions) {
    SCOPED_TRACE(a.button);
    auto run = [&] {
      if (a.file) dlg.files.push_back(path(a.file));
      press(a.button);
    };
    auto expectAsked = [&] {
      EXPECT_EQ(dlg.shown, QStringList{kQuestion});
      EXPECT_TRUE(dlg.answers.empty());
      EXPECT_TRUE(dlg.files.empty());
      dlg.shown.clear();
    };
    form->LogoModified = false;
    press("SpeedButton33");
    QFile::remove(path("saved.kmi"));
    const std::string drawn = draw(200);

    // Cancel: nothing changes, no dialog follows.
    dlg.answers = {Answer::Cancel};
    press(a.button);
    expectAsked();
    EXPECT_EQ(raster(form), drawn);
    EXPECT_TRUE(form->LogoModified);

    // Yes and saved: the drawing is in the file, then the action goes on.
    const std::string second = draw(250);
    dlg.answers = {Answer::Yes};
    dlg.files.push_back(path("saved.kmi"));
    run();
    expectAsked();
    EXPECT_EQ(readFile("saved.kmi"), second);
    EXPECT_TRUE(a.wentOn());

    // No: goes on without saving.
    draw(300);
    dlg.answers = {Answer::No};
    run();
    expectAsked();
    EXPECT_TRUE(a.wentOn());
    EXPECT_EQ(readFile("saved.kmi"), second);
  }
}

TEST_F(LogoPageTest, ImportConvertsThePictureAtTheTrackBarLevel) {
  // 32 x 32: average 126 on the left half, 127 on the right.
  QImage img(32, 32, QImage::Format_RGB32);
  img.fill(qRgb(127, 127, 127));
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 16; ++x) img.setPixel(x, y, qRgb(126, 127, 127));
  ASSERT_TRUE(img.save(path("grey.png")));
  import("grey.png");
  const dialogs::FileRequest& r = dlg.fileRequests.back();
  EXPECT_TRUE(r.filter.startsWith(QStringLiteral("Все рисунки|*.bmp")));
  EXPECT_TRUE(r.picturePreview);
  std::string expected(512, '\0');
  for (int y = 0; y < 32; ++y) expected[8 * y] = expected[8 * y + 1] = char(0xFF);
  EXPECT_EQ(raster(form), expected);
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_TRUE(form->LogoModified);

  // Level 255: all white; level 0: only pure white stays.
  dlg.answers = {Answer::No, Answer::No};
  find<QSlider>("TrackBar1")->setValue(255);
  import("grey.png");
  EXPECT_EQ(raster(form), std::string(512, '\0'));
  find<QSlider>("TrackBar1")->setValue(0);
  import("grey.png");
  for (int y = 0; y < 32; ++y) expected[8 * y + 2] = expected[8 * y + 3] = char(0xFF);
  EXPECT_EQ(raster(form), expected);
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_TRUE(dlg.shown == QStringList({kQuestion, kQuestion}));
}

TEST_F(LogoPageTest, APictureThatDoesNotLoadLeavesTheLogoAndSetsTheFlag) {
  click(form, 1, 1);
  saveAs("drawn.kmi");
  ASSERT_FALSE(form->LogoModified);
  writeFile("broken.bmp", "BM not a bitmap");
  import("broken.bmp");
  ASSERT_EQ(dlg.shown.size(), 1);
  EXPECT_TRUE(dlg.shown[0].startsWith("ERROR: "));
  EXPECT_TRUE(dlg.shown[0].contains("broken.bmp"));
  std::string expected(512, '\0');
  expected[0] = char(0x80);
  EXPECT_EQ(raster(form), expected);
  EXPECT_TRUE(editFieldShowsPreview(form));
  EXPECT_TRUE(form->LogoModified);

  // A cancelled picture dialog changes nothing.
  dlg.shown.clear();
  dlg.answers = {Answer::No};
  dlg.files.push_back(std::nullopt);
  press("SpeedButton36");
  EXPECT_EQ(dlg.shown, QStringList{kQuestion});
  EXPECT_EQ(raster(form), expected);
}
