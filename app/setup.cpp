#include "app/setup.h"

#include "ui_setup.h"

#include "app/dataconfig.h"
#include "app/failurealert.h"
#include "app/fittocontents.h"
#include "app/messages.h"
#include "app/provisioningrun.h"
#include "app/schemamessage.h"
#include "app/showerror.h"
#include "db/dberror.h"
#include "settings/connectionsettings.h"
#include "settings/settingsfile.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QStyleHints>

#include <algorithm>

namespace {

// The width of users.username. The server counts characters, not UTF-16 units.
constexpr qsizetype MaxUsernameLength = 25;

bool fitsLatin1(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xff; });
}

// A settings file that a Windows editor saved as UTF-8 is read in the system's code page, as
// the Quorvo application reads it: its letters beyond ASCII arrive as others, and the login
// fails with nothing to say why. Where the code page is UTF-8, it reads as written.
QString encodingHint(int code)
{
    const bool systemIsUtf8 = QString::fromLocal8Bit("\xc3\xa4") == QStringLiteral("\u00e4");
    if (code != DbError::ConnectionFailed || systemIsUtf8 || !keyLinesLookLikeUtf8())
        return {};
    return QStringLiteral("<br>") + setup::tr(SetupMessage::ConfigLooksUtf8);
}

// The CA certificate that the run verified the server against, as the system shows paths.
QString caFileName()
{
    return QDir::toNativeSeparators(ConnectionSettings::dbCaFile).toHtmlEscaped();
}

} // namespace

setup::setup(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<SetupForm>()), run(std::make_unique<ProvisioningRun>())
{
    ui->setupUi(this);
    new FitToContents(this);
    addAnnouncer(ui->label);
    // What is typed first goes into the first field, not to OK, which comes first in the Tab
    // order.
    ui->lineEdit_username->setFocus();
    readSettings(ui->label);
    connect(ui->pushButton_db, &QPushButton::clicked, this, &setup::config);

    run->moveToThread(&runThread);
    connect(run.get(), &ProvisioningRun::finished, this, &setup::finishRun);
    runThread.start();
}

setup::~setup()
{
    // The connection is given up in its own thread, after a run in progress; every wait of a run
    // has an end, so this does not hang.
    QMetaObject::invokeMethod(
        run.get(), [worker = run.get()] { worker->discardConnection(); },
        Qt::BlockingQueuedConnection);
    runThread.quit();
    runThread.wait();
}

QString setup::failureMessage(int code)
{
    switch (code) {
    case DbError::ConnectionFailed:
        return tr(SetupMessage::ConnectionFailed);
    case DbError::ConnectionLost:
        return tr(SetupMessage::ConnectionLost);
    case DbError::DuplicateEntry:
        return tr(SetupMessage::DuplicateUser);
    case DbError::ValueRefused:
        return tr(SetupMessage::UsernameRefused);
    case DbError::NotEncrypted:
        return tr(SetupMessage::NotEncrypted).arg(caFileName());
    case DbError::CertificateRejected:
        return tr(SetupMessage::CertificateRejected).arg(caFileName());
    case DbError::Deadlock:
        return tr(SetupMessage::Deadlock);
    case DbError::ReadOnly:
        return tr(SetupMessage::ReadOnly);
    case DbError::PluginRefused:
        return tr(SetupMessage::PluginRefused);
    case DbError::NotReplicable:
        return tr(SetupMessage::NotReplicable);
    default:
        return tr(SetupMessage::UnknownError);
    }
}

bool setup::readSettings(QLabel *label)
{
    FileProblem problem;
    if (loadSettingsFile(SettingsFileName, &problem))
        return true;
    QString message = withReason(tr(SetupMessage::ConfigUnreadable), fileReason(problem));
    // Saving the connection makes a missing file.
    if (problem.missing)
        message += QStringLiteral("<br>") + tr(SetupMessage::SaveToMakeConfig);
    showError(label, message);
    return false;
}

// Saved settings take effect at the next run: the connection made with the old ones is given
// up. (The button is disabled during a run, so no run uses the connection meanwhile.)
void setup::config()
{
    DataConfig dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The file has just been written: a failure to read it back is left to the next run.
    loadSettingsFile();
    QMetaObject::invokeMethod(run.get(), [worker = run.get()] { worker->discardConnection(); });
    ui->label->setText(tr(SetupMessage::ConfigSaved));
    announceOutcome(ui->label);
}

void setup::accept()
{
    // A double click on OK is one press: a run on a kept connection can end before the second
    // click, which would otherwise send the same account again and report it as taken.
    if (isRunning() || isPartOfLastPress())
        return;
    const QString password = ui->lineEdit_password->text();
    const QString username = ui->lineEdit_username->text();
    // A name of blanks only would be stored as an account nobody can tell from another.
    if (password.isEmpty() || username.trimmed().isEmpty()) {
        showError(ui->label, tr(SetupMessage::BlankInput));
        return;
    }
    // The server ignores blanks at the end when it compares names ("admin " is "admin"), and
    // a login that trims what is typed would never match a digest made with them.
    if (username.front().isSpace() || username.back().isSpace()) {
        showError(ui->label, tr(SetupMessage::UsernameBlankAtEnds));
        return;
    }
    // The server would refuse a longer name; this says so before connecting.
    if (username.toUcs4().size() > MaxUsernameLength) {
        showError(ui->label, tr(SetupMessage::UsernameTooLong));
        return;
    }
    // The stored digest sees every character beyond Latin-1 as '?', so such a password would
    // let in anyone who types question marks in its place.
    if (!fitsLatin1(password)) {
        showError(ui->label, tr(SetupMessage::PasswordNotLatin1));
        return;
    }
    // Without a host the client library would go to the local server's socket, as whoever runs
    // the program: a server nobody chose.
    if (ConnectionSettings::dbHost.isEmpty()) {
        // A file that cannot be read says why itself, since the settings dialog could not save
        // into it either; one that has been given a host meanwhile is used.
        if (!readSettings(ui->label))
            return;
        if (ConnectionSettings::dbHost.isEmpty()) {
            showError(ui->label, tr(SetupMessage::NoServer));
            return;
        }
    }
    startRun(username, password);
}

// Before the message, so that a screen reader's reading of the focused field does not cut short
// the alert of a failure.
void setup::restoreFocus(const RunResult &result)
{
    QWidget *next = focusBeforeRun ? focusBeforeRun.data() : ui->lineEdit_username;
    // A name that is taken or cannot be stored is corrected in its field.
    if (result.error == DbError::DuplicateEntry || result.error == DbError::ValueRefused ||
        !result.notReady.usernameCharset.isEmpty())
        next = ui->lineEdit_username;
    next->setFocus();
}

bool setup::isPartOfLastPress() const
{
    return lastRunPress.isValid() &&
           lastRunPress.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void setup::reject()
{
    if (!isRunning())
        QDialog::reject();
}

void setup::closeEvent(QCloseEvent *event)
{
    if (isRunning()) {
        closeAfterRun = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// No key press or click made during the run can start another run or close the window.
void setup::startRun(const QString &username, const QString &password)
{
    lastRunPress.start();
    busy.emplace();
    focusBeforeRun = focusWidget();
    ui->buttonBox->setEnabled(false);
    ui->pushButton_db->setEnabled(false);
    // The outcome shown will be that of the name and password sent.
    ui->widget->setEnabled(false);
    // The outcome of an earlier run must not pass for this one's while it is in progress.
    ui->label->setText(tr(SetupMessage::Running));
    QMetaObject::invokeMethod(
        run.get(), [worker = run.get(), username, password] { worker->run(username, password); });
}

void setup::finishRun(const RunResult &result)
{
    busy.reset();
    ui->buttonBox->setEnabled(true);
    ui->pushButton_db->setEnabled(true);
    ui->widget->setEnabled(true);
    restoreFocus(result);

    if (!result.notReady.isEmpty()) {
        // Each problem on a line of its own, as text: names come from the database.
        QStringList lines{tr(SetupMessage::NotReady)};
        for (const QString &message : readinessMessages(result.notReady))
            lines << message.toHtmlEscaped();
        showError(ui->label, lines.join(QStringLiteral("<br>")));
    } else if (result.difference) {
        showError(ui->label, schemaDifferenceMessage(*result.difference).toHtmlEscaped());
    } else if (result.checkoutFailure) {
        showError(ui->label, withReason(checkoutFailureMessage(),
                                        checkoutFailureReason(*result.checkoutFailure)));
    } else if (result.error == 0) {
        if (result.added) {
            ui->label->setText(tr(SetupMessage::Done));
            announceOutcome(ui->label);
        } else {
            showError(ui->label, tr(SetupMessage::UserNotAdded));
        }
    } else {
        // The server's own reason goes on the next line.
        const QString message = failureMessage(result.error);
        const QString left = result.schemaInPlace.isEmpty()
                                 ? QString()
                                 : QStringLiteral("<br>") +
                                       tr(SetupMessage::SchemaLeft)
                                           .arg(result.schemaInPlace.join(QStringLiteral(", ")));
        showError(ui->label,
                  (result.reason.isEmpty() ? message : withReason(message, result.reason)) +
                      encodingHint(result.error) + left);
    }
    if (closeAfterRun)
        close();
}
