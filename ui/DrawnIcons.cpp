#include "ui/DrawnIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace gm {

namespace {

// Drawing happens on a 24 x 24 grid scaled to the requested rectangle.
class Canvas
{
public:
    Canvas(QPainter &painter, bool disabled)
        : p(painter)
        , m_disabled(disabled)
    {
        p.setRenderHint(QPainter::Antialiasing);
    }

    QColor c(const QColor &color) const
    {
        if (!m_disabled)
            return color;
        const int grey = 150 + qGray(color.rgb()) * 90 / 255;
        return QColor(grey, grey, grey, color.alpha());
    }
    QColor ink() const { return c(QColor(0x37, 0x47, 0x4f)); }
    QColor paper() const { return c(QColor(0xff, 0xff, 0xff)); }
    QColor green() const { return c(QColor(0x2e, 0x7d, 0x32)); }
    QColor lightGreen() const { return c(QColor(0xc8, 0xe6, 0xc9)); }
    QColor blue() const { return c(QColor(0x15, 0x65, 0xc0)); }
    QColor lightBlue() const { return c(QColor(0xbb, 0xde, 0xfb)); }
    QColor red() const { return c(QColor(0xc6, 0x28, 0x28)); }
    QColor amber() const { return c(QColor(0xf9, 0xa8, 0x25)); }
    QColor lightAmber() const { return c(QColor(0xff, 0xe0, 0x82)); }

    void pen(const QColor &color, qreal width = 1.5)
    {
        p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    void noPen() { p.setPen(Qt::NoPen); }
    void fill(const QColor &color) { p.setBrush(color); }
    void noFill() { p.setBrush(Qt::NoBrush); }

    // A sheet of paper with a folded corner.
    void page(qreal x, qreal y, qreal w, qreal h)
    {
        QPainterPath path;
        path.moveTo(x, y);
        path.lineTo(x + w - 5, y);
        path.lineTo(x + w, y + 5);
        path.lineTo(x + w, y + h);
        path.lineTo(x, y + h);
        path.closeSubpath();
        pen(ink());
        fill(paper());
        p.drawPath(path);
        noFill();
        p.drawPolyline(QPolygonF({QPointF(x + w - 5, y), QPointF(x + w - 5, y + 5), QPointF(x + w, y + 5)}));
    }
    // A small spreadsheet: a green header row and grid lines.
    void sheet(qreal x, qreal y, qreal w, qreal h)
    {
        pen(ink());
        fill(paper());
        p.drawRoundedRect(QRectF(x, y, w, h), 1.5, 1.5);
        noPen();
        fill(lightGreen());
        p.drawRect(QRectF(x + 0.75, y + 0.75, w - 1.5, h / 4));
        pen(ink(), 1);
        for (int i = 1; i < 3; ++i)
            p.drawLine(QPointF(x + w * i / 3, y + 0.75), QPointF(x + w * i / 3, y + h - 0.75));
        for (int i = 1; i < 4; ++i)
            p.drawLine(QPointF(x + 0.75, y + h * i / 4), QPointF(x + w - 0.75, y + h * i / 4));
    }
    void badgeCircle(const QColor &color, qreal cx = 17.5, qreal cy = 17.5, qreal r = 5.5)
    {
        pen(paper(), 1.5);
        fill(color);
        p.drawEllipse(QPointF(cx, cy), r, r);
    }
    void plusBadge()
    {
        badgeCircle(green());
        pen(paper(), 1.8);
        p.drawLine(QPointF(17.5, 14.5), QPointF(17.5, 20.5));
        p.drawLine(QPointF(14.5, 17.5), QPointF(20.5, 17.5));
    }
    void minusBadge()
    {
        badgeCircle(red());
        pen(paper(), 1.8);
        p.drawLine(QPointF(14.5, 17.5), QPointF(20.5, 17.5));
    }
    void crossBadge()
    {
        badgeCircle(red());
        pen(paper(), 1.8);
        p.drawLine(QPointF(15.3, 15.3), QPointF(19.7, 19.7));
        p.drawLine(QPointF(19.7, 15.3), QPointF(15.3, 19.7));
    }
    void folder(qreal x, qreal y, qreal w, qreal h)
    {
        QPainterPath back;
        back.moveTo(x, y + h);
        back.lineTo(x, y);
        back.lineTo(x + w * 0.38, y);
        back.lineTo(x + w * 0.48, y + 2.5);
        back.lineTo(x + w, y + 2.5);
        back.lineTo(x + w, y + h);
        back.closeSubpath();
        pen(c(QColor(0xb2, 0x7b, 0x00)));
        fill(amber());
        p.drawPath(back);
        fill(lightAmber());
        p.drawRoundedRect(QRectF(x, y + 5, w, h - 5), 1, 1);
    }
    void arrow(QPointF from, QPointF to, const QColor &color, qreal width = 2.2)
    {
        pen(color, width);
        p.drawLine(from, to);
        const QLineF line(to, from);
        QLineF wing1 = line;
        wing1.setLength(4.5);
        wing1.setAngle(line.angle() + 35);
        QLineF wing2 = line;
        wing2.setLength(4.5);
        wing2.setAngle(line.angle() - 35);
        p.drawLine(wing1);
        p.drawLine(wing2);
    }
    void text(const QRectF &rect, const QString &s, const QColor &color, qreal size, bool bold = true)
    {
        QFont font = p.font();
        font.setPixelSize(qMax(1, int(size)));
        font.setBold(bold);
        p.setFont(font);
        p.setPen(color);
        p.drawText(rect, Qt::AlignCenter, s);
    }

    QPainter &p;

private:
    bool m_disabled;
};

void draw(IconShape shape, Canvas &k)
{
    QPainter &p = k.p;
    switch (shape) {
    case IconShape::AddFile:
        k.page(3, 2, 14, 18);
        k.sheet(5.5, 8, 9, 8);
        k.plusBadge();
        break;
    case IconShape::AddFolder:
        k.folder(2, 4, 18, 15);
        k.plusBadge();
        break;
    case IconShape::Remove:
        k.page(3, 2, 14, 18);
        k.sheet(5.5, 8, 9, 8);
        k.minusBadge();
        break;
    case IconShape::RemoveAll:
        k.page(6, 1, 12, 15);
        k.page(3, 4, 13, 16);
        k.crossBadge();
        break;
    case IconShape::MoveUp:
        k.arrow(QPointF(12, 20), QPointF(12, 4), k.blue(), 2.6);
        break;
    case IconShape::MoveDown:
        k.arrow(QPointF(12, 4), QPointF(12, 20), k.blue(), 2.6);
        break;
    case IconShape::Convert:
        k.sheet(2, 3, 10, 10);
        k.page(12, 9, 10, 13);
        k.text(QRectF(12, 13, 10, 8), QStringLiteral("</>"), k.blue(), 5.5);
        k.noFill();
        k.pen(k.green(), 1.8);
        p.drawArc(QRectF(10, 1, 10, 10), 30 * 16, 120 * 16);
        k.arrow(QPointF(18.5, 3.5), QPointF(19.8, 7.8), k.green(), 1.8);
        break;
    case IconShape::Header:
        k.page(4, 2, 16, 20);
        k.noPen();
        k.fill(k.blue());
        p.drawRect(QRectF(6.5, 4.5, 9, 2.2));
        k.fill(k.green());
        p.drawRect(QRectF(6.5, 17.5, 11, 2.2));
        k.pen(k.ink(), 1);
        for (qreal y : {9.5, 12.0, 14.5})
            p.drawLine(QPointF(7, y), QPointF(17, y));
        break;
    case IconShape::BatchRename:
        k.pen(k.ink());
        k.fill(k.paper());
        p.drawRoundedRect(QRectF(2, 6, 20, 11), 2, 2);
        k.text(QRectF(2, 6, 12, 11), QStringLiteral("Ab"), k.ink(), 8);
        k.pen(k.blue(), 1.6);
        p.drawLine(QPointF(16, 4), QPointF(16, 19));
        p.drawLine(QPointF(14, 4), QPointF(18, 4));
        p.drawLine(QPointF(14, 19), QPointF(18, 19));
        break;
    case IconShape::Unite:
        k.sheet(1.5, 2, 8, 7);
        k.sheet(1.5, 14, 8, 7);
        k.sheet(14, 7, 8.5, 10);
        k.arrow(QPointF(10, 6), QPointF(13.5, 10), k.blue(), 1.6);
        k.arrow(QPointF(10, 18), QPointF(13.5, 14), k.blue(), 1.6);
        break;
    case IconShape::StrReplace:
        k.text(QRectF(1, 1, 12, 10), QStringLiteral("ab"), k.ink(), 8.5);
        k.text(QRectF(10, 13, 13, 10), QStringLiteral("cd"), k.green(), 8.5);
        k.arrow(QPointF(6, 13), QPointF(6, 19), k.blue(), 1.6);
        k.pen(k.blue(), 1.6);
        p.drawLine(QPointF(6, 19), QPointF(9, 19));
        break;
    case IconShape::CLock:
        k.noFill();
        k.pen(k.ink(), 2.2);
        p.drawArc(QRectF(7, 3, 10, 12), 0, 180 * 16);
        p.drawLine(QPointF(7, 9), QPointF(7, 11));
        p.drawLine(QPointF(17, 9), QPointF(17, 11));
        k.pen(k.c(QColor(0xb2, 0x7b, 0x00)), 1.5);
        k.fill(k.amber());
        p.drawRoundedRect(QRectF(4.5, 10.5, 15, 11), 2, 2);
        k.noPen();
        k.fill(k.ink());
        p.drawEllipse(QPointF(12, 15), 1.6, 1.6);
        p.drawRect(QRectF(11.3, 15.5, 1.4, 3.2));
        break;
    case IconShape::Protect: {
        QPainterPath shield;
        shield.moveTo(12, 2);
        shield.lineTo(20, 5);
        shield.cubicTo(20, 13, 17, 19, 12, 22);
        shield.cubicTo(7, 19, 4, 13, 4, 5);
        shield.closeSubpath();
        k.pen(k.blue());
        k.fill(k.lightBlue());
        p.drawPath(shield);
        k.noFill();
        k.pen(k.green(), 2.2);
        p.drawPolyline(QPolygonF({QPointF(8, 12), QPointF(11, 15.5), QPointF(16.5, 8.5)}));
        break;
    }
    case IconShape::HyperLink:
        k.noFill();
        k.pen(k.blue(), 2.2);
        p.save();
        p.translate(12, 12);
        p.rotate(-45);
        p.drawRoundedRect(QRectF(-10, -3.5, 10, 7), 3.5, 3.5);
        p.drawRoundedRect(QRectF(0, -3.5, 10, 7), 3.5, 3.5);
        p.restore();
        k.pen(k.red(), 2.2);
        p.drawLine(QPointF(4, 4), QPointF(20, 20));
        break;
    case IconShape::BatchSheet:
        k.sheet(3, 2, 18, 14);
        k.pen(k.ink(), 1.2);
        k.fill(k.lightGreen());
        p.drawRect(QRectF(3, 16, 6, 4));
        k.fill(k.paper());
        p.drawRect(QRectF(9, 16, 6, 4));
        p.drawRect(QRectF(15, 16, 6, 4));
        break;
    case IconShape::Print:
        k.page(7, 2, 10, 8);
        k.pen(k.ink());
        k.fill(k.c(QColor(0x90, 0xa4, 0xae)));
        p.drawRoundedRect(QRectF(2.5, 9, 19, 8), 2, 2);
        k.fill(k.paper());
        p.drawRect(QRectF(7, 14, 10, 7.5));
        k.noPen();
        k.fill(k.green());
        p.drawEllipse(QPointF(18.5, 11.5), 1, 1);
        k.pen(k.ink(), 1);
        p.drawLine(QPointF(9, 17), QPointF(15, 17));
        p.drawLine(QPointF(9, 19), QPointF(15, 19));
        break;
    case IconShape::Share:
        k.sheet(2, 2, 12, 11);
        k.pen(k.blue());
        k.fill(k.lightBlue());
        p.drawEllipse(QPointF(12, 14), 2.5, 2.5);
        p.drawEllipse(QPointF(18.5, 14), 2.5, 2.5);
        p.drawChord(QRectF(8, 17.5, 8, 7), 0, 180 * 16);
        p.drawChord(QRectF(14.5, 17.5, 8, 7), 0, 180 * 16);
        break;
    case IconShape::Cols:
        k.sheet(2, 3, 20, 18);
        k.noPen();
        k.fill(k.c(QColor(0x15, 0x65, 0xc0, 110)));
        p.drawRect(QRectF(2 + 20.0 / 3, 3.75, 20.0 / 3, 16.5));
        k.fill(k.c(QColor(0xc6, 0x28, 0x28, 90)));
        p.drawRect(QRectF(2.75, 3 + 18 * 2.0 / 4, 18.5, 18.0 / 4));
        break;
    case IconShape::Cells:
        k.sheet(2, 3, 20, 18);
        k.pen(k.green(), 2);
        k.noFill();
        p.drawRect(QRectF(2 + 20.0 / 3, 3 + 18.0 / 4, 20.0 / 3, 18.0 / 4));
        k.text(QRectF(2 + 20.0 / 3, 3 + 18.0 / 2, 20.0 / 3, 18.0 / 4 + 1), QStringLiteral("1"), k.blue(), 5);
        break;
    case IconShape::Abstract:
        k.page(4, 2, 16, 20);
        k.noPen();
        k.fill(k.blue());
        p.drawEllipse(QPointF(12, 11), 5, 5);
        k.text(QRectF(7, 6, 10, 10), QStringLiteral("i"), k.paper(), 8);
        k.pen(k.ink(), 1);
        p.drawLine(QPointF(7, 18.5), QPointF(17, 18.5));
        break;
    case IconShape::Sum:
        k.pen(k.ink());
        k.fill(k.paper());
        p.drawRoundedRect(QRectF(2.5, 2.5, 19, 19), 3, 3);
        k.noFill();
        k.pen(k.green(), 2.2);
        p.drawPolyline(QPolygonF({QPointF(16.5, 7), QPointF(16.5, 6), QPointF(7.5, 6), QPointF(12.5, 12),
                                  QPointF(7.5, 18), QPointF(16.5, 18), QPointF(16.5, 17)}));
        break;
    case IconShape::Recent:
    case IconShape::ClearRecent:
        k.pen(k.ink());
        k.fill(k.paper());
        p.drawEllipse(QPointF(11, 11), 8.5, 8.5);
        k.pen(k.blue(), 1.8);
        p.drawLine(QPointF(11, 11), QPointF(11, 5.5));
        p.drawLine(QPointF(11, 11), QPointF(15, 13));
        if (shape == IconShape::Recent)
            k.plusBadge();
        else
            k.crossBadge();
        break;
    case IconShape::Application:
        k.sheet(5, 2, 17, 15);
        k.pen(k.c(QColor(0x1b, 0x5e, 0x20)));
        k.fill(k.green());
        p.drawRoundedRect(QRectF(2, 9, 12, 13), 2, 2);
        k.text(QRectF(2, 9, 12, 13), QStringLiteral("G"), k.paper(), 10);
        break;
    case IconShape::Folder:
        k.folder(2, 4, 20, 16);
        break;
    case IconShape::PagePortrait:
        k.page(6, 2, 12, 20);
        k.pen(k.ink(), 1);
        for (qreal y : {8.0, 11.0, 14.0, 17.0})
            p.drawLine(QPointF(8.5, y), QPointF(15.5, y));
        break;
    case IconShape::PageLandscape:
        k.page(2, 6, 20, 12);
        k.pen(k.ink(), 1);
        for (qreal y : {10.0, 13.0, 16.0})
            p.drawLine(QPointF(4.5, y), QPointF(19.5, y));
        break;
    }
}

class DrawnIconEngine : public QIconEngine
{
public:
    explicit DrawnIconEngine(IconShape shape)
        : m_shape(shape)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        painter->save();
        const qreal side = qMin(rect.width(), rect.height());
        painter->translate(rect.x() + (rect.width() - side) / 2.0, rect.y() + (rect.height() - side) / 2.0);
        painter->scale(side / 24.0, side / 24.0);
        Canvas canvas(*painter, mode == QIcon::Disabled);
        draw(m_shape, canvas);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap result(size * scale);
        result.fill(Qt::transparent);
        {
            QPainter painter(&result);
            paint(&painter, QRect(QPoint(0, 0), size * scale), mode, state);
        }
        result.setDevicePixelRatio(scale);
        return result;
    }

    QIconEngine *clone() const override { return new DrawnIconEngine(m_shape); }
    QString key() const override { return QStringLiteral("GridmuleDrawnIcon"); }

private:
    IconShape m_shape;
};

} // namespace

QIcon drawnIcon(IconShape shape)
{
    return QIcon(new DrawnIconEngine(shape));
}

} // namespace gm
