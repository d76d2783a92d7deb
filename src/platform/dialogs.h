#pragma once
// Every modal interaction of the program goes through one service: message
// boxes, questions, the default error box and the file, font and picture
// dialogs. Production shows real Qt dialogs; tests install a scripted service.
#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace dialogs {

// The title that captions every message box and question.
extern const char* const kProgramTitle;

enum class Kind { Plain, Information, Warning, Error };
enum class Answer { Ok, Yes, No, Cancel };

// One file dialog request: what the dialog shows and starts with.
struct FileRequest {
  QString title;
  QString filter;       // "desc|pattern|desc|pattern"
  QString initialDir;   // empty: the current directory
  QString fileName;     // initial file name
  QString defaultExt;   // without the dot; empty: none
  bool picturePreview = false;  // shows the chosen picture beside the list
};

class Service {
 public:
  virtual ~Service() = default;
  // A message box with one OK button.
  virtual void message(const QString& text, Kind kind = Kind::Plain) = 0;
  // The application's default error box (an error that ended a handler).
  virtual void error(const QString& text) = 0;
  // A Yes/No (or Yes/No/Cancel) box without icon; closing it answers Cancel
  // (or No when there is no Cancel button).
  virtual Answer question(const QString& text, bool withCancel = false) = 0;
  // The chosen full file name, or nothing when cancelled.
  virtual std::optional<QString> openFile(const FileRequest& request) = 0;
  virtual std::optional<QString> saveFile(const FileRequest& request) = 0;
  // The chosen font, or nothing when cancelled.
  virtual std::optional<QFont> chooseFont(const QFont& initial) = 0;
};

// The service in use: the installed one, else the Qt one.
Service& current();
// Installs a service (nullptr restores the Qt one). The caller keeps ownership.
void install(Service* service);

// Shortcuts on the current service.
inline void message(const QString& text) { current().message(text); }
inline void error(const QString& text) { current().error(text); }

// Asked before a save replaces a file that exists: names the file and what
// is lost with it, the records of a base (base) or the file itself. True
// when no such file exists or the operator answered Yes.
bool confirmReplace(const QString& file, bool base);

// Turns "desc|pattern|desc|pattern" into Qt's "desc (pattern);;..." form.
QString toQtFilter(const QString& filter);

}  // namespace dialogs
