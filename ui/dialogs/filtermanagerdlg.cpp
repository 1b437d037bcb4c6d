#include "filtermanagerdlg.h"

#include "dialogtext.h"
#include "dialoguebox.h"
#include "filterrules.h"
#include "registrykey.h"
#include "resourcelibrary.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace
{

constexpr unsigned kCaption = 61368;
constexpr unsigned kEmptyName = 61369;
constexpr unsigned kNameTaken = 61370;
constexpr unsigned kNewStem = 61371;

// The combo entry whose text is exactly `text`, or none (-1) for a text of another language.
void SelectText(QComboBox* box, const std::string& text)
{
    box->setCurrentIndex(box->findText(QString::fromStdString(text), Qt::MatchExactly));
}

std::string CurrentText(const QComboBox* box)
{
    return box->currentIndex() < 0 ? std::string() : box->currentText().toStdString();
}

} // namespace

CFilterManagerDlg::CFilterManagerDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(DlgText::Text(kCaption));
    const FilterKeywords words = FilterKeywords::Load();

    list_ = new QListWidget(this);
    name_ = new QLineEdit(this);
    position_ = new QComboBox(this);
    position_->addItem(QString::fromStdString(words.sender));
    position_->addItem(QString::fromStdString(words.subject));
    condition_ = new QComboBox(this);
    condition_->addItem(QString::fromStdString(words.contains));
    condition_->addItem(QString::fromStdString(words.is));
    context_ = new QLineEdit(this);
    delete_ = new QRadioButton(DlgText::Text(DlgText::kRuleDelete), this);
    hide_ = new QRadioButton(DlgText::Text(DlgText::kRuleHide), this);
    hide_->setChecked(true);
    auto* add = new QPushButton(DlgText::Text(DlgText::kNew), this);
    auto* save = new QPushButton(DlgText::Text(DlgText::kSave), this);
    auto* remove = new QPushButton(DlgText::Text(DlgText::kDelete), this);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* listLabel = new QLabel(DlgText::Text(DlgText::kRules), this);
    listLabel->setBuddy(list_);
    auto* left = new QVBoxLayout;
    left->addWidget(listLabel);
    left->addWidget(list_);
    auto* form = new QFormLayout;
    form->addRow(DlgText::Text(DlgText::kRuleName), name_);
    form->addRow(DlgText::Text(DlgText::kRulePosition), position_);
    form->addRow(DlgText::Text(DlgText::kRuleCondition), condition_);
    form->addRow(DlgText::Text(DlgText::kRuleContext), context_);
    form->addRow(delete_);
    form->addRow(hide_);
    auto* commands = new QHBoxLayout;
    commands->addWidget(add);
    commands->addWidget(save);
    commands->addWidget(remove);
    commands->addStretch();
    auto* right = new QVBoxLayout;
    right->addLayout(form);
    right->addLayout(commands);
    right->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addLayout(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(close);

    setTabOrder(list_, name_);
    setTabOrder(name_, position_);
    setTabOrder(position_, condition_);
    setTabOrder(condition_, context_);
    setTabOrder(context_, delete_);
    setTabOrder(delete_, hide_);
    setTabOrder(hide_, add);
    setTabOrder(add, save);
    setTabOrder(save, remove);

    connect(add, &QPushButton::clicked, this, &CFilterManagerDlg::NewRule);
    connect(save, &QPushButton::clicked, this, &CFilterManagerDlg::SaveCurrent);
    connect(remove, &QPushButton::clicked, this, &CFilterManagerDlg::DeleteCurrent);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::currentRowChanged, this, [this] { ShowSelected(); });

    CRegistryKey key;
    std::vector<std::string> names;
    if (key.Open(RegistryRoot::CurrentUser, FilterManagerPath()) && key.EnumSubKeys(names)) {
        for (const std::string& n : names)
            list_->addItem(QString::fromStdString(n));
    }
    if (list_->count() > 0)
        list_->setCurrentRow(0);
}

void CFilterManagerDlg::Warn(unsigned textId)
{
    DialogueBox(DlgText::Text(textId).toStdString(), DlgText::Text(kCaption).toStdString(), this,
                kDialogueOk, kDialogueIconExclamation);
}

void CFilterManagerDlg::Show(const FilterRule& rule)
{
    name_->setText(QString::fromStdString(rule.name));
    SelectText(position_, rule.position);
    SelectText(condition_, rule.condition);
    context_->setText(QString::fromStdString(rule.context));
    // Anything but "1" hides: the evaluation treats only "1" as delete.
    delete_->setChecked(rule.deleteInServer == "1");
    hide_->setChecked(rule.deleteInServer != "1");
}

void CFilterManagerDlg::ShowSelected()
{
    QListWidgetItem* item = list_->currentItem();
    FilterRule rule;
    if (item) {
        rule.name = item->text().toStdString();
        FilterRule stored;
        if (LoadRule(rule.name, stored))
            rule = stored;
        rule.name = item->text().toStdString();
    }
    Show(rule);
}

std::string CFilterManagerDlg::NextNewName() const
{
    const QString stem = DlgText::Text(kNewStem);
    for (int n = 1;; ++n) {
        const QString candidate = stem + QString::number(n);
        bool taken = false;
        for (int i = 0; i < list_->count() && !taken; ++i)
            taken = list_->item(i)->text().startsWith(candidate, Qt::CaseInsensitive);
        if (!taken)
            return candidate.toStdString();
    }
}

void CFilterManagerDlg::NewRule()
{
    FilterRule rule;
    rule.name = NextNewName();
    list_->addItem(QString::fromStdString(rule.name));
    {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(list_->count() - 1);
    }
    if (!SaveRule(rule))
        Warn(DlgText::kRuleSaveFailed);
    Show(rule);
}

void CFilterManagerDlg::SaveCurrent()
{
    FilterRule rule;
    rule.name = name_->text().toStdString();
    rule.position = CurrentText(position_);
    rule.condition = CurrentText(condition_);
    rule.context = context_->text().toStdString();
    rule.deleteInServer = delete_->isChecked() ? "1" : "0";
    if (rule.name.empty()) {
        Warn(kEmptyName);
        return;
    }
    const int selected = list_->currentRow();
    for (int i = 0; i < list_->count(); ++i) {
        if (i != selected &&
            list_->item(i)->text().compare(name_->text(), Qt::CaseInsensitive) == 0) {
            Warn(kNameTaken);
            return;
        }
    }
    // The new sub-key is written before the old one goes, so a failed write (a name holding
    // a backslash, a full disk) never loses the rule.
    if (!SaveRule(rule)) {
        Warn(DlgText::kRuleSaveFailed);
        return;
    }
    const QSignalBlocker block(list_);
    if (selected < 0) {
        list_->addItem(name_->text());
        list_->setCurrentRow(list_->count() - 1);
        return;
    }
    const std::string old = list_->item(selected)->text().toStdString();
    if (old != rule.name) {
        // A rename that only changes case keeps one sub-key: the store names keys without
        // regard to case, so deleting the old name would delete the rule just written.
        if (QString::fromStdString(old).compare(name_->text(), Qt::CaseInsensitive) != 0)
            DeleteRule(old);
        list_->item(selected)->setText(name_->text());
    }
}

void CFilterManagerDlg::DeleteCurrent()
{
    const int selected = list_->currentRow();
    if (selected < 0)
        return;
    DeleteRule(list_->item(selected)->text().toStdString());
    {
        const QSignalBlocker block(list_);
        delete list_->takeItem(selected);
        list_->setCurrentRow(list_->count() == 0 ? -1 : (selected > 0 ? selected - 1 : 0));
    }
    ShowSelected();
}
