#include "shell/image_box.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

ImageBox::ImageBox(int width, int height, QWidget* parent)
    : QLabel(parent), canvas_(width, height, QImage::Format_RGB32) {
  canvas_.fill(Qt::white);
  setFixedSize(width, height);
  updateView();
}

void ImageBox::fillRect(int left, int top, int right, int bottom, unsigned rgb) {
  QPainter p(&canvas_);
  p.fillRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), QColor::fromRgb(rgb));
  p.end();
  updateView();
}

void ImageBox::updateView() { setPixmap(QPixmap::fromImage(canvas_)); }

void ImageBox::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  emit mouseReleased(event->button(), event->modifiers(), at.x(), at.y());
  QLabel::mouseReleaseEvent(event);
}
