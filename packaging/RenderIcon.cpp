// Renders the program's SVG icon into the PNG sizes of the hicolor icon theme at build time.
// Usage: gridmule-render-icon ICON.svg OUTDIR SIZE...  (writes OUTDIR/SIZExSIZE.png)

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        QTextStream(stderr) << "usage: gridmule-render-icon ICON.svg OUTDIR SIZE...\n";
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        QTextStream(stderr) << "cannot read " << args.at(1) << '\n';
        return 1;
    }
    for (const QString &word : args.mid(3)) {
        const int size = word.toInt();
        if (size <= 0)
            return 2;
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString path = QStringLiteral("%1/%2x%2.png").arg(args.at(2)).arg(size);
        if (!image.save(path, "PNG")) {
            QTextStream(stderr) << "cannot write " << path << '\n';
            return 1;
        }
    }
    return 0;
}
