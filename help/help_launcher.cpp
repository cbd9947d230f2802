#include "help/help_launcher.h"

#include "ui/message_box.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <new>

namespace kt {

namespace {
constexpr const char* ProgramName = "KT-MON740";

// Walks up from a missing path: a folder on the way that exists but cannot be entered makes it
// a permission problem, not a missing file.
bool blockedByPermissions(const QString& path) {
    QDir dir = QFileInfo(path).absoluteDir();
    while (true) {
        QFileInfo info(dir.absolutePath());
        if (info.exists()) return !(info.isReadable() && info.isExecutable());
        if (!dir.cdUp()) return false;
    }
}
} // namespace

QString helpDocumentPath(const QString& programFolder, HelpDocument document) {
    QDir folder(programFolder);
    return document == HelpDocument::Manual
               ? folder.filePath(QString("help/") + HelpManualFile)
               : folder.filePath(QString("setpoint assistant/") + HelpAssistantFile);
}

QString helpFailureText(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::None:
        return {};
    case OpenFailure::OutOfMemory:
        return "There was not enough memory available to open the web browser.\n"
               "Try closing other programs or restarting your computer.";
    case OpenFailure::NotFound:
        return QString("The help file that is distributed with %1 was not found.\n"
                       "It may not have been installed or may have been erased.  %1\n"
                       "may have to be reinstalled to have access to these files.")
            .arg(ProgramName);
    case OpenFailure::AccessDenied:
        return "The help files have been installed with the wrong permissions.\n"
               "To view the help files their user and group id security permissions\n"
               "must be set to allow you access to them.";
    case OpenFailure::NoApplication:
        return QString("An error occured openning a web browser to view the help file.\n"
                       "A web browser must be present to view these files.  To view the\n"
                       "files manually, open \"helpindex.html\" in the %1 installation\n"
                       "directory.")
            .arg(ProgramName);
    case OpenFailure::Other:
        break;
    }
    return "A system error occured.  The system may be busy.\n"
           "Try openning the help files again, if this error occurs again\n"
           "try closing other programs or restarting your computer.";
}

OpenFailure openWithSystemViewer(const QString& path) {
    try {
        QFileInfo info(path);
        if (!info.exists())
            return blockedByPermissions(path) ? OpenFailure::AccessDenied : OpenFailure::NotFound;
        if (!info.isFile()) return OpenFailure::Other; // something else sits where the document belongs
        if (!info.isReadable()) return OpenFailure::AccessDenied;
        // Qt only says yes or no; with the file known to be there and readable, a no means the
        // desktop found nothing to open it with.
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())))
            return OpenFailure::NoApplication;
        return OpenFailure::None;
    } catch (const std::bad_alloc&) {
        return OpenFailure::OutOfMemory;
    }
}

HelpLauncher::HelpLauncher(QString programFolder, DocumentOpener opener)
    : folder_(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : std::move(programFolder)),
      opener_(opener ? std::move(opener) : DocumentOpener(openWithSystemViewer)) {}

OpenFailure HelpLauncher::open(HelpDocument document, QWidget* owner) {
    OpenFailure failure = opener_(helpDocumentPath(folder_, document));
    if (failure != OpenFailure::None) showMessage(helpFailureText(failure), HelpErrorTitle, MessageOk, owner);
    return failure;
}

} // namespace kt
