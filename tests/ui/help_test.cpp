#include "help/help_launcher.h"
#include "ui/message_box.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using kt::HelpDocument;
using kt::OpenFailure;

// Records the messages instead of showing them, for the length of one test.
class HelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = kt::setMessageHook([this](const QString& text, const QString& title, int kind) {
            shown.push_back({text, title, kind});
            return kt::MessageResult::Ok;
        });
    }
    void TearDown() override { kt::setMessageHook(std::move(previous)); }

    struct Shown {
        QString text, title;
        int kind;
    };
    std::vector<Shown> shown;
    kt::MessageHook previous;
};

const QString NotFoundText = "The help file that is distributed with KT-MON740 was not found.\n"
                             "It may not have been installed or may have been erased.  KT-MON740\n"
                             "may have to be reinstalled to have access to these files.";

TEST_F(HelpTest, EachFailureShowsItsText) {
    struct Case {
        OpenFailure failure;
        QString text;
    } cases[] = {
        {OpenFailure::OutOfMemory, "There was not enough memory available to open the web browser.\n"
                                   "Try closing other programs or restarting your computer."},
        {OpenFailure::NotFound, NotFoundText},
        {OpenFailure::AccessDenied, "The help files have been installed with the wrong permissions.\n"
                                    "To view the help files their user and group id security permissions\n"
                                    "must be set to allow you access to them."},
        {OpenFailure::NoApplication, "An error occured openning a web browser to view the help file.\n"
                                     "A web browser must be present to view these files.  To view the\n"
                                     "files manually, open \"helpindex.html\" in the KT-MON740 installation\n"
                                     "directory."},
        {OpenFailure::Other, "A system error occured.  The system may be busy.\n"
                             "Try openning the help files again, if this error occurs again\n"
                             "try closing other programs or restarting your computer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.failure));
        shown.clear();
        QStringList asked;
        kt::HelpLauncher launcher("/opt/ktmon740", [&](const QString& path) {
            asked << path;
            return c.failure;
        });
        EXPECT_EQ(launcher.Help2Click(), c.failure);
        EXPECT_EQ(launcher.SetpointAssistant1Click(), c.failure);
        EXPECT_EQ(asked, (QStringList{"/opt/ktmon740/help/KT-MON740-R0-I-113019.pdf",
                                      "/opt/ktmon740/setpoint assistant/kt_index.html"}));
        ASSERT_EQ(shown.size(), 2u);
        for (const Shown& s : shown) {
            EXPECT_EQ(s.text, c.text);
            EXPECT_EQ(s.title, "Help File Open Error");
            EXPECT_EQ(s.kind, kt::MessageOk);
        }
    }
}

TEST_F(HelpTest, SuccessShowsNothing) {
    kt::HelpLauncher launcher("/opt/ktmon740", [](const QString&) { return OpenFailure::None; });
    EXPECT_EQ(launcher.Help2Click(), OpenFailure::None);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(kt::helpFailureText(OpenFailure::None).isEmpty());
}

// Stands in for the desktop: records the file URLs it is asked to open.
class UrlReceiver : public QObject {
    Q_OBJECT
public slots:
    void open(const QUrl& url) { opened << url.toLocalFile(); }

public:
    QStringList opened;
};

// The system opener against real folders. File URLs go to a handler here, so no viewer starts.
class SystemOpener : public HelpTest {
protected:
    void SetUp() override {
        HelpTest::SetUp();
        QDesktopServices::setUrlHandler("file", &receiver, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        HelpTest::TearDown();
    }
    void install(const QString& relative) {
        QString path = dir.filePath(relative);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n");
    }
    static bool runningAsRoot() { return geteuid() == 0; }

    UrlReceiver receiver;
    QTemporaryDir dir;
};

TEST_F(SystemOpener, MissingHelpFolderIsNotFound) {
    kt::HelpLauncher launcher(dir.path());
    EXPECT_EQ(launcher.Help2Click(), OpenFailure::NotFound);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, NotFoundText);
    EXPECT_EQ(shown[0].text.count("KT-MON740"), 2);
    EXPECT_TRUE(receiver.opened.isEmpty());
}

TEST_F(SystemOpener, InstalledDocumentIsHandedToTheDesktop) {
    install("help/KT-MON740-R0-I-113019.pdf");
    install("setpoint assistant/kt_index.html");
    kt::HelpLauncher launcher(dir.path());
    EXPECT_EQ(launcher.Help2Click(), OpenFailure::None);
    EXPECT_EQ(launcher.SetpointAssistant1Click(), OpenFailure::None);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(receiver.opened, (QStringList{dir.filePath("help/KT-MON740-R0-I-113019.pdf"),
                                            dir.filePath("setpoint assistant/kt_index.html")}));
}

TEST_F(SystemOpener, SomethingElseInThePlaceOfTheDocumentIsAnOtherFailure) {
    ASSERT_TRUE(QDir().mkpath(dir.filePath("help/KT-MON740-R0-I-113019.pdf")));
    EXPECT_EQ(kt::openWithSystemViewer(kt::helpDocumentPath(dir.path(), HelpDocument::Manual)),
              OpenFailure::Other);
}

TEST_F(SystemOpener, UnreadableDocumentsAreAPermissionProblem) {
    if (runningAsRoot()) GTEST_SKIP() << "root reads every file; permissions cannot be tested";
    install("help/KT-MON740-R0-I-113019.pdf");
    QString pdf = dir.filePath("help/KT-MON740-R0-I-113019.pdf");
    ASSERT_TRUE(QFile::setPermissions(pdf, QFile::WriteOwner));
    EXPECT_EQ(kt::openWithSystemViewer(pdf), OpenFailure::AccessDenied);

    // A folder that cannot be entered hides the file, but is not a missing file.
    install("setpoint assistant/kt_index.html");
    QString folder = dir.filePath("setpoint assistant");
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::WriteOwner));
    EXPECT_EQ(kt::openWithSystemViewer(folder + "/kt_index.html"), OpenFailure::AccessDenied);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(receiver.opened.isEmpty());
}

TEST(ShippedHelp, DocumentsAreWhereTheLauncherLooks) {
    QFile manual(kt::helpDocumentPath(KT_BIN_DIR, HelpDocument::Manual));
    ASSERT_TRUE(manual.open(QIODevice::ReadOnly)) << manual.fileName().toStdString();
    QByteArray pdf = manual.readAll();
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_GT(pdf.count("/Type /Page\n"), 3) << "a real manual has several pages";

    QFile assistant(kt::helpDocumentPath(KT_BIN_DIR, HelpDocument::SetpointAssistant));
    ASSERT_TRUE(assistant.open(QIODevice::ReadOnly)) << assistant.fileName().toStdString();
    QByteArray html = assistant.readAll();
    EXPECT_TRUE(html.contains("<script>"));
    EXPECT_TRUE(html.contains("NGR resistance"));
    // It must work without a network: no remote scripts, styles or pages.
    EXPECT_FALSE(html.contains("http://"));
    EXPECT_FALSE(html.contains("https://"));
}

} // namespace

#include "help_test.moc"
