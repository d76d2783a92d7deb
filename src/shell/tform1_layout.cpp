// The main window's frame: menu, page control, toolbars and the controls of
// every page, each named as the handlers and tests know it.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QProxyStyle>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/line_input.h"
#include "shell/string_grid.h"
#include "shell/tform1.h"

namespace {

template <class T>
T* named(T* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QToolButton* toolButton(QWidget* parent, const char* name, const QString& hint,
                        QStyle::StandardPixmap icon) {
  auto* b = named(new QToolButton(parent), name);
  b->setToolTip(hint);
  b->setStatusTip(hint);
  b->setIcon(parent->style()->standardIcon(icon));
  b->setAutoRaise(true);
  return b;
}

QAction* menuItem(QMenu* menu, const char* name, const QString& caption) {
  auto* a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

// The page tabs with less blank space beside their captions, so that all
// seven fit the window's start width.
class CompactTabStyle : public QProxyStyle {
 public:
  explicit CompactTabStyle(QObject* owner) : QProxyStyle() { setParent(owner); }
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_TabBarTabHSpace) return 8;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

QMenu* dropMenu(QToolButton* b) {
  auto* m = new QMenu(b);
  b->setMenu(m);
  // The button has no action of its own: a click anywhere opens its menu.
  b->setPopupMode(QToolButton::InstantPopup);
  return m;
}

}  // namespace

void TForm1::buildLayout() {
  setWindowTitle(QStringLiteral("Работа с весами Norel KM ver.1.6 в локальной сети Ethernet"));
  // The pages are laid out for the window's width with a small dialog font;
  // with it the whole goods toolbar shows.
  QFont small = font();
  small.setPointSize(8);
  setFont(small);
  resize(721, 488);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  N1 = named(menuBar()->addMenu(QStringLiteral("Файл")), "N1");
  N2 = menuItem(N1, "N2", QStringLiteral("Выход"));
  connect(N2, &QAction::triggered, this, &TForm1::N2Click);

  PageControl1 = named(new QTabWidget(this), "PageControl1");
  // Every page's tab stays readable: no scroll arrows hiding tabs, no cut
  // captions; the window is at least as wide as the tabs.
  PageControl1->tabBar()->setUsesScrollButtons(false);
  PageControl1->tabBar()->setElideMode(Qt::ElideNone);
  PageControl1->tabBar()->setStyle(new CompactTabStyle(PageControl1->tabBar()));
  setCentralWidget(PageControl1);
  auto page = [this](const char* name, const QString& caption) {
    auto* w = named(new QWidget(PageControl1), name);
    PageControl1->addTab(w, caption);
    return w;
  };
  TabSheet1 = page("TabSheet1", QStringLiteral("Товары и сообщения"));
  TabSheet2 = page("TabSheet2", QStringLiteral("Конфигурация сети"));
  TabSheet3 = page("TabSheet3", QStringLiteral("Настройки весов"));
  TabSheet5 = page("TabSheet5", QStringLiteral("Заводские установки"));
  TabSheet6 = page("TabSheet6", QStringLiteral("Текущее состояние"));
  TabSheet7 = page("TabSheet7", QStringLiteral("Логотип"));
  TabSheet4 = page("TabSheet4", QStringLiteral("Тесты"));

  buildGoodsPage();
  buildConfigPage();
  buildSettingsPages();
  buildOtherPages();
  buildNetTestPage();

  // Tool buttons are for the mouse; Tab moves between fields, lists and grids.
  for (auto* b : findChildren<QToolButton*>()) b->setFocusPolicy(Qt::NoFocus);

  PageControl1->setCurrentIndex(0);
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
}

void TForm1::buildGoodsPage() {
  auto* v = new QVBoxLayout(TabSheet1);
  ToolBar1 = named(new QToolBar(TabSheet1), "ToolBar1");
  ToolBar1->setIconSize(QSize(16, 16));
  v->addWidget(ToolBar1);
  auto* tb = ToolBar1;

  ToolButton1 = toolButton(tb, "ToolButton1", QStringLiteral("Создать новую базу товаров или сообщений"), QStyle::SP_FileIcon);
  auto* m1 = dropMenu(ToolButton1);
  N3 = menuItem(m1, "N3", QStringLiteral("Новая база товаров"));
  N4 = menuItem(m1, "N4", QStringLiteral("Новая база сообщений"));
  tb->addWidget(ToolButton1);

  ToolButton2 = toolButton(tb, "ToolButton2", QStringLiteral("Открыть базу товаров или сообщений"), QStyle::SP_DialogOpenButton);
  tb->addWidget(ToolButton2);

  ToolButton3 = toolButton(tb, "ToolButton3", QStringLiteral("Сохранить базу товаров или сообщений"), QStyle::SP_DialogSaveButton);
  auto* m3 = dropMenu(ToolButton3);
  N10 = menuItem(m3, "N10", QStringLiteral("Сохранить"));
  N11 = menuItem(m3, "N11", QStringLiteral("Переименовать базу"));
  tb->addWidget(ToolButton3);

  ToolButton4 = toolButton(tb, "ToolButton4", QStringLiteral("Печать таблицы"), QStyle::SP_FileDialogDetailedView);
  auto* m4 = dropMenu(ToolButton4);
  N20 = menuItem(m4, "N20", QStringLiteral("Печать базы товаров"));
  N21 = menuItem(m4, "N21", QStringLiteral("Печать базы сообщений"));
  tb->addWidget(ToolButton4);

  tb->addSeparator();
  NavigatorPlace = named(new QWidget(tb), "NavigatorPlace");
  new QHBoxLayout(NavigatorPlace);
  NavigatorPlace->layout()->setContentsMargins(0, 0, 0, 0);
  tb->addWidget(NavigatorPlace);
  tb->addSeparator();

  ToolButton7 = toolButton(tb, "ToolButton7", QStringLiteral("Сортировка базы"), QStyle::SP_ArrowDown);
  auto* m7 = dropMenu(ToolButton7);
  PLU1 = menuItem(m7, "PLU1", QStringLiteral("Сортировка по номеру PLU"));
  MSG1 = menuItem(m7, "MSG1", QStringLiteral("Сортировка по номеру MSG"));
  N5 = menuItem(m7, "N5", QStringLiteral("Сортировка по наименованию товара"));
  N6 = menuItem(m7, "N6", QStringLiteral("Сортировка по цене"));
  N7 = menuItem(m7, "N7", QStringLiteral("Сортировка по коду товара"));
  N8 = menuItem(m7, "N8", QStringLiteral("Сортировка по количеству продаж товара"));
  m7->addSeparator();
  PLU2 = menuItem(m7, "PLU2", QStringLiteral("Пронумеровать номера PLU по номеру строки"));
  MSG2 = menuItem(m7, "MSG2", QStringLiteral("Пронумеровать номера MSG по номеру строки"));
  tb->addWidget(ToolButton7);

  ToolButton8 = toolButton(tb, "ToolButton8", QStringLiteral("Проверка правильности заполнения базы"), QStyle::SP_DialogApplyButton);
  tb->addWidget(ToolButton8);
  tb->addSeparator();

  ToolButton10 = toolButton(tb, "ToolButton10", QStringLiteral("Загрузить базу в весы"), QStyle::SP_ArrowForward);
  auto* m10 = dropMenu(ToolButton10);
  N9 = menuItem(m10, "N9", QStringLiteral("Загрузить базу товаров в весы "));
  N19 = menuItem(m10, "N19", QStringLiteral("Загрузить базу сообщений в весы"));
  tb->addWidget(ToolButton10);

  ToolButton11 = toolButton(tb, "ToolButton11", QStringLiteral("Прочитать из весов базу товаров или сообщений"), QStyle::SP_ArrowBack);
  auto* m11 = dropMenu(ToolButton11);
  N12 = menuItem(m11, "N12", QStringLiteral("Прочитать список товаров из весов"));
  N13 = menuItem(m11, "N13", QStringLiteral("Прочитать список сообщений из весов"));
  tb->addWidget(ToolButton11);

  ToolButton12 = toolButton(tb, "ToolButton12", QStringLiteral("Удалить из весов базу товаров или сообщений"), QStyle::SP_TrashIcon);
  auto* m12 = dropMenu(ToolButton12);
  N14 = menuItem(m12, "N14", QStringLiteral("Удалить из весов товары"));
  tb->addWidget(ToolButton12);

  ToolButton13 = toolButton(tb, "ToolButton13", QStringLiteral("Обнулить итоги по ячейкам PLU"), QStyle::SP_DialogResetButton);
  tb->addWidget(ToolButton13);
  tb->addSeparator();

  ToolButton16 = toolButton(tb, "ToolButton16", QStringLiteral("Выбор шрифта таблицы"), QStyle::SP_FileDialogContentsView);
  tb->addWidget(ToolButton16);

  ToolButton17 = toolButton(tb, "ToolButton17", QStringLiteral("Помощь"), QStyle::SP_MessageBoxQuestion);
  auto* m17 = dropMenu(ToolButton17);
  N16 = menuItem(m17, "N16", QStringLiteral("База товаров"));
  N17 = menuItem(m17, "N17", QStringLiteral("База сообщений"));
  tb->addWidget(ToolButton17);
  connect(N16, &QAction::triggered, this, &TForm1::N16Click);
  connect(N17, &QAction::triggered, this, &TForm1::N17Click);

  auto* bar = new QHBoxLayout();
  bar->addWidget(new QLabel(QStringLiteral("Установка логотипа"), TabSheet1));
  ComboBox1 = named(new QComboBox(TabSheet1), "ComboBox1");
  bar->addWidget(ComboBox1);
  bar->addWidget(new QLabel(QStringLiteral("Выбор весов"), TabSheet1));
  ComboBox2 = named(new QComboBox(TabSheet1), "ComboBox2");
  ComboBox2->setEditable(true);
  // A typed name is used as it stands and never joins the items, which
  // follow the rows of the configuration table.
  ComboBox2->setInsertPolicy(QComboBox::NoInsert);
  ComboBox2->setMinimumWidth(160);
  lineinput::apply(ComboBox2->lineEdit());
  bar->addWidget(ComboBox2);
  Button3 = named(new QPushButton(QStringLiteral("Стоп"), TabSheet1), "Button3");
  Button3->hide();
  bar->addWidget(Button3);
  bar->addStretch();
  v->addLayout(bar);

  DBGrid1 = named(new QTableView(TabSheet1), "DBGrid1");
  v->addWidget(DBGrid1, 1);

  auto* bottom = new QHBoxLayout();
  ProgressBar3 = named(new QProgressBar(TabSheet1), "ProgressBar3");
  ProgressBar3->hide();
  bottom->addWidget(ProgressBar3, 1);
  Numb = named(new QLabel(TabSheet1), "Numb");
  // The number changes with every record of a transfer: a label of fixed
  // size (room for any 32-bit number) repaints only its own place and never
  // makes the page lay out again.
  Numb->setFixedSize(Numb->fontMetrics().horizontalAdvance(QStringLiteral("-2147483648")) + 8,
                     Numb->sizeHint().height());
  Numb->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Numb->hide();
  bottom->addWidget(Numb);
  CheckBox1 = named(new QCheckBox(QStringLiteral("Протестировать данные перед записью"), TabSheet1), "CheckBox1");
  CheckBox1->setChecked(true);
  bottom->addWidget(CheckBox1);
  v->addLayout(bottom);
}

void TForm1::buildConfigPage() {
  auto* v = new QVBoxLayout(TabSheet2);
  auto* bar = new QHBoxLayout();
  struct B { QToolButton** field; const char* name; const char* hint; QStyle::StandardPixmap icon; void (TForm1::*slot)(); };
  const B buttons[] = {
      {&SpeedButton2, "SpeedButton2", "Новая таблица конфигурации", QStyle::SP_FileIcon, &TForm1::SpeedButton2Click},
      {&SpeedButton17, "SpeedButton17", "Открыть таблицу конфигурации", QStyle::SP_DialogOpenButton, &TForm1::SpeedButton17Click},
      {&SpeedButton18, "SpeedButton18", "Сохранить таблицу конфигурации", QStyle::SP_DialogSaveButton, &TForm1::SpeedButton18Click},
      {&SpeedButton20, "SpeedButton20", "Добавить строку таблицы", QStyle::SP_FileDialogNewFolder, &TForm1::SpeedButton20Click},
      {&SpeedButton21, "SpeedButton21", "Копировать строку таблицы", QStyle::SP_FileLinkIcon, &TForm1::SpeedButton21Click},
      {&SpeedButton22, "SpeedButton22", "Вставить строку в таблицу", QStyle::SP_ArrowDown, &TForm1::SpeedButton22Click},
      {&SpeedButton23, "SpeedButton23", "Удалить строку из таблицы", QStyle::SP_TrashIcon, &TForm1::SpeedButton23Click},
      {&SpeedButton24, "SpeedButton24", "Сортировать строки по номеру п/п", QStyle::SP_ArrowUp, &TForm1::SpeedButton24Click},
      {&SpeedButton25, "SpeedButton25", "Проверка правильности заполнения", QStyle::SP_DialogApplyButton, &TForm1::SpeedButton25Click},
      {&SpeedButton26, "SpeedButton26", "Применить изменения конфигурации", QStyle::SP_BrowserReload, &TForm1::SpeedButton26Click},
      {&SpeedButton27, "SpeedButton27", "Выбор файлов товаров", QStyle::SP_DirOpenIcon, &TForm1::SpeedButton27Click},
      {&SpeedButton28, "SpeedButton28", "Выбор файлов сообщений", QStyle::SP_DirIcon, &TForm1::SpeedButton28Click},
      {&SpeedButton29, "SpeedButton29", "Выбор шрифта таблицы", QStyle::SP_FileDialogContentsView, &TForm1::SpeedButton29Click},
      {&SpeedButton30, "SpeedButton30", "Помощь", QStyle::SP_MessageBoxQuestion, &TForm1::SpeedButton30Click},
  };
  for (const B& b : buttons) {
    *b.field = toolButton(TabSheet2, b.name, QString::fromUtf8(b.hint), b.icon);
    connect(*b.field, &QToolButton::clicked, this, b.slot);
    bar->addWidget(*b.field);
  }
  bar->addSpacing(12);
  bar->addWidget(new QLabel(QStringLiteral("ComPort TimeOut , мс"), TabSheet2));
  Edit32 = named(new QLineEdit(QStringLiteral("1000"), TabSheet2), "Edit32");
  Edit32->setMaximumWidth(70);
  lineinput::apply(Edit32);
  bar->addWidget(Edit32);
  bar->addStretch();
  v->addLayout(bar);

  StringGrid1 = named(new StringGrid(9, 2, 0, 1, TabSheet2), "StringGrid1");
  StringGrid1->setColWidths({51, 130, 119, 91, 94, 97, 165, 158, 130});
  v->addWidget(StringGrid1, 1);

  CheckBox3 = named(new QCheckBox(QStringLiteral("Сохранять текущую конфигурацию при выходе из программы"), TabSheet2), "CheckBox3");
  CheckBox3->setChecked(true);
  v->addWidget(CheckBox3);
}

void TForm1::buildSettingsPages() {
  // The scale list serves all four sub-pages: it stands in a bar at the
  // right above them, so that the sub-page tabs have the page's whole width
  // and show their whole captions.
  auto* v = new QVBoxLayout(TabSheet3);
  auto* bar = new QHBoxLayout();
  bar->addStretch();
  bar->addWidget(new QLabel(QStringLiteral("Выбор весов"), TabSheet3));
  ComboBox3 = named(new QComboBox(TabSheet3), "ComboBox3");
  ComboBox3->setEditable(true);
  ComboBox3->setInsertPolicy(QComboBox::NoInsert);
  ComboBox3->setMinimumWidth(160);
  lineinput::apply(ComboBox3->lineEdit());
  bar->addWidget(ComboBox3);
  v->addLayout(bar);

  PageControl2 = named(new QTabWidget(TabSheet3), "PageControl2");
  PageControl2->tabBar()->setUsesScrollButtons(false);
  PageControl2->tabBar()->setElideMode(Qt::ElideNone);
  PageControl2->tabBar()->setStyle(new CompactTabStyle(PageControl2->tabBar()));
  v->addWidget(PageControl2, 1);
  auto sub = [this](const char* name, const QString& caption) {
    auto* w = named(new QWidget(PageControl2), name);
    PageControl2->addTab(w, caption);
    return w;
  };
  TabSheet10 = sub("TabSheet10", QStringLiteral("Формат этикетки и особенности печати"));
  TabSheet12 = sub("TabSheet12", QStringLiteral("Дата и время"));
  TabSheet13 = sub("TabSheet13", QStringLiteral("Клавиши цен"));
  TabSheet14 = sub("TabSheet14", QStringLiteral("Совместимость полей баз данных"));

  // The help buttons of the two format lists; their sub-page places them.
  SpeedButton31 = toolButton(TabSheet10, "SpeedButton31", QStringLiteral("Помощь"), QStyle::SP_MessageBoxQuestion);
  SpeedButton32 = toolButton(TabSheet10, "SpeedButton32", QStringLiteral("Помощь"), QStyle::SP_MessageBoxQuestion);
  connect(SpeedButton31, &QToolButton::clicked, this, &TForm1::SpeedButton31Click);
  connect(SpeedButton32, &QToolButton::clicked, this, &TForm1::SpeedButton32Click);
  buildUserSettingsPage();
  buildDatePage();
  buildPriceKeysPage();

  // Field-compatibility sub-page.
  auto* g14 = new QVBoxLayout(TabSheet14);
  StringGrid3 = named(new StringGrid(4, 24, 2, 1, TabSheet14), "StringGrid3");
  StringGrid3->setColWidths({109, 88, 205, 424});
  g14->addWidget(StringGrid3, 1);
  // Two rows below the grid, so that the page fits the window's width.
  auto* b14 = new QHBoxLayout();
  Button10 = named(new QPushButton(QStringLiteral("По умолчанию"), TabSheet14), "Button10");
  Button22 = named(new QPushButton(QStringLiteral("Применить"), TabSheet14), "Button22");
  CheckBox13 = named(new QCheckBox(QStringLiteral("Сохранять совместимость при выходе из программы"), TabSheet14), "CheckBox13");
  CheckBox13->setChecked(true);
  Label47 = named(new QLabel(QStringLiteral("* - индексное поле"), TabSheet14), "Label47");
  b14->addWidget(Button10);
  b14->addWidget(Button22);
  b14->addStretch();
  b14->addWidget(Label47);
  g14->addLayout(b14);
  g14->addWidget(CheckBox13);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);

  PageControl2->setCurrentWidget(TabSheet14);
}

void TForm1::buildOtherPages() {
  buildFactoryPage();
  buildStatePage();
  buildLogoPage();
}
