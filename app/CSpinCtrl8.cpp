// The up-down control of the main form and the settings pages.
#include "app/CSpinCtrl8.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

long Clamp(long v, int minimum, int maximum) {
    if (v > maximum) v = maximum;
    if (v < minimum) v = minimum;  // the minimum wins when the limits cross
    return v;
}

}  // namespace

long SpinBuddyValue(const std::string& text) {
    const std::string head = text.substr(0, 40);
    const long v = std::strtol(head.c_str(), nullptr, 10);
    // Held to the range of the limits, so that no step can overflow.
    return std::clamp(v, 0L, static_cast<long>(std::numeric_limits<int>::max()));
}

long SpinStepUp(const std::string& text, int step, int minimum, int maximum, int delta) {
    const long v = SpinBuddyValue(text);
    long r;
    if (step >= 2)
        r = static_cast<long>(step) * ((v + step - 1) / step + 1);
    else
        r = v + (delta < 1 ? 1 : delta);
    // Up never lowers: a number typed above the range stays.
    return std::max(Clamp(r, minimum, maximum), v);
}

long SpinStepDown(const std::string& text, int step, int minimum, int maximum, int delta) {
    const long v = SpinBuddyValue(text);
    long r;
    if (step >= 2)
        r = static_cast<long>(step) * ((v + step - 1) / step) - step;
    else
        r = v - (delta < 1 ? 1 : delta);
    return std::min(Clamp(r, minimum, maximum), v);
}

CSpinCtrl8::CSpinCtrl8(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setObjectName("up");
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setObjectName("down");
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFixedSize(16, 11);
        layout->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, [this] { OnDeltaPos(position_ + 1); });
    connect(down_, &QToolButton::clicked, this, [this] { OnDeltaPos(position_ - 1); });
}

CSpinCtrl8::~CSpinCtrl8() = default;

void CSpinCtrl8::SetLimits(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    position_ = lastPosition_ = 50;
}

void CSpinCtrl8::SetStep(int step) {
    step_ = step;
    position_ = lastPosition_ = 50;
}

void CSpinCtrl8::OnDeltaPos(int newPosition) {
    position_ = newPosition;
    if (newPosition > lastPosition_)
        StepUp(newPosition - lastPosition_);
    else if (newPosition < lastPosition_)
        StepDown(lastPosition_ - newPosition);
    position_ = lastPosition_ = 50;
}

void CSpinCtrl8::StepUp(int delta) {
    if (!buddy_) return;
    const std::string text = buddy_->text().toStdString();
    WriteBuddy(SpinBuddyValue(text), SpinStepUp(text, step_, minimum_, maximum_, delta));
}

void CSpinCtrl8::StepDown(int delta) {
    if (!buddy_) return;
    const std::string text = buddy_->text().toStdString();
    WriteBuddy(SpinBuddyValue(text), SpinStepDown(text, step_, minimum_, maximum_, delta));
}

void CSpinCtrl8::WriteBuddy(long before, long value) {
    // A number that does not move keeps its text as typed.
    if (value == before) return;
    buddy_->setText(QString::number(value));
    emit Stepped();
}
