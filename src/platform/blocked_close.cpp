#include "platform/blocked_close.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>

#ifdef KMS_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace blockedclose {

#ifdef KMS_HAVE_XCB
namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
  const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
  if (!reply) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

// The window manager's close is a WM_PROTOCOLS client message naming
// WM_DELETE_WINDOW, sent to the window.
class XcbFilter final : public QAbstractNativeEventFilter {
 public:
  XcbFilter(QWidget* window, std::function<bool()> take, xcb_atom_t protocols, xcb_atom_t deleteWindow)
      : window_(window), take_(std::move(take)), protocols_(protocols), deleteWindow_(deleteWindow) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (!window_ || type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE) return false;
    const auto* m = static_cast<const xcb_client_message_event_t*>(message);
    if (m->format != 32 || m->type != protocols_ || m->data.data32[0] != deleteWindow_) return false;
    if (!window_->internalWinId() || m->window != xcb_window_t(window_->internalWinId())) return false;
    // Unblocked, the close reaches the window's own handler.
    if (!QApplication::activeModalWidget()) return false;
    return take_();
  }

 private:
  QPointer<QWidget> window_;
  std::function<bool()> take_;
  xcb_atom_t protocols_;
  xcb_atom_t deleteWindow_;
};

}  // namespace
#endif

void watch(QWidget* window, std::function<bool()> take) {
#ifdef KMS_HAVE_XCB
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection()) return;
  xcb_connection_t* c = x11->connection();
  auto* filter = new XcbFilter(window, std::move(take), internAtom(c, "WM_PROTOCOLS"),
                               internAtom(c, "WM_DELETE_WINDOW"));
  qApp->installNativeEventFilter(filter);
  QObject::connect(window, &QObject::destroyed, qApp, [filter] {
    qApp->removeNativeEventFilter(filter);
    delete filter;
  });
#else
  (void)window;
  (void)take;
#endif
}

}  // namespace blockedclose
