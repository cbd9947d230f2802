#include "ui/about_box.h"

#include "monitor/register_tables.h"
#include "ui/dialog_helpers.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kt {

TAboutBox::TAboutBox(QWidget* owner, const QColor& windowColour) : QDialog(owner, noBorderIconsFlags()) {
    setObjectName("AboutBox");
    setWindowTitle("About");
    applyWindowColour(this, windowColour);

    auto* name = new QLabel("KT-MON740", this);
    name->setObjectName("ProductName_L");
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);

    auto* version = new QLabel(QString("Version ") + ProgramVersionText, this);
    version->setObjectName("Version_L");

    auto* note = new QLabel(this);
    note->setObjectName("Comments_L");
    const QString url = QString::fromLatin1(ProductWebPage);
    note->setText(QString("Monitoring and configuration of KT-740 series NGR monitor relays.<br>"
                          "Updates and documents: <a href=\"%1\">%1</a>")
                      .arg(url));
    note->setTextFormat(Qt::RichText);
    note->setOpenExternalLinks(true); // the system's browser
    note->setWordWrap(true);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name, 0, Qt::AlignHCenter);
    layout->addWidget(version, 0, Qt::AlignHCenter);
    layout->addSpacing(8);
    layout->addWidget(note);
    layout->addSpacing(8);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    setFixedWidth(360);
    adjustSize();
    centreOn(this, owner);
}

} // namespace kt
