// The login dialog against the simulated device: what the password field
// accepts, a wrong password, and a device that does not answer.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "backup_restore_app.hpp"
#include "backup_restore_dlg.hpp"
#include "error_text.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "modal_answerer.hpp"
#include "status_bar.hpp"
#include "utility_fixture.hpp"

using vtutil::CLoginDlg;

class LoginTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    void FieldTakesTenPasswordCharactersAndDropsOthers() {
        vttest::UtilityDevice device;
        CLoginDlg login(device.session);
        login.show();
        QLineEdit *field = login.PasswordEdit();
        QVERIFY(!login.OkButton()->isEnabled());

        QTest::keyClicks(field, "ab#c");
        QCOMPARE(field->text(), QString("abc"));
        QVERIFY(login.OkButton()->isEnabled());

        // Pasted text loses every such character, not only the first.
        field->insert("d$e.f(g");
        QCOMPARE(field->text(), QString("abcdefg"));

        QTest::keyClicks(field, "hijklmn");
        QCOMPARE(field->text(), QString("abcdefghij"));

        field->clear();
        QVERIFY(!login.OkButton()->isEnabled());
    }

    void WrongPasswordKeepsTheDialogOpenForAnotherTry() {
        vttest::UtilityDevice device;
        CLoginDlg login(device.session);
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<CLoginDlg>([](CLoginDlg *dialog) {
            QTest::keyClicks(dialog->PasswordEdit(), "wrong");
            vttest::Later([dialog] { dialog->OkButton()->click(); });
        });
        QString details;
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) { details = box->detailedText(); });
        // Still open, emptied, waiting in the field. The answerer's timer may
        // see the dialog again while the message box's own loop is still
        // ending, before the dialog has gone on to empty its field: the
        // step waits for the emptied field (a dialog that never empties it
        // is closed as unexpected, and the login fails).
        answerer.Then([](QWidget *modal) {
            auto *dialog = qobject_cast<CLoginDlg *>(modal);
            if (!dialog || !dialog->isVisible() || !dialog->PasswordEdit()->text().isEmpty()) return false;
            [&] {
                QVERIFY(!dialog->OkButton()->isEnabled());
                QCOMPARE(dialog->focusWidget(), dialog->PasswordEdit());
            }();
            QTest::keyClicks(dialog->PasswordEdit(), "admin");
            vttest::Later([dialog] { dialog->OkButton()->click(); });
            return true;
        });

        QCOMPARE(login.exec(), int(QDialog::Accepted));
        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QCOMPARE(answerer.Messages().size(), size_t(1));
        QCOMPARE(answerer.Messages()[0].text, vtutil::ErrorTextFor(1216));
        QCOMPARE(answerer.Messages()[0].caption, vtutil::Text(88));
        // The engine's words for it and the code, behind Show Details.
        QVERIFY2(details.contains("boxnwGetEngineVersion") && details.endsWith(vtutil::FailureDetails(1216)),
                 qPrintable(details));
        QVERIFY(device.session.Connected());
        QCOMPARE(device.session.BoxCount(), uint32_t(3));
    }

    void BoxListFailureAtLoginKeepsItsCode() {
        vttest::UtilityDevice device;
        // Result 100 reads as a time-out (1460).
        device.sim.faults().ForceResult("boxnwGetBoxList", 100, 1);
        vttest::ModalAnswerer answerer;
        answerer.AnswerMessage(QMessageBox::Ok);
        device.Login();
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages()[0].text, vtutil::ErrorTextFor(1460));
        QVERIFY(!device.session.Connected());
        QCOMPARE(device.session.LastResult(), uint32_t(1460));
        QCOMPARE(device.CountRequests("boxnwDisconnect"), size_t(1));
    }

    // The whole start: login to a device that does not answer, then the main
    // window, open but unconnected.
    void SilentDeviceOpensTheMainWindowUnconnected() {
        vttest::UtilityDevice device;
        vttest::ClosedPort closed;
        vttest::ScopedEnv nobody("VTBOX_HTTP_PORT", std::to_string(closed.port()));
        vtutil::CBackupRestoreApp app;
        vttest::ModalAnswerer answerer;
        answerer.OnDialog<CLoginDlg>([](CLoginDlg *dialog) {
            QTest::keyClicks(dialog->PasswordEdit(), "admin");
            vttest::Later([dialog] { dialog->OkButton()->click(); });
        });
        answerer.AnswerMessage(QMessageBox::Ok);
        bool sawWindow = false;
        answerer.OnWindow<vtutil::CBackupRestoreDlg>([&sawWindow](vtutil::CBackupRestoreDlg *window) {
            sawWindow = true;
            QVERIFY(!window->Status()->ShowsConnected());
            QCOMPARE(window->Status()->Address(), QString("127.0.0.1"));
            QVERIFY(!window->ActionButton()->isEnabled());
            vttest::Later([window] { window->close(); });
        });

        QCOMPARE(app.Run(), 0);
        QVERIFY(sawWindow);
        QVERIFY(answerer.Unexpected().isEmpty());
        QCOMPARE(answerer.Messages().size(), size_t(1));
        // Refused connections: the device does not answer, and what to check.
        QCOMPARE(answerer.Messages()[0].text, vtutil::ErrorTextFor(12029));
        QCOMPARE(answerer.Messages()[0].icon, QMessageBox::Critical);
    }
};

QTEST_MAIN(LoginTest)
#include "test_login.moc"
