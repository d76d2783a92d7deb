#pragma once
// A dialogs service for tests: records every text shown, answers questions
// and file dialogs from queues, and fails the test on a dialog it was not
// told to expect.
#include <QStringList>
#include <deque>
#include <optional>

#include "platform/dialogs.h"

class ScriptedDialogs : public dialogs::Service {
 public:
  ScriptedDialogs() { dialogs::install(this); }
  ~ScriptedDialogs() override { dialogs::install(nullptr); }

  // What was shown, in order: messages, errors ("ERROR: " prefix) and
  // questions ("?: " prefix).
  QStringList shown;
  std::deque<dialogs::Answer> answers;
  std::deque<std::optional<QString>> files;  // nullopt = cancelled
  std::deque<std::optional<QFont>> fonts;
  std::vector<dialogs::FileRequest> fileRequests;
  // Runs when a message is shown (for example to press Stop mid-run).
  std::function<void(const QString&)> onMessage;

  void message(const QString& text, dialogs::Kind) override;
  void error(const QString& text) override;
  dialogs::Answer question(const QString& text, bool withCancel) override;
  std::optional<QString> openFile(const dialogs::FileRequest& r) override;
  std::optional<QString> saveFile(const dialogs::FileRequest& r) override;
  std::optional<QFont> chooseFont(const QFont& initial) override;

  // The messages shown since the last call, then forgets them.
  QStringList take();
};
