#pragma once
// A picture control with a canvas of its own, shown at its natural size.
#include <QImage>
#include <QLabel>

class ImageBox : public QLabel {
  Q_OBJECT
 public:
  ImageBox(int width, int height, QWidget* parent = nullptr);
  QImage& canvas() { return canvas_; }
  // Fills a rectangle of the canvas with an RGB colour and shows the result.
  void fillRect(int left, int top, int right, int bottom, unsigned rgb);
  void updateView();

 private:
  QImage canvas_;
};
