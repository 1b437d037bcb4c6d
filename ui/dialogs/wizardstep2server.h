#pragma once

#include "discoveredserver.h"
#include "importedaccount.h"

#include <QString>
#include <QWizardPage>
#include <optional>
#include <string>

class CConnectionTester;
class CertificateTrustOffer;
class COAuthSignInRunner;
class PlainPasswordWarning;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The step-2 page of a POP3 or IMAP4 account: server, security (SSL/TLS, STARTTLS, none),
// port, user name, password (at most 60 characters) and a Test Connection button that
// tries the entered values once without storing anything. Choosing a security puts the
// matching standard port into the port field while the field holds a standard port or
// nothing (a port the user typed is kept). Security "None" with a password entered shows a
// warning under the security field (PlainPasswordWarning). Next checks, in this order, server, user
// name, password (present, and holding no line break or zero byte), showing the first failure. An
// IMAP4 page also offers push (IDLE), switched on when the test finds the server offers it, and
// marking read on the server. A test that the server's certificate fails offers to trust that
// certificate (CertificateTrustOffer); trusting it tests again, and the new account keeps its
// fingerprint. Another server typed in forgets it.
//
// "Sign-in" chooses between the password and OAuth 2.0 with one of the provider profiles
// (OAuthProviders). With OAuth 2.0 the password field is disabled and "Sign in..." runs the
// sign-in in the browser (COAuthSignInRunner, Cancel stops it); Next then wants a finished
// sign-in instead of a password, and the test connects with its access token.
class CWizardStep2Server : public QWizardPage
{
    Q_OBJECT

public:
    // `kind` "POP3" or "IMAP4".
    CWizardStep2Server(const std::string& kind, QWidget* parent = nullptr);

    // Fills and locks the server and user name from an import (its security and port too),
    // or unlocks them (nullptr). Dropping an import puts back the server, security, port and
    // user name that were there before it.
    void SetImported(const ImportedAccount* imported);

    // Fills server, security, port and user name from a settings look-up (step 1's e-mail
    // address). Fields the user has typed into since the last fill are kept: the fill
    // happens only while server and user name are empty or still hold what the last fill
    // put there. Ignored while an import fills the page. Every field stays editable.
    void SetDiscovered(const DiscoveredServer& found);
    // Shows how step 1's look-up goes in the result line (empty: nothing), unless the line
    // holds a connection test's result.
    void ShowLookup(const QString& text);

    std::string Server() const;
    std::string UserName() const;
    std::string Password() const;
    std::string Port() const;     // the field, or the security's standard port when empty
    std::string Security() const; // "TLS", "STARTTLS" or "None"
    // IMAP4 only (false on a POP3 page): keep a push connection; set \Seen on the server
    // when a message is marked read here. A test that finds IDLE turns push on.
    bool Push() const;
    bool MarkReadOnServer() const;
    // The fingerprint of the certificate the user trusted after a test, or empty.
    const std::string& Pin() const { return pin_; }
    CertificateTrustOffer* TrustOffer() const { return trust_; }
    QCheckBox* PushBox() const { return push_; }
    QCheckBox* MarkReadBox() const { return markRead_; }

    QLineEdit* ServerEdit() const { return server_; }
    QComboBox* SecurityList() const { return security_; }
    PlainPasswordWarning* PlainWarning() const { return plainWarning_; }
    QLineEdit* PortEdit() const { return port_; }
    QLineEdit* UserEdit() const { return user_; }
    QLineEdit* PasswordEdit() const { return password_; }
    QPushButton* TestButton() const { return test_; }
    QLabel* TestResult() const { return result_; }
    CConnectionTester* Tester() const { return tester_; }

    // OAuth 2.0 chosen as the sign-in.
    bool UsesOAuth() const;
    // Chooses the profile `name` (ignored when there is none of that name), unless the user
    // has chosen one.
    void OfferProvider(const std::string& name);
    QComboBox* SignInList() const { return signInChoice_; }
    QComboBox* ProviderList() const { return provider_; }
    QPushButton* SignInButton() const { return signIn_; }
    QPushButton* CancelSignInButton() const { return cancelSignIn_; }
    QLabel* SignInState() const { return signInState_; }
    COAuthSignInRunner* SignInRunner() const { return runner_; }

    bool validatePage() override;

public slots:
    void TestConnection();
    void StartSignIn();

private:
    void SecurityChanged();
    void SignInChanged();
    // The first failing check's message number, 0 when all pass.
    unsigned FirstFailure() const;

    // What the user had typed before an import filled the fields; set while one is shown.
    struct Typed {
        QString server;
        int security;
        QString port;
        QString user;
    };
    std::optional<Typed> typed_;
    // What the last SetDiscovered put into the server and user name fields.
    std::optional<DiscoveredServer> discovered_;
    QString lookupLine_;

    std::string kind_;
    QLineEdit* server_;
    QComboBox* security_;
    PlainPasswordWarning* plainWarning_;
    QLineEdit* port_;
    QLineEdit* user_;
    QLineEdit* password_;
    QPushButton* test_;
    QLabel* result_;
    CConnectionTester* tester_;
    CertificateTrustOffer* trust_;
    std::string pin_;
    QCheckBox* push_ = nullptr;
    QCheckBox* markRead_ = nullptr;
    QComboBox* signInChoice_;
    QComboBox* provider_;
    bool providerChosen_ = false; // by the user, so a look-up leaves it alone
    QPushButton* signIn_;
    QPushButton* cancelSignIn_;
    QLabel* signInState_;
    COAuthSignInRunner* runner_;
};
