// The main window's status bar: five parts whose widths follow the window.
//   0: what the program is doing   1: the device address
//   2: the connection icon         3, 4: empty, without border
#pragma once

#include <QStatusBar>
#include <array>

class QLabel;

namespace vtutil {

// Right edges of the five parts for a client width and right edge.
std::array<int, 5> StatusPartEdges(int clientWidth, int right);

class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(QWidget *parent = nullptr);

    void SetActivity(const QString &text);
    void SetAddress(const QString &address);
    void SetConnected(bool connected);

    QString Activity() const;
    QString Address() const;
    bool ShowsConnected() const { return connected_; }
    QLabel *Part(int index) const { return parts_[index]; }
    // The smallest bar width at which part 0 shows this text whole.
    int WidthToShowWhole(const QString &activity) const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void Layout();

    std::array<QLabel *, 5> parts_{};
    bool connected_ = false;
};

}  // namespace vtutil
