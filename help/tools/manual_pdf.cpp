// Build-time tool: renders the user manual from Markdown into the PDF shipped beside the
// program.   manual_pdf INPUT.md OUTPUT.pdf
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: manual_pdf INPUT.md OUTPUT.pdf\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "manual_pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument doc;
    doc.setDefaultFont(QFont("DejaVu Sans", 10));
    doc.setMarkdown(QString::fromUtf8(in.readAll()), QTextDocument::MarkdownDialectGitHub);
    if (doc.isEmpty()) {
        std::fprintf(stderr, "manual_pdf: %s is empty\n", argv[1]);
        return 1;
    }

    QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
    writer.setTitle("KT-MON740 User Manual");
    writer.setCreator("KT-MON740");
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter));
    writer.setResolution(300);
    // Without a page size of its own the document is paginated by print() and numbered.
    doc.print(&writer);
    return 0;
}
