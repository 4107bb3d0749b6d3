#include "busy_animation.hpp"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace vtutil {

namespace {
constexpr int kFrameMs = 60;
// Pages in flight at once, evenly spaced along the way.
constexpr int kPagesInFlight = 3;
constexpr QSize kSize(300, 56);
}  // namespace

BusyAnimation::BusyAnimation(Direction direction, QWidget *parent) : QWidget(parent), direction_(direction) {
    setObjectName(QStringLiteral("animation"));
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kFrames;
        update();
    });
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
}

QSize BusyAnimation::sizeHint() const { return kSize; }

void BusyAnimation::Play() {
    closed_ = false;
    frame_ = 0;
    timer_.start();
    update();
}

void BusyAnimation::Stop() { timer_.stop(); }

void BusyAnimation::Close() {
    timer_.stop();
    closed_ = true;
    update();
}

void BusyAnimation::paintEvent(QPaintEvent *) {
    if (closed_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal h = height();
    const qreal w = std::min<qreal>(width(), kSize.width());
    const qreal left = (width() - w) / 2;
    const QRectF deviceArea(left + 4, 6, 64, h - 12);
    const QRectF fileArea(left + w - 50, 4, 40, h - 8);
    DrawDevice(painter, deviceArea);
    DrawFile(painter, fileArea);

    // Pages fly on a low arc between the printer's output and the file,
    // smallest at either end.
    QPointF from(deviceArea.right() - 4, deviceArea.top() + deviceArea.height() * 0.65);
    QPointF to(fileArea.left() + 6, fileArea.center().y());
    if (direction_ == Direction::ToDevice) std::swap(from, to);
    for (int i = 0; i < kPagesInFlight; ++i) {
        const qreal t = std::fmod(static_cast<qreal>(frame_) / kFrames + static_cast<qreal>(i) / kPagesInFlight, 1.0);
        const QPointF along = from + (to - from) * t;
        const QPointF centre(along.x(), along.y() - std::sin(t * M_PI) * (h / 2 - 16));
        DrawPage(painter, centre, 0.6 + 0.4 * std::sin(t * M_PI));
    }
}

void BusyAnimation::DrawDevice(QPainter &painter, const QRectF &area) const {
    const QPalette &p = palette();
    // The printer: a body, its paper tray on top and a panel with a light.
    const QRectF body(area.left(), area.top() + area.height() * 0.3, area.width(), area.height() * 0.7);
    painter.setPen(QPen(p.color(QPalette::WindowText), 1.2));
    painter.setBrush(p.color(QPalette::Button));
    painter.drawRoundedRect(body, 4, 4);
    const QRectF tray(area.left() + area.width() * 0.15, area.top(), area.width() * 0.7, area.height() * 0.34);
    painter.setBrush(p.color(QPalette::Base));
    painter.drawRect(tray);
    painter.setBrush(p.color(QPalette::Mid));
    painter.drawRect(QRectF(body.left() + 6, body.center().y(), body.width() - 12, 5));
    painter.setBrush(QColor(0x3a, 0xa6, 0x4b));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(body.right() - 9, body.top() + 7), 2.5, 2.5);
}

void BusyAnimation::DrawFile(QPainter &painter, const QRectF &area) const {
    const QPalette &p = palette();
    // A document with a folded corner and a zipper down its middle.
    const qreal fold = area.width() * 0.3;
    QPainterPath outline;
    outline.moveTo(area.topLeft());
    outline.lineTo(area.right() - fold, area.top());
    outline.lineTo(area.right(), area.top() + fold);
    outline.lineTo(area.bottomRight());
    outline.lineTo(area.bottomLeft());
    outline.closeSubpath();
    painter.setPen(QPen(p.color(QPalette::WindowText), 1.2));
    painter.setBrush(QColor(0xf6, 0xd8, 0x6b));
    painter.drawPath(outline);
    painter.drawLine(QPointF(area.right() - fold, area.top()), QPointF(area.right() - fold, area.top() + fold));
    painter.drawLine(QPointF(area.right() - fold, area.top() + fold), QPointF(area.right(), area.top() + fold));
    const qreal x = area.center().x();
    for (qreal y = area.top() + 4; y < area.center().y() + 4; y += 4)
        painter.drawLine(QPointF(x - 2.5, y), QPointF(x + 2.5, y));
    painter.setBrush(p.color(QPalette::WindowText));
    painter.drawRect(QRectF(x - 3.5, area.center().y() + 5, 7, 8));
}

void BusyAnimation::DrawPage(QPainter &painter, const QPointF &centre, qreal scale) const {
    const QPalette &p = palette();
    const QSizeF size(14 * scale, 18 * scale);
    const QRectF page(centre - QPointF(size.width() / 2, size.height() / 2), size);
    painter.setPen(QPen(p.color(QPalette::WindowText), 1));
    painter.setBrush(p.color(QPalette::Base));
    painter.drawRect(page);
    painter.setPen(QPen(p.color(QPalette::Mid), 1));
    for (int line = 1; line <= 3; ++line) {
        const qreal y = page.top() + page.height() * line / 4.5;
        painter.drawLine(QPointF(page.left() + 2.5 * scale, y), QPointF(page.right() - 2.5 * scale, y));
    }
}

}  // namespace vtutil
