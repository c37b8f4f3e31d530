// Shared pieces of the Bidbench tests: the test server every host points
// at, a fresh settings store per test, waiting with the event loop running,
// and answering modal dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>
#include <memory>
#include <ostream>

#include "TestHttpServer.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

// The server of this test process (null in child processes).
TestHttpServer* Server();

inline bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

inline void Pump(int milliseconds) {
    WaitUntil([] { return false; }, milliseconds);
}

// Runs `action` on the first modal dialog of type T that appears.
template <class T>
void WhenModal(std::function<void(T*)> action) {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            action(dialog);
        }
    });
    poll->start();
}

// Runs the script in the page until it gives `wanted` (5 s at most) and
// returns its last result. Results live on the heap: an answer may arrive
// after the test has moved on.
inline QString Evaluate(QWebEngineView* view, const QString& script, const QString& wanted) {
    auto result = std::make_shared<QString>();
    auto pending = std::make_shared<bool>(false);
    WaitUntil(
        [&] {
            if (!*pending) {
                *pending = true;
                view->page()->runJavaScript(script, [result, pending](const QVariant& value) {
                    *result = value.toString();
                    *pending = false;
                });
            }
            return !*pending && *result == wanted;
        },
        5000);
    return *result;
}

// Shows a window and makes it the active one (the virtual display has no
// window manager to do it).
inline void ShowActive(QWidget* window) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    WaitUntil([window] { return window->isActiveWindow(); }, 2000);
}

// Saves a picture of the window under the build's artifacts folder.
inline void SaveScreenshot(QWidget* window, const QString& name) {
    QDir().mkpath(ARTIFACTS_DIR);
    const QImage shot = window->grab().toImage();
    EXPECT_TRUE(shot.save(QDir(ARTIFACTS_DIR).filePath(name + ".png"))) << name.toStdString();
    EXPECT_GT(shot.width(), 50) << name.toStdString();
}

// A fresh per-user settings store for each test.
class BidbenchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mSettingsHome.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mSettingsHome.path());
        if (Server()) Server()->clear();
    }
    QTemporaryDir mSettingsHome;
};
