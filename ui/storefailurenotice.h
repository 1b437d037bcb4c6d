#pragma once

#include "checkrecords.h"

#include <set>
#include <string>

class QWidget;

// Tells the user when a check failed for a reason of its own (mail that could not be
// stored, a file that cannot be used): once per account, not at every check, until a
// check of that account succeeds again. A damaged Message.box comes with a "Repair..."
// button that rebuilds it (CMailBoxRepair) under the account's lock.
//
// The notice is a window-modal message box opened without a nested event loop, so the
// merge that reports the summary returns at once. Threads: the user-interface thread.
class CStoreFailureNotice
{
public:
    explicit CStoreFailureNotice(QWidget* parent);

    void Summary(const CheckResultRecord& summary);
    // At start-up: a damaged account list (AccountListRepair::Damage) hides accounts, so
    // say so, with a "Repair..." button that rebuilds it from the account folders.
    static void OfferAccountListRepair(QWidget* parent);
    // Accounts whose failure was told and has not gone away (for tests).
    const std::set<std::string>& Told() const { return told_; }

private:
    void Show(const std::string& account, const std::string& message);

    QWidget* parent_;
    std::set<std::string> told_;
};
