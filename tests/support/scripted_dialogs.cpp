#include "scripted_dialogs.h"

#include <gtest/gtest.h>

void ScriptedDialogs::message(const QString& text, dialogs::Kind) {
  shown << text;
  if (onMessage) onMessage(text);
}

void ScriptedDialogs::error(const QString& text) { shown << QStringLiteral("ERROR: ") + text; }

dialogs::Answer ScriptedDialogs::question(const QString& text, bool withCancel) {
  shown << QStringLiteral("?: ") + text;
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected question: " << text.toStdString();
    return withCancel ? dialogs::Answer::Cancel : dialogs::Answer::No;
  }
  auto a = answers.front();
  answers.pop_front();
  return a;
}

std::optional<QString> ScriptedDialogs::openFile(const dialogs::FileRequest& r) {
  fileRequests.push_back(r);
  if (files.empty()) {
    ADD_FAILURE() << "unexpected file dialog: " << r.title.toStdString();
    return std::nullopt;
  }
  std::optional<QString> f;
  f.swap(files.front());
  files.pop_front();
  return f;
}

std::optional<QString> ScriptedDialogs::saveFile(const dialogs::FileRequest& r) { return openFile(r); }

std::optional<QFont> ScriptedDialogs::chooseFont(const QFont&) {
  if (fonts.empty()) {
    ADD_FAILURE() << "unexpected font dialog";
    return std::nullopt;
  }
  auto f = fonts.front();
  fonts.pop_front();
  return f;
}

QStringList ScriptedDialogs::take() {
  QStringList out = shown;
  shown.clear();
  return out;
}
