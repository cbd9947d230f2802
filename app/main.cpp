// ktmon740: the main window of the KT-740 monitor.
#include "ui/about_box.h"
#include "ui/main_form.h"
#include "ui/message_box.h"
#include "ui/program_options.h"

#include <QApplication>
#include <QTabWidget>
#include <QTimer>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

// An error that escapes an event handler is shown to the operator instead of ending the
// program; the handler's work is lost, the window goes on.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            kt::showMessage(QString::fromUtf8(e.what()), "error", kt::MessageOk);
        }
        return false;
    }
};

// Makes the shown page with the tab caption (without its key mark) or object name `page` current.
bool showPage(QWidget& window, const QString& page) {
    auto* pages = window.findChild<QTabWidget*>("PageControl1");
    if (!pages) return false;
    for (int i = 0; i < pages->count(); ++i) {
        if (!pages->isTabVisible(i)) continue;
        if (QString(pages->tabText(i)).remove('&') == page || pages->widget(i)->objectName() == page) {
            pages->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = kt::parseProgramOptions(args, error);
    if (!options) {
        std::cerr << "ktmon740: " << error << "\nTry 'ktmon740 --help'.\n";
        return 2;
    }
    if (options->help) {
        std::cout << kt::programUsageText();
        return 0;
    }

    Application app(argc, argv);
    QApplication::setOrganizationName("Corvane");
    QApplication::setApplicationName("KT-MON-740");
    QApplication::setApplicationVersion(kt::ProgramVersionText);

    kt::MainFormOptions formOptions;
    formOptions.connectLink = options->connect;
    kt::TMainForm window(std::move(formOptions));
    window.show();

    int exitCode = 0;
    if (!options->screenshotFile.empty()) {
        const QString file = QString::fromStdString(options->screenshotFile);
        const QString page = QString::fromStdString(options->screenshotPage);
        auto shoot = [&window, &exitCode, file] {
            if (!window.grab().save(file, "PNG")) {
                std::cerr << "ktmon740: cannot write the screenshot " << file.toStdString() << "\n";
                exitCode = 1;
            }
            window.close();
        };
        QTimer::singleShot(options->screenshotAfterMs, &window, [&window, &exitCode, page, shoot] {
            if (page.isEmpty()) return shoot();
            if (!showPage(window, page)) {
                std::cerr << "ktmon740: no page \"" << page.toStdString() << "\" is shown\n";
                exitCode = 1;
                window.close();
                return;
            }
            // The page lays itself out and paints before the picture is taken.
            QTimer::singleShot(300, &window, shoot);
        });
    }
    int loop = app.exec();
    return exitCode != 0 ? exitCode : loop;
}
