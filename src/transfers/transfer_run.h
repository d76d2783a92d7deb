#pragma once
// Shared pieces of the transfer drivers: the progress controls of the goods
// page and the field reads of the open table by logical field name.
#include <optional>
#include <string>

class TForm1;
namespace storage {
class Table;
}

namespace transfers {

// The table component of the main window.
storage::Table& table(TForm1& f);

// The progress bar, the label Numb and the Stop button of the goods page.
// Hidden again when the object goes, however the driver ends.
class Progress {
 public:
  explicit Progress(TForm1& f) : f_(f) {}
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Maximum max, position 0, Numb "0", Stop and both displays visible.
  void show(int max);
  // show() with the maximum high - low (0 when high < low).
  void showSpan(long long low, long long high);
  void hide();
  void step(long long position);
  void number(long long n);

 private:
  TForm1& f_;
};

// The logical names of the eight message lines, LINE1 .. LINE8.
extern const char* const kLineFields[8];

// Shows a fixed text (UTF-8 source text) in a plain message box.
void say(const char* text);

// Field reads of the current record through the field map: nothing when the
// table has no such field or the value does not convert (an integer read of
// an empty text included; a number field without a value reads as 0).
std::optional<int> readInt(TForm1& f, const char* logical);
std::optional<std::string> readText(TForm1& f, const char* logical);

}  // namespace transfers
