#include "input/button_display.h"

#include <QAbstractButton>
#include <QDebug>
#include <QHash>
#include <QProgressBar>
#include <QWidget>

namespace {

// The form's widgets by object name, from one walk of the form: a search
// per name walked all of it for each of the sixty it needs.
class NamedWidgets
{
public:
    explicit NamedWidgets(const QWidget *form)
    {
        if (!form)
            return;
        const QList<QWidget *> widgets = form->findChildren<QWidget *>();
        byName_.reserve(widgets.size());
        for (QWidget *widget : widgets)
            byName_.insert(widget->objectName(), widget);
    }

    template<typename T> T *find(const char *name) const
    {
        T *widget = qobject_cast<T *>(byName_.value(QLatin1String(name)));
        if (!widget)
            qDebug() << "button display: no widget named" << name;
        return widget;
    }

private:
    QHash<QString, QWidget *> byName_;
};

bool isChecked(const QAbstractButton *button)
{
    return button && button->isChecked();
}

// The tips are compared and set on every report; one shared string each
// avoids building them again and again.
const QString &tipText(IndicatorState state)
{
    static const QString lit = QLatin1String(statusTipOf(IndicatorState::Lit));
    static const QString unlit = QLatin1String(statusTipOf(IndicatorState::Unlit));
    return state == IndicatorState::Lit ? lit : unlit;
}

void showState(QWidget *indicator, IndicatorState previous, IndicatorState next)
{
    const bool lit = next == IndicatorState::Lit;
    if (indicator->isHidden() == lit)
        indicator->setVisible(lit);
    if (previous != next)
        indicator->setStatusTip(tipText(next));
}

} // namespace

void widenExtremes(quint32 value, quint32 &min, quint32 &max)
{
    if (value > max)
        max = value;
    if (value < min)
        min = value;
}

void setBarValueDeferred(QProgressBar *bar, int value)
{
    if (!bar || bar->value() == value || value < bar->minimum() || value > bar->maximum())
        return;
    // With updates off, setValue's own repaint does nothing; turning them on
    // again posts the update that paints the new value.
    const bool updates = bar->updatesEnabled();
    bar->setUpdatesEnabled(false);
    bar->setValue(value);
    bar->setUpdatesEnabled(updates);
}

ButtonDisplay::ButtonDisplay(QWidget *form)
{
    const NamedWidgets named(form);
    leftBar_ = named.find<QProgressBar>("pgAdcL");
    rightBar_ = named.find<QProgressBar>("pgAdcR");
    calibrateLeft_ = named.find<QAbstractButton>("pbCalL");
    calibrateRight_ = named.find<QAbstractButton>("pbCalR");
    extraShifters_ = named.find<QAbstractButton>("cbShifter");
    for (std::size_t i = 0; i < indicators_.size(); ++i)
        indicators_[i] = named.find<QWidget>(ButtonIndicatorTable[i]);
}

void ButtonDisplay::setReleaseHandler(ReleaseHandler handler)
{
    releaseHandler_ = std::move(handler);
}

bool ButtonDisplay::barsOnScreen() const
{
    return (leftBar_ && leftBar_->isVisible()) || (rightBar_ && rightBar_->isVisible());
}

IndicatorStates ButtonDisplay::indicatorStates() const
{
    IndicatorStates states{};
    for (std::size_t i = 0; i < indicators_.size(); ++i) {
        if (indicators_[i])
            states[i] = stateFromStatusTip(indicators_[i]->statusTip());
    }
    return states;
}

void ButtonDisplay::showRun(const ReportRun &run, PaddleExtremes extremes, QList<qint32> &releasedButtons)
{
    if (isChecked(calibrateLeft_)) {
        widenExtremes(run.leftLow, extremes.leftMin, extremes.leftMax);
        widenExtremes(run.leftHigh, extremes.leftMin, extremes.leftMax);
    }
    if (isChecked(calibrateRight_)) {
        widenExtremes(run.rightLow, extremes.rightMin, extremes.rightMax);
        widenExtremes(run.rightHigh, extremes.rightMin, extremes.rightMax);
    }
    showReport(run.last, extremes, releasedButtons);
}

void ButtonDisplay::showReport(const QByteArray &payload, PaddleExtremes extremes,
                               QList<qint32> &releasedButtons)
{
    const InputPayload report = decodeInputPayload(payload);

    setBarValueDeferred(rightBar_, report.right);
    setBarValueDeferred(leftBar_, report.left);
    if (isChecked(calibrateLeft_))
        widenExtremes(report.left, extremes.leftMin, extremes.leftMax);
    if (isChecked(calibrateRight_))
        widenExtremes(report.right, extremes.rightMin, extremes.rightMax);

    const IndicatorStates previous = indicatorStates();
    IndicatorMask enabled;
    for (std::size_t i = 0; i < indicators_.size(); ++i)
        enabled.set(i, indicators_[i] && indicators_[i]->isEnabled());
    const bool extraShifters = isChecked(extraShifters_);
    const IndicatorUpdate update = updateIndicators(previous, report.buttons, enabled, extraShifters);

    releasedButtons.clear();
    for (int index = 0; index < kIndicatorCount; ++index) {
        QWidget *indicator = indicators_[static_cast<std::size_t>(index)];
        if (!indicator || !indicatorTakesPart(index, extraShifters))
            continue;
        const std::size_t i = static_cast<std::size_t>(index);
        showState(indicator, previous[i], update.states[i]);
    }
    for (int index : update.releasedButtons)
        releasedButtons.append(index);

    if (!releasedButtons.isEmpty() && releaseHandler_)
        releaseHandler_(releasedButtons);
}
