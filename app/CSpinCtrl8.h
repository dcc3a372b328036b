// An up-down control that never runs out of travel: each click steps the
// number in its buddy edit box, within limits and on an optional grid.
#pragma once

#include <QWidget>
#include <string>

class QLineEdit;
class QToolButton;

// The stepping arithmetic: `text` is the buddy's text (up to 40 characters
// count; not a number or negative counts as 0, a huge number as the largest
// int). A step of 2 or more puts the result on that grid; a smaller step
// moves by `delta` (at least 1). The result is clamped to the maximum, then
// to the minimum, but never moves the other way: a number above the range
// stays where it is on Up, one below it on Down.
long SpinBuddyValue(const std::string& text);
long SpinStepUp(const std::string& text, int step, int minimum, int maximum, int delta);
long SpinStepDown(const std::string& text, int step, int minimum, int maximum, int delta);

class CSpinCtrl8 : public QWidget {
    Q_OBJECT
public:
    explicit CSpinCtrl8(QWidget* parent = nullptr);
    ~CSpinCtrl8() override;

    void SetBuddy(QLineEdit* buddy) { buddy_ = buddy; }
    QLineEdit* Buddy() const { return buddy_; }
    void SetLimits(int minimum, int maximum);
    void SetStep(int step);
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    // The control's own position (0..100); 50 between clicks.
    int Position() const { return position_; }
    // The control moved to `newPosition`: steps the buddy and re-centres.
    void OnDeltaPos(int newPosition);

signals:
    // The buddy's text was changed by a step.
    void Stepped();

private:
    void StepUp(int delta);
    void StepDown(int delta);
    void WriteBuddy(long before, long value);

    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* buddy_ = nullptr;
    int step_ = 0;
    int maximum_ = 100;
    int minimum_ = 0;
    int lastPosition_ = 50;
    int position_ = 50;
};
