#include "CSensitiveButton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEnterEvent>
#include <QMouseEvent>

#include <mutex>

#include "DebuggerOutput.h"

namespace {

// What assistive technology sees of an indicator. The toolkit's own button
// interface toggles the check mark without a click, so that the board never
// hears of it; here both of its actions are the click, which the page turns
// into the toggle and the command to the board.
class AccessibleSensitiveButton : public QAccessibleWidget {
 public:
  explicit AccessibleSensitiveButton(CSensitiveButton* button)
      : QAccessibleWidget(button, QAccessible::RadioButton) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name && Button()->accessibleName().isEmpty()) return Button()->text();
    return QAccessibleWidget::text(kind);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = true;
    state.checked = Button()->isChecked();
    return state;
  }

  QStringList actionNames() const override {
    if (!Button()->isEnabled()) return {};
    return {toggleAction(), pressAction()};
  }
  QString localizedActionDescription(const QString& name) const override {
    if (name == toggleAction() || name == pressAction())
      return QStringLiteral("Switches the output on the board");
    return {};
  }
  void doAction(const QString& name) override {
    if (!Button()->isEnabled()) return;
    if (name == toggleAction() || name == pressAction()) Button()->click();
  }
  QStringList keyBindingsForAction(const QString& /*name*/) const override { return {}; }

 private:
  CSensitiveButton* Button() const { return static_cast<CSensitiveButton*>(widget()); }
};

QAccessibleInterface* AccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("CSensitiveButton") && object != nullptr && object->isWidgetType())
    return new AccessibleSensitiveButton(static_cast<CSensitiveButton*>(object));
  return nullptr;
}

}  // namespace

CSensitiveButton::CSensitiveButton(const QString& text, QWidget* parent)
    : QRadioButton(text, parent) {
  static std::once_flag factoryInstalled;
  std::call_once(factoryInstalled, [] { QAccessible::installFactory(AccessibleFactory); });
  // Indicators of one page are independent outputs, never a radio group.
  setAutoExclusive(false);
  setMouseTracking(true);
}

// The page toggles the indicator itself when it handles the click.
void CSensitiveButton::nextCheckState() {}

void CSensitiveButton::Enter() {
  if (notified_) return;
  qCDebug(k27diagDebugger, "\nGet capture");
  notified_ = true;
  emit pointedAt();
}

void CSensitiveButton::Leave() {
  if (!notified_) return;
  qCDebug(k27diagDebugger, "\nRelinquishing capture");
  notified_ = false;
}

// An entry alone does not act: the toolkit also reports one when the button
// appears under a pointer that rests there (its page shown by keyboard). Only
// a movement of the pointer over the button counts, and every real entry
// brings one.
void CSensitiveButton::enterEvent(QEnterEvent* event) { QRadioButton::enterEvent(event); }

void CSensitiveButton::leaveEvent(QEvent* event) {
  Leave();
  QRadioButton::leaveEvent(event);
}

// While a button is held the button keeps the pointer and gets no leave
// event: a move outside counts as leaving. A point on the right or bottom
// edge still counts as inside.
void CSensitiveButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const bool inside = p.x() >= 0 && p.y() >= 0 && p.x() <= width() && p.y() <= height();
  if (inside)
    Enter();
  else
    Leave();
  QRadioButton::mouseMoveEvent(event);
}
