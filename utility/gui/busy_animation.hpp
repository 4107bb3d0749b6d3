// The progress window's animation: pages travel from the device to the
// backup file (or back, for a restore) while a job runs.
#pragma once

#include <QTimer>
#include <QWidget>

namespace vtutil {

class BusyAnimation : public QWidget {
    Q_OBJECT
public:
    enum class Direction { ToFile, ToDevice };
    explicit BusyAnimation(Direction direction, QWidget *parent = nullptr);

    // Plays from the first frame, over and over.
    void Play();
    // Holds the current frame.
    void Stop();
    // Stops and shows nothing more.
    void Close();

    bool Playing() const { return timer_.isActive(); }
    int Frame() const { return frame_; }
    static constexpr int kFrames = 24;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void DrawDevice(QPainter &painter, const QRectF &area) const;
    void DrawFile(QPainter &painter, const QRectF &area) const;
    void DrawPage(QPainter &painter, const QPointF &centre, qreal scale) const;

    Direction direction_;
    QTimer timer_;
    int frame_ = 0;
    bool closed_ = false;
};

}  // namespace vtutil
