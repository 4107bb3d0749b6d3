// Every visible text of every window comes from the language library: with
// a language whose texts are their ids in brackets, a walk over the widgets
// finds nothing else (apart from widgets that show data), and every id the
// windows asked for is in the table.
#include <QAbstractButton>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>
#include <map>

#include "about_dlg.hpp"
#include "auto_backup_dlg.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "br_file_dialog.hpp"
#include "choose_documents_dlg.hpp"
#include "error_text.hpp"
#include "job_files.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "modal_answerer.hpp"
#include "progress_dlg.hpp"
#include "restore_mode_dlg.hpp"
#include "restore_pg.hpp"
#include "result_dlg.hpp"
#include "select_devices_dlg.hpp"
#include "status_bar.hpp"
#include "utility_fixture.hpp"
#include "va_property_sheet.hpp"
#include "widget_marks.hpp"

namespace {

// Texts made of ids in brackets, joined by blanks or line feeds.
bool FromLibrary(const QString &text) {
    static const QRegularExpression pseudo(QStringLiteral("^(\\[\\d+\\]([ \\n]\\[\\d+\\])*)?$"));
    return pseudo.match(text).hasMatch();
}

class TextWalk {
public:
    void Check(const QString &where, const QString &text) {
        ++seen_;
        if (!FromLibrary(text)) strays_ << where + QStringLiteral(": \"") + text + QLatin1Char('"');
    }

    void Walk(QWidget *window) {
        Check(window->metaObject()->className() + QStringLiteral(" title"), window->windowTitle());
        for (QWidget *w : window->findChildren<QWidget *>()) {
            if (vtutil::ShowsData(w)) continue;
            const QString where =
                QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->objectName();
            if (auto *label = qobject_cast<QLabel *>(w))
                Check(where, label->text());
            else if (auto *button = qobject_cast<QAbstractButton *>(w))
                Check(where, button->text());
            else if (auto *group = qobject_cast<QGroupBox *>(w))
                Check(where, group->title());
            else if (auto *tabs = qobject_cast<QTabBar *>(w))
                for (int i = 0; i < tabs->count(); ++i) Check(where, tabs->tabText(i));
            else if (auto *menu = qobject_cast<QMenu *>(w)) {
                Check(where, menu->title());
                for (QAction *action : menu->actions()) Check(where, action->text());
            }
        }
        // Headers of lists, also of lists that show data.
        for (QTreeWidget *list : window->findChildren<QTreeWidget *>())
            for (int c = 0; c < list->columnCount(); ++c)
                Check(list->objectName() + " header", list->headerItem()->text(c));
    }

    int Seen() const { return seen_; }
    const QStringList &Strays() const { return strays_; }

private:
    int seen_ = 0;
    QStringList strays_;
};

}  // namespace

class TextsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY)); }

    void EveryVisibleTextComesFromTheLibrary() {
        vttest::UtilityDevice device;
        vttest::WriteBrdValues(
            {{"Address0", "127.0.0.1"}, {"Name0", "Print room"}, {"Model0", "M"}, {"Location0", "L"}});
        vtutil::Language::Instance().ClearMissingIds();
        TextWalk walk;

        vtutil::CLoginDlg login(device.session);
        walk.Walk(&login);

        // A failed login shows a message box on the way.
        vttest::ModalAnswerer answerer;
        {
            vttest::ClosedPort closed;
            vttest::ScopedEnv nobody("VTBOX_HTTP_PORT", std::to_string(closed.port()));
            answerer.AnswerMessage(QMessageBox::Ok,
                                   [&walk](QMessageBox *box) { walk.Check("message box", box->text()); });
            login.PasswordEdit()->setText("admin");
            login.accept();
            QVERIFY(answerer.Done());
        }

        vtutil::CBackupRestoreDlg window(device.app, device.session);
        window.show();
        walk.Walk(&window);
        window.Sheet()->setCurrentIndex(1);
        walk.Walk(&window);

        vtutil::CSelectDevicesDlg choose(device.app, &window);
        walk.Walk(&choose);
        vtutil::CAboutDlg about(&window);
        walk.Walk(&about);

        // The restore page with a file's boxes, and the question before a restore.
        const std::string file = device.sim.dir / "described.zip";
        vttest::WriteBackupDescription(file, "Korvo-B V1.3.0.0", {{1, "Office", 3000}});
        device.Login();
        window.RefreshPages();
        window.Sheet()->setCurrentIndex(1);
        window.RestorePage()->PathEdit()->setText(QString::fromStdString(file));
        QCOMPARE(window.RestorePage()->List()->topLevelItemCount(), 1);
        walk.Walk(&window);
        vtutil::CRestoreModeDlg mode(&window);
        walk.Walk(&mode);
        // The chooser of documents, on a box of one folder with one document.
        VTBACKUPENTRY box{}, folder{}, document{};
        box.Kind = VTENTRY_BOX;
        folder.Kind = VTENTRY_FOLDER;
        document.Kind = VTENTRY_DOCUMENT;
        box.BoxNo = folder.BoxNo = document.BoxNo = folder.FolderNo = document.FolderNo = document.DocNo = 1;
        vtutil::CChooseDocumentsDlg chooser({box, folder, document}, "001 Office", {}, &window);
        QVERIFY(chooser.Listed());
        walk.Walk(&chooser);
        for (int kind = vtutil::CResultDlg::kFinished; kind <= vtutil::CResultDlg::kBoxesDeleted; ++kind) {
            vtutil::CResultDlg result(kind, 12029, vtutil::FailureDetails(12029), &window);
            walk.Walk(&result);
        }

        // A backup: its progress window and the report.
        window.Sheet()->setCurrentIndex(0);
        window.BackupPage()->TargetEdit()->setText(QString::fromStdString(device.sim.dir / "office.zip"));
        answerer.LetStay<vtutil::CProgressDlg>();
        answerer.OnDialog<vtutil::CProgressDlg>([&walk](vtutil::CProgressDlg *progress) { walk.Walk(progress); });
        answerer.AnswerMessage(QMessageBox::Ok, [&walk](QMessageBox *box) {
            walk.Check("report caption", box->windowTitle());
            walk.Check("report", box->text());
        });
        {
            vttest::KeepCwd keep;
            window.ActionButton()->click();
        }
        QVERIFY(answerer.Done());

        // Automatic backup: the set-up window, the waiting window's button
        // and next run, and the question before the schedule stops.
        vtutil::CAutoBackupDlg setUp(&window);
        walk.Walk(&setUp);
        answerer.OnDialog<vtutil::CAutoBackupDlg>(
            [](vtutil::CAutoBackupDlg *dlg) { vttest::Later([dlg] { dlg->SetButton()->click(); }); });
        window.Action(vtutil::CBackupRestoreDlg::Command::AutomaticBackup)->trigger();
        QVERIFY(window.AutoMode());
        walk.Check("stop button", window.ActionButton()->text());
        const QString nextRun = window.Status()->Activity();
        walk.Check("next run", nextRun.left(nextRun.indexOf(']') + 1));
        answerer.AnswerMessage(QMessageBox::Yes, [&walk](QMessageBox *box) {
            walk.Check("stop caption", box->windowTitle());
            walk.Check("stop question", box->text());
        });
        window.ActionButton()->click();
        QVERIFY(answerer.Done());
        QVERIFY(!window.AutoMode());

        // The backup file dialog is the toolkit's; its free-space line is ours.
        vtutil::CBRFileDialog files(QString::fromStdString(device.sim.dir.path()), "name", &window);
        const QString freeSpace = files.FreeSpaceLine()->text();
        walk.Check("free space", freeSpace.section("  ", 0, 0));
        walk.Check("free space", freeSpace.section("  ", 2, 2));

        QVERIFY2(walk.Strays().isEmpty(), qPrintable(walk.Strays().join('\n')));
        QVERIFY(walk.Seen() > 80);
        QVERIFY(vtutil::Language::Instance().MissingIds().empty());
    }

    // One list (text_ids.hpp) names every id with its meaning. An id under
    // two names, a text that no name has or a name without a text means that
    // some window shows words meant for something else.
    void EveryIdHasOneMeaning() {
        QFile list(QStringLiteral(VTUTIL_TEXT_IDS_HEADER));
        QVERIFY(list.open(QIODevice::ReadOnly | QIODevice::Text));
        static const QRegularExpression named(QStringLiteral("constexpr uint32_t (k\\w+) = (\\d+);"));
        std::map<uint32_t, QString> names;
        QStringList faults;
        for (auto it = named.globalMatch(QString::fromUtf8(list.readAll())); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            auto [at, added] = names.emplace(m.captured(2).toUInt(), m.captured(1));
            if (!added) faults << QStringLiteral("%1 is both %2 and %3").arg(m.captured(2), at->second, m.captured(1));
        }
        QVERIFY(names.size() > 200);
        for (uint32_t id : vtutil::ErrorTextIds())
            if (!names.count(id)) faults << QStringLiteral("the error table shows %1, which no name has").arg(id);
        constexpr uint32_t kLargestId = 65535;
        for (uint32_t id = 1; id <= kLargestId; ++id) {
            const bool hasText = !vtutil::Text(id).isEmpty();
            if (hasText && !names.count(id)) faults << QStringLiteral("text %1 has no name").arg(id);
            if (!hasText && names.count(id)) faults << names[id] + QStringLiteral(" has no text");
        }
        vtutil::Language::Instance().ClearMissingIds();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    void UnknownIdsAreNoted() {
        QCOMPARE(vtutil::Text(33), QString("[33]"));
        QVERIFY(vtutil::Text(9999).isEmpty());
        QCOMPARE(vtutil::Language::Instance().MissingIds().count(9999), size_t(1));
    }
};

QTEST_MAIN(TextsTest)
#include "test_texts.moc"
