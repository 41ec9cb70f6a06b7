// Helpers for the window tests: private folders, polling waits, fake decoders,
// message boxes answered.
#pragma once

#include "display/ui/display_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace veltaro::test {

// Polls the condition, letting events run, until it holds or a generous
// deadline passes.
inline bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 20000) {
    QDeadlineTimer deadline(timeout_ms);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

inline void WriteFile(const QString& path, const QByteArray& content,
                      QFile::Permissions permissions = {}) {
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    file.close();
    if (permissions) {
        file.setPermissions(permissions);
    }
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A shell script standing in for the decoder program in program folder `folder`.
inline void WriteScript(const QString& folder, const QString& name, const QByteArray& body) {
    WriteFile(folder + "/" + name, "#!/bin/sh\n" + body,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Answers the next message box the way a user would, noting its text.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text_ = box->text();
                box->accept();
            }
        });
        timer_.start();
    }
    const QString& Text() const { return text_; }

private:
    QTimer timer_;
    QString text_;
};

// A window with its program and data folders in a private folder, on an
// empty settings store.
class WindowFixture : public testing::Test {
protected:
    void SetUp() override { QSettings("Veltaro", "Veltaro").clear(); }

    template <typename T = QWidget> T* Child(const char* name) {
        T* child = window_.findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    // Loaded and shown as the program does it.
    void ShowAndLoad() {
        window_.Load();
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    QTemporaryDir folder_;
    FDisplay window_{folder_.path(), folder_.path()};
};

} // namespace veltaro::test
