#pragma once
// The record navigator of the goods page: ten buttons that move through and
// edit the open table.
#include <QWidget>
#include <array>
#include <functional>

#include "storage/table.h"

class QToolButton;

namespace storage {

class DbNavigator : public QWidget {
  Q_OBJECT
 public:
  enum Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh, Count };

  explicit DbNavigator(Table* table, QWidget* parent = nullptr);
  ~DbNavigator() override;

  QToolButton* button(Button b) const { return buttons_[static_cast<std::size_t>(b)]; }
  // Runs what a click on the button runs.
  void click(Button b);
  // Runs before every button but Cancel; the button does nothing when it
  // returns false (the grid commits its open cell editor here).
  std::function<bool()> beforeAction;

 private:
  void updateButtons();

  Table* table_;
  int listener_ = 0;
  std::array<QToolButton*, Count> buttons_{};
};

}  // namespace storage
