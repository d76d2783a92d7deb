#pragma once
// The 64 x 64 logo without widgets: its 512-byte raster (the bytes of a logo
// file and of the logo exchanges), the colour rule of a picture import and
// the check of a logo file.
#include <QImage>
#include <QString>
#include <cstdint>
#include <string>

namespace logo {

inline constexpr int kSide = 64;          // logo pixels a side
inline constexpr int kZoom = 5;           // edit field pixels per logo pixel
inline constexpr int kFieldSide = kSide * kZoom;
inline constexpr std::size_t kRasterBytes = 512;
inline constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000;

// Eight flags to one byte, the first in bit 7; only a flag equal to 1 sets
// its bit.
uint8_t bitToByte(int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3, int32_t b2, int32_t b1, int32_t b0);

// A colour 0x00BBGGRR to black or white: black when the average of its three
// parts is below 255 - level.
uint32_t monochrom(uint32_t color, int level);

// A pixel of a picture as a colour value 0x00BBGGRR, and back.
uint32_t colorOf(QRgb rgb);
QRgb rgbOf(uint32_t color);
// Only exactly white is light; every other colour is a dark logo bit.
inline bool isLight(QRgb rgb) { return (rgb & 0xFFFFFFu) == 0xFFFFFFu; }

// The 64 x 64 top-left pixels of a picture as a raster: 8 bytes a row from
// the top, the leftmost pixel of a byte in bit 7, 1 = dark.
std::string packRaster(const QImage& picture);
// Paints a raster into the 64 x 64 top-left pixels of a picture, black and
// white (a raster shorter than 512 bytes counts its missing bytes as 0).
void showRaster(const std::string& raster, QImage& picture);

// What the open entry finds at a chosen name.
enum class FileCheck { Missing, WrongSize, Ok };
FileCheck checkLogoFile(const QString& path);
// The raster of a checked logo file; throws when it cannot be read whole.
std::string readLogoFile(const QString& path);
// Writes the raster through a temporary file renamed over the name, so that
// a failure leaves an old file of that name whole; throws on failure.
void writeLogoFile(const QString& path, const std::string& raster);

// The picture file kinds an import reads, as a dialog filter
// ("desc|patterns|..."): all of them first, then Windows bitmaps, then each
// other kind.
QString pictureFilter();
// Loads a picture for an import: drawn over white (transparent parts become
// white), cut or padded with white to its top-left 64 x 64 pixels, every
// pixel then turned black or white at the level. Throws with the reader's
// message when the file does not load (unreadable, not a picture, or too
// large for the image allocation limit).
QImage importPicture(const QString& path, int level);

}  // namespace logo
