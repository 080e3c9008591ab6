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

namespace {

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

    ConnectionAdvancedDlg advanced({active->port, active->passive});
    context.save(advanced, "ConnectionAdvancedDlg");
}

const ScreenshotRegistrar registrar("connections", renderConnections);

}  // namespace
