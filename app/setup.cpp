#include "app/setup.h"

#include "ui_setup.h"

#include "app/showerror.h"
#include "db/inventorydb.h"
#include "settings/dataconfig.h"
#include "settings/settingsfile.h"

setup::setup(QWidget *parent) : QDialog(parent), ui(std::make_unique<SetupForm>())
{
    ui->setupUi(this);
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

void setup::accept() {}
