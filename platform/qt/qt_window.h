// The Qt side of one framework window: a QMainWindow that mirrors the model
// and hands the user's input back to it. Internal to the Qt backend.
#pragma once

#include <QCheckBox>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/qt/qt_activation.h"
#include "platform/ui.h"

class QInputEvent;
class QListWidget;

namespace platform::qt {

class QtWindowPeer;

// What the Qt objects keep of their peer. The peer clears it when it goes,
// so a late event (a queued timer, an event during a close) never reaches a
// peer or a model that no longer exists.
struct PeerLink {
  QtWindowPeer* peer = nullptr;
};

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(std::shared_ptr<PeerLink> link);

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void moveEvent(QMoveEvent* e) override;

 private:
  std::shared_ptr<PeerLink> link_;
};

// The content area: exactly the model's Width x Height.
class ContentArea : public QWidget {
 public:
  ContentArea(std::shared_ptr<PeerLink> link, QWidget* parent);

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  std::shared_ptr<PeerLink> link_;
};

// A checkbox whose state is the model's: a user toggle goes to the model,
// which decides the new state, so widget and model never disagree.
class ModelCheckBox : public QCheckBox {
 public:
  ModelCheckBox(std::shared_ptr<PeerLink> link, std::weak_ptr<CheckBox> model, QWidget* parent);

 protected:
  void nextCheckState() override;

 private:
  std::shared_ptr<PeerLink> link_;
  std::weak_ptr<CheckBox> model_;
};

class QtWindowPeer : public backend::WindowPeer {
 public:
  explicit QtWindowPeer(Window& model);
  ~QtWindowPeer() override;

  void Changed() override;
  void Show() override;
  void Destroy() override;

  // Mirrors the model now, when a change is pending.
  void Flush();
  MainWindow* Widget() const { return widget_.data(); }

  // Runs fn as a model event, the way the event loop does. False when the
  // peer went away meanwhile (the caller must then touch nothing of it).
  static bool Dispatch(const std::shared_ptr<PeerLink>& link, const std::function<void()>& fn);

  // Platform notices from the widgets.
  void ContentResized();
  void WindowMoved();
  void ActivationChanged(bool active);
  bool CloseRequested();  // true: let the window close
  // A press of any button on the window: true when it came with the
  // window's activation (the press that brought it to the front).
  bool TakeActivatingPress(const QInputEvent& press);

  static int LivePeers();

 private:
  struct ControlMirror {
    std::weak_ptr<RectControl> control;
    const RectControl* key = nullptr;
    QPointer<QWidget> widget;
    QListWidget* list = nullptr;
    ModelCheckBox* box = nullptr;
    std::vector<std::string> rows;  // what the list widget shows
    std::string caption;
    bool caption_set = false;
    float text_size = 0;
    int tab_index = 0;
  };

  void Sync();
  void SyncMenuBar();
  void SyncFrame();
  void SyncControls();
  void SyncList(ControlMirror& mirror, const Listbox& list);
  void SyncCheckBox(ControlMirror& mirror, const CheckBox& box);
  std::unique_ptr<ControlMirror> MakeMirror(const std::shared_ptr<RectControl>& control);
  int BarHeight(int content_width) const;

  Window& model_;
  std::shared_ptr<PeerLink> link_;
  QPointer<MainWindow> widget_;
  ContentArea* content_ = nullptr;
  std::vector<std::unique_ptr<ControlMirror>> mirrors_;
  std::vector<const RectControl*> tab_chain_;

  bool pending_ = false, syncing_ = false, synced_once_ = false;
  bool shown_ = false, destroyed_ = false;
  bool active_ = false;
  bool deactivated_once_ = false;  // shown and left: a later activation may come with a press
  ActivationWatch activation_;
  // The frame as last agreed between model and window: a notice that only
  // echoes it is not the user's, and a model value that differs from it is
  // pushed to the window.
  QSize applied_size_;
  QPoint applied_pos_;
  int applied_bar_ = -1;
  std::string title_;
  bool title_set_ = false;
  const MenuBar* bar_model_ = nullptr;
  std::string bar_signature_;
  bool bar_built_ = false;
};

}  // namespace platform::qt
