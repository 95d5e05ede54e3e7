// The icon of a result row: one per file type, one for every folder.
//
// A file's type is found from its name alone (QMimeDatabase by extension), so no file
// is touched; the icon comes from the icon theme and is kept per type. All folders share
// the one folder icon, looked up once per process. What the theme cannot give falls
// back to the style's generic file and folder icons.
#pragma once

#include <QIcon>
#include <QString>

// UI thread only.
QIcon GetItemIcon(const QString& fullPath, bool isFolder);
