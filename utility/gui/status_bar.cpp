#include "status_bar.hpp"

#include <QLabel>
#include <QResizeEvent>

#include "icons.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {
constexpr int kMinimumHeight = 30;
constexpr int kIconSize = 16;
}  // namespace

std::array<int, 5> StatusPartEdges(int clientWidth, int right) {
    return {right - 3 * (clientWidth / 10 + 4), right - 65, right - 16, right - 12, right};
}

StatusBar::StatusBar(QWidget *parent) : QStatusBar(parent) {
    setMinimumHeight(kMinimumHeight);
    setSizeGripEnabled(false);
    for (size_t i = 0; i < parts_.size(); ++i) {
        auto *part = new QLabel(this);
        part->setObjectName(QStringLiteral("part%1").arg(i));
        part->setTextFormat(Qt::PlainText);
        part->setContentsMargins(4, 0, 4, 0);
        if (i < 3) part->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        parts_[i] = part;
    }
    parts_[2]->setAlignment(Qt::AlignCenter);
    MarkShowsData(parts_[1]);
    SetConnected(false);
}

void StatusBar::SetActivity(const QString &text) {
    parts_[0]->setText(text);
    // The part is narrow at the window's first size (the next run's time).
    parts_[0]->setToolTip(text);
}
QString StatusBar::Activity() const { return parts_[0]->text(); }

void StatusBar::SetAddress(const QString &address) {
    parts_[1]->setToolTip(address);
    parts_[1]->setProperty("fullText", address);
    Layout();
}

QString StatusBar::Address() const { return parts_[1]->property("fullText").toString(); }

void StatusBar::SetConnected(bool connected) {
    connected_ = connected;
    parts_[2]->setPixmap((connected ? icons::Connected() : icons::Disconnected()).pixmap(kIconSize, kIconSize));
}

int StatusBar::WidthToShowWhole(const QString &activity) const {
    const QLabel *part = parts_[0];
    const QMargins margins = part->contentsMargins();
    const int needed =
        part->fontMetrics().horizontalAdvance(activity) + margins.left() + margins.right() + 2 * part->frameWidth();
    int w = needed;  // part 0 is never wider than the bar
    while (StatusPartEdges(w, w)[0] < needed) ++w;
    return w;
}

void StatusBar::resizeEvent(QResizeEvent *event) {
    QStatusBar::resizeEvent(event);
    Layout();
}

void StatusBar::Layout() {
    const int w = width();
    const std::array<int, 5> edges = StatusPartEdges(w, w);
    int left = 0;
    const int top = 3, height = this->height() - 5;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const int partRight = std::max(left, edges[i]);
        parts_[i]->setGeometry(left, top, partRight - left, height);
        left = partRight;
    }
    // A long address is cut with an ellipsis; the tool tip holds all of it.
    QLabel *address = parts_[1];
    const QString full = Address();
    const int room = address->contentsRect().width();
    address->setText(address->fontMetrics().elidedText(full, Qt::ElideMiddle, std::max(room, 0)));
}

}  // namespace vtutil
