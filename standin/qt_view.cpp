#include "standin/qt_view.h"

#include <QColor>
#include <QFontDatabase>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>

#include "standin/document.h"

namespace standin {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A style keeps its colour from run to run: the hue comes from its name.
int Hue(const std::string& name) {
  uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return static_cast<int>(h % 360);
}
QColor CharColour(const std::string& name) { return QColor::fromHsv(Hue(name), 120, 255); }
QColor ParaColour(const std::string& name) { return QColor::fromHsv(Hue(name), 45, 255); }

}  // namespace

HostWindow::HostWindow(const Document* doc) : doc_(doc) {
  setWindowTitle("Stand-in host");
  auto* vertical = new QSplitter(Qt::Vertical, this);
  auto* top = new QSplitter(Qt::Horizontal, vertical);
  view_ = new QTextEdit(top);
  view_->setReadOnly(true);
  legend_ = new QListWidget(top);
  saved_ = new QPlainTextEdit(vertical);
  saved_->setReadOnly(true);
  saved_->setLineWrapMode(QPlainTextEdit::NoWrap);
  saved_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  top->setStretchFactor(0, 3);
  top->setStretchFactor(1, 1);
  vertical->setStretchFactor(0, 3);
  vertical->setStretchFactor(1, 2);
  setCentralWidget(vertical);
  resize(760, 560);
  Refresh("waiting for requests");
}

void HostWindow::Refresh(const std::string& message) {
  view_->clear();
  QTextCursor cur(view_->document());
  QTextCharFormat plain;
  QTextCharFormat heading;
  heading.setFontWeight(QFont::Bold);
  bool first_block = true;
  auto new_block = [&](const QTextBlockFormat& f) {
    if (first_block) cur.setBlockFormat(f);
    else cur.insertBlock(f);
    first_block = false;
  };
  for (const Piece& p : doc_->Pieces()) {
    QTextBlockFormat head_block;
    head_block.setTopMargin(first_block ? 0 : 8);
    new_block(head_block);
    cur.insertText(Q("piece " + p.address1 + "/" + p.address2), heading);
    for (size_t i = 0; i < p.ParagraphCount(); ++i) {
      const std::string& ps = p.paragraph_styles[i];
      QTextBlockFormat block;
      block.setLeftMargin(12);
      if (!ps.empty()) block.setBackground(ParaColour(ps));
      new_block(block);
      QTextCharFormat tag;
      tag.setForeground(QColor(90, 90, 90));
      cur.insertText(Q("¶" + std::to_string(i + 1) + (ps.empty() ? "" : " " + ps) + "  "), tag);
      auto [first, last] = p.ParagraphSpan(i);
      size_t k = first;
      while (k < last) {
        const StyleStack& stack = p.char_styles[k];
        size_t end = k + 1;
        while (end < last && p.char_styles[end] == stack) ++end;
        std::u32string run = p.text.substr(k, end - k);
        // The CR that ends a paragraph shows only when a style covers it.
        if (!run.empty() && run.back() == U'\r') {
          run.pop_back();
          if (!stack.empty()) run += U'↵';
        }
        QTextCharFormat f = plain;
        if (!stack.empty()) {
          f.setBackground(CharColour(stack.back()));
          if (stack.size() > 1) f.setFontUnderline(true);
          std::string tip;
          for (const std::string& s : stack) tip += (tip.empty() ? "" : " > ") + s;
          f.setToolTip(Q(tip));
        }
        cur.insertText(Q(EncodeUtf8(run)), f);
        k = end;
      }
    }
  }

  legend_->clear();
  for (const std::string& name : doc_->ParagraphStyleNames()) {
    auto* item = new QListWidgetItem(Q("¶ " + name), legend_);
    item->setBackground(ParaColour(name));
  }
  for (const std::string& name : doc_->CharacterStyleNames()) {
    auto* item = new QListWidgetItem(Q("A " + name), legend_);
    item->setBackground(CharColour(name));
  }
  if (legend_->count() == 0) new QListWidgetItem("(no styles applied yet)", legend_);

  saved_->setPlainText(Q(doc_->Saved()));
  statusBar()->showMessage(Q(message));
}

}  // namespace standin
