// Help by keyword: the program's own pages, one topic per keyword, shown in
// one help window.
#include <QTextBrowser>
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

void TForm1::HelpKeyword(const QString& keyword) {
  auto* browser = qobject_cast<QTextBrowser*>(HelpWindow);
  if (!browser) {
    Q_INIT_RESOURCE(help);
    browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("HelpWindow"));
    browser->setWindowFlag(Qt::Window);
    browser->setWindowTitle(QStringLiteral("Справка"));
    browser->resize(560, 420);
    HelpWindow = browser;
  }
  const auto it = topics().find(keyword);
  const QString page = it != topics().end() ? it->second : QStringLiteral("index.html");
  browser->setSource(QUrl(QStringLiteral("qrc:/help/") + page));
  browser->show();
  browser->raise();
}

void TForm1::N16Click() { HelpKeyword(QStringLiteral("База товаров")); }
void TForm1::N17Click() { HelpKeyword(QStringLiteral("База сообщений")); }
void TForm1::SpeedButton30Click() { HelpKeyword(QStringLiteral("Конфигурация сети")); }
void TForm1::SpeedButton31Click() { HelpKeyword(QStringLiteral("Форматы этикеток")); }
void TForm1::SpeedButton32Click() { HelpKeyword(QStringLiteral("Форматы штрих-кода")); }
void TForm1::SpeedButton39Click() { HelpKeyword(QStringLiteral("Логотип")); }
