#pragma once

class QString;

namespace Sidebar {

// The sidebar buttons are named pbS1..pbS5 and the page they open is the
// digit in their name, so the digit is the whole routing table.
int pageDigit(const QString &senderName);

} // namespace Sidebar
