// The stand-in host's window: the styled document, a legend of the styles
// and the saved form as plain text.
#pragma once

#include <QMainWindow>
#include <string>

class QListWidget;
class QPlainTextEdit;
class QTextEdit;

namespace standin {

class Document;

class HostWindow : public QMainWindow {
 public:
  explicit HostWindow(const Document* doc);
  // Shows the document as it is now; `message` goes to the status bar.
  void Refresh(const std::string& message);

 private:
  const Document* doc_;
  QTextEdit* view_;
  QListWidget* legend_;
  QPlainTextEdit* saved_;
};

}  // namespace standin
