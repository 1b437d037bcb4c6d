// The kinds as the user reads them: each stored literal has its words, anything else shows
// as written, and the desktop's lists hand back the literal, never the words.
#include "accountkindtext.h"
#include "dialogtestsupport.h"
#include "importdlg.h"
#include "wizardtestsupport.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

namespace
{

TEST(AccountKindText, EachLiteralHasItsWords)
{
    struct Row {
        const char* name;
        const char* literal;
        const char* shown;
    } rows[] = {
        {"pop3", "POP3", "POP3"},
        {"imap4", "IMAP4", "IMAP"},
        {"web-mail", "Portalpost", "Web mail"},
        {"maildir", "Exchange(MAPI)", "Local mailbox (Maildir)"},
        // The loader compares kinds exactly: these are no kinds and show as the file has them.
        {"lower-case", "imap4", "imap4"},
        {"short-exchange", "Exchange", "Exchange"},
        {"foreign", "NNTP", "NNTP"},
        {"empty", "", ""},
        {"utf8", "Post\xc3\xa4mt", "Post\xc3\xa4mt"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(AccountKindText(r.literal).toStdString(), r.shown) << r.name;
}

// The lists show the words but the account is made from the literal: a wizard that stored
// "IMAP" or an import that handed on its column's text would make an account no check reads.
TEST(AccountKindText, ListsShowTheWordsAndGiveTheLiteral)
{
    UiSandbox sandbox;
    CAccountManager table;
    CAccountWizard wizard(&table, nullptr);
    QComboBox* kinds = wizard.Step1()->KindList();
    ASSERT_EQ(kinds->count(), 4);
    for (int i = 0; i < kinds->count(); ++i) {
        const std::string literal = CWizardStep1::kKinds[i];
        EXPECT_EQ(kinds->itemText(i), AccountKindText(literal)) << literal;
        kinds->setCurrentIndex(i);
        EXPECT_EQ(wizard.Step1()->Kind(), literal);
    }

    CImportDlg dlg({{"Home", "IMAP4", "imap.example.org", "993", "ann", "TLS"}});
    EXPECT_EQ(dlg.List()->topLevelItem(0)->text(1), QStringLiteral("IMAP"));
    dlg.accept();
    ASSERT_TRUE(dlg.Chosen());
    EXPECT_EQ(dlg.Chosen()->kind, "IMAP4");
}

} // namespace
