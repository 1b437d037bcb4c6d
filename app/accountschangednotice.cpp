#include "accountschangednotice.h"

#include "singleinstance.h"

#include <QCoreApplication>
#include <memory>

bool NoticeAccountsChanged()
{
    // Qt's local socket wants an application object for its notifiers, even when it is
    // used only through its blocking calls; the command line has none of its own.
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "postwatch";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    return CSingleInstance::Tell(CSingleInstance::DefaultName(),
                                 CSingleInstance::Request::kAccountsChanged, kAccountsNoticeWaitMs);
}
