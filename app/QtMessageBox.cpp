// Message boxes drawn by Qt, with the program's name as the default caption.
#include "app/QtMessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <vector>

#include "app/FrameLogic.h"
#include "platform/MessageBox.h"

using platform::MbAnswer;
using platform::MbButtons;
using platform::MbIcon;

namespace {

std::vector<std::pair<QMessageBox::StandardButton, MbAnswer>> ButtonsOf(MbButtons buttons) {
    switch (buttons) {
        case MbButtons::Ok: return {{QMessageBox::Ok, MbAnswer::Ok}};
        case MbButtons::OkCancel: return {{QMessageBox::Ok, MbAnswer::Ok}, {QMessageBox::Cancel, MbAnswer::Cancel}};
        case MbButtons::YesNo: return {{QMessageBox::Yes, MbAnswer::Yes}, {QMessageBox::No, MbAnswer::No}};
        case MbButtons::YesNoCancel:
            return {{QMessageBox::Yes, MbAnswer::Yes}, {QMessageBox::No, MbAnswer::No},
                    {QMessageBox::Cancel, MbAnswer::Cancel}};
        case MbButtons::RetryCancel:
            return {{QMessageBox::Retry, MbAnswer::Retry}, {QMessageBox::Cancel, MbAnswer::Cancel}};
        case MbButtons::AbortRetryIgnore:
            return {{QMessageBox::Abort, MbAnswer::Abort}, {QMessageBox::Retry, MbAnswer::Retry},
                    {QMessageBox::Ignore, MbAnswer::Ignore}};
    }
    return {{QMessageBox::Ok, MbAnswer::Ok}};
}

QMessageBox::Icon IconOf(MbIcon icon) {
    switch (icon) {
        case MbIcon::Stop: return QMessageBox::Critical;
        case MbIcon::Question: return QMessageBox::Question;
        case MbIcon::Warning: return QMessageBox::Warning;
        case MbIcon::Information: return QMessageBox::Information;
        case MbIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// The box with a Cancel or No button closes with it when dismissed by Escape.
MbAnswer EscapeAnswer(MbButtons buttons) {
    switch (buttons) {
        case MbButtons::Ok: return MbAnswer::Ok;
        case MbButtons::OkCancel:
        case MbButtons::YesNoCancel:
        case MbButtons::RetryCancel: return MbAnswer::Cancel;
        case MbButtons::YesNo: return MbAnswer::No;
        case MbButtons::AbortRetryIgnore: return MbAnswer::Abort;
    }
    return MbAnswer::Cancel;
}

// Room a title bar takes beside its caption: the window's icon and its three buttons.
constexpr int kTitleBarButtons = 100;

// The texts carry their own line breaks. Qt wraps a box's text once more at half the screen's width, which on
// a small screen breaks nearly every line in two; the label is given the width of its longest line instead
// (at most three quarters of the screen), so each line stays whole where it fits. A box with a short text is
// kept wide enough for its caption in a bold title bar beside the frame's buttons (Qt allows too little for
// them, and the window manager then cuts the caption short).
void KeepLinesWhole(QMessageBox& box, const QString& text) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label) return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    QFont bold = label->font();
    bold.setBold(true);
    widest = std::max(widest, QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + kTitleBarButtons);
    const QScreen* screen = box.screen();
    const int room = screen ? screen->availableGeometry().width() * 3 / 4 : widest;
    label->setMinimumWidth(std::min(widest + metrics.averageCharWidth(), room));
}

}  // namespace

MbAnswer ShowQtMessageBox(const platform::MessageBoxRequest& request) {
    if (!qApp) return platform::DefaultAnswer(request.buttons, request.defaultButton);
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(request.caption.empty() ? ApplicationName() : request.caption));
    const QString text = QString::fromStdString(request.text);
    box.setText(text);
    KeepLinesWhole(box, text);
    box.setIcon(IconOf(request.icon));
    const auto buttons = ButtonsOf(request.buttons);
    QMessageBox::StandardButtons all;
    for (const auto& button : buttons) all |= button.first;
    box.setStandardButtons(all);
    const size_t index = request.defaultButton >= 0 && static_cast<size_t>(request.defaultButton) < buttons.size()
                             ? static_cast<size_t>(request.defaultButton)
                             : 0;
    box.setDefaultButton(buttons[index].first);
    const int pressed = box.exec();
    for (const auto& button : buttons)
        if (pressed == button.first) return button.second;
    return EscapeAnswer(request.buttons);
}

void InstallQtMessageBoxes() { platform::SetMessageBoxHandler(ShowQtMessageBox); }
