// Answers the modal windows a test runs into, from a timer: each step waits
// for the window it expects, looks at it and answers it. A modal window that
// no step expects is recorded and closed, so that a test fails instead of
// hanging.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

namespace vttest {

// One message box as it was shown.
struct SeenMessage {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Runs action from the event loop, after the current step has returned. A
// step must not block: an answer that opens the next modal window runs a
// nested event loop, and the answerer's timer does not fire again while one
// of its steps is still running.
void Later(std::function<void()> action);

class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    ModalAnswerer();
    ~ModalAnswerer() override;

    // A step gets the active modal window (or null when none is up) and
    // returns true once it has answered it.
    using Step = std::function<bool(QWidget *modal)>;
    void Then(Step step);

    // Presses button on the next message box; inspect (may be empty) sees
    // the box first, while the program waits for the answer.
    void AnswerMessage(QMessageBox::StandardButton button, std::function<void(QMessageBox *)> inspect = {});
    // The next modal window of type T: act on it (the window stays open
    // unless act closes it; act answers through Later).
    template <typename T>
    void OnDialog(std::function<void(T *)> act) {
        Then([act](QWidget *modal) {
            T *dialog = qobject_cast<T *>(modal);
            if (!dialog || !dialog->isVisible()) return false;
            act(dialog);
            return true;
        });
    }

    // The next visible top-level window of type T while no modal window is
    // up (a main window): act on it.
    template <typename T>
    void OnWindow(std::function<void(T *)> act) {
        Then([act](QWidget *modal) {
            if (modal) return false;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                T *window = qobject_cast<T *>(w);
                if (!window || !window->isVisible()) continue;
                act(window);
                return true;
            }
            return false;
        });
    }

    // Modal windows of type T may stay up as long as they like (a progress
    // window that the program closes itself): they are never closed as
    // unasked.
    template <typename T>
    void LetStay() {
        mayStay_.push_back([](QWidget *w) { return qobject_cast<T *>(w) != nullptr; });
    }

    bool Done() const { return steps_.empty(); }
    const std::vector<SeenMessage> &Messages() const { return messages_; }
    // Titles and texts of modal windows that came unasked.
    const QStringList &Unexpected() const { return unexpected_; }

private:
    void Tick();

    QTimer timer_;
    std::deque<Step> steps_;
    std::vector<std::function<bool(QWidget *)>> mayStay_;
    std::vector<SeenMessage> messages_;
    QStringList unexpected_;
    QWidget *lastUnasked_ = nullptr;
    int unaskedTicks_ = 0;
};

}  // namespace vttest
