#include "platform/qt/qt_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "platform/qt/qt_backend.h"
#include "platform/runtime.h"

namespace platform::qt {
namespace {

int g_live_peers = 0;

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A menu caption is plain text: an "&" must not become a mnemonic.
QString MenuText(const std::string& text) { return ToQt(text).replace(QLatin1Char('&'), QLatin1String("&&")); }

// "Cmd+Q" is the Command key on macOS, which Qt calls Ctrl everywhere.
QKeySequence Shortcut(const std::string& text) {
  if (text.empty()) return {};
  QStringList out;
  for (const QString& part : ToQt(text).split(QLatin1Char('+'))) {
    const QString p = part.trimmed();
    if (p.compare(QLatin1String("Cmd"), Qt::CaseInsensitive) == 0) out << QStringLiteral("Ctrl");
    else if (p.compare(QLatin1String("Option"), Qt::CaseInsensitive) == 0) out << QStringLiteral("Alt");
    else if (p.compare(QLatin1String("Ctrl"), Qt::CaseInsensitive) == 0) out << QStringLiteral("Meta");
    else out << p;
  }
  return QKeySequence::fromString(out.join(QLatin1Char('+')), QKeySequence::PortableText);
}

Qt::CheckState ToQtState(int state) {
  return state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

// A fingerprint of a menu tree: any change of structure, caption or shortcut
// makes the bar be built again (the tree is small and rarely changes).
void Signature(const MenuItem& item, std::string& out) {
  out += std::to_string(reinterpret_cast<uintptr_t>(&item));
  out += '\x1f';
  out += item.Text();
  out += '\x1f';
  out += item.KeyboardShortcut();
  out += '\x1e';
  for (int i = 0; i < item.Count(); ++i) Signature(*item.Item(i), out);
  out += '\x1d';
}

void ChooseItem(const std::shared_ptr<PeerLink>& link, const std::weak_ptr<MenuItem>& weak) {
  if (!link->peer) return;
  link->peer->Flush();
  auto item = weak.lock();
  if (!item) return;
  QtWindowPeer::Dispatch(link, [&item] { item->UserChoose(); });
}

void AddItems(QMenu* menu, const MenuItem& parent, const std::shared_ptr<PeerLink>& link) {
  for (int i = 0; i < parent.Count(); ++i) {
    std::shared_ptr<MenuItem> item = parent.Item(i);
    if (item->IsSeparator()) {
      menu->addSeparator();
    } else if (item->Count() > 0) {
      AddItems(menu->addMenu(MenuText(item->Text())), *item, link);
    } else {
      QAction* action = menu->addAction(MenuText(item->Text()));
      action->setShortcut(Shortcut(item->KeyboardShortcut()));
      // macOS moves the quit item into the application menu. Qt finds it
      // there by its English text only, so the role is given outright.
      if (dynamic_cast<const QuitMenuItem*>(item.get())) action->setMenuRole(QAction::QuitRole);
      std::weak_ptr<MenuItem> weak = item;
      QObject::connect(action, &QAction::triggered, action, [link, weak] { ChooseItem(link, weak); });
    }
  }
}

// Hands a press on a row to the model; a press below the last row or on no
// row does nothing. A true result of the handler keeps the list from acting
// on the press itself.
//
// A press acts only on the row the user saw under the pointer: the press
// that merely brings an inactive window to the front does nothing (that
// activation may have refilled the list under the pointer; the next press
// acts), and a press on a row that a change not yet shown has replaced does
// nothing either.
class ListClickFilter : public QObject {
 public:
  ListClickFilter(std::shared_ptr<PeerLink> link, std::weak_ptr<Listbox> model, QListWidget* list)
      : QObject(list), link_(std::move(link)), model_(std::move(model)), list_(list) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    switch (e->type()) {
      case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton && swallow_release_) {
          swallow_release_ = false;
          return true;
        }
        return false;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
        break;
      default:
        return QObject::eventFilter(watched, e);
    }
    auto* mouse = static_cast<QMouseEvent*>(e);
    if (!link_->peer) return false;
    std::shared_ptr<PeerLink> link = link_;  // this filter may go with the window
    // Any button's press uses the activation up; the left one's starts nothing.
    if (e->type() == QEvent::MouseButtonPress && link->peer->TakeActivatingPress(*mouse))
      return mouse->button() == Qt::LeftButton ? Swallow() : false;
    if (mouse->button() != Qt::LeftButton) return false;
    const QPoint pos = mouse->position().toPoint();
    const QModelIndex seen = list_->indexAt(pos);
    const QString seen_text = seen.isValid() ? seen.data().toString() : QString();
    link->peer->Flush();
    auto model = model_.lock();
    if (!model || !link->peer) return false;
    const QModelIndex index = list_->indexAt(pos);
    if (!index.isValid()) return seen.isValid() ? Swallow() : false;
    if (!seen.isValid() || seen.row() != index.row() || index.data().toString() != seen_text) return Swallow();
    const QRect cell = list_->visualRect(index);
    const int row = index.row();
    bool handled = false;
    if (!QtWindowPeer::Dispatch(link, [&] {
          handled = model->UserClickCell(row, 0, pos.x() - cell.left(), pos.y() - cell.top());
        }))
      return true;  // the window went: nothing is left to act on the press
    return handled;
  }

 private:
  // The list neither selects nor acts: the press never happened for it.
  bool Swallow() {
    swallow_release_ = true;
    return true;
  }

  std::shared_ptr<PeerLink> link_;
  std::weak_ptr<Listbox> model_;
  QListWidget* list_;
  bool swallow_release_ = false;
};

}  // namespace

// --- widgets --------------------------------------------------------------------

MainWindow::MainWindow(std::shared_ptr<PeerLink> link) : link_(std::move(link)) {}

bool MainWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate || e->type() == QEvent::WindowDeactivate) {
    const bool active = e->type() == QEvent::WindowActivate;
    const bool result = QMainWindow::event(e);
    if (link_->peer) link_->peer->ActivationChanged(active);
    return result;
  }
  return QMainWindow::event(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (!link_->peer) {
    e->accept();
    return;
  }
  std::shared_ptr<PeerLink> link = link_;
  if (link->peer->CloseRequested()) e->accept();
  else e->ignore();
}

void MainWindow::moveEvent(QMoveEvent* e) {
  QMainWindow::moveEvent(e);
  if (link_->peer) link_->peer->WindowMoved();
}

ContentArea::ContentArea(std::shared_ptr<PeerLink> link, QWidget* parent)
    : QWidget(parent), link_(std::move(link)) {}

void ContentArea::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (link_->peer) link_->peer->ContentResized();
}

ModelCheckBox::ModelCheckBox(std::shared_ptr<PeerLink> link, std::weak_ptr<CheckBox> model,
                             QWidget* parent)
    : QCheckBox(parent), link_(std::move(link)), model_(std::move(model)) {}

void ModelCheckBox::nextCheckState() {
  std::shared_ptr<PeerLink> link = link_;
  if (!link->peer) return;
  link->peer->Flush();
  auto model = model_.lock();
  if (!model) return;
  QPointer<ModelCheckBox> self(this);
  QtWindowPeer::Dispatch(link, [&model] { model->UserToggle(); });
  // The model decides the new state; the widget only shows it.
  if (self) self->setCheckState(ToQtState(model->State()));
}

// --- the peer ---------------------------------------------------------------------

QtWindowPeer::QtWindowPeer(Window& model) : model_(model), link_(std::make_shared<PeerLink>()) {
  ++g_live_peers;
  link_->peer = this;
  widget_ = new MainWindow(link_);
  widget_->setObjectName(ToQt(model.ClassName()));
  widget_->setAttribute(Qt::WA_DeleteOnClose, false);
  content_ = new ContentArea(link_, widget_);
  content_->setObjectName(QStringLiteral("content"));
  widget_->setCentralWidget(content_);
  Changed();
}

QtWindowPeer::~QtWindowPeer() {
  link_->peer = nullptr;
  Destroy();
  --g_live_peers;
}

int QtWindowPeer::LivePeers() { return g_live_peers; }

bool QtWindowPeer::Dispatch(const std::shared_ptr<PeerLink>& link, const std::function<void()>& fn) {
  RuntimeDispatch(fn);
  return link->peer != nullptr;
}

void QtWindowPeer::Changed() {
  if (destroyed_ || pending_) return;
  pending_ = true;
  // One sync for a whole burst of changes, once the handler is done.
  std::shared_ptr<PeerLink> link = link_;
  QTimer::singleShot(0, widget_.data(), [link] {
    if (link->peer) link->peer->Flush();
  });
}

void QtWindowPeer::Flush() {
  if (!pending_ || destroyed_ || syncing_ || !widget_) return;
  bool ran = false;
  RuntimeDispatch([this, &ran] {
    ran = true;
    Sync();
  });
  // Nothing runs while the loop ends after a failed handler: mirror the
  // model once a loop runs again.
  if (!ran) {
    pending_ = false;
    Changed();
  }
}

void QtWindowPeer::Show() {
  if (destroyed_ || !widget_) return;
  pending_ = true;
  Flush();
  syncing_ = true;
  widget_->show();
  syncing_ = false;
  shown_ = true;
  widget_->raise();
  widget_->activateWindow();
}

void QtWindowPeer::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  shown_ = false;
  pending_ = false;
  if (widget_) {
    widget_->hide();
    // Never deleted at once: this may run inside one of the window's own
    // event handlers (a close, a menu choice).
    widget_->deleteLater();
  }
}

int QtWindowPeer::BarHeight(int content_width) const {
  // The main window's layout gives the bar this height at this width.
  QWidget* bar = widget_->menuWidget();
  if (!bar || bar->isHidden()) return 0;
  int h = bar->heightForWidth(std::max(content_width, bar->minimumWidth()));
  if (h < 0) h = bar->sizeHint().height();
  int min = bar->minimumSize().height();
  if (min <= 0) {
    min = bar->minimumSizeHint().height();
    if (!(bar->sizePolicy().verticalPolicy() & QSizePolicy::ShrinkFlag))
      min = std::max(min, bar->sizeHint().height());
  }
  return std::clamp(std::max(h, min), 0, bar->maximumHeight());
}

void QtWindowPeer::Sync() {
  pending_ = false;
  syncing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{syncing_};
  SyncMenuBar();
  SyncFrame();
  SyncControls();
  synced_once_ = true;
}

void QtWindowPeer::SyncMenuBar() {
  const std::shared_ptr<MenuBar>& bar = model_.MenuBar();
  std::string signature;
  if (bar) Signature(*bar, signature);
  if (bar_built_ && bar.get() == bar_model_ && signature == bar_signature_) {
    if (QWidget* w = widget_->menuWidget()) w->setVisible(model_.MenuBarVisible());
    return;
  }
  bar_built_ = true;
  bar_model_ = bar.get();
  bar_signature_ = std::move(signature);
  if (!bar) {
    widget_->setMenuWidget(nullptr);
    return;
  }
  auto* qbar = new QMenuBar;
  for (int i = 0; i < bar->Count(); ++i) {
    std::shared_ptr<MenuItem> menu = bar->Item(i);
    QMenu* qmenu = qbar->addMenu(MenuText(menu->Text()));
    AddItems(qmenu, *menu, link_);
  }
  widget_->setMenuBar(qbar);  // the old bar goes later: a choice on it may be running
  qbar->setVisible(model_.MenuBarVisible());
}

void QtWindowPeer::SyncFrame() {
  if (!title_set_ || title_ != model_.Title()) {
    title_ = model_.Title();
    title_set_ = true;
    widget_->setWindowTitle(ToQt(title_));
  }

  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint;
  if (model_.MinimizeButton()) flags |= Qt::WindowMinimizeButtonHint;
  if (model_.MaximizeButton()) flags |= Qt::WindowMaximizeButtonHint;
  if (model_.CloseButton()) flags |= Qt::WindowCloseButtonHint;
  if (widget_->windowFlags() != flags) {
    const bool visible = widget_->isVisible();
    widget_->setWindowFlags(flags);  // hides a shown window
    if (visible) widget_->show();
  }

  const QSize content(model_.Width(), model_.Height());
  const int bar = BarHeight(content.width());
  QSize min(model_.MinWidth(), model_.MinHeight());
  QSize max(std::max(model_.MinWidth(), model_.MaxWidth()),
            std::max(model_.MinHeight(), model_.MaxHeight()));
  if (!model_.Resizeable()) min = max = content;
  widget_->setMinimumSize(min.width(), min.height() + bar);
  widget_->setMaximumSize(std::min(max.width(), QWIDGETSIZE_MAX),
                          std::min(max.height() + bar, QWIDGETSIZE_MAX));
  if (content != applied_size_ || bar != applied_bar_) {
    applied_size_ = content;
    applied_bar_ = bar;
    widget_->resize(content.width(), content.height() + bar);
  }

  QPoint pos(model_.Left(), model_.Top());
  if (pos != applied_pos_ && (synced_once_ || pos != QPoint(0, 0))) {
    // A frame off every screen (a monitor gone, a hand-edited file) opens on
    // the nearest one; X would even wrap a far coordinate to a negative one.
    std::vector<ScreenRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
      const QRect r = screen->geometry();
      screens.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const QRect frame = widget_->frameGeometry();
    if (model_.PlaceOnScreens(screens, frame.width(), frame.height(), widget_->geometry().top() - frame.top()))
      pos = QPoint(model_.Left(), model_.Top());
  }
  if (!synced_once_ && pos == QPoint(0, 0)) {
    // No position of its own: the first placement is the platform's, and
    // reaches the model as a move.
    applied_pos_ = pos;
  } else if (pos != applied_pos_) {
    applied_pos_ = pos;
    widget_->move(pos);
  }
}

std::unique_ptr<QtWindowPeer::ControlMirror> QtWindowPeer::MakeMirror(
    const std::shared_ptr<RectControl>& control) {
  auto mirror = std::make_unique<ControlMirror>();
  mirror->control = control;
  mirror->key = control.get();
  if (auto list = std::dynamic_pointer_cast<Listbox>(control)) {
    auto* w = new QListWidget(content_);
    w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w->setSelectionMode(QAbstractItemView::SingleSelection);
    w->setDragEnabled(false);
    w->setDragDropMode(QAbstractItemView::NoDragDrop);
    w->setEditTriggers(QAbstractItemView::NoEditTriggers);
    w->setUniformItemSizes(true);  // keeps a list of many rows cheap to lay out
    w->viewport()->installEventFilter(new ListClickFilter(link_, list, w));
    mirror->list = w;
    mirror->widget = w;
  } else if (auto box = std::dynamic_pointer_cast<CheckBox>(control)) {
    auto* w = new ModelCheckBox(link_, box, content_);
    mirror->box = w;
    mirror->widget = w;
  } else {
    return mirror;  // a kind this backend does not show
  }
  mirror->widget->setObjectName(ToQt(control->Name()));
  return mirror;
}

void QtWindowPeer::SyncControls() {
  const auto& controls = model_.Controls();
  bool same = mirrors_.size() <= controls.size();
  for (size_t i = 0; same && i < mirrors_.size(); ++i) same = mirrors_[i]->key == controls[i].get();
  if (!same) {
    for (auto& mirror : mirrors_)
      if (mirror->widget) mirror->widget->deleteLater();
    mirrors_.clear();
  }
  for (size_t i = mirrors_.size(); i < controls.size(); ++i) mirrors_.push_back(MakeMirror(controls[i]));

  bool order_changed = false;
  for (size_t i = 0; i < mirrors_.size(); ++i) {
    ControlMirror& mirror = *mirrors_[i];
    const RectControl& control = *controls[i];
    if (!mirror.widget) continue;
    const QRect rect(control.Left(), control.Top(), control.Width(), control.Height());
    if (mirror.widget->geometry() != rect) mirror.widget->setGeometry(rect);
    if (mirror.widget->isEnabled() != control.Enabled()) mirror.widget->setEnabled(control.Enabled());
    if (mirror.widget->isHidden() == control.Visible()) mirror.widget->setVisible(control.Visible());
    if (mirror.tab_index != control.TabIndex()) {
      mirror.tab_index = control.TabIndex();
      order_changed = true;
    }
    if (mirror.list) SyncList(mirror, static_cast<const Listbox&>(control));
    if (mirror.box) SyncCheckBox(mirror, static_cast<const CheckBox&>(control));
  }

  std::vector<ControlMirror*> chain;
  for (auto& mirror : mirrors_)
    if (mirror->widget) chain.push_back(mirror.get());
  std::stable_sort(chain.begin(), chain.end(),
                   [](const ControlMirror* a, const ControlMirror* b) { return a->tab_index < b->tab_index; });
  std::vector<const RectControl*> keys;
  for (auto* mirror : chain) keys.push_back(mirror->key);
  if (order_changed || keys != tab_chain_) {
    tab_chain_ = std::move(keys);
    for (size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1]->widget, chain[i]->widget);
  }
}

void QtWindowPeer::SyncList(ControlMirror& mirror, const Listbox& list) {
  // Linear in the rows: keep the shown rows that still agree with the model
  // (the common case of a refresh that adds the same rows again), then drop
  // the rest and add the model's remaining rows in one batch.
  std::vector<std::string>& shown = mirror.rows;
  const size_t count = static_cast<size_t>(list.ListCount());
  size_t keep = 0;
  while (keep < shown.size() && keep < count && shown[keep] == list.Cell(static_cast<int>(keep), 0)) ++keep;
  if (keep < shown.size()) {
    if (shown.size() - keep > keep) {
      mirror.list->clear();
      keep = 0;
    } else {
      for (size_t i = shown.size(); i > keep; --i) delete mirror.list->takeItem(static_cast<int>(i - 1));
    }
    shown.resize(keep);
  }
  if (keep < count) {
    QStringList added;
    added.reserve(static_cast<qsizetype>(count - keep));
    shown.reserve(count);
    for (size_t i = keep; i < count; ++i) {
      shown.push_back(list.Cell(static_cast<int>(i), 0));
      added << ToQt(shown.back());
    }
    mirror.list->addItems(added);
  }
  const auto vertical = list.ScrollBarVertical() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  if (mirror.list->verticalScrollBarPolicy() != vertical) mirror.list->setVerticalScrollBarPolicy(vertical);
}

void QtWindowPeer::SyncCheckBox(ControlMirror& mirror, const CheckBox& box) {
  if (!mirror.caption_set || mirror.caption != box.Caption()) {
    mirror.caption = box.Caption();
    mirror.caption_set = true;
    mirror.box->setText(ToQt(mirror.caption).replace(QLatin1Char('&'), QLatin1String("&&")));
  }
  if (box.TextSize() > 0 && box.TextSize() != mirror.text_size) {
    mirror.text_size = box.TextSize();
    QFont font = mirror.box->font();
    font.setPointSizeF(mirror.text_size);
    mirror.box->setFont(font);
  }
  const Qt::CheckState state = ToQtState(box.State());
  if (state == Qt::PartiallyChecked && !mirror.box->isTristate()) mirror.box->setTristate(true);
  if (mirror.box->checkState() != state) mirror.box->setCheckState(state);
}

// --- notices from the platform -------------------------------------------------------

void QtWindowPeer::ContentResized() {
  if (!shown_ || destroyed_ || syncing_ || !widget_) return;
  std::shared_ptr<PeerLink> link = link_;
  Flush();  // may itself size the window: read the size after it
  if (!link->peer) return;
  const QSize size = content_->size();
  if (size == applied_size_) return;  // the echo of our own sizing
  applied_size_ = size;
  Window& model = model_;
  if (!Dispatch(link, [&] { model.UserResize(size.width(), size.height()); })) return;
  // The model clamps and moves its controls: show that while the user drags.
  pending_ = true;
  Flush();
}

void QtWindowPeer::WindowMoved() {
  if (!shown_ || destroyed_ || syncing_ || !widget_) return;
  std::shared_ptr<PeerLink> link = link_;
  Flush();
  if (!link->peer) return;
  const QPoint pos = widget_->pos();
  if (pos == applied_pos_) return;
  applied_pos_ = pos;
  Window& model = model_;
  Dispatch(link, [&] { model.UserMove(pos.x(), pos.y()); });
}

void QtWindowPeer::ActivationChanged(bool active) {
  active_ = active;
  if (!active) {
    activation_.Deactivated();
    if (shown_) deactivated_once_ = true;
  }
  if (!shown_ || destroyed_) return;
  std::shared_ptr<PeerLink> link = link_;
  Flush();
  if (!link->peer) return;
  Window& model = model_;
  if (!Dispatch(link, [&] {
        if (active) model.UserActivate();
        else model.UserDeactivate();
      }))
    return;
  // Timed once the handlers have run (they may refill the list): a press
  // made before then was made on what the inactive window showed. The
  // first activation, when the window opens, comes with no click on it.
  if (active && active_ && deactivated_once_) activation_.Activated(widget_);
}

bool QtWindowPeer::TakeActivatingPress(const QInputEvent& press) { return activation_.TakeActivatingPress(press); }

bool QtWindowPeer::CloseRequested() {
  if (destroyed_) return true;
  std::shared_ptr<PeerLink> link = link_;
  Flush();
  if (!link->peer) return true;
  Window& model = model_;
  bool closed = false;
  // The model may release the window, and with it this peer, in here.
  Dispatch(link, [&] { closed = model.UserClose(); });
  return closed;
}

// --- test access --------------------------------------------------------------------

QMainWindow* WidgetOf(const Window& window) {
  auto* peer = dynamic_cast<QtWindowPeer*>(window.Peer());
  return peer ? peer->Widget() : nullptr;
}

void FlushWindow(const Window& window) {
  if (auto* peer = dynamic_cast<QtWindowPeer*>(window.Peer())) peer->Flush();
}

}  // namespace platform::qt
