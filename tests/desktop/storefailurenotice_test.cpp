// A check that fails for a reason of its own is told once per account, not at every check,
// until a check of that account succeeds again; a damaged store comes with "Repair...".
#include "storefailurenotice.h"
#include "support/tempdir.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QWidget>
#include <gtest/gtest.h>

namespace
{

TEST(StoreFailureNotice, OncePerAccountUntilItWorksAgain)
{
    const std::string kFull = "cannot store the message in Message.box: No space left on device";
    const std::string kDamaged = "Message.box is damaged; \"postwatch --repair A\" rebuilds it";
    struct Row {
        const char* name;
        std::vector<CheckResultRecord> summaries;
        int notices;      // message boxes opened
        int repairOffers; // of them, with a "Repair..." button
    } rows[] = {
        {"failure-told-once", {{1, 0, "A", kFull}, {1, 0, "A", kFull}, {1, 0, "A", kFull}}, 1, 0},
        {"told-again-after-a-success", {{1, 0, "A", kFull}, {4, 2, "A"}, {1, 0, "A", kFull}}, 2, 0},
        {"a-failure-without-its-own-reason-does-not-clear",
         {{1, 0, "A", kFull}, {3, 0, "A"}, {1, 0, "A", kFull}},
         1,
         0},
        {"each-account-on-its-own", {{1, 0, "A", kFull}, {1, 0, "B", kFull}}, 2, 0},
        {"plain-results-tell-nothing", {{2, 0, "A"}, {4, 0, "A"}}, 0, 0},
        {"damaged-store-offers-repair", {{1, 0, "A", kDamaged}}, 1, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QWidget parent;
        CStoreFailureNotice notice(&parent);
        for (const CheckResultRecord& s : r.summaries)
            notice.Summary(s);
        const auto boxes = parent.findChildren<QMessageBox*>();
        EXPECT_EQ(static_cast<int>(boxes.size()), r.notices);
        int offers = 0;
        for (QMessageBox* box : boxes)
            for (QAbstractButton* b : box->buttons())
                offers += b->text() == "Repair..." ? 1 : 0;
        EXPECT_EQ(offers, r.repairOffers);
    }
}

// A damaged account list is offered for repair at start-up; a whole one is not mentioned.
TEST(StoreFailureNotice, DamagedAccountListIsOfferedForRepair)
{
    struct Row {
        const char* name;
        std::string listBytes; // Account.cfg ("" = none)
        int notices;
    } rows[] = {
        {"no-list", "", 0},
        {"empty-list", std::string("KORAVELPIGEONPOST") + std::string(2048 - 17, '\0'), 0},
        {"cut-short",
         std::string("KORAVELPIGEONPOST") + std::string(1007, '\0') + "\x02" +
             std::string(1023 + 192, '\0'),
         1},
        {"shorter-than-its-header", "KORAVELPIGEONPOST", 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        ScopedEnv home{"POSTWATCH_HOME", dir.Path()};
        if (!r.listBytes.empty())
            WriteWholeFile(dir.File("Account.cfg"), r.listBytes);
        QWidget parent;
        CStoreFailureNotice::OfferAccountListRepair(&parent);
        EXPECT_EQ(static_cast<int>(parent.findChildren<QMessageBox*>().size()), r.notices);
    }
}

} // namespace
