// Build-time tool: renders the user manual from Markdown into the PDF shipped beside the
// program.   manual_pdf INPUT.md OUTPUT.pdf
// Pictures are named relative to the Markdown file; one that cannot be loaded fails the build
// instead of leaving an empty frame.
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPixmap>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

namespace {

QImage loadPicture(QTextDocument& doc, const QString& name) {
    const QVariant data = doc.resource(QTextDocument::ImageResource, doc.baseUrl().resolved(QUrl(name)));
    QImage image = data.value<QImage>();
    if (image.isNull() && data.canConvert<QPixmap>()) image = data.value<QPixmap>().toImage();
    if (image.isNull() && data.typeId() == QMetaType::QByteArray) image.loadFromData(data.toByteArray());
    return image;
}

// Loads every picture and fits it into the text width. Printing works on a copy of the
// document, which keeps added resources but not the base URL they were found through.
bool placePictures(QTextDocument& doc, qreal textWidth, const char* source) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QImage image = loadPicture(doc, format.name());
            if (image.isNull()) {
                std::fprintf(stderr, "manual_pdf: %s: cannot load the picture %s\n", source,
                             qPrintable(format.name()));
                return false;
            }
            doc.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
            const qreal width = std::min<qreal>(image.width(), textWidth);
            format.setWidth(width);
            format.setHeight(width * image.height() / image.width());
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
    return true;
}

} // namespace

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
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(in.fileName()).absolutePath() + "/"));
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
    // print() lays the document out at 96 units an inch inside margins of 2 cm of its own.
    const qreal textWidth = writer.pageLayout().paintRect(QPageLayout::Inch).width() * 96 - 2 * 96 * 2 / 2.54;
    if (!placePictures(doc, textWidth, argv[1])) return 1;
    // Without a page size of its own the document is paginated by print() and numbered.
    doc.print(&writer);
    return 0;
}
