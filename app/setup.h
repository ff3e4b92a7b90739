#pragma once

#include <QDialog>

#include <memory>

class InventoryDb;
class QLabel;

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
    ~setup() override;

    // Loads the settings file into ConnectionSettings; on failure says so on `label`.
    bool readSettings(QLabel *label);

private slots:
    void config();
    void accept() override;

private:
    // Kept from the first run that connects until a connection failure or loss, so that a
    // corrected user name can be sent again on the same connection.
    std::unique_ptr<InventoryDb> inventoryDb;
    std::unique_ptr<SetupForm> ui;
};
