#include "Pictures.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterResources() {
    Q_INIT_RESOURCE(ostrapel);
}

namespace pictures {

QPixmap Render(const QString& resource, QSize size) {
    static const bool registered = (RegisterResources(), true);
    (void)registered;
    QSvgRenderer renderer(resource);
    if (!renderer.isValid() || size.isEmpty()) {
        return {};
    }
    const qreal ratio = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    image.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(image);
}

QIcon WindowIcon() {
    QIcon icon;
    for (int side : {16, 32, 48}) {
        icon.addPixmap(Render(QStringLiteral(":/ostrapel/icon.svg"), QSize(side, side)));
    }
    return icon;
}

QPixmap OpenFolder() {
    return Render(QStringLiteral(":/ostrapel/open_folder.svg"), QSize(32, 32));
}

QPixmap Logo() {
    return Render(QStringLiteral(":/ostrapel/logo.svg"), QSize(180, 180));
}

} // namespace pictures
