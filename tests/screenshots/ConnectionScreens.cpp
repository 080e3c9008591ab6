// The connection dialogs on a real connections file: three connections are saved and read
// back, the manager shows them with the active one chosen, the edit dialog holds one of them
// and the advanced settings its port and mode.

#include <memory>
#include <set>
#include <string>

#include "screenshots/Screenshot.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionsFile.h"
#include "ui/connections/ConnectionAdvancedDlg.h"
#include "ui/connections/ConnectionManagerDlg.h"
#include "ui/connections/EditConnectionDlg.h"
#include "ui/connections/TrustCertificateDlg.h"

namespace {

constexpr const char* kTrusted =
    "3F:A2:9C:11:07:D4:E8:5B:62:90:AF:1C:D3:48:7E:05:B9:21:6C:F0:8A:33:E7:4D:90:12:C6:5E:AB:78:"
    "0F:D9";
constexpr const char* kSeen =
    "C7:41:0E:9B:52:AD:16:F3:88:2C:D0:7A:E5:39:B4:61:0D:F2:97:4E:A8:13:6B:C5:29:F0:7D:E2:54:8A:"
    "B3:06";

std::shared_ptr<ConnectionDetails> connection(const char* name, const char* server,
                                              const char* user, const char* email,
                                              std::uint16_t port, bool passive) {
    auto details = std::make_shared<ConnectionDetails>();
    details->name = name;
    details->server = server;
    details->user = user;
    details->password = "harbour-2024";
    details->email = email;
    details->port = port;
    details->passive = passive;
    return details;
}

void renderConnections(const ScreenshotContext& context) {
    testsupport::TempFolder folder("kelvane-shots-connections");
    const auto file = folder.path() / "KelvaneConnections.txt";
    saveConnections(
        file,
        {connection("Harbour Books", "ftp.harbourbooks.example", "webmaster", "", 2121, true),
         connection("Community Choir", "ftp.choir.example", "choir", "", 0, false),
         connection("Public Mirror", "mirror.example.org", "", "visitor@example.org", 0, true)});
    ConnectionList list = loadConnections(file);
    std::shared_ptr<ConnectionDetails> active = findConnection(list, "Harbour Books");

    ConnectionManagerDlg manager(list, active);
    context.save(manager, "ConnectionManagerDlg");
    // An anonymous login, with the e-mail address it needs.
    std::shared_ptr<ConnectionDetails> mirror = findConnection(list, "Public Mirror");
    ConnectionManagerDlg anonymous(list, mirror);
    context.save(anonymous, "ConnectionManagerDlg-anonymous");

    std::set<std::string> otherNames;
    for (const auto& other : list) {
        if (other != active) {
            otherNames.insert(other->name);
        }
    }
    EditConnectionDlg edit(otherNames, active);
    context.save(edit, "EditConnectionDlg");

    ConnectionAdvancedDlg advanced(
        {active->port, active->passive, ftp::TlsMode::Required, kTrusted});
    context.save(advanced, "ConnectionAdvancedDlg");

    ftp::CertificateInfo seen;
    seen.subject = "CN=ftp.harbourbooks.example";
    seen.issuer = "CN=ftp.harbourbooks.example";
    seen.validFrom = "Dec  1 09:00:00 2026 GMT";
    seen.validUntil = "Dec  1 09:00:00 2027 GMT";
    seen.fingerprint = kSeen;
    seen.problem = "self-signed certificate";
    TrustCertificateDlg untrusted("Harbour Books", seen, "");
    context.save(untrusted, "TrustCertificateDlg");
    TrustCertificateDlg changed("Harbour Books", seen, kTrusted);
    context.save(changed, "TrustCertificateDlg-changed");
}

const ScreenshotRegistrar registrar("connections", renderConnections);

}  // namespace
