// The page "Тесты": checks the network without touching any scale's data.
// The left half tests the scales of the configuration table (their addresses
// answer the ping, or the scales themselves answer the handshake); the right
// half sweeps the local subnet and lists the hosts that answer with their
// names. Both use the page's own time-out Edit31.
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "link/scale_link.h"
#include "platform/ansi.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "platform/icmp.h"
#include "platform/intconv.h"
#include "platform/ipv4.h"
#include "platform/line_input.h"
#include "platform/name_lookup.h"
#include "shell/progress_bar.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

namespace {

template <class T>
T* named(T* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// The page's time-out in ms: Edit31 as an integer, converted afresh at each
// run, or the mode's fall-back when it is not one. A negative value counts
// as 0: a wait then only looks whether an answer is there, and no pause is
// negative.
int testTimeOut(const QLineEdit* edit, int fallback) {
  const auto t = intconv::tryParse(ansi::A(edit->text()));
  return t ? std::max(*t, 0) : fallback;
}

// Shows a widget for the life of a run; hides it again however the run ends.
class ShownWhileRunning {
 public:
  explicit ShownWhileRunning(QWidget* w) : w_(w) { w_->show(); }
  ~ShownWhileRunning() { w_->hide(); }
  ShownWhileRunning(const ShownWhileRunning&) = delete;
  ShownWhileRunning& operator=(const ShownWhileRunning&) = delete;

 private:
  QWidget* w_;
};

void fillList(QListWidget* list, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) list->addItem(ansi::toUnicode(line));
}

}  // namespace

void TForm1::buildNetTestPage() {
  auto* page = new QVBoxLayout(TabSheet4);
  auto* halves = new QHBoxLayout();
  page->addLayout(halves, 1);

  // Left half: the scales of the configuration table.
  auto* scales = new QGroupBox(QStringLiteral("Тест сети весов"), TabSheet4);
  auto* left = new QVBoxLayout(scales);
  RadioButton3 = named(new QRadioButton(QStringLiteral("Проверка линии связи и сетевых настроек"), scales),
                       "RadioButton3");
  RadioButton4 = named(new QRadioButton(QStringLiteral("Проверка работоспособности весов"), scales), "RadioButton4");
  RadioButton3->setChecked(true);
  left->addWidget(RadioButton3);
  left->addWidget(RadioButton4);
  auto* leftButtons = new QHBoxLayout();
  Button18 = named(new QPushButton(QStringLiteral("Тест"), scales), "Button18");
  Button19 = named(new QPushButton(QStringLiteral("Очистить"), scales), "Button19");
  Button25 = named(new QPushButton(QStringLiteral("Стоп"), scales), "Button25");
  for (QPushButton* b : {Button18, Button19, Button25}) leftButtons->addWidget(b);
  leftButtons->addStretch();
  left->addLayout(leftButtons);
  left->addWidget(new QLabel(QStringLiteral("IP-адреса исправных весов"), scales));
  ListBox3 = named(new QListWidget(scales), "ListBox3");
  left->addWidget(ListBox3, 1);
  halves->addWidget(scales, 1);

  // Right half: the sweep of the local subnet.
  auto* subnet = new QGroupBox(QStringLiteral("Тест IP-адресов всей сети"), TabSheet4);
  auto* right = new QVBoxLayout(subnet);
  auto* fields = new QFormLayout();
  Edit30 = named(new QLineEdit(subnet), "Edit30");
  Edit31 = named(new QLineEdit(QStringLiteral("50"), subnet), "Edit31");
  for (QLineEdit* e : {Edit30, Edit31}) lineinput::apply(e);
  fields->addRow(QStringLiteral("IP - подсеть"), Edit30);
  fields->addRow(QStringLiteral("Тайм-аут, мс"), Edit31);
  right->addLayout(fields);
  auto* rightButtons = new QHBoxLayout();
  Button21 = named(new QPushButton(QStringLiteral("Поиск"), subnet), "Button21");
  Button20 = named(new QPushButton(QStringLiteral("Очистить"), subnet), "Button20");
  Button24 = named(new QPushButton(QStringLiteral("Стоп"), subnet), "Button24");
  for (QPushButton* b : {Button21, Button20, Button24}) rightButtons->addWidget(b);
  rightButtons->addStretch();
  right->addLayout(rightButtons);
  ListBox4 = named(new QListWidget(subnet), "ListBox4");
  right->addWidget(ListBox4, 1);
  halves->addWidget(subnet, 1);

  ProgressBar1 = named(new QProgressBar(TabSheet4), "ProgressBar1");
  page->addWidget(ProgressBar1);

  // Hidden until a run; they keep their place so that nothing jumps.
  for (QWidget* w : {static_cast<QWidget*>(Button24), static_cast<QWidget*>(Button25),
                     static_cast<QWidget*>(ProgressBar1)}) {
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
    w->hide();
  }

  connect(Button18, &QPushButton::clicked, this, &TForm1::Button18Click);
  connect(Button19, &QPushButton::clicked, this, &TForm1::Button19Click);
  connect(Button20, &QPushButton::clicked, this, &TForm1::Button20Click);
  connect(Button21, &QPushButton::clicked, this, &TForm1::Button21Click);
  connect(Button24, &QPushButton::clicked, this, &TForm1::Button24Click);
  connect(Button25, &QPushButton::clicked, this, &TForm1::Button25Click);
}

// Test of the table's scales.
void TForm1::Button18Click() {
  guarded([this] {
    // A test is a scale operation: it never starts while another one runs.
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    TcpClient1.Close();
    if (RightCfg() != 0) {
      dialogs::message(QStringLiteral("Проверьте правильность заполнения таблицы конфигурации."));
      return;
    }
    TransferCancelled = 0;
    ShownWhileRunning stop(Button25);
    clock_::processEvents();
    if (RadioButton3->isChecked()) {
      const int t = testTimeOut(Edit31, 200);
      ListBox3->clear();
      PingReplies.clear();
      clock_::processEvents();
      fillList(ListBox3, Search1(t));
    } else if (RadioButton4->isChecked()) {
      checkScales(testTimeOut(Edit31, 100));
    }
  });
}

// The scale check: every row is pinged; a row that answers is connected to
// and sent its scale number, and its address is listed when the scale
// echoes the number and follows it with 0x80. Rows that fail are left out
// without a message. Stop ends the check before the next row.
void TForm1::checkScales(int t) {
  IdIcmpClient1.ReceiveTimeout = t;
  ListBox3->clear();
  PingReplies.clear();
  clock_::processEvents();
  // The connect has a bound of its own, a little beyond the time-out.
  const int connectMs = t > std::numeric_limits<int>::max() - 2000 ? std::numeric_limits<int>::max() : t + 2000;
  for (int row = 1; row < StringGrid1->RowCount(); ++row) {
    clock_::processEvents();
    if (TransferCancelled == 1) break;
    // The table may have been edited while events ran.
    const auto address = ipv4::dotted(StringGrid1->cell(4, row));
    if (!address) continue;
    IdIcmpClient1.Host = *address;
    IdIcmpClient1.Ping();
    clock_::sleep(50);
    if (PingReplies.empty()) continue;

    TcpClient1.setRemoteHost(*address);
    TcpClient1.setRemotePort(StringGrid1->cell(5, row));
    clock_::processEvents();
    if (!TcpClient1.Active()) TcpClient1.Open(connectMs);
    if (TcpClient1.Connected()) {
      // The probe waits t for the echo and pauses t before the answer code.
      const HandshakeResult probe = ScaleSelectHandshake(row, t, t);
      if (probe == HandshakeResult::Accepted) ListBox3->addItem(ansi::toUnicode(StringGrid1->cell(4, row)));
      if (probe != HandshakeResult::NoData) clock_::sleep(200);
    }
    PingReplies.clear();
  }
}

// The address test: one ping a row, no pause between them; PingReplies
// collects the answers of all rows, so an address that answers in two rows
// is listed twice.
std::vector<std::string> TForm1::Search1(int t) {
  ProgressBar1->setValue(0);
  ShownWhileRunning progress(ProgressBar1);
  setProgressMaximum(ProgressBar1, StringGrid1->RowCount() - 1);
  IdIcmpClient1.ReceiveTimeout = t;
  for (int row = 1; row < StringGrid1->RowCount(); ++row) {
    ProgressBar1->setValue(row);
    if (TransferCancelled == 1) break;
    clock_::processEvents();
    const auto address = ipv4::dotted(StringGrid1->cell(4, row));
    if (!address) continue;
    IdIcmpClient1.Host = *address;
    try {
      IdIcmpClient1.Ping();
    } catch (const icmp::PingError&) {
      throw;  // no ping can be sent at all: the error box says why
    } catch (...) {
      // A ping that fails is a row that does not answer.
    }
  }
  std::vector<std::string> result = PingReplies;
  ProgressBar1->setValue(0);
  return result;
}

// Subnet sweep.
void TForm1::Button21Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    // Only the addresses of the subnet typed are swept: a prefix that is not
    // three numbers each with its full stop is refused before any ping, and
    // the pings go to the canonical form of the three numbers.
    const auto prefix = ipv4::subnetPrefix(ansi::A(Edit30->text()));
    if (!prefix) {
      dialogs::message(QStringLiteral(
          "Неправильно задана IP - подсеть. Это три числа от 0 до 255, после каждого точка, например 192.168.1."));
      return;
    }
    TcpClient1.Close();
    TransferCancelled = 0;
    ShownWhileRunning stop(Button24);
    clock_::processEvents();
    const int t = testTimeOut(Edit31, 100);
    ListBox4->clear();
    PingReplies.clear();
    clock_::processEvents();
    fillList(ListBox4, Search(*prefix, t));
  });
}

// Pings prefix + 1 .. prefix + 255 (never address 0 of the subnet), then
// names every address that answered. A stop in the ping phase leaves the flag
// set for the naming phase, so a stopped sweep lists nothing; a stop while
// naming keeps the lines made so far.
std::vector<std::string> TForm1::Search(const std::string& prefix, int t) {
  ProgressBar1->setValue(0);
  ShownWhileRunning progress(ProgressBar1);
  ProgressBar1->setMaximum(255);
  IdIcmpClient1.ReceiveTimeout = t;
  std::vector<std::string> lines;
  for (int i = 1; i <= 255; ++i) {
    ProgressBar1->setValue(i);
    if (TransferCancelled == 1) break;
    clock_::processEvents();
    IdIcmpClient1.Host = prefix + std::to_string(i);
    try {
      IdIcmpClient1.Ping();
    } catch (const icmp::PingError&) {
      throw;  // no ping can be sent at all: the error box says why
    } catch (...) {
      // A ping that fails is an address that does not answer.
    }
  }
  if (PingReplies.empty()) return lines;  // nobody to name

  setProgressMaximum(ProgressBar1, int(PingReplies.size()) - 1);
  ProgressBar1->setValue(0);
  for (std::size_t j = 0; j < PingReplies.size(); ++j) {
    ProgressBar1->setValue(int(j));
    if (TransferCancelled == 1) break;
    clock_::processEvents();
    const std::string address = PingReplies[j];
    lines.push_back(address + "   " + namelookup::reverse(address));
  }
  return lines;
}

void TForm1::Button25Click() {
  TransferCancelled = 1;
  Button25->hide();
}

void TForm1::Button24Click() {
  TransferCancelled = 1;
  Button24->hide();
}

void TForm1::Button19Click() { ListBox3->clear(); }

void TForm1::Button20Click() { ListBox4->clear(); }
