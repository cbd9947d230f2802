#pragma once

// A main window on a preferences file of its own, with every message recorded and answered.
#include "prefs/qsettings_store.h"
#include "tests/support/modal.h"
#include "tests/support/process.h"
#include "ui/main_form.h"
#include "ui/message_box.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kt::test {

struct RecordedMessage {
    QString text;
    QString title;
    int kind;
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        setMessageHook([this](const QString& text, const QString& title, int kind) {
            messages.push_back({text, title, kind});
            return answer;
        });
    }
    void TearDown() override {
        window.reset();
        setMessageHook({});
    }

    // Each case of a table gets a file of its own: QSettings caches files by name.
    QString iniPath() const { return QString::fromStdString(dir.file(iniName)); }
    // Values written into the store before the window starts.
    void preset(std::initializer_list<std::pair<const char*, QVariant>> values) {
        QSettings s(iniPath(), QSettings::IniFormat);
        for (const auto& [name, value] : values) s.setValue(QString("Preferences/") + name, value);
    }
    QVariant stored(const char* name) const {
        QSettings s(iniPath(), QSettings::IniFormat);
        return s.value(QString("Preferences/") + name);
    }

    TMainForm& start(std::optional<ConnectionSettings> connectLink = std::nullopt) {
        store = std::make_unique<QSettingsPreferencesStore>(iniPath());
        MainFormOptions options = baseOptions;
        options.store = store.get();
        options.programFolder = programFolder;
        options.connectLink = std::move(connectLink);
        window = std::make_unique<TMainForm>(std::move(options));
        return *window;
    }

    template <class T = QWidget> T* child(const char* name) {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) { return child<QWidget>(name)->property("text").toString(); }
    bool pageShown(const char* name) {
        auto* pages = child<QTabWidget>("PageControl1");
        return pages->isTabVisible(pages->indexOf(child<QWidget>(name)));
    }
    bool menuShown(const char* name) { return child<QMenu>(name)->menuAction()->isVisible(); }
    QColor netStatusColour() {
        return child<QLabel>("netstatus_P")->palette().color(QPalette::Active, QPalette::WindowText);
    }
    bool saw(const QString& text, const QString& title) const {
        for (const RecordedMessage& m : messages)
            if (m.text == text && m.title == title) return true;
        return false;
    }

    // Runs the event loop until `done` holds or `timeout` passes.
    static bool waitFor(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeout.count()) return false;
            QTest::qWait(20);
        }
        return true;
    }

    TempDir dir;
    // Engine and listener options for the windows the test starts (timings, mostly).
    MainFormOptions baseOptions;
    std::string iniName = "KTMON740.ini";
    QString programFolder = KT_BIN_DIR;
    std::unique_ptr<QSettingsPreferencesStore> store;
    std::unique_ptr<TMainForm> window;
    std::vector<RecordedMessage> messages;
    MessageResult answer = MessageResult::Ok;
};

} // namespace kt::test
