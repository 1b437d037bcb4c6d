#include "layoutinspector.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <QTextDocument>
#include <QToolButton>
#include <QWizard>

namespace
{

// Widgets that are made of other widgets; their parts are judged as the whole.
bool IsComposite(const QWidget* w)
{
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QTabBar*>(w) || qobject_cast<const QAbstractScrollArea*>(w);
}

// The outermost composite between `w` and `top` holding `w`, or `w` itself.
QWidget* Owner(QWidget* w, const QWidget* top)
{
    QWidget* owner = w;
    for (QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget()) {
        if (IsComposite(p))
            owner = p;
    }
    return owner;
}

bool IsControl(const QWidget* w)
{
    return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QGroupBox*>(w) || qobject_cast<const QTabBar*>(w);
}

// The controls a user types into or presses, which Tab must reach.
bool TakesInput(const QWidget* w)
{
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QPushButton*>(w) || qobject_cast<const QCheckBox*>(w) ||
           qobject_cast<const QTabBar*>(w);
}

bool IsPlainText(const QLabel* label)
{
    return label->textFormat() == Qt::PlainText ||
           (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text()));
}

// The dialog's standard buttons: they sit below the content and come last by convention.
bool IsStandardButton(const QWidget* w, const QWidget* top)
{
    for (const QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget()) {
        if (qobject_cast<const QDialogButtonBox*>(p))
            return true;
    }
    if (const auto* wizard = qobject_cast<const QWizard*>(top)) {
        for (int which = QWizard::BackButton; which <= QWizard::CustomButton3; ++which) {
            if (wizard->button(static_cast<QWizard::WizardButton>(which)) == w)
                return true;
        }
    }
    return false;
}

QRect RectIn(const QWidget* w, const QWidget* top)
{
    return QRect(w->mapTo(top, QPoint(0, 0)), w->size());
}

std::string Size(const QSize& s)
{
    return std::to_string(s.width()) + "x" + std::to_string(s.height());
}

} // namespace

QString LayoutInspector::ShownText(const QString& text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

QChar LayoutInspector::Mnemonic(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] != QLatin1Char('&'))
            return text[i + 1].toLower();
        ++i;
    }
    return {};
}

std::vector<std::string> LayoutInspector::Findings() const
{
    std::vector<std::string> out;
    CheckWindow(&out);
    CheckControls(&out);
    CheckTabOrder(&out);
    CheckMnemonics(&out);
    return out;
}

std::vector<QWidget*> LayoutInspector::Controls() const
{
    std::vector<QWidget*> controls;
    for (QWidget* w : top_->findChildren<QWidget*>()) {
        if (w->isWindow() || !w->isVisibleTo(top_) || !IsControl(w) || Owner(w, top_) != w)
            continue;
        controls.push_back(w);
    }
    return controls;
}

std::string LayoutInspector::Describe(const QWidget* w) const
{
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        text = button->text();
    else if (const auto* box = qobject_cast<const QGroupBox*>(w))
        text = box->title();
    std::string out = w->metaObject()->className();
    if (!text.isEmpty())
        out += " \"" + ShownText(text).left(40).toStdString() + "\"";
    for (const QLabel* label : top_->findChildren<QLabel*>()) {
        if (label->buddy() == w)
            out += " for \"" + ShownText(label->text()).left(40).toStdString() + "\"";
    }
    if (!w->objectName().isEmpty())
        out += " (" + w->objectName().toStdString() + ")";
    return out;
}

void LayoutInspector::CheckWindow(std::vector<std::string>* out) const
{
    const QRect area = top_->screen()->availableGeometry();
    const QSize frame = top_->frameGeometry().size();
    if (frame.width() > area.width() || frame.height() > area.height())
        out->push_back("the window (" + Size(frame) + ") is larger than the screen's work area (" +
                       Size(area.size()) + ")");
}

void LayoutInspector::CheckControls(std::vector<std::string>* out) const
{
    for (QWidget* w : Controls()) {
        const QWidget* parent = w->parentWidget();
        if (parent && !parent->rect().contains(w->geometry()))
            out->push_back(Describe(w) + " sticks out of its parent");
        const QSize need = w->minimumSizeHint();
        if (need.isValid() && (w->width() < need.width() || w->height() < need.height()))
            out->push_back(Describe(w) + " is " + Size(w->size()) + ", smaller than its minimum " +
                           Size(need));
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (label->text().isEmpty() || !IsPlainText(label))
                continue;
            if (label->wordWrap()) {
                if (label->height() < label->heightForWidth(label->width()))
                    out->push_back(Describe(w) + ": the wrapped text is cut off");
                continue;
            }
            const QStringList lines = ShownText(label->text()).split(QLatin1Char('\n'));
            int wide = 0;
            for (const QString& line : lines)
                wide = std::max(wide, label->fontMetrics().horizontalAdvance(line));
            const QRect room = label->contentsRect().marginsRemoved(
                QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
            if (room.width() < wide ||
                room.height() < label->fontMetrics().height() * static_cast<int>(lines.size()))
                out->push_back(Describe(w) + ": the text does not fit");
        } else if (qobject_cast<const QAbstractButton*>(w) &&
                   !qobject_cast<const QToolButton*>(w)) {
            if (w->width() < w->sizeHint().width())
                out->push_back(Describe(w) + ": the text does not fit");
        } else if (const auto* view = qobject_cast<const QAbstractItemView*>(w)) {
            if (view->horizontalScrollBar()->isVisible())
                out->push_back(Describe(w) + ": its columns do not fit (a horizontal scroll "
                                             "bar shows)");
        } else if (qobject_cast<const QComboBox*>(w) || qobject_cast<const QTabBar*>(w)) {
            if (w->width() < w->sizeHint().width())
                out->push_back(Describe(w) + " is narrower than its longest entry");
        }
    }
}

void LayoutInspector::CheckTabOrder(std::vector<std::string>* out) const
{
    std::vector<QWidget*> chain;
    int guard = 0;
    for (QWidget* w = top_->nextInFocusChain(); w && w != top_ && guard < 100000;
         w = w->nextInFocusChain(), ++guard) {
        if (!top_->isAncestorOf(w) || !w->isVisibleTo(top_) || !w->isEnabled() ||
            (w->focusPolicy() & Qt::TabFocus) != Qt::TabFocus)
            continue;
        QWidget* owner = Owner(w, top_);
        if (chain.empty() || chain.back() != owner)
            chain.push_back(owner);
    }
    for (QWidget* w : Controls()) {
        if (TakesInput(w) && w->isEnabled() &&
            std::find(chain.begin(), chain.end(), w) == chain.end())
            out->push_back(Describe(w) + " cannot be reached with Tab");
    }
    std::vector<QWidget*> content;
    for (QWidget* w : chain) {
        if (!IsStandardButton(w, top_))
            content.push_back(w);
    }
    for (size_t i = 1; i < content.size(); ++i) {
        const QRect from = RectIn(content[i - 1], top_);
        const QRect to = RectIn(content[i], top_);
        const bool above = to.bottom() < from.top();
        const bool newColumn = to.left() > from.right();
        const bool sameRow = to.top() <= from.bottom() && from.top() <= to.bottom();
        if ((above && !newColumn) || (sameRow && to.right() < from.left()))
            out->push_back("Tab goes back from " + Describe(content[i - 1]) + " to " +
                           Describe(content[i]));
    }
}

void LayoutInspector::CheckMnemonics(std::vector<std::string>* out) const
{
    QMap<QChar, std::vector<const QWidget*>> users;
    for (QWidget* w : Controls()) {
        QStringList texts;
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (!IsPlainText(label) && label->textFormat() != Qt::AutoText)
                continue;
            if (Mnemonic(label->text()).isNull())
                continue;
            if (!label->buddy() || !label->buddy()->isVisibleTo(top_)) {
                out->push_back(Describe(w) + ": its Alt key has no control to go to");
                continue;
            }
            texts << label->text();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
            if (w->isEnabled())
                texts << button->text();
        } else if (const auto* box = qobject_cast<const QGroupBox*>(w)) {
            texts << box->title();
        } else if (const auto* bar = qobject_cast<const QTabBar*>(w)) {
            for (int i = 0; i < bar->count(); ++i)
                texts << bar->tabText(i);
        }
        for (const QString& text : texts) {
            const QChar key = Mnemonic(text);
            if (!key.isNull())
                users[key].push_back(w);
        }
    }
    for (auto it = users.cbegin(); it != users.cend(); ++it) {
        if (it.value().size() < 2)
            continue;
        std::string line = "Alt+" + QString(it.key()).toStdString() + " is used by";
        for (const QWidget* w : it.value())
            line += " " + Describe(w) + ";";
        out->push_back(line);
    }
}
