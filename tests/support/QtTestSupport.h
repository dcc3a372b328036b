// Helpers of the widget tests: the one Qt application of a test program,
// controls found by their object name (the resource id), and the working
// folder and program start the window tests share.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDevice>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <memory>

#include "app/CMainFrame.h"
#include "app/CTessmarApp.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

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

// A test in a fresh folder of its own, the current folder while it runs (the
// program makes its profile folder there), with the run state of a program
// just started: running, not paused. The folder before is current again after.
class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        RunState = 1;
        PauseFlag = 0;
    }
    void TearDown() override {
        if (!previous_.empty()) std::filesystem::current_path(previous_);
    }

    testsupport::TempDir dir_;
    std::filesystem::path previous_;
};

// The same with the program started in that folder: no settings file yet, so
// the built-in settings; it is closed at the end.
class ProgramTest : public FolderTest {
protected:
    void SetUp() override {
        FolderTest::SetUp();
        app_ = std::make_unique<CTessmarApp>();
        ASSERT_TRUE(app_->InitInstance({}));
        frame_ = app_->MainFrame();
    }
    void TearDown() override {
        app_.reset();
        FolderTest::TearDown();
    }

    std::unique_ptr<CTessmarApp> app_;
    CMainFrame* frame_ = nullptr;
};

}  // namespace qttest
