#include "app/setup.h"

#include "ui_setup.h"

#include "app/fittocontents.h"
#include "app/showerror.h"
#include "db/dberror.h"
#include "db/inventorydb.h"
#include "db/passworddigest.h"
#include "app/dataconfig.h"
#include "settings/settingsfile.h"

#include <QApplication>

namespace {

// The width of users.username. The server counts characters, not UTF-16 units.
constexpr qsizetype MaxUsernameLength = 25;

// The run blocks the event loop; the cursor says so until the run ends, however it ends.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

setup::setup(QWidget *parent) : QDialog(parent), ui(std::make_unique<SetupForm>())
{
    ui->setupUi(this);
    new FitToContents(this);
    readSettings(ui->label);
    connect(ui->pushButton_db, &QPushButton::clicked, this, &setup::config);
}

setup::~setup()
{
    // The connection goes before the form, as it came after it.
    inventoryDb.reset();
    ui.reset();
}

bool setup::readSettings(QLabel *label)
{
    if (loadSettingsFile())
        return true;
    showError(label, tr("The configuration file could not be read."));
    return false;
}

// A connection that is already held keeps the settings it was made with; only the next one
// made takes the saved values.
void setup::config()
{
    DataConfig dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    readSettings(ui->label);
    // Replaces whatever the reading showed: the file has just been written.
    ui->label->setText(tr("Your database configuration was successfully saved."));
}

void setup::accept()
{
    const QString password = ui->lineEdit_password->text();
    const QString username = ui->lineEdit_username->text();
    if (password.isEmpty() || username.isEmpty()) {
        showError(ui->label, tr("Blank username or password not allowed"));
        return;
    }
    // A longer name would be refused by a strict server, or cut by another one while the run
    // reports success.
    if (username.toUcs4().size() > MaxUsernameLength) {
        showError(ui->label, tr("The username may be at most 25 characters."));
        return;
    }

    const BusyCursor busy;
    try {
        if (!inventoryDb) {
            auto connection = std::make_unique<InventoryDb>(QStringLiteral("admins"),
                                                            QStringLiteral("ozrinventory"));
            inventoryDb = std::move(connection);
        }
        inventoryDb->createSchema();
        const QByteArray digest = hashPassword(username, password);
        if (inventoryDb->addUser(username, digest))
            ui->label->setText(tr("The system has been set up and the user has been added.\n"
                                  "Please close this and log into Quorvo."));
        else
            showError(ui->label, tr("That user could not be added."));
    } catch (int code) {
        switch (code) {
        case DbError::ConnectionFailed:
            inventoryDb.reset();
            showError(ui->label, tr("The database connection failed. Please try again later."));
            break;
        case DbError::ConnectionLost:
            inventoryDb.reset();
            showError(ui->label, tr("The database connection was lost. Please try again later."));
            break;
        case DbError::DuplicateEntry:
            showError(ui->label,
                      tr("There is already a user with that username, please choose another."));
            break;
        default:
            showError(ui->label, tr("There was an unknown error."));
            break;
        }
    }
}
