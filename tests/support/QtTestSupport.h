// Helpers of the widget tests: the one Qt application of a test program, and
// controls found by their object name (the resource id).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDevice>
#include <QString>
#include <QWidget>

namespace qttest {

inline QApplication*& AppObject() {
    static QApplication* app = nullptr;
    return app;
}

// Once the tests have run, deletes the input devices Qt made on the way while
// their registry still exists, then the application itself: left to the end
// of the process, its destructor would run Qt's clean-up routines (the cache
// of brush patterns, for one) after the statics they use were destroyed.
class AppEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        for (const QInputDevice* device : QInputDevice::devices()) delete device;
        delete AppObject();
        AppObject() = nullptr;
    }
};

// The test program's application object, made at the first call.
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "tessmar_test";
    static char* argv[] = {name, nullptr};
    if (!AppObject()) AppObject() = new QApplication(argc, argv);
    static const bool registered = (::testing::AddGlobalTestEnvironment(new AppEnvironment), true);
    (void)registered;
    return *AppObject();
}

// The application of a test program that sends key events. Those make Qt
// register a keyboard device, which the application unregisters when it goes:
// the list of devices is made first so that it is still there at that moment.
inline QApplication& KeyEventApp() {
    static const bool devicesFirst = !QInputDevice::devices().isEmpty();
    (void)devicesFirst;
    return App();
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
