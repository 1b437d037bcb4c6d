#include "accesspassworddlg.h"
#include "dialogtestsupport.h"
#include "setaccesspassworddlg.h"

#include <QLineEdit>
#include <gtest/gtest.h>

namespace
{

int Unlocked(const CAccountManager& table)
{
    return table.Snapshot().at(0).unlocked;
}

TEST(AccessPasswordPrompt, OkFollowsTheEntry)
{
    struct Row {
        const char* name;
        const char* entry;
        int unlockedBefore;
        int accepted;
        int unlockedAfter;
        const char* warning; // empty: none
        const char* fieldAfter;
    } rows[] = {
        // An empty entry is refused before the table is asked: an account unlocked earlier
        // stays unlocked (asking would have locked it again).
        {"empty-refused-table-untouched", "", 1, 0, 1, "Please enter the access password.", ""},
        {"wrong-clears-field", "guess", 0, 0, 0, "The access password is not correct.", ""},
        {"wrong-case", "OPEN sesame", 0, 0, 0, "The access password is not correct.", ""},
        {"prefix-is-wrong", "open", 0, 0, 0, "The access password is not correct.", ""},
        {"right-unlocks", "open sesame", 0, 1, 1, "", "open sesame"},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(MakeAccount(table)) << r.name;
        table.SetAccessPassword("Work", "open sesame");
        if (r.unlockedBefore)
            ASSERT_EQ(table.VerifyAccessPassword("Work", "open sesame"), 1);
        CAccessPasswordDlg dlg(&table, QStringLiteral("Work"));
        dlg.PasswordEdit()->setText(QString::fromUtf8(r.entry));
        dlg.accept();
        EXPECT_EQ(dlg.result(), r.accepted ? QDialog::Accepted : QDialog::Rejected) << r.name;
        EXPECT_EQ(Unlocked(table), r.unlockedAfter) << r.name;
        EXPECT_EQ(dlg.PasswordEdit()->text().toStdString(), r.fieldAfter) << r.name;
        if (*r.warning) {
            ASSERT_EQ(sandbox.dialogue->calls.size(), 1u) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].text, r.warning) << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, "Access Password") << r.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].icon, kDialogueIconExclamation) << r.name;
        } else {
            EXPECT_TRUE(sandbox.dialogue->calls.empty()) << r.name;
        }
    }
}

TEST(AccessPasswordPrompt, CancelChangesNothingAndTheFieldIsLimited)
{
    UiSandbox sandbox;
    CAccountManager table;
    ASSERT_TRUE(MakeAccount(table));
    table.SetAccessPassword("Work", "open sesame");
    CAccessPasswordDlg dlg(&table, QStringLiteral("Work"));
    dlg.PasswordEdit()->setText(QString(80, QLatin1Char('x')));
    EXPECT_EQ(dlg.PasswordEdit()->text().size(), 60);
    EXPECT_EQ(dlg.PasswordEdit()->echoMode(), QLineEdit::Password);
    dlg.PasswordEdit()->setText(QStringLiteral("open sesame"));
    dlg.reject();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(Unlocked(table), 0);
    EXPECT_TRUE(sandbox.dialogue->calls.empty());
}

TEST(SetAccessPassword, BothEntriesMustAgree)
{
    struct Row {
        const char* name;
        QString first;
        QString second;
        bool accepted;
        std::string password;
    } rows[] = {
        {"same", QStringLiteral("abc"), QStringLiteral("abc"), true, "abc"},
        {"both-empty-removes", QString(), QString(), true, ""},
        {"utf8-kept", QStringLiteral("p\u00e4ss"), QStringLiteral("p\u00e4ss"), true,
         "p\xc3\xa4ss"},
        {"differ", QStringLiteral("abc"), QStringLiteral("abd"), false, ""},
        {"confirm-missing", QStringLiteral("abc"), QString(), false, ""},
        {"case-differs", QStringLiteral("abc"), QStringLiteral("ABC"), false, ""},
        // 60 characters of two bytes each cannot fit the 60-byte slot.
        {"over-60-bytes", QString(60, QChar(0xe4)), QString(60, QChar(0xe4)), false, ""},
    };
    for (const auto& r : rows) {
        UiSandbox sandbox;
        CSetAccessPasswordDlg dlg(QStringLiteral("Work"));
        dlg.PasswordEdit()->setText(r.first);
        dlg.ConfirmEdit()->setText(r.second);
        dlg.accept();
        EXPECT_EQ(dlg.result() == QDialog::Accepted, r.accepted) << r.name;
        EXPECT_EQ(sandbox.dialogue->calls.size(), r.accepted ? 0u : 1u) << r.name;
        if (r.accepted) {
            EXPECT_EQ(dlg.Password(), r.password) << r.name;
        } else {
            EXPECT_TRUE(dlg.PasswordEdit()->text().isEmpty()) << r.name;
            EXPECT_TRUE(dlg.ConfirmEdit()->text().isEmpty()) << r.name;
        }
    }
}

} // namespace
