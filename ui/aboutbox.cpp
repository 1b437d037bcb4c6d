#include "aboutbox.h"

#include "hyperlink.h"
#include "resourceids.h"
#include "resourceimage.h"
#include "resourcelibrary.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace
{

// Fills the first "%s" of `pattern` with `a`, the second with `b`; the bundle's test pins
// these texts to exactly those directives.
QString Format(const std::string& pattern, const QString& a, const QString& b = QString())
{
    QString text = QString::fromStdString(pattern);
    const qsizetype first = text.indexOf(QLatin1String("%s"));
    if (first >= 0) {
        text.replace(first, 2, a);
        const qsizetype second = text.indexOf(QLatin1String("%s"), first + a.size());
        if (second >= 0)
            text.replace(second, 2, b);
    }
    return text;
}

} // namespace

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    const QString application = QString::fromStdString(LoadResourceString(ResId::kApplicationWord));
    setWindowTitle(Format(LoadResourceString(ResId::kAboutCaption), application));

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(LoadResourceImage(ResId::kAppIcon)));
    icon->setAlignment(Qt::AlignTop);

    auto* text = new QLabel(Format(LoadResourceString(ResId::kAboutText), application,
                                   QCoreApplication::applicationVersion().isEmpty()
                                       ? QStringLiteral(POSTWATCH_VERSION_TEXT)
                                       : QCoreApplication::applicationVersion()),
                            this);
    text->setTextFormat(Qt::PlainText);

    web_ = new CHyperLink(QString(), this);
    web_->SetTarget(QString::fromStdString(LoadResourceString(ResId::kWebAddress)));
    support_ = new CHyperLink(QString(), this);
    const QString mailto = QString::fromStdString(LoadResourceString(ResId::kSupportAddress));
    support_->SetTarget(mailto);
    support_->setText(mailto.startsWith(QLatin1String("mailto:")) ? mailto.mid(7) : mailto);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* right = new QVBoxLayout();
    right->addWidget(text);
    right->addSpacing(8);
    right->addWidget(web_);
    right->addWidget(support_);
    right->addStretch(1);
    auto* top = new QHBoxLayout();
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
}
