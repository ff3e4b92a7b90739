#include "app/dataconfig.h"

#include "ui_dataconfig.h"

#include "app/busycursor.h"
#include "app/failurealert.h"
#include "app/fittocontents.h"
#include "app/messages.h"
#include "app/showerror.h"
#include "settings/connectionsettings.h"
#include "settings/settingsfile.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

// The file keeps one "key:value" per line: a ':' would cut the value short when it is read
// back, and a line break would add lines, even key lines, to the file.
bool fitsSettingsFormat(const QString &value)
{
    return !value.contains(QLatin1Char(':')) && !value.contains(QLatin1Char('\n')) &&
           !value.contains(QLatin1Char('\r'));
}

// The CA certificate's line takes all after its key, a Windows drive's ':' too; the driver's
// options are separated by ';'.
bool fitsCaFileFormat(const QString &path)
{
    return !path.contains(QLatin1Char(';')) && !path.contains(QLatin1Char('\n')) &&
           !path.contains(QLatin1Char('\r'));
}

// Why the certificate cannot be used, or nothing where it can be read (an empty path: none).
std::optional<FileProblem> caFileProblem(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir())
        return FileProblem{info.absoluteFilePath(), QStringLiteral("Is a directory")};
    if (!file.open(QIODevice::ReadOnly))
        return FileProblem{info.absoluteFilePath(), file.errorString()};
    return std::nullopt;
}

} // namespace

DataConfig::DataConfig(QWidget *parent) : QDialog(parent), ui(std::make_unique<DataConfigForm>())
{
    ui->setupUi(this);
    new FitToContents(this);
    addAnnouncer(ui->DataConfigErrorLabel);
    // What is typed first goes into the first field, not to OK, which comes first in the Tab
    // order.
    ui->lineEdit_DataConfigHost->setFocus();
    ui->lineEdit_DataConfigPass->setEchoMode(QLineEdit::Password);
    ui->lineEdit_DataConfigHost->setText(ConnectionSettings::dbHost);
    ui->lineEdit_DataConfigUser->setText(ConnectionSettings::dbUser);
    ui->lineEdit_DataConfigPass->setText(ConnectionSettings::dbPassword);
    ui->lineEdit_DataConfigCa->setText(ConnectionSettings::dbCaFile);
}

DataConfig::~DataConfig() = default;

void DataConfig::accept()
{
    // Taken as typed: blanks may be part of a value.
    const QString host = ui->lineEdit_DataConfigHost->text();
    const QString user = ui->lineEdit_DataConfigUser->text();
    const QString password = ui->lineEdit_DataConfigPass->text();
    const QString caFile = ui->lineEdit_DataConfigCa->text();

    if (host.isEmpty()) {
        showError(ui->DataConfigErrorLabel, tr(DataConfigMessage::HostMissing));
        return;
    }
    if (user.isEmpty()) {
        showError(ui->DataConfigErrorLabel, tr(DataConfigMessage::UserMissing));
        return;
    }
    if (!fitsSettingsFormat(host) || !fitsSettingsFormat(user) || !fitsSettingsFormat(password)) {
        showError(ui->DataConfigErrorLabel, tr(DataConfigMessage::NotStorable));
        return;
    }
    if (!fitsCaFileFormat(caFile)) {
        showError(ui->DataConfigErrorLabel, tr(DataConfigMessage::CaNotStorable));
        return;
    }
    if (const std::optional<FileProblem> problem = caFileProblem(caFile)) {
        showError(ui->DataConfigErrorLabel,
                  withReason(tr(DataConfigMessage::CaUnreadable), fileReason(*problem)));
        return;
    }
    // Only what differs from the values read is written, so a line that reads differently from
    // what it holds (MySQLp:ab:cd reads as empty) survives a change of another value.
    SettingsChanges changes;
    if (host != ConnectionSettings::dbHost)
        changes.host = host;
    if (user != ConnectionSettings::dbUser)
        changes.user = user;
    if (password != ConnectionSettings::dbPassword)
        changes.password = password;
    if (caFile != ConnectionSettings::dbCaFile)
        changes.caFile = caFile;
    // Nothing to store: the file is left alone even if it holds other values than memory.
    if (!changes.host && !changes.user && !changes.password && !changes.caFile) {
        QDialog::reject();
        return;
    }

    FileProblem problem;
    const RewriteFailure failure = [&] {
        // A save waits up to two seconds for another copy's save of the same file to end.
        const BusyCursor busy;
        return rewriteSettingsFile(SettingsFileName, changes, &problem);
    }();
    if (failure == RewriteFailure::None)
        QDialog::accept();
    else
        showError(ui->DataConfigErrorLabel, failureMessage(failure, problem));
}

QString DataConfig::failureMessage(RewriteFailure failure, const FileProblem &problem)
{
    const auto because = [&problem](const QString &message) {
        return withReason(message, fileReason(problem));
    };
    switch (failure) {
    case RewriteFailure::None:
        break;
    case RewriteFailure::ReadFailed:
        return because(tr(DataConfigMessage::ReadFailed));
    case RewriteFailure::CreateFailed:
        return because(tr(DataConfigMessage::CreateFailed));
    case RewriteFailure::Busy:
        return because(tr(DataConfigMessage::Busy));
    case RewriteFailure::WriteFailed:
        return because(tr(DataConfigMessage::WriteFailed));
    case RewriteFailure::RenameFailed:
        return because(tr(DataConfigMessage::RenameFailed));
    case RewriteFailure::ValueNotEncodable:
        return because(tr(DataConfigMessage::ValueNotEncodable));
    case RewriteFailure::LinkTargetFolderNotWritable:
        return because(tr(DataConfigMessage::LinkTargetFolderNotWritable));
    case RewriteFailure::PermissionsNotKept:
        return because(tr(DataConfigMessage::PermissionsNotKept));
    }
    return {};
}
