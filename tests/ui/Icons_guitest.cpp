#include "GuiTestSupport.h"

#include "ui/Icons.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QSvgRenderer>

namespace gm::test {
namespace {

// Share of the image's pixels that are not transparent.
double coverage(const QImage &image)
{
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    }
    return double(drawn) / (image.width() * image.height());
}

// Every icon is a valid drawing in the resources, drawn at any size, and greyed when disabled.
TEST(Icons, EveryIconIsAnSvgDrawing)
{
    guiApp();
    QSet<QString> used;
    for (int i = 0; i < kIconCount; ++i) {
        const auto which = static_cast<Icon>(i);
        const QString path = iconPath(which);
        SCOPED_TRACE(path.toStdString());
        const QIcon icon = programIcon(which);
        ASSERT_FALSE(icon.isNull());
        EXPECT_FALSE(used.contains(path)) << "two icons share one drawing";
        used.insert(path);

        QSvgRenderer renderer(path);
        ASSERT_TRUE(renderer.isValid());
        EXPECT_EQ(renderer.viewBox(), QRect(0, 0, 24, 24));

        for (int size : {16, 24, 64}) {
            SCOPED_TRACE(size);
            const QImage normal = icon.pixmap(size, size).toImage();
            ASSERT_EQ(normal.size(), QSize(size, size));
            const double drawn = coverage(normal);
            EXPECT_GT(drawn, 0.05);
            EXPECT_LT(drawn, 0.95);
        }
        // A disabled icon carries no colour.
        const QImage disabled = icon.pixmap(24, 24, QIcon::Disabled).toImage();
        bool grey = true;
        for (int y = 0; y < disabled.height() && grey; ++y) {
            for (int x = 0; x < disabled.width() && grey; ++x) {
                const QColor c = disabled.pixelColor(x, y);
                grey = c.alpha() == 0 || (qAbs(c.red() - c.green()) <= 8 && qAbs(c.green() - c.blue()) <= 8);
            }
        }
        EXPECT_TRUE(grey);
    }
    // No drawing in the resources is left unused.
    QSet<QString> stored;
    for (const QString &name : QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.svg")}))
        stored.insert(QStringLiteral(":/icons/") + name);
    EXPECT_EQ(stored, used);
}

} // namespace
} // namespace gm::test
