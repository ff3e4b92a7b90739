#pragma once

#include "app/busycursor.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <memory>
#include <optional>

class ProvisioningRun;
class QLabel;
struct RunResult;

namespace Ui {
class setup;
}
using SetupForm = Ui::setup;

// The main window: explains the run, takes the first account's name and password, and offers
// the connection settings. OK provisions the database and never closes the dialog.
class setup : public QDialog
{
    Q_OBJECT

public:
    explicit setup(QWidget *parent = nullptr);
    // Waits for a run in progress to end.
    ~setup() override;

    // Loads the settings file into ConnectionSettings; on failure says so on `label`.
    bool readSettings(QLabel *label);

    // Cancel and Escape do nothing while a run is in progress.
    void reject() override;

protected:
    // Closing the window during a run closes it once the run has ended.
    void closeEvent(QCloseEvent *event) override;

private slots:
    void config();
    void accept() override;

private:
    void startRun(const QString &username, const QString &password);
    void finishRun(const RunResult &result);
    // Gives the keyboard focus back where it was before the run, or to the field at fault.
    void restoreFocus(const RunResult &result);
    // What the window says for a DbError code that ended a run.
    static QString failureMessage(int code);
    bool isRunning() const { return busy.has_value(); }
    // A press within the double-click interval of the one that started the last run.
    bool isPartOfLastPress() const;

    std::unique_ptr<SetupForm> ui;
    // The run and its connection live in runThread; run is destroyed only after that thread has
    // ended, so nothing of the connection is touched from this thread.
    QThread runThread;
    std::unique_ptr<ProvisioningRun> run;
    std::optional<BusyCursor> busy; // set while a run is in progress
    QElapsedTimer lastRunPress;     // started by the press that started the last run
    // The keyboard focus that disabling the window for the run took away.
    QPointer<QWidget> focusBeforeRun;
    bool closeAfterRun = false;
};
