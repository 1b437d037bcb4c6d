#include "accountwizard.h"

#include "accountrecord.h"
#include "connectiontester.h"
#include "desktopnotifier.h"
#include "dialogtext.h"
#include "dialoguebox.h"
#include "importdlg.h"
#include "newaccount.h"
#include "oauthsigninrunner.h"
#include "providersettings.h"
#include "regsettings.h"
#include "resourcelibrary.h"
#include "settingslookup.h"
#include "wizardstep2exchange.h"
#include "wizardstep2imap4.h"
#include "wizardstep2pop3.h"
#include "wizardstep2portalpost.h"
#include "wizardstep3finish.h"

#include <QAbstractButton>

namespace
{

constexpr unsigned kWizardCaption = 61396;
constexpr unsigned kMessageCaption = 61376;
constexpr unsigned kHelpTopic = 61383;

} // namespace

CAccountWizard::CAccountWizard(CAccountManager* table,
                               std::shared_ptr<const AccountPlugins> plugins, QWidget* parent)
    : QWizard(parent), table_(table)
{
    if (!plugins)
        plugins = std::make_shared<AccountPlugins>();
    setWindowTitle(DlgText::Text(kWizardCaption));
    // The classic look has the same buttons on every desktop style: Back, Next, Finish,
    // Cancel and Help.
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::HaveHelpButton, true);
    setOption(QWizard::NoBackButtonOnStartPage, false);

    step1_ = new CWizardStep1(table, this);
    pop3_ = new CWizardStep2POP3(this);
    imap4_ = new CWizardStep2IMAP4(this);
    portalpost_ = new CWizardStep2Portalpost(plugins->PortalpostCategories(), this);
    exchange_ = new CWizardStep2Exchange(
        plugins->MapiPresent() ? plugins->Profiles() : std::vector<std::string>(), this);
    step3_ = new CWizardStep3Finish(this);
    step3_->OfferDesktopNotices(DesktopNotifier().Available());
    setPage(kStep1, step1_);
    setPage(kStepPop3, pop3_);
    setPage(kStepImap4, imap4_);
    setPage(kStepPortalpost, portalpost_);
    setPage(kStepExchange, exchange_);
    setPage(kStep3, step3_);
    setStartId(kStep1);
    step1_->SetImporter(RunImportDialog);

    connect(step1_, &CWizardStep1::SettingsFound, this, [this] { OfferFound(currentId()); });
    connect(this, &QWizard::currentIdChanged, this, [this](int id) {
        if (id == kStep1)
            step1_->Lookup()->Cancel();
    });
    connect(this, &QWizard::helpRequested, this, [this] {
        if (helpOpener_)
            helpOpener_(LoadResourceString(kHelpTopic));
    });
}

void CAccountWizard::SetImporter(CWizardStep1::Importer importer)
{
    step1_->SetImporter(std::move(importer));
}

void CAccountWizard::SetHelpOpener(std::function<void(const std::string&)> opener)
{
    helpOpener_ = std::move(opener);
}

int CAccountWizard::nextId() const
{
    switch (currentId()) {
    case kStep1: {
        const std::string kind = step1_->Kind();
        if (kind == "IMAP4")
            return kStepImap4;
        if (kind == "Portalpost")
            return kStepPortalpost;
        if (kind == "Exchange(MAPI)")
            return kStepExchange;
        return kStepPop3;
    }
    case kStepPop3:
    case kStepImap4:
    case kStepPortalpost:
    case kStepExchange:
        return kStep3;
    default:
        return -1;
    }
}

void CAccountWizard::initializePage(int id)
{
    // The step-2 pages keep what was typed across Back; only an import (or its removal)
    // changes their server and user fields.
    const auto& imported = step1_->Imported();
    if (id == kStepPop3)
        pop3_->SetImported(imported ? &*imported : nullptr);
    else if (id == kStepImap4)
        imap4_->SetImported(imported ? &*imported : nullptr);
    OfferFound(id);
    if (id == kStep3) {
        const std::string kind = step1_->Kind();
        const CWizardStep2Server* page = kind == "POP3"    ? static_cast<CWizardStep2Server*>(pop3_)
                                         : kind == "IMAP4" ? imap4_
                                                           : nullptr;
        step3_->Offer(kind, page ? page->Tester()->MessageCount() : -1);
    }
    QWizard::initializePage(id);
    if (id == kStep3) {
        if (QAbstractButton* finish = button(QWizard::FinishButton))
            finish->setFocus();
    }
}

void CAccountWizard::OfferFound(int id)
{
    if ((id != kStepPop3 && id != kStepImap4) || step1_->Imported())
        return;
    CWizardStep2Server* page = id == kStepPop3 ? static_cast<CWizardStep2Server*>(pop3_) : imap4_;
    const QString domain = CWizardStep1::DomainOf(QString::fromStdString(step1_->Address()));
    if (step1_->Lookup()->Running()) {
        page->ShowLookup(DlgText::Fill(DlgText::Text(DlgText::kLookupRunning), domain));
        return;
    }
    const std::optional<DiscoveredServer> found = step1_->Found(step1_->Kind());
    if (found) {
        page->SetDiscovered(*found);
        page->OfferProvider(KnownProviderName(domain.toStdString()));
    }
    page->ShowLookup(found ? DlgText::Fill(DlgText::Text(DlgText::kLookupFound), domain)
                           : QString());
}

void CAccountWizard::reject()
{
    step1_->Lookup()->Cancel();
    pop3_->SignInRunner()->Cancel();
    imap4_->SignInRunner()->Cancel();
    QWizard::reject();
}

void CAccountWizard::accept()
{
    NewAccountRequest request;
    request.name = step1_->Name();
    request.kind = step1_->Kind();
    const CWizardStep2Server* serverPage = nullptr;
    if (request.kind == "POP3" || request.kind == "IMAP4") {
        const CWizardStep2Server* page =
            request.kind == "POP3" ? static_cast<CWizardStep2Server*>(pop3_) : imap4_;
        serverPage = page;
        request.server = page->Server();
        request.userName = page->UserName();
        // With OAuth 2.0 the account is made without a password, as the command line makes
        // it; the sign-in's tokens are stored into it below.
        if (page->UsesOAuth())
            request.signIn = kSignInOAuth2;
        else
            request.password = page->Password();
        request.port = page->Port();
        request.security = page->Security();
        request.push = page->Push();
        request.markReadOnServer = page->MarkReadOnServer();
        request.pin = page->Pin();
    } else if (request.kind == "Portalpost") {
        request.server = portalpost_->Category();
        request.userName = portalpost_->UserName();
        request.password = portalpost_->Password();
    } else {
        request.server = exchange_->Profile();
    }
    request.periodCheck = step3_->PeriodCheck();
    request.period = step3_->Period();
    request.fromNowOn = step3_->FromNowOn();
    {
        CRegSettings settings;
        request.keepInKeyring =
            settings.LoadGeneral() == 1 && settings.general.keepPasswordsInKeyring.Get();
    }
    const auto fail = [this](const std::string& message) {
        DialogueBox(
            DlgText::Fill(DlgText::Text(DlgText::kLabelFailed), QString::fromStdString(message))
                .toStdString(),
            LoadResourceString(kMessageCaption), this, kDialogueOk, kDialogueIconExclamation);
    };
    const NewAccountResult result = CreateNewAccount(request, table_);
    if (!result.Ok()) {
        fail(result.message);
        return;
    }
    created_ = request.name;
    if (!request.signIn.empty()) {
        // The account exists now: it is kept even when the tokens cannot be written, and
        // then asks to sign in (postwatch --sign-in), as an abandoned command-line sign-in does.
        const OAuthSignIn::Outcome stored =
            OAuthSignIn::Store(created_, serverPage->SignInRunner()->Tokens());
        if (!stored.ok)
            fail(created_ + " is not signed in: " + stored.message);
    }
    step3_->Apply();
    if (result.offerAsDefaultExchange) {
        CRegSettings settings;
        if (settings.LoadGeneral() && settings.general.defaultExchange.Get().empty()) {
            settings.general.defaultExchange.Set(created_);
            settings.SaveGeneral();
        }
    }
    QWizard::accept();
}
