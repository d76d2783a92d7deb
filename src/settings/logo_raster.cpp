#include "settings/logo_raster.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QStringList>
#include <cerrno>
#include <stdexcept>

#include "platform/oserror.h"
#include "platform/textfile.h"

namespace logo {

uint8_t bitToByte(int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3, int32_t b2, int32_t b1, int32_t b0) {
  const int32_t flags[8] = {b7, b6, b5, b4, b3, b2, b1, b0};
  uint8_t byte = 0;
  for (int32_t f : flags) byte = uint8_t((byte << 1) | (f == 1 ? 1 : 0));
  return byte;
}

uint32_t monochrom(uint32_t color, int level) {
  const int r = int(color & 0xFF), g = int((color >> 8) & 0xFF), b = int((color >> 16) & 0xFF);
  const int average = (r + g + b) / 3;
  return average < 255 - level ? kBlack : kWhite;
}

uint32_t colorOf(QRgb rgb) { return uint32_t(qRed(rgb)) | uint32_t(qGreen(rgb)) << 8 | uint32_t(qBlue(rgb)) << 16; }

QRgb rgbOf(uint32_t color) { return qRgb(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF)); }

std::string packRaster(const QImage& picture) {
  int flag[kSide * kSide];
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) flag[kSide * y + x] = isLight(picture.pixel(x, y)) ? 0 : 1;
  std::string raster(kRasterBytes, '\0');
  for (std::size_t k = 0; k < kRasterBytes; ++k) {
    const int* f = flag + 8 * k;
    raster[k] = char(bitToByte(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]));
  }
  return raster;
}

void showRaster(const std::string& raster, QImage& picture) {
  const QRgb black = rgbOf(kBlack), white = rgbOf(kWhite);
  for (int i = 0; i < kSide * kSide; ++i) {
    const std::size_t k = std::size_t(i / 8);
    const uint8_t byte = k < raster.size() ? uint8_t(raster[k]) : 0;
    const bool dark = (byte >> (7 - i % 8)) & 1;
    picture.setPixel(i % kSide, i / kSide, dark ? black : white);
  }
}

FileCheck checkLogoFile(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || (!info.exists() && !info.isSymLink())) return FileCheck::Missing;
  if (!info.isFile() || info.size() != qint64(kRasterBytes)) return FileCheck::WrongSize;
  return FileCheck::Ok;
}

namespace {

[[noreturn]] void fail(const QString& text) { throw std::runtime_error(text.toStdString()); }

}  // namespace

std::string readLogoFile(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(QStringLiteral("Не удается открыть файл '%1': %2").arg(path, osErrorText(errno)));
  // One byte more than a logo, to see a file that grew since it was checked.
  std::string bytes(kRasterBytes + 1, '\0');
  std::size_t got = 0;
  int err = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    got += std::size_t(n);
  }
  ::close(fd);
  if (err) fail(QStringLiteral("Не удается прочитать файл '%1': %2").arg(path, osErrorText(err)));
  if (got != kRasterBytes)
    fail(QStringLiteral("Формат выбранного файла не соответствует нужному формату."));
  bytes.resize(kRasterBytes);
  return bytes;
}

void writeLogoFile(const QString& path, const std::string& raster) {
  textfile::writeAtomic(QFile::encodeName(path).toStdString(), raster);
}

QString pictureFilter() {
  // Windows bitmaps first, then the kinds most often met, then the rest in
  // alphabetical order: whatever the image library reads.
  QStringList supported;
  for (const QByteArray& f : QImageReader::supportedImageFormats()) supported << QString::fromLatin1(f).toLower();
  QStringList kinds;
  for (const char* k : {"bmp", "png", "jpg", "jpeg", "gif"})
    if (supported.contains(QLatin1String(k))) kinds << QLatin1String(k);
  supported.sort();
  for (const QString& k : supported)
    if (!kinds.contains(k)) kinds << k;
  QStringList all, entries;
  for (const QString& k : kinds) all << "*." + k;
  entries << QStringLiteral("Все рисунки") << all.join(' ');
  for (const QString& k : kinds) entries << QStringLiteral("Рисунки %1").arg(k.toUpper()) << "*." + k;
  return entries.join('|');
}

QImage importPicture(const QString& path, int level) {
  QImageReader reader(path);
  reader.setAutoTransform(true);  // a photo comes in upright, as viewers show it
  QImage source;
  if (!reader.read(&source) || source.isNull())
    fail(QStringLiteral("Не удается загрузить рисунок '%1': %2").arg(path, reader.errorString()));

  // The picture's top-left part drawn over white, padded with white where
  // the picture is smaller than the logo.
  QImage picture(kSide, kSide, QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter p(&picture);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(QPoint(0, 0), source, source.rect().intersected(QRect(0, 0, kSide, kSide)));
  }
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) picture.setPixel(x, y, rgbOf(monochrom(colorOf(picture.pixel(x, y)), level)));
  return picture;
}

}  // namespace logo
