#pragma once

#include <QString>
#include <string>
#include <vector>

class QWidget;

// Looks at a shown top-level window the way a user would and lists what is wrong with it:
// - the window is larger than the screen's work area;
// - a control sticks out of its parent or is smaller than it needs to be; a list's columns
//   need a horizontal scroll bar;
// - a label's, button's or tab's text does not show whole;
// - Tab does not reach a control, or visits the controls out of reading order (top to
//   bottom; a move back up is allowed only into a new column to the right);
// - an Alt+letter mnemonic is used twice, or a label's mnemonic leads nowhere.
// Only what is visible counts, so a wizard or tabbed dialog is inspected page by page.
class LayoutInspector
{
public:
    explicit LayoutInspector(QWidget* top) : top_(top) {}

    // Every finding, each a line naming the widget; empty when the window is fine.
    std::vector<std::string> Findings() const;

    // The text a control shows for `text`: mnemonic markers removed, "&&" as "&".
    static QString ShownText(const QString& text);
    // The mnemonic letter of `text`, lower case; null when it has none.
    static QChar Mnemonic(const QString& text);

private:
    void CheckWindow(std::vector<std::string>* out) const;
    void CheckControls(std::vector<std::string>* out) const;
    void CheckTabOrder(std::vector<std::string>* out) const;
    void CheckMnemonics(std::vector<std::string>* out) const;

    std::vector<QWidget*> Controls() const;
    std::string Describe(const QWidget* widget) const;

    QWidget* top_;
};
