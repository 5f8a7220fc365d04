// Preloaded into a Qt program (LD_PRELOAD) by startup_bench: ends the
// process as soon as its first top-level window has painted, so that the
// process's whole run measures the time to the first paint.

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

namespace {

class FirstPaint final : public QObject {
 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      auto* widget = qobject_cast<QWidget*>(object);
      if (widget && widget->isWindow()) {
        seen_ = true;
        // After this paint event has been handled.
        QTimer::singleShot(0, [] { std::_Exit(0); });
      }
    }
    return false;
  }

 private:
  bool seen_ = false;
};

void Install() { QCoreApplication::instance()->installEventFilter(new FirstPaint); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
