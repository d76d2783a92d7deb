// The logo's raster, colour rule, file check and picture import, without the
// main window.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <random>

#include "settings/logo_raster.h"

namespace {

QImage whiteLogo() {
  QImage img(logo::kSide, logo::kSide, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool dark(const QImage& img, int x, int y) { return !logo::isLight(img.pixel(x, y)); }

}  // namespace

TEST(LogoRaster, BitToByteSetsOnlyFlagsEqualToOne) {
  EXPECT_EQ(logo::bitToByte(1, 0, 0, 0, 0, 0, 0, 1), 0x81);
  EXPECT_EQ(logo::bitToByte(2, 0, 0, 0, 0, 0, 0, 1), 0x01);
  EXPECT_EQ(logo::bitToByte(-1, 1, 1, 1, 1, 1, 1, 2), 0x7E);
  EXPECT_EQ(logo::bitToByte(1, 1, 1, 1, 1, 1, 1, 1), 0xFF);
}

TEST(LogoRaster, MonochromComparesTheAverageWithTheLevel) {
  auto color = [](int r, int g, int b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; };
  // Level 128: an average of 126 is black, 127 white.
  EXPECT_EQ(logo::monochrom(color(126, 127, 127), 128), logo::kBlack);
  EXPECT_EQ(logo::monochrom(color(127, 127, 127), 128), logo::kWhite);
  EXPECT_EQ(logo::monochrom(color(127, 127, 128), 128), logo::kWhite);
  // Level 255: white everywhere, black included.
  EXPECT_EQ(logo::monochrom(color(0, 0, 0), 255), logo::kWhite);
  // Level 0: only pure white stays white.
  EXPECT_EQ(logo::monochrom(color(255, 255, 255), 0), logo::kWhite);
  EXPECT_EQ(logo::monochrom(color(255, 255, 254), 0), logo::kBlack);
  EXPECT_EQ(logo::monochrom(color(254, 255, 255), 0), logo::kBlack);
  // Bits above the blue byte play no part.
  EXPECT_EQ(logo::monochrom(0xFF000000u | color(200, 200, 200), 128), logo::kWhite);
}

TEST(LogoRaster, PackingPutsTheLeftmostPixelInBitSevenRowByRow) {
  QImage img = whiteLogo();
  EXPECT_EQ(logo::packRaster(img), std::string(512, '\0'));

  img.setPixel(0, 0, qRgb(0, 0, 0));
  std::string expected(512, '\0');
  expected[0] = char(0x80);
  EXPECT_EQ(logo::packRaster(img), expected);

  for (int x = 0; x < logo::kSide; ++x) img.setPixel(x, 0, qRgb(0, 0, 0));
  // Any colour but exact white is dark.
  img.setPixel(9, 1, qRgb(0xFE, 0xFF, 0xFF));
  img.setPixel(63, 63, qRgb(255, 0, 0));
  const std::string r = logo::packRaster(img);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(uint8_t(r[k]), 0xFF) << k;
  EXPECT_EQ(uint8_t(r[9]), 0x40);
  EXPECT_EQ(uint8_t(r[511]), 0x01);
  EXPECT_EQ(std::count(r.begin() + 10, r.end() - 1, '\0'), 501);
}

TEST(LogoRaster, ShowingAndPackingGiveBackTheSameBytes) {
  std::mt19937 rng(5);
  std::string raster(512, '\0');
  for (char& c : raster) c = char(rng() & 0xFF);
  QImage img = whiteLogo();
  logo::showRaster(raster, img);
  EXPECT_EQ(logo::packRaster(img), raster);
  // The pixels are black and white only.
  for (int y = 0; y < logo::kSide; ++y)
    for (int x = 0; x < logo::kSide; ++x) {
      const QRgb p = img.pixel(x, y) & 0xFFFFFFu;
      EXPECT_TRUE(p == 0 || p == 0xFFFFFFu);
    }
  EXPECT_EQ(dark(img, 0, 0), (uint8_t(raster[0]) & 0x80) != 0);
}

TEST(LogoFile, OnlyAFileOfExactly512BytesPasses) {
  QTemporaryDir dir;
  const QString base = dir.path() + "/";
  writeBytes(base + "a.kmi", QByteArray(511, 'x'));
  writeBytes(base + "b.kmi", QByteArray(513, 'x'));
  writeBytes(base + "c.kmi", QByteArray(512, '\xA5'));
  writeBytes(base + "empty.kmi", QByteArray());
  QDir(dir.path()).mkdir("sub.kmi");
  EXPECT_EQ(logo::checkLogoFile(base + "a.kmi"), logo::FileCheck::WrongSize);
  EXPECT_EQ(logo::checkLogoFile(base + "b.kmi"), logo::FileCheck::WrongSize);
  EXPECT_EQ(logo::checkLogoFile(base + "empty.kmi"), logo::FileCheck::WrongSize);
  EXPECT_EQ(logo::checkLogoFile(base + "sub.kmi"), logo::FileCheck::WrongSize);
  EXPECT_EQ(logo::checkLogoFile(base + "none.kmi"), logo::FileCheck::Missing);
  EXPECT_EQ(logo::checkLogoFile(QString()), logo::FileCheck::Missing);
  ASSERT_EQ(logo::checkLogoFile(base + "c.kmi"), logo::FileCheck::Ok);
  EXPECT_EQ(logo::readLogoFile(base + "c.kmi"), std::string(512, '\xA5'));
  // A file gone or grown after the check is refused, in the program's words.
  try {
    logo::readLogoFile(base + "none.kmi");
    ADD_FAILURE() << "a missing file was read";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("нет такого файла"), std::string::npos) << e.what();
  }
  EXPECT_ANY_THROW(logo::readLogoFile(base + "b.kmi"));
}

TEST(LogoFile, WritingReplacesTheFileWholeAndLeavesNoTemporary) {
  QTemporaryDir dir;
  const QString name = dir.path() + "/logo";
  writeBytes(name, QByteArray(100, 'o'));
  logo::writeLogoFile(name, std::string(512, '\x0F'));
  EXPECT_EQ(readBytes(name), QByteArray(512, '\x0F'));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"logo"});
  // A name that cannot be written throws and creates nothing.
  EXPECT_ANY_THROW(logo::writeLogoFile(dir.path() + "/no/such/dir/x.kmi", std::string(512, '\0')));
}

TEST(LogoImport, ALargerPictureIsCutToItsTopLeft64x64) {
  QTemporaryDir dir;
  // 100 x 80 PNG: only its top-left part counts.
  QImage big(100, 80, QImage::Format_RGB32);
  big.fill(Qt::white);
  big.setPixel(63, 63, qRgb(0, 0, 0));
  big.setPixel(64, 10, qRgb(0, 0, 0));
  big.setPixel(10, 70, qRgb(0, 0, 0));
  ASSERT_TRUE(big.save(dir.path() + "/big.png"));
  std::string expected(512, '\0');
  expected[511] = char(0x01);
  EXPECT_EQ(logo::packRaster(logo::importPicture(dir.path() + "/big.png", 128)), expected);
}

TEST(LogoImport, TransparencyIsDrawnOverWhite) {
  QTemporaryDir dir;
  QImage img(64, 64, QImage::Format_ARGB32);
  img.fill(Qt::transparent);  // transparent black
  img.setPixel(5, 5, qRgba(0, 0, 0, 255));
  ASSERT_TRUE(img.save(dir.path() + "/t.png"));
  const QImage a = logo::importPicture(dir.path() + "/t.png", 128);
  EXPECT_TRUE(dark(a, 5, 5));
  EXPECT_FALSE(dark(a, 0, 0));
}

TEST(LogoImport, AFileThatDoesNotLoadThrows) {
  QTemporaryDir dir;
  writeBytes(dir.path() + "/junk.bmp", QByteArray("BM this is no bitmap at all"));
  EXPECT_ANY_THROW(logo::importPicture(dir.path() + "/junk.bmp", 128));
  EXPECT_ANY_THROW(logo::importPicture(dir.path() + "/missing.png", 128));
  // A bitmap header that claims 40000 x 40000 pixels: refused by the image
  // allocation limit, not allocated.
  QByteArray bmp(54, '\0');
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = char((v >> (8 * i)) & 0xFF);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, 54 + 16);
  put32(10, 54);
  put32(14, 40);
  put32(18, 40000);
  put32(22, 40000);
  bmp[26] = 1;
  bmp[28] = 24;
  bmp.append(QByteArray(16, '\0'));
  writeBytes(dir.path() + "/huge.bmp", bmp);
  EXPECT_ANY_THROW(logo::importPicture(dir.path() + "/huge.bmp", 128));
}

TEST(LogoImport, TheFilterListsBitmapsFirstAndTheCommonKinds) {
  const QString f = logo::pictureFilter();
  EXPECT_TRUE(f.startsWith(QStringLiteral("Все рисунки|*.bmp *.png *.jpg *.jpeg *.gif"))) << f.toStdString();
  EXPECT_TRUE(f.contains(QStringLiteral("|Рисунки BMP|*.bmp|Рисунки PNG|*.png|")));
  EXPECT_EQ(f.split('|').size() % 2, 0);
}
