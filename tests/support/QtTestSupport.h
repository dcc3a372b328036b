// Helpers of the widget tests: the one Qt application of a test program, and
// controls found by their object name (the resource id).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QWidget>

namespace qttest {

// The test program's application object, made at the first call. It is never
// destroyed: at exit Qt's own globals may be gone before it, and its input
// devices would be deleted after them.
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "tessmar_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// The control named `id` inside `parent`; a test failure when there is none.
template <typename T>
T* Control(const QWidget* parent, const QString& id) {
    T* w = parent->findChild<T*>(id);
    EXPECT_NE(w, nullptr) << "control " << id.toStdString() << " of " << parent->objectName().toStdString();
    return w;
}

template <typename T>
T* Control(const QWidget* parent, int id) {
    return Control<T>(parent, QString::number(id));
}

template <typename T>
T* Control(const QWidget* parent, const char* id) {
    return Control<T>(parent, QString(id));
}

}  // namespace qttest
