#pragma once
// A picture control with a canvas of its own, shown at its natural size.
#include <QImage>
#include <QLabel>

class QMouseEvent;

class ImageBox : public QLabel {
  Q_OBJECT
 public:
  ImageBox(int width, int height, QWidget* parent = nullptr);
  QImage& canvas() { return canvas_; }
  // Fills a rectangle of the canvas with an RGB colour and shows the result.
  void fillRect(int left, int top, int right, int bottom, unsigned rgb);
  void updateView();

 signals:
  // A mouse button was released over the control, or after a press on it
  // (then the point may lie outside); x and y in canvas pixels.
  void mouseReleased(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage canvas_;
};
