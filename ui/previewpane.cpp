#include "previewpane.h"

#include "mailheadlist.h"

#include <QItemSelectionModel>

CPreviewPane::CPreviewPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("PreviewPane"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    refresh_.setSingleShot(true);
    refresh_.setInterval(0);
    connect(&refresh_, &QTimer::timeout, this, &CPreviewPane::Refresh);
}

void CPreviewPane::Follow(CMailHeadList* list)
{
    list_ = list;
    CMailHeadModel* model = list->Model();
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CPreviewPane::RefreshLater);
    // A reset (another account, or the list emptied) drops the selection without telling.
    connect(model, &QAbstractItemModel::modelReset, this, &CPreviewPane::RefreshLater);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &CPreviewPane::RefreshLater);
    RefreshLater();
}

void CPreviewPane::RefreshLater()
{
    if (isVisible())
        refresh_.start();
}

void CPreviewPane::Refresh()
{
    refresh_.stop();
    if (!list_)
        return;
    const std::vector<int> rows = list_->SelectedRows();
    if (rows.size() != 1) {
        clear();
        return;
    }
    ShowPreview(list_->Model()->Preview(rows.front()));
}

void CPreviewPane::ShowPreview(const std::string& preview)
{
    setPlainText(DisplayText(preview));
}

QString CPreviewPane::DisplayText(const std::string& preview)
{
    const QString decoded =
        QString::fromUtf8(preview.data(), static_cast<qsizetype>(preview.size()));
    QString text;
    text.reserve(decoded.size());
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded.at(i);
        if (c == QLatin1Char('\r')) {
            text.append(QLatin1Char('\n'));
            if (i + 1 < decoded.size() && decoded.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\t')) {
            text.append(c);
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F ||
                   (c.unicode() >= 0x80 && c.unicode() < 0xA0)) {
            text.append(QChar::ReplacementCharacter);
        } else {
            text.append(c);
        }
    }
    return text;
}

void CPreviewPane::showEvent(QShowEvent* event)
{
    QPlainTextEdit::showEvent(event);
    Refresh();
}
