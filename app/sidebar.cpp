#include "app/sidebar.h"

#include <QString>

namespace Sidebar {

int pageDigit(const QString &senderName)
{
    if (senderName.size() < 4)
        return 0;
    // toLatin1() yields 0 for characters beyond Latin-1, so a look-alike
    // digit from another script never selects a page.
    const char c = senderName.at(3).toLatin1();
    if (c < '1' || c > '5')
        return 0;
    return c - '0';
}

} // namespace Sidebar
