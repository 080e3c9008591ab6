#include "ui/connections/TrustCertificateDlg.h"

#include <QDialogButtonBox>
#include <QLayout>
#include <QPushButton>

#include "ui_TrustCertificateDlg.h"

TrustCertificateDlg::TrustCertificateDlg(const std::string& connectionName,
                                         const ftp::CertificateInfo& seen,
                                         const std::string& trusted, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TrustCertificateDlg>()) {
    ui_->setupUi(this);
    QPushButton* trust =
        ui_->buttonBox->addButton(QStringLiteral("&Trust"), QDialogButtonBox::AcceptRole);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Cancel is the default: trusting takes a deliberate choice.
    trust->setAutoDefault(false);
    if (QPushButton* cancel = ui_->buttonBox->button(QDialogButtonBox::Cancel)) {
        cancel->setDefault(true);
        cancel->setFocus();
    }

    const QString name = QString::fromStdString(connectionName);
    QString text;
    if (!trusted.empty()) {
        text = QStringLiteral(
                   "The server of connection \"%1\" shows a different certificate "
                   "from the one you trusted before. If its certificate was not "
                   "replaced, someone may be listening between you and the server.")
                   .arg(name);
    } else {
        text = QStringLiteral(
                   "The certificate of the server of connection \"%1\" cannot be "
                   "verified (%2). Trust it only if its fingerprint is the one your "
                   "web host gives for the server.")
                   .arg(name, QString::fromStdString(seen.problem));
    }
    ui_->explanationLabel->setText(text);
    ui_->subjectValue->setText(QString::fromStdString(seen.subject));
    ui_->issuerValue->setText(QString::fromStdString(seen.issuer));
    ui_->validFromValue->setText(QString::fromStdString(seen.validFrom));
    ui_->validUntilValue->setText(QString::fromStdString(seen.validUntil));
    // Sixteen bytes to a line, so the fingerprint never needs a wide window.
    const QString fingerprint = QString::fromStdString(seen.fingerprint);
    ui_->fingerprintValue->setText(fingerprint.left(47) + "\n" + fingerprint.mid(48));
    ui_->trustedLabel->setVisible(!trusted.empty());
    ui_->trustedValue->setVisible(!trusted.empty());
    if (!trusted.empty()) {
        const QString before = QString::fromStdString(trusted);
        ui_->trustedValue->setText(before.left(47) + "\n" + before.mid(48));
    }
    // Never lower than the two lines of a fingerprint, at any scale.
    for (QLabel* twoLines : {ui_->fingerprintValue, ui_->trustedValue}) {
        twoLines->setMinimumHeight(2 * twoLines->fontMetrics().lineSpacing() + 4);
        twoLines->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    for (QLabel* name : {ui_->fingerprintLabel, ui_->trustedLabel}) {
        ui_->certificateLayout->setAlignment(name, Qt::AlignLeft | Qt::AlignTop);
    }
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();
}

TrustCertificateDlg::~TrustCertificateDlg() = default;

QString TrustCertificateDlg::explanation() const {
    return ui_->explanationLabel->text();
}
