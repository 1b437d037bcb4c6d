#include "wizardstep2server.h"

#include "accountkindtext.h"
#include "certificatetrustoffer.h"
#include "connectiontester.h"
#include "dialogtext.h"
#include "oauthprovider.h"
#include "oauthsigninrunner.h"
#include "plainpasswordwarning.h"
#include "wizardmessages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

constexpr unsigned kNoPop3Server = 61378;
constexpr unsigned kNoImap4Server = 61379;
constexpr unsigned kNoUser = 61380;
constexpr unsigned kNoPassword = 61381;
constexpr unsigned kNotSignedIn = 40970;
constexpr int kSignInOAuthRow = 1;

// Security list order and the stored words.
const char* const kSecurityWords[3] = {"TLS", "STARTTLS", "None"};
constexpr int kSecurityNoneRow = 2;

} // namespace

CWizardStep2Server::CWizardStep2Server(const std::string& kind, QWidget* parent)
    : QWizardPage(parent), kind_(kind)
{
    setTitle(AccountKindText(kind));
    server_ = new QLineEdit(this);
    security_ = new QComboBox(this);
    security_->addItem(DlgText::Text(DlgText::kSecurityTls));
    security_->addItem(DlgText::Text(DlgText::kSecurityStartTls));
    security_->addItem(DlgText::Text(DlgText::kSecurityNone));
    port_ = new QLineEdit(this);
    port_->setValidator(new QIntValidator(1, 65535, port_));
    port_->setMaxLength(5);
    user_ = new QLineEdit(this);
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(60);
    test_ = new QPushButton(DlgText::Text(DlgText::kTestConnection), this);
    result_ = new QLabel(this);
    result_->setWordWrap(true);
    result_->setTextFormat(Qt::PlainText);
    tester_ = new CConnectionTester(this);
    trust_ = new CertificateTrustOffer(this);
    plainWarning_ = new PlainPasswordWarning(security_, kSecurityNoneRow, password_, this);
    signInChoice_ = new QComboBox(this);
    signInChoice_->addItem(DlgText::Text(DlgText::kSignInPassword));
    signInChoice_->addItem(DlgText::Text(DlgText::kSignInOAuth));
    provider_ = new QComboBox(this);
    for (const std::string& name : OAuthProviders::Names())
        provider_->addItem(QString::fromStdString(name));
    signIn_ = new QPushButton(DlgText::Text(DlgText::kOAuthSignIn), this);
    cancelSignIn_ = new QPushButton(DlgText::Text(DlgText::kOAuthCancel), this);
    signInState_ = new QLabel(this);
    signInState_->setWordWrap(true);
    signInState_->setTextFormat(Qt::PlainText);
    runner_ = new COAuthSignInRunner(this);

    auto* form = new QFormLayout;
    form->addRow(DlgText::Text(DlgText::kServer), server_);
    form->addRow(DlgText::Text(DlgText::kSecurity), security_);
    form->addRow(static_cast<QWidget*>(nullptr), plainWarning_);
    form->addRow(DlgText::Text(DlgText::kPort), port_);
    form->addRow(DlgText::Text(DlgText::kUser), user_);
    form->addRow(DlgText::Text(DlgText::kSignInChoice), signInChoice_);
    form->addRow(DlgText::Text(DlgText::kOAuthProvider), provider_);
    form->addRow(DlgText::Text(DlgText::kPassword), password_);
    auto* signInRow = new QHBoxLayout;
    signInRow->addWidget(signIn_);
    signInRow->addWidget(cancelSignIn_);
    signInRow->addStretch();
    form->addRow(static_cast<QWidget*>(nullptr), signInRow);
    form->addRow(static_cast<QWidget*>(nullptr), signInState_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    if (kind_ == "IMAP4") {
        push_ = new QCheckBox(DlgText::Text(DlgText::kPushSwitch), this);
        markRead_ = new QCheckBox(DlgText::Text(DlgText::kMarkReadOnServer), this);
        layout->addWidget(push_);
        layout->addWidget(markRead_);
    }
    layout->addWidget(test_, 0, Qt::AlignLeft);
    layout->addWidget(result_);
    layout->addWidget(trust_);
    layout->addStretch();
    setTabOrder(server_, security_);
    setTabOrder(security_, port_);
    setTabOrder(port_, user_);
    setTabOrder(user_, signInChoice_);
    setTabOrder(signInChoice_, provider_);
    setTabOrder(provider_, password_);
    setTabOrder(password_, signIn_);
    setTabOrder(signIn_, cancelSignIn_);
    if (push_) {
        setTabOrder(cancelSignIn_, push_);
        setTabOrder(push_, markRead_);
        setTabOrder(markRead_, test_);
    } else {
        setTabOrder(cancelSignIn_, test_);
    }
    setTabOrder(test_, trust_->TrustButton());

    connect(security_, &QComboBox::currentIndexChanged, this, &CWizardStep2Server::SecurityChanged);
    connect(test_, &QPushButton::clicked, this, &CWizardStep2Server::TestConnection);
    connect(tester_, &CConnectionTester::Finished, this, [this](bool, const QString& text) {
        result_->setText(text);
        test_->setEnabled(true);
        if (push_ && tester_->OfferedIdle())
            push_->setChecked(true);
        trust_->Offer(tester_->RefusedCertificate());
    });
    connect(trust_, &CertificateTrustOffer::Trusted, this, [this](const QString& pin) {
        pin_ = pin.toStdString();
        TestConnection();
    });
    // A certificate is trusted for the server it came from.
    connect(server_, &QLineEdit::textChanged, this, [this] {
        pin_.clear();
        trust_->Withdraw();
    });
    connect(signInChoice_, &QComboBox::currentIndexChanged, this,
            &CWizardStep2Server::SignInChanged);
    connect(provider_, &QComboBox::activated, this, [this] { providerChosen_ = true; });
    connect(provider_, &QComboBox::currentIndexChanged, this, [this] {
        // The tokens belong to the provider they came from.
        runner_->Cancel();
        if (runner_->SignedIn()) {
            runner_->Forget();
            signInState_->clear();
        }
    });
    connect(signIn_, &QPushButton::clicked, this, &CWizardStep2Server::StartSignIn);
    connect(cancelSignIn_, &QPushButton::clicked, this, [this] { runner_->Cancel(); });
    connect(runner_, &COAuthSignInRunner::Finished, this, [this](bool, const QString& text) {
        signInState_->setText(text);
        SignInChanged();
    });
    SecurityChanged();
    SignInChanged();
}

void CWizardStep2Server::SetImported(const ImportedAccount* imported)
{
    if (imported && !typed_)
        typed_ = Typed{server_->text(), security_->currentIndex(), port_->text(), user_->text()};
    if (!imported && typed_) {
        server_->setText(typed_->server);
        // The security first: its change may put a standard port into the field.
        security_->setCurrentIndex(typed_->security);
        port_->setText(typed_->port);
        user_->setText(typed_->user);
        typed_.reset();
    }
    if (imported) {
        server_->setText(QString::fromStdString(imported->server));
        user_->setText(QString::fromStdString(imported->userName));
        for (int i = 0; i < 3; ++i)
            if (imported->security == kSecurityWords[i])
                security_->setCurrentIndex(i);
        if (!imported->port.empty())
            port_->setText(QString::fromStdString(imported->port));
    }
    server_->setEnabled(!imported);
    user_->setEnabled(!imported);
}

void CWizardStep2Server::SetDiscovered(const DiscoveredServer& found)
{
    if (typed_)
        return;
    const auto untouched = [this](const QLineEdit* edit,
                                  const std::string DiscoveredServer::*field) {
        return edit->text().isEmpty() ||
               (discovered_ && edit->text().toStdString() == (*discovered_).*field);
    };
    if (!untouched(server_, &DiscoveredServer::host) ||
        !untouched(user_, &DiscoveredServer::userName))
        return;
    server_->setText(QString::fromStdString(found.host));
    // The security first: its change may put a standard port into the field.
    for (int i = 0; i < 3; ++i)
        if (found.security == kSecurityWords[i])
            security_->setCurrentIndex(i);
    port_->setText(QString::number(found.port));
    user_->setText(QString::fromStdString(found.userName));
    discovered_ = found;
}

void CWizardStep2Server::ShowLookup(const QString& text)
{
    // Only the look-up's own line is replaced; a connection test's result stays.
    if (result_->text().isEmpty() || result_->text() == lookupLine_) {
        result_->setText(text);
        lookupLine_ = text;
    }
}

std::string CWizardStep2Server::Server() const
{
    return server_->text().trimmed().toStdString();
}

std::string CWizardStep2Server::UserName() const
{
    return user_->text().toStdString();
}

std::string CWizardStep2Server::Password() const
{
    return password_->text().toStdString();
}

bool CWizardStep2Server::Push() const
{
    return push_ && push_->isChecked();
}

bool CWizardStep2Server::MarkReadOnServer() const
{
    return markRead_ && markRead_->isChecked();
}

std::string CWizardStep2Server::Security() const
{
    return kSecurityWords[security_->currentIndex() < 0 ? 0 : security_->currentIndex()];
}

std::string CWizardStep2Server::Port() const
{
    // The validator lets half-typed text such as "0" stand; only a real port is used.
    bool number = false;
    const int typed = port_->text().toInt(&number);
    if (number && typed >= 1 && typed <= 65535)
        return std::to_string(typed);
    const bool tls = Security() == "TLS";
    if (kind_ == "IMAP4")
        return tls ? "993" : "143";
    return tls ? "995" : "110";
}

void CWizardStep2Server::SecurityChanged()
{
    const QString text = port_->text();
    if (text.isEmpty() || text == QLatin1String("110") || text == QLatin1String("143") ||
        text == QLatin1String("995") || text == QLatin1String("993")) {
        port_->clear();
        port_->setText(QString::fromStdString(Port()));
    }
}

bool CWizardStep2Server::UsesOAuth() const
{
    return signInChoice_->currentIndex() == kSignInOAuthRow;
}

void CWizardStep2Server::OfferProvider(const std::string& name)
{
    const int row = provider_->findText(QString::fromStdString(name), Qt::MatchFixedString);
    if (providerChosen_ || row < 0)
        return;
    provider_->setCurrentIndex(row);
}

void CWizardStep2Server::SignInChanged()
{
    const bool oauth = UsesOAuth();
    const bool running = runner_->Running();
    password_->setEnabled(!oauth);
    provider_->setEnabled(oauth && !running);
    signInChoice_->setEnabled(!running);
    signIn_->setEnabled(oauth && !running);
    cancelSignIn_->setEnabled(oauth && running);
    signInState_->setVisible(oauth);
}

void CWizardStep2Server::StartSignIn()
{
    if (!UsesOAuth() || runner_->Running())
        return;
    if (provider_->currentIndex() < 0) {
        signInState_->setText(DlgText::Text(DlgText::kOAuthNoProvider));
        return;
    }
    std::string error;
    if (!runner_->Start(provider_->currentText().toStdString(), UserName(), error)) {
        signInState_->setText(
            DlgText::Fill(DlgText::Text(DlgText::kOAuthFailed), QString::fromStdString(error)));
        return;
    }
    signInState_->setText(DlgText::Text(DlgText::kOAuthWaiting));
    SignInChanged();
}

unsigned CWizardStep2Server::FirstFailure() const
{
    if (Server().empty())
        return kind_ == "IMAP4" ? kNoImap4Server : kNoPop3Server;
    if (UserName().empty())
        return kNoUser;
    if (UsesOAuth())
        return runner_->SignedIn() ? 0 : kNotSignedIn;
    if (Password().empty())
        return kNoPassword;
    return 0;
}

bool CWizardStep2Server::validatePage()
{
    if (const unsigned failure = FirstFailure()) {
        WizardWarning(this, failure);
        return false;
    }
    return UsesOAuth() || !WizardPasswordRefused(this, Password());
}

void CWizardStep2Server::TestConnection()
{
    if (const unsigned failure = FirstFailure()) {
        WizardWarning(this, failure);
        return;
    }
    if (!UsesOAuth() && WizardPasswordRefused(this, Password()))
        return;
    CConnectionTester::Target target{kind_,      Server(),   QString::fromStdString(Port()).toInt(),
                                     Security(), UserName(), Password(),
                                     pin_};
    if (UsesOAuth()) {
        // The sign-in's access token, with the mechanism its provider's server takes.
        OAuthProvider provider;
        OAuthProviders::ReadStored(runner_->Tokens().provider, provider);
        target.password = runner_->Tokens().accessToken;
        target.saslMechanism = provider.mechanism;
    }
    if (tester_->Start(target)) {
        test_->setEnabled(false);
        trust_->Withdraw();
        result_->setText(DlgText::Text(DlgText::kTestRunning));
    }
}
