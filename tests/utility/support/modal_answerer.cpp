#include "modal_answerer.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>

#include "device_wait_dlg.hpp"

namespace vttest {

namespace {
constexpr int kTickMs = 25;
// How long an unasked modal window may stay before it is closed.
constexpr int kUnaskedTicks = 40;
}  // namespace

void Later(std::function<void()> action) { QMetaObject::invokeMethod(qApp, std::move(action), Qt::QueuedConnection); }

ModalAnswerer::ModalAnswerer() {
    timer_.setInterval(kTickMs);
    // The wait for a device shows once a call takes a moment, which a loaded
    // machine may make any call take: the program closes it itself when the
    // call returns, and a test that means to cancel it asks for it.
    LetStay<vtutil::CDeviceWaitDlg>();
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Tick);
    timer_.start();
}

ModalAnswerer::~ModalAnswerer() { timer_.stop(); }

void ModalAnswerer::Then(Step step) { steps_.push_back(std::move(step)); }

void ModalAnswerer::AnswerMessage(QMessageBox::StandardButton button, std::function<void(QMessageBox *)> inspect) {
    Then([this, button, inspect](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box || !box->isVisible()) return false;
        messages_.push_back({box->windowTitle(), box->text(), box->icon()});
        if (inspect) inspect(box);
        QAbstractButton *pressed = box->button(button);
        Later([box, pressed] {
            if (pressed)
                pressed->click();
            else
                box->reject();
        });
        return true;
    });
}

void ModalAnswerer::Tick() {
    QWidget *modal = QApplication::activeModalWidget();
    if (!steps_.empty() && steps_.front()(modal)) {
        steps_.pop_front();
        unaskedTicks_ = 0;
        return;
    }
    if (!modal || !modal->isVisible()) {
        unaskedTicks_ = 0;
        return;
    }
    for (const auto &mayStay : mayStay_) {
        if (!mayStay(modal)) continue;
        unaskedTicks_ = 0;
        return;
    }
    if (modal != lastUnasked_) {
        lastUnasked_ = modal;
        unaskedTicks_ = 0;
    }
    if (++unaskedTicks_ < kUnaskedTicks) return;
    QString what = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) what += QStringLiteral(": ") + box->text();
    unexpected_ << what;
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
    unaskedTicks_ = 0;
}

}  // namespace vttest
