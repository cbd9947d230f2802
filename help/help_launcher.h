#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kt {

enum class HelpDocument { Manual, SetpointAssistant };

// Why the system could not show a document.
enum class OpenFailure { None, OutOfMemory, NotFound, AccessDenied, NoApplication, Other };

inline constexpr const char* HelpManualFile = "KT-MON740-R0-I-113019.pdf";
inline constexpr const char* HelpAssistantFile = "kt_index.html";
inline constexpr const char* HelpErrorTitle = "Help File Open Error";

// <folder>/help/KT-MON740-R0-I-113019.pdf or <folder>/setpoint assistant/kt_index.html.
QString helpDocumentPath(const QString& programFolder, HelpDocument document);
// The message for a failure; empty for None.
QString helpFailureText(OpenFailure failure);

// Hands a file to the system's default viewer.
using DocumentOpener = std::function<OpenFailure(const QString& path)>;
// The desktop's "open": a missing file or folder, an unreadable one, and a desktop without an
// application for the file are told apart before and after asking it.
OpenFailure openWithSystemViewer(const QString& path);

// The Help menu's two documents. Failures are explained with showMessage (OK only).
class HelpLauncher {
public:
    // An empty folder means the folder of the running program.
    explicit HelpLauncher(QString programFolder = {}, DocumentOpener opener = openWithSystemViewer);

    OpenFailure Help2Click(QWidget* owner = nullptr) { return open(HelpDocument::Manual, owner); }
    OpenFailure SetpointAssistant1Click(QWidget* owner = nullptr) {
        return open(HelpDocument::SetpointAssistant, owner);
    }
    OpenFailure open(HelpDocument document, QWidget* owner = nullptr);

private:
    QString folder_;
    DocumentOpener opener_;
};

} // namespace kt
