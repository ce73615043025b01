#pragma once

#include <QIcon>
#include <QString>

// An icon that reads its file the first time it is drawn or measured, not
// when it is made.
//
// QIcon reads an .ico file whole as it is constructed: it loads the image
// plugin for the format and decodes every size the file holds. The tray icon
// is made with the window, at start, but drawn only once the window goes to
// the tray, which most runs never do; read at start it was 1.3 % of the
// instructions the GUI thread runs before the first frame.
namespace DeferredIcon {

QIcon fromFile(const QString &fileName);

} // namespace DeferredIcon
