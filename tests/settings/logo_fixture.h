#pragma once
// What the logo page tests share: the edit field's clicks, the logo's bytes
// and the check that the edit field shows the preview five-fold.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <string>

#include "platform/dialogs.h"
#include "settings/logo_raster.h"
#include "shell/image_box.h"
#include "shell/tform1.h"

namespace logotest {

using dialogs::Answer;

// The save question as the scripted dialogs record it.
inline const QString kQuestion = QStringLiteral("?: Рисунок логотипа был изменен. Сохранить изменения?");

// Releases the left mouse button over the edit field at (x, y); not at
// (0, 0), which QTest takes for the middle of the widget.
inline void click(TForm1* form, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
  QTest::mouseClick(form->Image1, button, Qt::NoModifier, QPoint(x, y));
}

// The logo's raster as the preview holds it.
inline std::string raster(TForm1* form) { return logo::packRaster(form->Image2->canvas()); }

// True when every square of the edit field is filled with its preview
// pixel's colour.
inline ::testing::AssertionResult editFieldShowsPreview(TForm1* form) {
  const QImage& field = form->Image1->canvas();
  const QImage& preview = form->Image2->canvas();
  for (int y = 0; y < logo::kFieldSide; ++y)
    for (int x = 0; x < logo::kFieldSide; ++x)
      if ((field.pixel(x, y) & 0xFFFFFFu) != (preview.pixel(x / logo::kZoom, y / logo::kZoom) & 0xFFFFFFu))
        return ::testing::AssertionFailure() << "edit field differs at " << x << "," << y;
  return ::testing::AssertionSuccess();
}

// 512 bytes with every byte different from its neighbours.
inline std::string pattern(int seed = 0) {
  std::string r(logo::kRasterBytes, '\0');
  for (std::size_t k = 0; k < r.size(); ++k) r[k] = char((k * 37 + std::size_t(seed) * 11 + 5) & 0xFF);
  return r;
}

}  // namespace logotest
