#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

// The window's pictures, drawn from the SVG sources built into the program.
namespace pictures {

// Renders an SVG resource at size (in device-independent pixels) on a transparent background.
// A null pixmap when the resource cannot be read.
QPixmap Render(const QString& resource, QSize size);

QIcon WindowIcon();   // 16, 32 and 48 pixel images
QPixmap OpenFolder(); // 32 by 32
QPixmap Logo();       // 180 by 180

} // namespace pictures
