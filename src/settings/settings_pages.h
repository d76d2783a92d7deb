#pragma once
// Shared pieces of the scale settings pages (state and totals, user settings,
// date and time, price keys, factory settings): their common messages, the
// handshake with its messages, and small layout helpers.
#include <QString>
#include <initializer_list>

class QComboBox;
class QGridLayout;
class QPushButton;
class QLabel;
class QLineEdit;
class QWidget;
class TForm1;

namespace settingspages {

// The handshake failures as most of the pages report them.
inline constexpr const char* kNoData = "Ошибка обмена. Повторите попытку еще раз или перезагрузите программу.";
inline constexpr const char* kWrongReply =
    "Ошибка обмена. Повторите попытку еще раз или проверьте работоспособность весов.";
// A command of the state and user settings pages failed.
inline constexpr const char* kCommandFailed = "Ошибка обмена. Проверьте работоспособность весов.";
// A read of the price keys or the factory settings got no reply.
inline constexpr const char* kTransferFailed = "Ошибка передачи данных. Повторите попытку еще раз.";

// Shows a fixed text (UTF-8 source text) in a plain message box.
void say(const char* text);

// Runs the handshake before a command; a failure shows noData or kWrongReply
// and gives false.
bool handshake(TForm1& f, int row, int timeOut, int pause, const char* noData = kNoData);

// A named edit (read-only for the fields that only show what a scale said).
QLineEdit* edit(QWidget* parent, const char* name, bool readOnly, int width = 80);
// A caption label with the given object name (empty: none).
QLabel* caption(QWidget* parent, const QString& text, const char* name = "");
// A named push button.
QPushButton* button(QWidget* parent, const QString& text, const char* name);
// A scale list: editable, a typed name is used as it stands and never joins
// the items (which follow the configuration table).
QComboBox* scaleList(QWidget* parent, const char* name);
// The tab order of a page, in the order given.
void tabOrder(std::initializer_list<QWidget*> widgets);
// Puts a label and its field side by side in the next row of a grid.
void addRow(QGridLayout* grid, QWidget* parent, const QString& label, QWidget* field);

}  // namespace settingspages
