#include "ui/icons/Icons.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

QIcon applicationIcon() {
    static const bool loaded = (initIconResources(), true);
    (void)loaded;
    return QIcon(QStringLiteral(":/icons/kelvane.svg"));
}
