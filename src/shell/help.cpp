// Help by keyword: the program's own pages, one topic per keyword, shown in
// one help window.
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QUrl>
#include <map>

#include "shell/tform1.h"

namespace {
const std::map<QString, QString>& topics() {
  static const std::map<QString, QString> t = {
      {QStringLiteral("Содержание"), QStringLiteral("index.html")},
      {QStringLiteral("Конфигурация сети"), QStringLiteral("network.html")},
      {QStringLiteral("Форматы этикеток"), QStringLiteral("labels.html")},
      {QStringLiteral("Форматы штрих-кода"), QStringLiteral("barcodes.html")},
      {QStringLiteral("Логотип"), QStringLiteral("logo.html")},
      {QStringLiteral("База товаров"), QStringLiteral("goods.html")},
      {QStringLiteral("База сообщений"), QStringLiteral("messages.html")},
  };
  return t;
}
}  // namespace

namespace {
// The help window: Back and "Содержание" over the pages, opened centred over
// the main window the first time it is shown.
QTextBrowser* makeHelpWindow(QWidget* owner) {
  auto* window = new QWidget(owner, Qt::Window);
  window->setObjectName(QStringLiteral("HelpWindow"));
  window->setWindowTitle(QStringLiteral("Справка"));
  auto* v = new QVBoxLayout(window);
  v->setContentsMargins(4, 4, 4, 4);
  auto* bar = new QHBoxLayout();
  auto* back = new QPushButton(QStringLiteral("Назад"), window);
  back->setObjectName(QStringLiteral("HelpBack"));
  back->setEnabled(false);
  auto* contents = new QPushButton(QStringLiteral("Содержание"), window);
  contents->setObjectName(QStringLiteral("HelpContents"));
  bar->addWidget(back);
  bar->addWidget(contents);
  bar->addStretch();
  v->addLayout(bar);
  auto* browser = new QTextBrowser(window);
  browser->setObjectName(QStringLiteral("HelpBrowser"));
  v->addWidget(browser, 1);
  QObject::connect(back, &QPushButton::clicked, browser, &QTextBrowser::backward);
  QObject::connect(browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  QObject::connect(contents, &QPushButton::clicked, browser, [browser] {
    browser->setSource(QUrl(QStringLiteral("qrc:/help/") + topics().at(QStringLiteral("Содержание"))));
  });
  window->resize(560, 420);
  window->move(owner->frameGeometry().center() - window->rect().center());
  return browser;
}
}  // namespace

void TForm1::HelpKeyword(const QString& keyword) {
  if (!HelpWindow) {
    Q_INIT_RESOURCE(help);
    HelpWindow = makeHelpWindow(this)->window();
  }
  auto* browser = HelpWindow->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
  const auto it = topics().find(keyword);
  const QString page = it != topics().end() ? it->second : QStringLiteral("index.html");
  browser->setSource(QUrl(QStringLiteral("qrc:/help/") + page));
  HelpWindow->show();
  HelpWindow->raise();
}

void TForm1::N16Click() { HelpKeyword(QStringLiteral("База товаров")); }
void TForm1::N17Click() { HelpKeyword(QStringLiteral("База сообщений")); }
void TForm1::SpeedButton30Click() { HelpKeyword(QStringLiteral("Конфигурация сети")); }
void TForm1::SpeedButton31Click() { HelpKeyword(QStringLiteral("Форматы этикеток")); }
void TForm1::SpeedButton32Click() { HelpKeyword(QStringLiteral("Форматы штрих-кода")); }
void TForm1::SpeedButton39Click() { HelpKeyword(QStringLiteral("Логотип")); }
