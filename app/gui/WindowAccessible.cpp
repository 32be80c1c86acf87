#include "WindowAccessible.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QWidget>

namespace {

// The window and its frame as a screen reader sees them: without the controls that are never
// shown (EP and its text box), which would otherwise be read out as if they were there, nor a
// label that only says again the name of the control it names (kSaidByItsControl).
class WindowAccessible final : public QAccessibleWidget {
public:
    WindowAccessible(QWidget* window, QAccessible::Role role) : QAccessibleWidget(window, role) {}

    int childCount() const override { return static_cast<int>(Shown().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> shown = Shown();
        return index >= 0 && index < shown.size()
                   ? QAccessible::queryAccessibleInterface(shown[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr ? static_cast<int>(Shown().indexOf(child->object())) : -1;
    }

private:
    QList<QWidget*> Shown() const {
        QList<QWidget*> shown;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child != nullptr && !child->isWindow() && !child->isHidden() &&
                !child->property(kSaidByItsControl).toBool()) {
                shown.push_back(child);
            }
        }
        return shown;
    }
};

// The version list named by its label, as on other platforms, and not by the version it shows
// (Qt's own names a combo box by its text on Linux); its value is the version.
class VersionListAccessible final : public QAccessibleWidget {
public:
    explicit VersionListAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Value ? Combo()->currentText() : QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override {
        QAccessible::State shown = QAccessibleWidget::state();
        shown.expandable = true;
        shown.expanded = Combo()->view()->isVisible();
        return shown;
    }
    // Its pop-up list.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(Combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == Combo()->view() ? 0 : -1;
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) {
            Combo()->showPopup();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

} // namespace

QAccessibleInterface* WindowAccessibleFactory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    if (className == QLatin1String("frmMain")) {
        return new WindowAccessible(static_cast<QWidget*>(object), QAccessible::Window);
    }
    // The window's frame, GroupBox1 (asked for while it is built, before it has its name).
    if (className == QLatin1String("QGroupBox") && object->parent() != nullptr &&
        object->parent()->inherits("frmMain")) {
        return new WindowAccessible(static_cast<QWidget*>(object), QAccessible::Grouping);
    }
    if (className == QLatin1String("QComboBox") &&
        object->objectName() == QLatin1String("ComboDLC")) {
        return new VersionListAccessible(static_cast<QComboBox*>(object));
    }
    return nullptr;
}
