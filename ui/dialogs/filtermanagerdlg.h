#pragma once

#include "filterrule.h"

#include <QDialog>
#include <string>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// The filter manager: the list of filter rules with the selected rule's name, field (sender
// or subject), condition (contains or is), text and action (delete on the server or hide),
// and New, Save and Delete. Rules are read and written at once through LoadRule, SaveRule
// and DeleteRule; there is no Cancel of what was saved. Warnings (caption 61368): an empty
// name (61369), a name another rule has, ignoring case (61370).
//
//     CFilterManagerDlg dlg(this);
//     dlg.exec();
//
// A missing "Filter Manager" key shows an empty list; Save then creates it. Threads: the
// user-interface thread.
class CFilterManagerDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFilterManagerDlg(QWidget* parent = nullptr);

    QListWidget* RuleList() const { return list_; }
    QLineEdit* NameEdit() const { return name_; }
    QComboBox* PositionList() const { return position_; }
    QComboBox* ConditionList() const { return condition_; }
    QLineEdit* ContextEdit() const { return context_; }
    QRadioButton* DeleteButton() const { return delete_; }
    QRadioButton* HideButton() const { return hide_; }

    // The name New gives: text 61371 and the lowest number from 1 for which no listed name
    // starts with that text, ignoring case.
    std::string NextNewName() const;

public slots:
    void NewRule();
    void SaveCurrent();
    void DeleteCurrent();

private:
    void ShowSelected();
    void Show(const FilterRule& rule);
    void Warn(unsigned textId);

    QListWidget* list_;
    QLineEdit* name_;
    QComboBox* position_;
    QComboBox* condition_;
    QLineEdit* context_;
    QRadioButton* delete_;
    QRadioButton* hide_;
};
