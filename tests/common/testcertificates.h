#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throwaway certificate authority and one board certificate of each kind, made with the openssl
// command line in a temporary folder that goes with the object.
class TestCertificates {
public:
    enum class Board {
        Vouched,    // issued by the authority for localhost and 127.0.0.1
        SelfSigned, // for localhost and 127.0.0.1, vouched for by nobody
        Expired,    // issued by the authority for localhost and 127.0.0.1, no longer valid
        WrongHost,  // issued by the authority for another name only
    };

    // Makes the authority and the board certificates; on failure errorString() says why.
    bool create();
    QString errorString() const { return m_error; }

    // The authority's certificate, as a CA file for CURL_CA_BUNDLE or SSL_CERT_FILE.
    QString authorityFile() const;
    // A CA file that vouches for none of the authority's certificates.
    QString unrelatedAuthorityFile() const;
    // The board's --tls-cert and --tls-key options.
    QStringList boardArguments(Board board) const;
    // The board's option to take only clients with a certificate the authority issued.
    QStringList clientAuthorityArguments() const;
    // A client certificate the authority issued, and its key; and one vouched for by nobody.
    QString clientCertificateFile() const;
    QString clientKeyFile() const;
    QString strangerCertificateFile() const;
    QString strangerKeyFile() const;

private:
    bool openssl(const QStringList &arguments);
    bool makeSelfSigned(const QString &name, const QStringList &extensions);
    bool makeIssued(const QString &name, const QString &subjectAltName, int days);
    QString path(const QString &name, const char *suffix) const;

    QTemporaryDir m_directory;
    QString m_error;
};
